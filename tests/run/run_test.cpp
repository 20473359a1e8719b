#include "run/run.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "run/find_html_files.h"
#include "engine/messages.h"
#include "support/files.h"
#include "support/local_server.h"
#include "support/recording_view.h"
#include "support/temp_dir.h"

namespace voxtrel {
namespace {

using Events = std::vector<std::string>;

std::string Closed(RunOutcome outcome, size_t rows) {
  return "closed " + std::to_string(static_cast<int>(outcome)) + " " + std::to_string(rows);
}
std::string Message(const std::string& text) { return "message " + text; }

class RunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto& s = server_.server();
    s.Get("/ok", [](const auto&, auto& res) { res.set_content("fine", "text/html"); });
    s.Get("/refresh", [](const auto&, auto& res) {
      res.set_content("<META HTTP-EQUIV=\"Refresh\" CONTENT=\"0;URL=/ok\">", "text/html");
    });
    s.Get("/moved", [](const auto&, auto& res) { res.set_redirect("/ok"); });
    // Not valid UTF-8 throughout: only the server's charset says how to read it.
    s.Get("/utf8.htm", [](const auto&, auto& res) {
      res.set_content("<A HREF=\"http://x.jp/w.pl\">𠮷🍣</A>\n<!-- \xFF -->",
                      "text/html; charset=UTF-8");
    });
    s.Get("/page.htm", [this](const auto&, auto& res) {
      res.set_content("<A HREF=\"" + base_ + "/ok\">ok</A>\n<A HREF=\"" + base_ +
                          "/missing\">\n gone</A>\n",
                      "text/html");
    });
    base_ = server_.Start();
  }
  /// A page whose links are answered, missing, a refresh page, redirected and a script.
  std::string MixedPage() {
    return "<A HREF=\"" + base_ + "/ok\">ok</A> <A HREF=\"" + base_ + "/missing\">gone</A>\r\n" +
           "<A HREF=\"" + base_ + "/refresh\">refresh</A><A HREF=\"" + base_ +
           "/moved\">moved</A>\r\n<A HREF=\"" + base_ + "/cgi/count.pl\">count</A>\r\n";
  }
  std::string Row(int no, const char* mark, const std::string& path, const std::string& name,
                  const std::string& file) {
    return "row " + RowNumberText(no) + " " + mark + " " + base_ + path + " [" + name + "] " + file;
  }

  test::LocalServer server_;
  std::string base_;
  test::TempDir dir_;
  test::RecordingView view_;
  PosixDisk disk_;
  CurlPool http_{[] {
    HttpOptions options;
    options.connect_timeout_ms = 2000;
    options.total_timeout_ms = 5000;
    return options;
  }()};
  ResultList results_;
  RunSettings settings_;
  AbortSignal abort_;
  const RunSeams seams_{view_, disk_, http_, results_, abort_};
};

TEST_F(RunTest, FolderRunListsRowsExactlyWithOrWithoutAnsweredLinks) {
  const std::string page = dir_ / "site/a.htm";
  test::WriteFile(page, MixedPage());
  for (bool show_all : {true, false}) {
    SCOPED_TRACE(show_all);
    view_.events.clear();
    settings_.show_all = show_all;
    EXPECT_EQ(RunFolder(seams_, settings_, dir_ / "site", false).outcome, RunOutcome::kDone);
    Events expected = {Message(StartConfirmationText(1))};
    if (show_all) {
      expected.insert(expected.end(), {Row(1, "◎", "/ok", "ok", page),
                                       Row(2, "×", "/missing", "gone", page),
                                       Row(3, "△", "/refresh", "refresh", page),
                                       Row(4, "◎", "/moved", "moved", page),
                                       Row(5, "Ｐ", "/cgi/count.pl", "count", page)});
    } else {
      expected.insert(expected.end(), {Row(1, "×", "/missing", "gone", page),
                                       Row(2, "Ｐ", "/cgi/count.pl", "count", page)});
    }
    expected.push_back(Message(kMsgRunComplete));
    expected.push_back(Closed(RunOutcome::kDone, show_all ? 5 : 2));
    EXPECT_EQ(view_.events, expected);
  }
}

TEST_F(RunTest, RunsThatDoNotStartSayWhy) {
  test::WriteFile(dir_ / "empty/notes.txt", "");
  test::WriteFile(dir_ / "site/a.htm", "");
  struct Case {
    std::string folder;
    RunOutcome outcome;
    Events events;
  };
  const Case cases[] = {
      {"", RunOutcome::kFolderRefused, {Message(kSelectFolderMessage)}},
      {"/", RunOutcome::kFolderRefused, {Message(kSelectFolderMessage)}},
      {"  /ab  ", RunOutcome::kFolderRefused, {Message(kSelectFolderMessage)}},
      {"/abc", RunOutcome::kNoPages, {Message(kNoHtmlFilesMessage)}},
      {dir_ / "empty", RunOutcome::kNoPages, {Message(kNoHtmlFilesMessage)}},
      {dir_ / "site", RunOutcome::kCancelled, {Message(StartConfirmationText(1))}},
  };
  results_.Add(FoundLink{"kept", "", ""}, CheckOutcome{});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.folder);
    view_.events.clear();
    view_.answers = {MessageAnswer::kCancel};
    EXPECT_EQ(RunFolder(seams_, settings_, c.folder, true).outcome, c.outcome);
    Events expected = c.events;
    expected.push_back(Closed(c.outcome, 1));
    EXPECT_EQ(view_.events, expected);
  }
  EXPECT_EQ(StartConfirmationText(12), "HTMLﾌｧｲﾙ数： 12     \r\rVoxtrelを開始しますか？   ");
}

TEST_F(RunTest, SinglePagesNameTheirFileOrAddress) {
  const std::string page = dir_ / "one.htm";
  test::WriteFile(page, "<A HREF=\"" + base_ + "/cgi/a.pl\">a</A>");
  EXPECT_EQ(RunSinglePage(seams_, settings_, page, kModeLocalFile).outcome, RunOutcome::kDone);
  EXPECT_EQ(view_.events[1], Row(1, "Ｐ", "/cgi/a.pl", "a", page));

  view_.events.clear();
  EXPECT_EQ(RunSinglePage(seams_, settings_, base_ + "/page.htm", kModeWebPage).outcome,
            RunOutcome::kDone);
  EXPECT_EQ(view_.events,
            (Events{Message(StartConfirmationText(1)), Row(1, "◎", "/ok", "ok", base_ + "/page.htm"),
                    Row(2, "×", "/missing", "", base_ + "/page.htm"),
                    Message(kMsgRunComplete), Closed(RunOutcome::kDone, 2)}));

  view_.events.clear();
  const RunSummary failed = RunSinglePage(seams_, settings_, base_ + "/none.htm", kModeWebPage);
  EXPECT_EQ(failed.outcome, RunOutcome::kTargetUnreadable);
  EXPECT_EQ(failed.fetch_answer.status, 404);
  EXPECT_EQ(view_.events, (Events{Message(StartConfirmationText(1)), Message(kFetchFailedMessage),
                                  Closed(RunOutcome::kTargetUnreadable, 0)}));
}

TEST_F(RunTest, LinkNamesComeOutOfEveryPageEncoding) {
  const std::string name = "𠮷野家🍣";
  const std::string euc_test = "<A HREF=\"http://x.jp/e.pl\">\xA5\xC6\xA5\xB9\xA5\xC8</A>";
  const struct {
    std::string bytes;
    std::string name;
  } cases[] = {
      {"\xEF\xBB\xBF<A HREF=\"http://x.jp/b.pl\">" + name + "</A>", name},
      {"<meta charset=\"utf-8\"><!-- \xFF -->\r\n<A HREF=\"http://x.jp/u.pl\">" + name + "</A>",
       name},
      {"<meta charset=\"ISO-2022-JP\">\r\n<A HREF=\"http://x.jp/j.pl\">\x1B$BF|K\\8l\x1B(B</A>",
       "日本語"},
      {"<meta charset=\"EUC-JP\">\r\n" + euc_test, "テスト"},
      {"<meta charset = EUC-JP>\r\n" + euc_test, "テスト"},
      {"<A HREF=\"http://x.jp/s.pl\">\x83\x65\x83\x58\x83\x67</A>", "テスト"},
  };
  for (size_t i = 0; i < std::size(cases); ++i)
    test::WriteFile(dir_ / ("enc/" + std::to_string(i) + ".htm"), cases[i].bytes);
  ASSERT_EQ(RunFolder(seams_, settings_, dir_ / "enc", false).outcome, RunOutcome::kDone);
  ASSERT_EQ(results_.Count(), std::size(cases));
  for (size_t i = 0; i < std::size(cases); ++i) EXPECT_EQ(results_.Row(i).link.name, cases[i].name) << i;
  ASSERT_EQ(RunSinglePage(seams_, settings_, base_ + "/utf8.htm", kModeWebPage).outcome,
            RunOutcome::kDone);
  ASSERT_EQ(results_.Count(), 1u);
  EXPECT_EQ(results_.Row(0).link.name, "𠮷🍣");
}

TEST(FindHtmlFilesTest, FindsPagesInListingOrderThenSubfoldersDepthFirst) {
  test::TempDir dir;
  for (const char* name : {"b.HTML", "a.htm", "c.ShTmL", "d.shtm", "e.txt", "f.htmx", ".g.htm",
                           "a_dir/x.htm", "a_dir/deep/y.html", "z_dir/z.htm", ".hid/h.htm"})
    test::WriteFile(dir / name, "");
  test::WriteFile(dir / "locked.htm", "");
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

}  // namespace
}  // namespace voxtrel
