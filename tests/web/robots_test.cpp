#include "web/robots.h"

#include <gtest/gtest.h>

#include <string>
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
  std::string many_stars = "/";
  for (int i = 0; i < 1000; ++i) many_stars += "*a";
  // The cap falls inside "/cut/here": what it cuts is not read as "/cut/".
  std::string past_cap = "User-agent: *\nDisallow: /early/\n#";
  past_cap += std::string(kRobotsCap - past_cap.size() - 16, 'x') + "\n";
  past_cap += "Disallow: /cut/here\nDisallow: /late/\n";
  struct Case {
    std::string rules, path;
    bool allowed;
  };
  const Case cases[] = {
      {"\xEF\xBB\xBFUser-agent: *\nDisallow: /secret/\n", "/secret/a", false},
      {past_cap, "/early/a", false},
      {past_cap, "/late/a", true},
      {past_cap, "/cut/a", true},
      {"Disallow: " + a3000, a3000, true},
      {"Disallow: /*.cgi$", a3000 + ".cgi", true},
      {"Disallow: /*.cgi$", a2000 + ".cgi", false},
      {"Disallow: /*zz", a3000 + "zz", true},
      {"Disallow: /a*$", a3000, false},
      {"Disallow: /a*b*c$", "/abcabc", false},
      {"Disallow: /a*b*c$", "/abcab", true},
      {"Disallow: /a**b*c", "/axxbyyc?q", false},
      {"Disallow: /a*c*b", "/abc", true},
      {"Disallow: /p$", "/p/", true},
      {"Disallow: /*" + std::string(1000, 'a') + "b", a2000, true},
      {"Disallow: /*" + std::string(1000, 'a') + "b", a2000 + "b", false},
      {"Disallow: " + many_stars + "b", a2000, true},
      {"Disallow: " + many_stars + "b", a2000 + "b", false},
  };
  for (const Case& c : cases) {
    const std::string text =
        c.rules.starts_with("Disallow") ? "User-agent: *\n" + c.rules : c.rules;
    EXPECT_EQ(RobotsRules(text, "v").Allows(c.path), c.allowed)
        << c.rules.substr(0, 40) << " " << c.path.substr(0, 40);
  }
}

}  // namespace
}  // namespace voxtrel
