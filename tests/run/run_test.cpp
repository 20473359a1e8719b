#include "run/run.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "run/find_html_files.h"
#include "run/suspect_setup.h"
#include "support/fake_disk.h"
#include "support/files.h"
#include "support/fake_pool.h"
#include "support/fake_run.h"
#include "support/temp_dir.h"

namespace voxtrel {
namespace {

using Events = std::vector<std::string>;

std::string Closed(RunOutcome outcome, size_t rows) {
  return "closed " + std::to_string(static_cast<int>(outcome)) + " " + std::to_string(rows);
}

class RunTest : public test::FakeRunTest {
 protected:
  RunTest() {
    pool_.script = [](const std::string& url, int n) {
      test::FakeAnswer answer;
      if (url == "http://w.jp/busy.htm") {
        answer.status = n == 1 ? 429 : 200;
        answer.body = "<A HREF=\"http://w.jp/ok\">ok</A>\n";
      }
      if (url.ends_with("/missing")) answer.status = 404;
      if (url == "http://w.jp/none.htm") answer.status = 404;
      // Its links lie past the most of a robots.txt that is read: a page is read further.
      if (url == "http://w.jp/page.htm")
        answer.body =
            std::string(600 * 1024, ' ') +
            "<A HREF=\"http://w.jp/ok\">ok</A>\n<A HREF=\"http://w.jp/missing\">\n gone</A>\n";
      return answer;
    };
  }
};

TEST_F(RunTest, RunsThatDoNotStartSayWhy) {
  disk_.AddFile("/empty/notes.txt", "");
  disk_.AddFile("/site/a.htm", "");
  const std::tuple<std::string, RunOutcome, std::string> cases[] = {
      {"", RunOutcome::kFolderRefused, "folder refused"},
      {"/", RunOutcome::kFolderRefused, "folder refused"},
      {"  /ab  ", RunOutcome::kFolderRefused, "folder refused"},
      {"/empty", RunOutcome::kNoPages, "no pages"},
      {"/site", RunOutcome::kCancelled, "start? 1"},
  };
  results_.Add(FoundLink{"kept", "", ""}, CheckOutcome{});
  for (const auto& [folder, outcome, message] : cases) {
    SCOPED_TRACE(folder);
    view_.events.clear();
    view_.answers = {MessageAnswer::kCancel};
    EXPECT_EQ(RunFolder(seams_, settings_, folder, true).outcome, outcome);
    EXPECT_EQ(view_.events, (Events{message, Closed(outcome, 1)}));
  }
}

TEST_F(RunTest, SinglePagesNameTheirFileOrAddress) {
  disk_.AddFile("/one.htm", "<A HREF=\"http://w.jp/cgi/a.pl\">a</A>");
  EXPECT_EQ(RunSinglePage(seams_, settings_, "/one.htm", SinglePageMode::kLocalFile).outcome,
            RunOutcome::kDone);
  EXPECT_EQ(view_.events[1], "row 000001 Ｐ http://w.jp/cgi/a.pl [a] /one.htm");

  view_.events.clear();
  const std::string page = "http://w.jp/page.htm";
  EXPECT_EQ(RunSinglePage(seams_, settings_, page, SinglePageMode::kWebPage).outcome,
            RunOutcome::kDone);
  EXPECT_EQ(view_.events, (Events{"start? 1", "row 000001 ◎ http://w.jp/ok [ok] " + page,
                                  "row 000002 × http://w.jp/missing [] " + page,
                                  "ended ×1 ◎1 △0 Ｐ0", Closed(RunOutcome::kDone, 2)}));

  view_.events.clear();
  const RunSummary failed =
      RunSinglePage(seams_, settings_, "http://w.jp/none.htm", SinglePageMode::kWebPage);
  EXPECT_EQ(failed.outcome, RunOutcome::kTargetUnreadable);
  EXPECT_EQ(failed.fetch_answer.status, 404);
  EXPECT_EQ(view_.events, (Events{"start? 1", "unreadable http://w.jp/none.htm HTTP 404",
                                  Closed(RunOutcome::kTargetUnreadable, 0)}));
  // A first answer of 429 is waited out, on the run's clock, and asked once more.
  const RunSummary busy = RunSinglePage(seams_, settings_, "http://w.jp/busy.htm", SinglePageMode::kWebPage);
  EXPECT_EQ(busy.outcome, RunOutcome::kDone);
  EXPECT_EQ(pool_.asked["http://w.jp/busy.htm"], 2);
  EXPECT_GE(pool_.now_ms, settings_.retry_after_default_ms);
  // No page is ever written anywhere on its way to the scanner.
  EXPECT_EQ(disk_.log, (std::vector<std::string>{"read /one.htm"}));
}

TEST(FindHtmlFilesTest, FindsPagesInListingOrderThenSubfoldersDepthFirst) {
  test::TempDir dir;
  for (const char* name : {"b.HTML", "a.htm", "c.ShTmL", "d.shtm", "e.txt", "f.htmx", ".g.htm",
                           "a_dir/x.htm", "a_dir/deep/y.html", "z_dir/z.htm", ".hid/h.htm"})
    test::WriteFile(dir / name, "");
  test::WriteFile(dir / "locked.htm", "");
  // A detailed report saved among the pages is no page of the site.
  test::WriteFile(dir / "report.html", FormatDetailedHtmlReport({}, {}));
  chmod((dir / "locked.htm").c_str(), 0444);
  std::filesystem::create_directory_symlink(dir / "a_dir", dir / "link");
  mkfifo((dir / "fifo.htm").c_str(), 0600);
  PosixDisk disk;
  for (bool recursive : {false, true}) {
    SCOPED_TRACE(recursive);
    std::vector<std::string> pages;
    std::vector<std::string> progress;
    FindHtmlFiles(
        disk, dir.path(), recursive, [&](const std::string& p) { pages.push_back(p); },
        [&](const std::string& p) { progress.push_back(p); });
    std::vector<std::string> expected = {dir / "a.htm", dir / "b.HTML", dir / "c.ShTmL",
                                         dir / "d.shtm"};
    if (recursive)
      expected.insert(expected.end(), {dir / "a_dir/x.htm", dir / "a_dir/deep/y.html",
                                       dir / "z_dir/z.htm"});
    EXPECT_EQ(pages, expected);
    EXPECT_EQ(progress.size(), pages.size() + (recursive ? 4 : 1));
    EXPECT_EQ(progress[0], dir.path());
  }
}

TEST(SuspectSetupTest, TheUsersFileAndTheNamedOnesAddToTheShippedRulesTheirBadLinesTold) {
  EXPECT_EQ(UserRulesPath("/cfg", "/h"), "/cfg/voxtrel/suspect-rules.txt");
  EXPECT_EQ(UserRulesPath("cfg", "/h/"), "/h/.config/voxtrel/suspect-rules.txt");
  EXPECT_EQ(UserRulesPath(nullptr, nullptr), "");
  EXPECT_EQ(LocalDate(1796731200), "2026-12-08");  // noon UTC: that day in nearly every zone
  const std::pair<std::vector<std::string>, std::string> cases[] = {  // user's, named; told
      {{"/u.txt", "/n.txt"}, "/u.txt:3 /n.txt:1 "}, {{"/none.txt"}, ""},
      {{"", "/n.txt", "/none.txt"}, "/n.txt:1 cannot read /none.txt: No such file or directory"}};
  for (const auto& [files, told] : cases) {
    test::FakeDisk disk;
    disk.AddFile("/u.txt", "# mine\nnot-found-title\tLost in space\nclosd\tX\n");
    disk.AddFile("/n.txt", "bot-wall\n");
    SuspectSetup setup;
    std::string err;
    const bool ok =
        SetUpSuspect(disk, files[0], {files.begin() + 1, files.end()}, "2026-12-08", &setup, &err);
    std::string said;
    for (const RulesProblem& problem : setup.problems)
      said += problem.file + ":" + std::to_string(problem.line) + " ";
    EXPECT_EQ(said + err, told);
    if (!ok) continue;
    EXPECT_EQ(setup.settings.today, "2026-12-08");
    EXPECT_EQ(setup.settings.rules->TitleSaysNotFound("Lost in space"), files[0] == "/u.txt");
  }
}

}  // namespace
}  // namespace voxtrel
