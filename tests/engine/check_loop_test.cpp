#include "engine/check_loop.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "platform/cp932.h"
#include "support/recording_view.h"
#include "support/scripted_http.h"
#include "support/temp_dir.h"
#include "web/web_check.h"

namespace voxtrel {
namespace {

using test::RecordingView;
using test::ScriptedHttpFactory;

// What the rows of one run say, without the numbers and file names.
struct Listed {
  std::string mark;
  std::string target;
  std::string name;
  bool operator==(const Listed&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Listed& l) {
  return os << "{" << l.mark << " " << l.target << " [" << l.name << "]}";
}

class CheckLoopTest : public ::testing::Test {
 protected:
  CheckLoopTest() : ctx(view, disk, http, dir.path()) {
    // Every web link answers 200, so with Check2 set every link gives a row.
    http.default_answer.status = 200;
  }

  /// Writes a page of Shift_JIS bytes and returns its path.
  std::string WritePage(const std::string& name, const std::string& bytes) {
    std::string path = dir / name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }

  void Run(std::vector<std::string> pages) {
    ctx.List1 = std::move(pages);
    CheckLinks(ctx);
  }

  std::vector<Listed> Rows() const {
    std::vector<Listed> rows;
    for (const ResultRow& row : ctx.results.Rows()) {
      rows.push_back({row[kColMark], row[kColTarget], row[kColName]});
    }
    return rows;
  }

  /// The rows a page of one line (given as UTF-8, written as Shift_JIS) gives.
  std::vector<Listed> ScanLine(const std::string& line) {
    ctx.results.Clear();
    Run({WritePage("line.htm", Utf8ToCp932(line) + "\r\n")});
    return Rows();
  }

  test::TempDir dir;
  PosixDisk disk;
  RecordingView view;
  ScriptedHttpFactory http;
  RunContext ctx;
};

TEST_F(CheckLoopTest, FindsTargetsAndLinkNamesOnWholeLines) {
  struct Case {
    std::string line;
    std::vector<Listed> rows;
  };
  const Case cases[] = {
      {R"(<a href="http://host/a.html#top">Top</a>)", {{"◎", "http://host/a.html", "Top"}}},
      {R"(<a HrEf="HtTp://Host/A?x=1#y">x</a>)", {{"◎", "HtTp://Host/A", "x"}}},
      {R"(<A HREF="http://host/cgi/find.pl?q=1">Find</A>)",
       {{"Ｐ", "http://host/cgi/find.pl", "Find"}}},
      {R"(<A HREF="http://host/cgi/RUN.PL">Run</A>)", {{"Ｐ", "http://host/cgi/RUN.PL", "Run"}}},
      {R"(<A HREF="http://host/cgi/find.cgi">Find</A>)",
       {{"◎", "http://host/cgi/find.cgi", "Find"}}},
      {R"(<A HREF="http://host/find.pl/">Find</A>)", {{"◎", "http://host/find.pl/", "Find"}}},
      {R"(<a href="http://a/">A</a> and <a href="http://b/">B</a>)",
       {{"◎", "http://a/", "A"}, {"◎", "http://b/", "B"}}},
      {R"(see http://host/ here)", {}},
      {R"(<img src="http://host/x.gif">)", {}},
      {R"(<a href='http://host/'>x</a>)", {}},
      {R"(<a href=http://host/>x</a>)", {}},
      {R"(<a href = "http://host/">x</a>)", {}},
      {R"(<a href="https://host/">x</a> http://)", {}},
      {R"(<a href="page.html">x</a> http://)", {}},
      {R"(<A HREF="http://host/"><IMG SRC="pic.gif"></A>)", {{"◎", "http://host/", ""}}},
      {R"(<A HREF="http://host/pic.gif">pic.gif</A>)", {{"◎", "http://host/pic.gif", "画像"}}},
      {R"(<A HREF="http://host/">PHOTO.JPG</A>)", {{"◎", "http://host/", "画像"}}},
      {R"(<A HREF="http://host/"><B>Bold</B></A>)", {{"◎", "http://host/", ""}}},
      {R"(<A HREF="http://host/">some <B>bold</B> text</A>)", {{"◎", "http://host/", "text"}}},
      {R"(<A HREF="http://host/">)", {{"◎", "http://host/", ""}}},
      {R"(<A HREF="http://host/">First words)", {{"◎", "http://host/", "First words"}}},
      // The image test is not made when the closing tag is elsewhere.
      {R"(<A HREF="http://host/">pic.gif)", {{"◎", "http://host/", "pic.gif"}}},
      {R"(<A HREF="http://host/"><IMG SRC="a.gif">)", {{"◎", "http://host/", ""}}},
      {R"(<a href="http://a/">first <a href="http://b/">second</a>)",
       {{"◎", "http://a/", "second"}, {"◎", "http://b/", "second"}}},
      {R"(<a href="http://h/">Home </address>)", {{"◎", "http://h/", "Home"}}},
      {"   <a href=\"http://h/\">\tTab\t</a>   ", {{"◎", "http://h/", "\tTab\t"}}},
      {R"(<a href="http://h/">日本語のﾘﾝｸ</a>)", {{"◎", "http://h/", "日本語のﾘﾝｸ"}}},
      {R"(<link rel="stylesheet" href="http://h/s.css">)", {{"◎", "http://h/s.css", ""}}},
      // No closing quote, "#" or "?" on the line: the rest of the line, no link text.
      {R"(<a href="http://host/long/path)", {{"◎", "http://host/long/path", ""}}},
      {"<a href=\"http://host/a b   ", {{"◎", "http://host/a b", ""}}},
      {R"(<a href="http://host/x.pl)", {{"Ｐ", "http://host/x.pl", ""}}},
  };
  ctx.Check2 = 1;
  for (const Case& c : cases) EXPECT_EQ(ScanLine(c.line), c.rows) << c.line;
}

TEST_F(CheckLoopTest, DoubleByteCharacterNeverCompletesThePattern) {
  // ォ is 83 48 and ニ is 83 6A: their second bytes are the ASCII letters H and j.
  std::string page = std::string("<a \x83\x48REF=\"http://host/\">x</a>\r\n") +
                     "<a href=\"\x83\x68ttp://host/\">x</a> http://\r\n";
  Run({WritePage("p.htm", page)});
  EXPECT_TRUE(Rows().empty());
  EXPECT_TRUE(http.requested.empty());
}

TEST_F(CheckLoopTest, ScriptLinksAreListedWithoutRequest) {
  ctx.Check2 = 0;
  Run({WritePage("p.htm", "<a href=\"http://h/a.pl\">A</a>\r\n")});
  EXPECT_EQ(Rows(), (std::vector<Listed>{{"Ｐ", "http://h/a.pl", "A"}}));
  EXPECT_TRUE(http.requested.empty());
  EXPECT_EQ(view.Caption(Control::kLabel8), "");
  EXPECT_EQ(std::count(view.log.begin(), view.log.end(), "caption Label3=" + dir / "p.htm"), 0);
}

TEST_F(CheckLoopTest, OnlyCarriageReturnsEndLines) {
  struct Case {
    std::string eol;
    std::vector<Listed> rows;
  };
  const Case cases[] = {
      {"\r", {{"◎", "http://a/", ""}, {"◎", "http://b/", "Beta"}}},
      {"\r\n", {{"◎", "http://a/", ""}, {"◎", "http://b/", "Beta"}}},
      // A bare LF does not end the line, so the first link's text runs on.
      {"\n", {{"◎", "http://a/", "\nAlpha"}, {"◎", "http://b/", "Beta\n"}}},
  };
  for (const Case& c : cases) {
    ctx.results.Clear();
    std::string page = "<a href=\"http://a/\">" + c.eol + "Alpha</a>" + c.eol +
                       "<a href=\"http://b/\">Beta" + c.eol;
    Run({WritePage("eol.htm", page)});
    EXPECT_EQ(Rows(), c.rows) << "eol " << int(c.eol.back());
  }
}

TEST_F(CheckLoopTest, LinksAcrossReadChunksAreFound) {
  for (size_t filler : {65530u, 65535u, 65536u, 131071u}) {
    ctx.results.Clear();
    std::string page(filler, 'x');
    page += "\r\n<a href=\"http://a/\">A</a>\r\n";
    page += std::string(70000, 'y') + "<a href=\"http://b/\">B</a>";  // no line end at all
    Run({WritePage("big.htm", page)});
    EXPECT_EQ(Rows(), (std::vector<Listed>{{"◎", "http://a/", "A"}, {"◎", "http://b/", "B"}}))
        << filler;
  }
}

TEST_F(CheckLoopTest, EveryHitOfACrowdedLineIsHandled) {
  std::string line;
  for (int k = 0; k < 5002; ++k) line += "<a href=\"http://h/" + std::to_string(k) + "\">x</a>";
  Run({WritePage("crowded.htm", line + "\r\n")});
  ASSERT_EQ(ctx.results.Count(), 5002u);
  EXPECT_EQ(ctx.results.Row(5001)[kColTarget], "http://h/5001");
  EXPECT_EQ(ctx.results.Row(5001)[kColNo], "005002");
  // The table keeps its own rule: full, and the count it gave was 0.
  EXPECT_EQ(ctx.HrefCount, 0);
  ASSERT_EQ(ctx.CntPos.size(), 5001u);
  EXPECT_GT(ctx.CntPos[5000], 0);
}

TEST_F(CheckLoopTest, RowsAreNumberedFromOneAndEachOccurrenceCounts) {
  ctx.RowNo = 41;
  ctx.results.AddRow("000041", kMarkOk, "old", "", "old");
  ctx.results.Clear();
  Run({WritePage("p.htm", "<a href=\"http://a/\">A</a><a href=\"http://a/\">A</a>\r\n")});
  ASSERT_EQ(ctx.results.Count(), 2u);
  EXPECT_EQ(ctx.results.Row(0)[kColNo], "000001");
  EXPECT_EQ(ctx.results.Row(0)[kColNo2], "000001");
  EXPECT_EQ(ctx.results.Row(1)[kColNo], "000002");
  EXPECT_EQ(http.requested, (std::vector<std::string>{"http://a/", "http://a/"}));
}

TEST_F(CheckLoopTest, ShowAllResultsGovernsOnlyAnsweredLinks) {
  http.Answer("http://ok/", 200);
  http.Answer("http://gone/", 404);
  std::string page =
      "<a href=\"http://ok/\">ok</a><a href=\"http://gone/\">gone</a>"
      "<a href=\"http://s/x.pl\">s</a>\r\n";
  std::string path = WritePage("p.htm", page);
  ctx.Check2 = 0;
  Run({path});
  EXPECT_EQ(Rows(),
            (std::vector<Listed>{{"×", "http://gone/", "gone"}, {"Ｐ", "http://s/x.pl", "s"}}));
  EXPECT_EQ(ctx.results.Row(0)[kColNo], "000001");
  ctx.results.Clear();
  ctx.Check2 = 1;
  Run({path});
  EXPECT_EQ(Rows(), (std::vector<Listed>{{"◎", "http://ok/", "ok"},
                                         {"×", "http://gone/", "gone"},
                                         {"Ｐ", "http://s/x.pl", "s"}}));
}

TEST_F(CheckLoopTest, OneLinkRunShowsItsEffectsInOrder) {
  http.Answer("http://h/", 404);
  std::string page = WritePage("p.htm", "<a href=\"http://h/\">H</a>\r\n");
  Run({page});
  const std::vector<std::string> expected = {
      "show Label4", "repaint Label4", "hide Label5", "show Command2", "hide Command1",
      "hide Command3", "cursor busy",
      // the link
      "caption Label3=" + page, "repaint Label3", "caption Label8=接続中 ： http://h/",
      "repaint Label8", "yield", "refresh list", "caption Label7=1 件", "repaint Label7", "yield",
      "yield",
      // the page
      "yield",
      // run end
      "yield", "caption Label7=1 件", "cursor default", "hide Label4", "caption Label5=検索中止",
      "caption Label8=", "hide Command2", "show Command1",
      "message Voxtrel: Voxtrelが完了しました。    ", "show Command3", "hide Label5"};
  EXPECT_EQ(view.log, expected);
  ASSERT_EQ(view.messages.size(), 1u);
  EXPECT_EQ(view.messages[0].icon, MessageIcon::kWarning);
  EXPECT_EQ(view.messages[0].buttons, MessageButtons::kOk);
  EXPECT_EQ(ctx.results.Row(0)[kColFile], page);
}

TEST_F(CheckLoopTest, EmptyFileListEndsAtOnceWithNoRows) {
  Run({});
  EXPECT_EQ(view.Caption(Control::kLabel7), "0 件");
  ASSERT_EQ(view.messages.size(), 1u);
  EXPECT_EQ(view.messages[0].text, "Voxtrelが完了しました。    ");
  EXPECT_EQ(view.messages[0].title, "Voxtrel");
  EXPECT_FALSE(view.IsVisible(Control::kCommand3));
  EXPECT_TRUE(view.IsVisible(Control::kCommand1));
  EXPECT_FALSE(view.IsVisible(Control::kCommand2));
  EXPECT_FALSE(view.IsVisible(Control::kLabel4));
  EXPECT_FALSE(view.IsVisible(Control::kLabel5));
  EXPECT_EQ(view.Caption(Control::kLabel5), "検索中止");
  EXPECT_FALSE(view.busy);
  EXPECT_EQ(ctx.RowNo, 0);
}

TEST_F(CheckLoopTest, MissingRequestObjectSkipsTheRestOfEachPage) {
  http.fail_all = true;
  std::string first = WritePage(
      "1.htm",
      "<a href=\"http://s/a.pl\">a</a>\r\n<a href=\"http://w/1\">w</a><a href=\"http://w/2\">w</a>"
      "\r\n<a href=\"http://s/b.pl\">b</a>\r\n");
  std::string second = WritePage("2.htm", "<a href=\"http://w/3\">w</a>\r\n");
  std::string third = WritePage("3.htm", "<a href=\"http://s/c.pl\">c</a>\r\n");
  Run({first, second, third});
  EXPECT_EQ(Rows(),
            (std::vector<Listed>{{"Ｐ", "http://s/a.pl", "a"}, {"Ｐ", "http://s/c.pl", "c"}}));
  ASSERT_EQ(view.messages.size(), 3u);
  EXPECT_EQ(view.messages[0].text, "XMLHTTPｵﾌﾞｼﾞｪｸﾄを作成できませんでした。     ");
  EXPECT_EQ(view.messages[1].text, "XMLHTTPｵﾌﾞｼﾞｪｸﾄを作成できませんでした。     ");
  EXPECT_EQ(view.messages[2].text, "Voxtrelが完了しました。    ");
  EXPECT_EQ(ctx.WebErrorFlag, 0);
  EXPECT_TRUE(view.IsVisible(Control::kCommand3));
}

TEST_F(CheckLoopTest, AbortDuringARequestStopsAfterThatLink) {
  http.Answer("http://slow/", 404, "", 3);
  view.on_keep_alive = [this] { ctx.AbortFlag = kAbortRequested; };
  std::string first = WritePage("1.htm",
                                "<a href=\"http://slow/\">S</a><a href=\"http://next/\">N</a>\r\n"
                                "<a href=\"http://later/\">L</a>\r\n");
  std::string second = WritePage("2.htm", "<a href=\"http://other/\">O</a>\r\n");
  Run({first, second});
  EXPECT_EQ(Rows(), (std::vector<Listed>{{"×", "http://slow/", "S"}}));
  EXPECT_EQ(http.requested, (std::vector<std::string>{"http://slow/"}));
  ASSERT_EQ(view.messages.size(), 1u);
  EXPECT_EQ(view.messages[0].text, "Voxtrelを中止しました。    ");
  EXPECT_EQ(ctx.AbortFlag, 0);
  EXPECT_TRUE(view.IsVisible(Control::kCommand3));
}

TEST_F(CheckLoopTest, AbortDuringAYieldAfterAScriptRowStopsTheRun) {
  std::string first =
      WritePage("1.htm", "<a href=\"http://s/a.pl\">a</a><a href=\"http://s/b.pl\">b</a>\r\n");
  std::string second = WritePage("2.htm", "<a href=\"http://s/c.pl\">c</a>\r\n");
  view.on_yield = [this](int count) {
    if (count == 1) ctx.AbortFlag = kAbortRequested;
  };
  Run({first, second});
  EXPECT_EQ(Rows(), (std::vector<Listed>{{"Ｐ", "http://s/a.pl", "a"}}));
  EXPECT_EQ(view.messages.back().text, "Voxtrelを中止しました。    ");
}

TEST_F(CheckLoopTest, AbortSeenAfterAPageWithoutLinksOpensNoFurtherPage) {
  std::string first = WritePage("1.htm", "no links\r\n");
  std::string second = WritePage("2.htm", "<a href=\"http://s/c.pl\">c</a>\r\n");
  view.on_yield = [this](int count) {
    if (count == 1) ctx.AbortFlag = kAbortRequested;
  };
  Run({first, second});
  EXPECT_TRUE(Rows().empty());
  EXPECT_EQ(view.messages.back().text, "Voxtrelを中止しました。    ");
  EXPECT_FALSE(view.IsVisible(Control::kCommand3));
}

TEST_F(CheckLoopTest, UnreadablePageIsNotScannedAsThePreviousOne) {
  std::string first = WritePage("1.htm", "<a href=\"http://a/\">A</a>\r\n");
  Run({first, dir / "missing.htm", dir / "folder-less/x.htm"});
  EXPECT_EQ(Rows(), (std::vector<Listed>{{"◎", "http://a/", "A"}}));
  EXPECT_EQ(http.requested.size(), 1u);
  EXPECT_EQ(view.messages.back().text, "Voxtrelが完了しました。    ");
}

TEST_F(CheckLoopTest, WebPageModeNamesTheAddress) {
  ctx.SinglePageMode = kModeWebPage;
  ctx.SinglePageTarget = "http://site/index.html";
  http.Answer("http://gone/", 404);
  Run({WritePage("WEB_Dummy.htm",
                 "<a href=\"http://gone/\">g</a><a href=\"http://s/x.pl\">s</a>\r\n")});
  ASSERT_EQ(ctx.results.Count(), 2u);
  EXPECT_EQ(ctx.results.Row(0)[kColFile], "http://site/index.html");
  EXPECT_EQ(ctx.results.Row(1)[kColFile], "http://site/index.html");
  EXPECT_EQ(view.Caption(Control::kLabel3), "http://site/index.html");
}

TEST_F(CheckLoopTest, EucPageIsScannedAfterConversion) {
  // <a href="http://h/">亜あｱ</a> in EUC-JP, declared in lower case.
  std::string page =
      "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=euc-jp\">\r\n"
      "<a href=\"http://h/\">\xB0\xA1\xA4\xA2\x8E\xB1</a>\r\n";
  Run({WritePage("euc.htm", page)});
  EXPECT_EQ(Rows(), (std::vector<Listed>{{"◎", "http://h/", "亜あア"}}));
}

}  // namespace
}  // namespace voxtrel
