#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "output/report_writer.h"
#include "output/result_sort.h"
#include "support/files.h"
#include "support/temp_dir.h"

namespace voxtrel {
namespace {

CheckOutcome Outcome(CheckOutcome::Kind kind) {
  CheckOutcome outcome;
  outcome.kind = kind;
  return outcome;
}

std::vector<ResultRow> TwoRows() {
  ResultList list;
  list.Add({"http://a.jp/?q=1&r=<2>", "say \"hi\"", "/p/a.htm"}, Outcome(CheckOutcome::Kind::kFailed));
  list.Add({" http://b.jp/ ", "  ", "/p/b,c.htm"}, Outcome(CheckOutcome::Kind::kAnswered));
  list.Add({"http://c.jp/", "a\rb", "/p/c.htm"}, Outcome(CheckOutcome::Kind::kScript));
  return {list.Rows().begin(), list.Rows().end()};
}

TEST(ReportTest, CsvReportQuotesOnlyWhatNeedsIt) {
  EXPECT_EQ(FormatCsvReport(TwoRows()),
            "000001,×,http://a.jp/?q=1&r=<2>,\"say \"\"hi\"\"\",/p/a.htm\r\n"
            "000002,◎, http://b.jp/ ,  ,\"/p/b,c.htm\"\r\n"
            "000003,Ｐ,http://c.jp/,\"a\rb\",/p/c.htm\r\n");
}

TEST(ReportTest, HtmlReportEscapesValuesAndFillsBlankNames) {
  const std::string cell = "<TD><FONT size=\"-1\">";
  const std::string end = "</FONT></TD>";
  auto row = [&](const std::string& no, const std::string& mark, const std::string& href,
                 const std::string& text, const std::string& name, const std::string& file) {
    return "<TR>\r\n<FONT size=\"-1\"> " + cell + no + end + cell + mark + end + cell +
           "<A href=\"" + href + "\">" + text + "</A>" + end + cell + name + end + cell + file +
           end + "</FONT>\r\n</TR>\r\n";
  };
  const std::vector<ResultRow> rows = TwoRows();
  EXPECT_EQ(FormatHtmlReport(std::vector<ResultRow>{rows[0], rows[1]}),
            "<HTML>\r\n<HEAD>\r\n"
            "<META http-equiv=\"Content-Type\" content=\"text/html; charset=Shift_JIS\">\r\n"
            "<META http-equiv=\"Content-Style-Type\" content=\"Text/css\" > \r\n"
            "<TITLE>Voxtrel</TITLE>\r\n</HEAD>\r\n<BODY>\r\n<P>Voxtrel<BR>\r\n"
            "<TABLE border=\"1\" cellpadding=\"4\" cellspacing=\"0\">\r\n<TBODY>\r\n" +
                row("000001", "×", "http://a.jp/?q=1&amp;r=&lt;2&gt;",
                    "http://a.jp/?q=1&amp;r=&lt;2&gt;", "say &quot;hi&quot;", "/p/a.htm") +
                row("000002", "◎", "http://b.jp/", " http://b.jp/ ", "&nbsp;", "/p/b,c.htm") +
                "</TBODY>\r\n</TABLE>\r\n</P>\r\n</BODY>\r\n</HTML>\r\n");
}

TEST(ReportTest, PageTextNeverRunsAsScriptOrFormula) {
  enum Links { kNone, kClassic, kBoth };  // which HTML reports link the address
  const struct {
    std::string text;
    Links links;
    std::string csv;  // the detailed CSV cell; the classic one stays as written
  } cases[] = {
      {"http://a.jp/?q=1&r=2", kBoth, "http://a.jp/?q=1&r=2"},
      {"HTTPS://a.jp/", kBoth, "HTTPS://a.jp/"},
      {"sub/b.htm#x", kClassic, "sub/b.htm#x"},
      {"\x01http://a.jp/", kClassic, "\x01http://a.jp/"},
      {"\x01javascript:alert(document.domain)", kNone, "\x01javascript:alert(document.domain)"},
      {"JaVaScRiPt:alert(1)", kNone, "JaVaScRiPt:alert(1)"},
      {" \x1F java\tscr\nipt:x\x01 ", kNone, "\" \x1F java\tscr\nipt:x\x01 \""},
      {"&#1;&#106;ava&#X73;cript&colon;x", kNone, "&#1;&#106;ava&#X73;cript&colon;x"},
      {"jav&Tab;ascript:x", kNone, "jav&Tab;ascript:x"},
      {"data:text/html,<script>alert(1)</script>", kNone,
       "\"data:text/html,<script>alert(1)</script>\""},
      {"vbscript:msgbox(1)", kNone, "vbscript:msgbox(1)"},
      {"//evil.jp/x", kNone, "//evil.jp/x"},
      {"&sol;\\evil\\share", kNone, "&sol;\\evil\\share"},
      {"=HYPERLINK(\"http://e.jp/?\"&A1,\"Click\")", kClassic,
       "\"'=HYPERLINK(\"\"http://e.jp/?\"\"&A1,\"\"Click\"\")\""},
      {"+1", kClassic, "'+1"},
      {"-1", kClassic, "'-1"},
      {"@SUM(A1)", kClassic, "'@SUM(A1)"},
      {"\t=1", kClassic, "'\t=1"},
      {"\r\t=1", kClassic, "\"'\r\t=1\""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.text));
    const std::vector<ResultRow> rows{
        {1, {c.text, "n", "/p"}, Outcome(CheckOutcome::Kind::kFailed)}};
    const std::string classic = FormatHtmlReport(rows);
    const std::string text = EscapeHtml(c.text);
    EXPECT_NE(classic.find(c.links == kNone ? "<FONT size=\"-1\">" + text + "</FONT>"
                                            : "\">" + text + "</A>"),
              std::string::npos);
    EXPECT_EQ(classic.find("<A href=") != std::string::npos, c.links != kNone);
    EXPECT_EQ(FormatDetailedHtmlReport(rows, {}).find("href") != std::string::npos,
              c.links == kBoth);
    EXPECT_NE(FormatDetailedCsvReport(rows).find("\r\n000001,×," + c.csv + ",n,/p,"),
              std::string::npos);
    EXPECT_EQ(FormatCsvReport(rows), "000001,×," + CsvField(c.text) + ",n,/p\r\n");
  }
}

TEST(ReportTest, WrittenReportIsShiftJisInTheFormItsNameSays) {
  struct Case {
    const char* path;
    ReportForm form;
  };
  const Case cases[] = {{"a.htm", ReportForm::kHtml}, {"A.HTM", ReportForm::kHtml},
                        {".htm", ReportForm::kHtml},  {"a.html", ReportForm::kCsv},
                        {"a.csv", ReportForm::kCsv},  {"htm", ReportForm::kCsv}};
  for (const Case& c : cases) {
    EXPECT_EQ(ReportFormatForName(c.path).form, c.form) << c.path;
    EXPECT_EQ(ReportFormatForName(c.path).encoding, ReportEncoding::kShiftJis);
  }
  test::TempDir dir;
  PosixDisk disk;
  ResultList list;
  list.Add({"http://a.jp/", "𠮷野家", "/p"}, Outcome(CheckOutcome::Kind::kFailed));
  // The disk's whole-file write puts the report in place: a linked report's target is replaced.
  test::WriteFile(dir / "archive/r.csv", "old");
  symlink("archive/r.csv", (dir / "r.csv").c_str());
  std::string err;
  ASSERT_TRUE(WriteReport(disk, list.Rows(), dir / "r.csv", ReportFormatForName("r.csv"), &err));
  EXPECT_EQ(err, "");
  EXPECT_EQ(test::ReadFile(dir / "archive/r.csv"),
            "000001,\x81\x7E,http://a.jp/,?\x96\xEC\x89\xC6,/p\r\n");
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "r.csv"));
}

TEST(ReportTest, DetailedReportsSayWhatWasCheckedWhyALinkFailedAndWhereItLeadsNow) {
  std::vector<ResultRow> rows = TwoRows();
  rows[0].outcome.reason = FailureReason::kTimeout;
  rows[0].link.place.line = 12;
  rows[1].outcome.redirected_to = "http://new.jp/";
  rows[0].outcome.archived = "http://web.archive.org/a";  // shown only when the run looked
  const ReportHeading heading{"/site", "2026-12-07 10:00:00", "ｻﾌﾞﾃﾞｨﾚｸﾄﾘを含む", std::nullopt,
                              false};
  ReportHeading crawl = heading;
  crawl.crawl = CrawlCounts{3, 1, 2, 4};
  EXPECT_EQ(FormatDetailedCsvReport(rows, heading),
            "検査対象,/site,,,,,,\r\n検査日時,2026-12-07 10:00:00,,,,,,\r\n"
            "ｵﾌﾟｼｮﾝ,ｻﾌﾞﾃﾞｨﾚｸﾄﾘを含む,,,,,,\r\n件数,× 1 件 / ◎ 1 件 / △ 0 件 / Ｐ 1 件,,,,,,\r\n"
            "No,結果,URL,リンク名,ページ,行,理由,転送先\r\n"
            "000001,×,http://a.jp/?q=1&r=<2>,\"say \"\"hi\"\"\",/p/a.htm,12,ﾀｲﾑｱｳﾄ,\r\n"
            "000002,◎, http://b.jp/ ,  ,\"/p/b,c.htm\",,,http://new.jp/\r\n"
            "000003,Ｐ,http://c.jp/,\"a\rb\",/p/c.htm,,,\r\n");
  EXPECT_TRUE(ReportBytes(rows, {ReportForm::kCsv, ReportEncoding::kUtf8, true})
                  .starts_with("\xEF\xBB\xBF検査対象,,"));
  EXPECT_NE(FormatDetailedCsvReport(rows, crawl)
                .find("ｵﾌﾟｼｮﾝ,ｻﾌﾞﾃﾞｨﾚｸﾄﾘを含む,,,,,,\r\n"
                      "巡回したﾍﾟｰｼﾞ,3 件,,,,,,\r\n"
                      "上限で省いたﾍﾟｰｼﾞ,1 件,,,,,,\r\n"
                      "robots.txt で除外,2 件,,,,,,\r\n取得できないﾍﾟｰｼﾞ,4 件,,,,,,\r\n件数,"),
            std::string::npos);
  EXPECT_EQ(FormatDetailedHtmlReport(rows, heading).find("巡回"), std::string::npos);
  const std::string html = FormatDetailedHtmlReport(rows, crawl);
  for (const char* part : {
           "<!DOCTYPE html>\r\n<html lang=\"ja\">\r\n<head>\r\n<meta charset=\"UTF-8\">\r\n"
           "<meta name=\"generator\" content=\"Voxtrel ",
           "<dt>検査対象</dt><dd>/site</dd>", "<dd>2026-12-07 10:00:00</dd>",
           "<dd>ｻﾌﾞﾃﾞｨﾚｸﾄﾘを含む</dd>\r\n<dt>巡回したﾍﾟｰｼﾞ</dt><dd>3 件</dd>\r\n"
           "<dt>上限で省いたﾍﾟｰｼﾞ</dt><dd>1 件</dd>\r\n<dt>robots.txt で除外</dt><dd>2 件</dd>\r\n"
           "<dt>取得できないﾍﾟｰｼﾞ</dt><dd>4 件</dd>",
           "<p>× 1 件 / ◎ 1 件 / △ 0 件 / Ｐ 1 件</p>",
           "<tr><th>No</th><th>結果</th><th>URL</th><th>リンク名</th><th>ページ</th><th>行</th>"
           "<th>理由</th><th>転送先</th></tr>",
           "<tr class=\"failed\"><td>000001</td><td class=\"mark\">×</td><td class=\"url\">"
           "<a href=\"http://a.jp/?q=1&amp;r=%3C2%3E\">http://a.jp/?q=1&amp;r=&lt;2&gt;</a></td>"
           "<td>say &quot;hi&quot;</td><td class=\"page\">/p/a.htm</td><td>12</td><td>ﾀｲﾑｱｳﾄ</td>"
           "<td class=\"moved\"></td></tr>\r\n",
           "<td class=\"moved\"><a href=\"http://new.jp/\">http://new.jp/</a></td>"})
    EXPECT_NE(html.find(part), std::string::npos) << part;
  rows[2].outcome = {CheckOutcome::Kind::kSuspect, {}, 200, 0, 0, "", ""};
  rows[2].outcome.suspect = SuspectKind::kSoft404;  // counted last, why in 理由
  const std::string csv = FormatDetailedCsvReport(rows);
  EXPECT_NE(csv.find("件数,× 1 件 / ◎ 1 件 / △ 0 件 / Ｐ 0 件 / ？ 1 件,"), std::string::npos);
  EXPECT_TRUE(csv.ends_with("000003,？,http://c.jp/,\"a\rb\",/p/c.htm,,ｿﾌﾄ404,\r\n"));
  ReportHeading archive = heading;
  archive.archive = true;
  EXPECT_NE(FormatDetailedCsvReport(rows, archive)
                .find("ｵﾌﾟｼｮﾝ,ｻﾌﾞﾃﾞｨﾚｸﾄﾘを含む,,,,,,,\r\n件数,× 1 件 / ◎ 1 件 / △ 0 件 / Ｐ 0 件 / "
                      "？ 1 件,,,,,,,\r\nNo,結果,URL,リンク名,ページ,行,理由,転送先,ｱｰｶｲﾌﾞ\r\n"
                      "000001,×,http://a.jp/?q=1&r=<2>,\"say \"\"hi\"\"\",/p/a.htm,12,ﾀｲﾑｱｳﾄ,,"
                      "http://web.archive.org/a\r\n"),
            std::string::npos);
  const std::string archived = FormatDetailedHtmlReport(rows, archive);
  for (const char* part :
       {"<th>転送先</th><th>ｱｰｶｲﾌﾞ</th></tr>",
        "<td>ﾀｲﾑｱｳﾄ</td><td class=\"moved\"></td><td class=\"moved\"><a "
        "href=\"http://web.archive.org/a\">http://web.archive.org/a</a></td></tr>"})
    EXPECT_NE(archived.find(part), std::string::npos) << part;
}

TEST(ReportTest, JsonRowSaysWhereALinkMovedOnlyWhenItMovedForGood) {
  ResultRow row{1, {"http://a.jp/", "a", "/p"}, Outcome(CheckOutcome::Kind::kAnswered)};
  EXPECT_EQ(JsonRow(row).find("redirected_to"), std::string::npos);
  row.outcome.redirected_to = "http://b.jp/";
  EXPECT_TRUE(JsonRow(row).ends_with(",\"redirected_to\":\"http://b.jp/\"}")) << JsonRow(row);
  // An archived copy, when one was found, comes last.
  row.outcome.kind = CheckOutcome::Kind::kFailed;
  row.outcome.tries = 2;
  row.outcome.archived = "http://w.org/web/1/a";
  EXPECT_TRUE(JsonRow(row).ends_with(",\"tries\":2,\"archived\":\"http://w.org/web/1/a\"}"))
      << JsonRow(row);
}

TEST(SortTest, TextOrderFoldsAsciiCaseOnly) {
  struct Case {
    const char* a;
    const char* b;
    int sign;
  };
  const Case cases[] = {{"a", "B", -1}, {"B", "a", 1},  {"ABC", "abc", 0}, {"_", "a", -1},
                        {"a", "ab", -1}, {"ab", "a", 1}, {"あ", "z", 1},    {"", "", 0}};
  for (const Case& c : cases) {
    const int result = CompareSortText(c.a, c.b);
    EXPECT_EQ((result > 0) - (result < 0), c.sign) << c.a << " " << c.b;
  }
}

TEST(SortTest, HeaderClicksSortDescendingThenAscendingAndStably) {
  ResultList list;
  for (const char* name : {"b", "A", "_x", "a"})
    list.Add({"http://x/", name, "/p"}, Outcome(CheckOutcome::Kind::kFailed));
  auto names = [&] {
    std::string text;
    for (const ResultRow& row : list.Rows()) text += row.link.name + " ";
    return text;
  };
  ResultSorter sorter;
  ASSERT_TRUE(sorter.SortByHeader(list, "リンク名"));
  EXPECT_EQ(names(), "b A a _x ");
  EXPECT_EQ(sorter.sort_column, kColName);
  EXPECT_EQ(sorter.sort_direction, SortDirection::kDescending);
  ASSERT_TRUE(sorter.SortByHeader(list, "リンク名"));
  EXPECT_EQ(names(), "_x A a b ");
  EXPECT_EQ(sorter.sort_direction, SortDirection::kAscending);
  EXPECT_FALSE(sorter.SortByHeader(list, "No2"));
  ResultList marks;  // by mark, ？ next to ×, the others in the order of their text
  for (int kind : {3, 4, 0, 2, 1}) marks.Add({}, Outcome(static_cast<CheckOutcome::Kind>(kind)));
  SortResults(marks, kColMark, SortDirection::kAscending);
  std::string order;
  for (const ResultRow& row : marks.Rows()) order += MarkOf(row.outcome);
  EXPECT_EQ(order, "×？△◎Ｐ");
  EXPECT_EQ(names(), "_x A a b ");
  ASSERT_TRUE(sorter.SortByHeader(list, "No"));
  EXPECT_EQ(names(), "a _x A b ");
  EXPECT_EQ(sorter.SortClickCount[kColName], 2);
  EXPECT_EQ(SortColumnForCaption("ファイル名"), kColFile);
}

}  // namespace
}  // namespace voxtrel
