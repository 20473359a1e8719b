#include "run/suspect_setup.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/fake_disk.h"

namespace voxtrel {
namespace {

TEST(SuspectSetupTest, TheUsersFileAndTheNamedOnesAddToTheShippedRulesTheirBadLinesTold) {
  EXPECT_EQ(UserRulesPath("/cfg", "/home/u"), "/cfg/voxtrel/suspect-rules.txt");
  EXPECT_EQ(UserRulesPath("cfg", "/home/u"), "/home/u/.config/voxtrel/suspect-rules.txt");
  EXPECT_EQ(UserRulesPath(nullptr, "/home/u/"), "/home/u/.config/voxtrel/suspect-rules.txt");
  EXPECT_EQ(UserRulesPath("", nullptr), "");
  EXPECT_EQ(LocalDate(1796731200), "2026-12-08");  // noon UTC: that day in nearly every zone
  const struct {
    std::string user;
    std::vector<std::string> named;
    std::string problems;  // file:line of each, then the error when it failed
  } cases[] = {
      {"/u.txt", {"/n.txt"}, "/u.txt:3 /n.txt:1 "},
      {"/none.txt", {}, ""},  // no file of one's own is no problem
      {"", {"/n.txt", "/none.txt", "/u.txt"},
       "/n.txt:1 cannot read /none.txt: No such file or directory"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.problems);
    test::FakeDisk disk;
    disk.AddFile("/u.txt", "# mine\nnot-found-title\tLost in space\nclosd\tX\n");
    disk.AddFile("/n.txt", "bot-wall\n");
    SuspectSetup setup;
    std::string err;
    const bool ok = SetUpSuspect(disk, c.user, c.named, "2026-12-08", &setup, &err);
    std::string told;
    for (const RulesProblem& problem : setup.problems)
      told += problem.file + ":" + std::to_string(problem.line) + " ";
    EXPECT_EQ(told + err, c.problems);
    EXPECT_EQ(ok, err.empty());
    if (!ok) continue;
    ASSERT_TRUE(setup.settings.rules);
    EXPECT_EQ(setup.settings.today, "2026-12-08");
    EXPECT_EQ(setup.settings.rules->TitleSaysNotFound("Lost in space"), c.user == "/u.txt");
  }
}

}  // namespace
}  // namespace voxtrel
