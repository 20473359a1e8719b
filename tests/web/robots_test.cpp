#include "web/robots.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <utility>

namespace voxtrel {
namespace {

TEST(RobotsRulesTest, TheLongestMatchOfTheCrawlersOwnGroupDecides) {
  const std::string text =
      "# comment\nUser-agent: other\nDisallow: /\n\n"
      "User-Agent: *\nDisallow: /private\n\n"
      "user-agent: VOXTREL\nUser-agent: b\nDisallow: /a/\nAllow: /a/open  # mid-line comment\n"
      "Disallow: /*.cgi$\nAllow: /a/x\nDisallow: /a/x\nDisallow: /s*t/\n";
  const RobotsRules rules(text, "Voxtrel");
  const std::pair<const char*, bool> cases[] = {
      {"/", true},          {"/private", true},  {"/a/", false},     {"/a/b.htm", false},
      {"/a/open/c", true},  {"/a/x", true},      {"/p.cgi", false},  {"/p.cgi?q", true},
      {"/sxyzt/u", false},  {"/st/", false},     {"/robots.txt", true},
  };
  for (const auto& [path, allowed] : cases) EXPECT_EQ(rules.Allows(path), allowed) << path;
  // Without a group of its own the crawler takes "*"'s; with no file at all, everything goes.
  EXPECT_FALSE(RobotsRules(text, "Else").Allows("/private/x"));
  EXPECT_TRUE(RobotsRules(text, "Else").Allows("/a/"));
  EXPECT_TRUE(RobotsRules("User-agent: voxtrel\nDisallow:\nUser-agent: *\nDisallow: /\n", "voxtrel")
                  .Allows("/x"));
  EXPECT_TRUE(RobotsRules().Allows("/x"));
  // Rules before any user-agent line belong to no group.
  EXPECT_TRUE(RobotsRules("Disallow: /x\nUser-agent: voxtrel\nAllow: /y\n", "voxtrel").Allows("/x"));
}

TEST(RobotsRulesTest, ByteOrderMarkCapsAndWildcardsOfAnySize) {
  const std::string a2000 = "/" + std::string(2000, 'a'), a3000 = "/" + std::string(3000, 'a');
  // The cap falls inside "/cut/here": what it cuts is not read as "/cut/".
  std::string capped = "User-agent: *\nDisallow: /early/\n#";
  capped += std::string(kRobotsCap - capped.size() - 16, 'x') +
            "\nDisallow: /cut/here\nDisallow: /late/\n";
  const std::string slow = "Disallow: /*" + std::string(1000, 'a') + "b";
  const std::tuple<std::string, std::string, bool> cases[] = {
      {"\xEF\xBB\xBFUser-agent: *\nDisallow: /secret/", "/secret/a", false},
      {capped, "/early/a", false},
      {capped, "/late/a", true},
      {capped, "/cut/a", true},
      {"Disallow: " + a3000, a3000, true},
      {"Disallow: /*.cgi$", a3000 + ".cgi", true},
      {"Disallow: /*.cgi$", a2000 + ".cgi", false},
      {"Disallow: /a*$", a3000, false},  // a cut path still has an end for "*" to reach
      {"Disallow: /a*b*c$", "/abcabc", false},
      {"Disallow: /a*b*c$", "/abcab", true},
      {"Disallow: /a**b*c", "/axbyc?q", false},
      {slow, a2000, true},
      {slow, a2000 + "b", false},
  };
  for (const auto& [rules, path, allowed] : cases) {
    const std::string text = rules.starts_with("Dis") ? "User-agent: *\n" + rules : rules;
    EXPECT_EQ(RobotsRules(text, "v").Allows(path), allowed)
        << rules.substr(0, 30) << path.substr(0, 30);
  }
}

TEST(RobotsRulesTest, AddressIsAtTheRootOfThePagesSite) {
  const std::pair<const char*, const char*> cases[] = {
      {"http://x.jp:8080/a/b.htm?q", "http://x.jp:8080/robots.txt"},
      {"https://u@x.jp/", "https://u@x.jp/robots.txt"},
      {"/local/a.htm", ""},
  };
  for (const auto& [page, robots] : cases) EXPECT_EQ(RobotsAddress(page), robots) << page;
}

}  // namespace
}  // namespace voxtrel
