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
  EXPECT_FALSE(RobotsRules("User-agent: *\nDisallow: /*a*a*a*a*a*a*a*a*b\n", "v")
                   .Allows("/" + std::string(3000, 'a') + "b"));
}

}  // namespace
}  // namespace voxtrel
