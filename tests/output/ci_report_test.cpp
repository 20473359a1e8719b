#include "output/ci_report.h"

#include <gtest/gtest.h>

#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "platform/text.h"
#include "support/xml_check.h"

namespace voxtrel {
namespace {

using Kind = CheckOutcome::Kind;

// Rows whose names, addresses and pages hold what each format must escape its own way.
std::vector<ResultRow> TrickyRows() {
  ResultList list;
  auto add = [&list](std::string target, std::string name, std::string page, Kind kind,
                     uint32_t line) {
    FoundLink link(target, name, page);
    link.place.line = line;
    CheckOutcome outcome;
    outcome.kind = kind;
    if (kind == Kind::kFailed) outcome.reason = FailureReason::kHttpStatus, outcome.status = 404;
    if (kind == Kind::kSuspect) outcome.suspect = SuspectKind::kSoft404;
    list.Add(link, outcome);
  };
  add("http://例え.jp/a?b=1&c=<2>", "「名前」 \"引用\" <b> & | \\ ` *x*\n2行目",
      "/w/site/日本/ページ.htm", Kind::kFailed, 3);
  add("http://x.test/%41,b:c", "a|b\r\nc", "https://h.test/p,q:r%.htm", Kind::kSuspect, 0);
  add("/ok.htm", "ok", "/w/site/a.htm", Kind::kAnswered, 1);
  add("http://y.test/'q'\nz", "ctl\x01 bad\xFF", "/elsewhere/b,c:d%.htm", Kind::kFailed, 0);
  return {list.Rows().begin(), list.Rows().end()};
}

CiContext Context() { return {"site", "/w/site", "/w", "2026-12-08T09:00:00", "ci", 1.5, false}; }

TEST(CiReportTest, JunitIsWellFormedAndKeepsEveryNameAsWritten) {
  const std::vector<ResultRow> rows = TrickyRows();
  const std::string xml = FormatJunitReport(rows, Context());
  std::vector<test::XmlElement> elements;
  std::string err;
  ASSERT_TRUE(test::ParseXml(xml, &elements, &err)) << err << "\n" << xml;
  auto suite = elements.front().attributes;
  EXPECT_EQ(suite["tests"] + suite["failures"] + suite["errors"] + " " + suite["timestamp"] + " " +
                suite["hostname"] + " " + suite["time"],
            "420 2026-12-08T09:00:00 ci 1.500");
  std::vector<std::string> names, failures;
  for (const test::XmlElement& e : elements) {
    if (e.name == "testcase")
      names.push_back(e.attributes.at("name") + " @ " + e.attributes.at("classname"));
    if (e.name == "failure") failures.push_back(e.attributes.at("message") + " | " + e.text);
  }
  EXPECT_EQ(names, (std::vector<std::string>{"http://例え.jp/a?b=1&c=<2> @ site/日本/ページ.htm",
                                             "http://x.test/%41,b:c @ https://h.test/p,q:r%.htm",
                                             "/ok.htm @ site/a.htm",
                                             "http://y.test/'q'\nz @ /elsewhere/b,c:d%.htm"}));
  EXPECT_EQ(failures, (std::vector<std::string>{
                          "HTTP 404 | site/日本/ページ.htm:3: HTTP 404: http://例え.jp/a?b=1&c=<2> "
                          "(「名前」 \"引用\" <b> & | \\ ` *x*\n2行目)",
                          "HTTP 404 | /elsewhere/b,c:d%.htm: HTTP 404: http://y.test/'q'\nz (ctl "
                          "bad\xEF\xBF\xBD)"}));
  EXPECT_EQ(elements.back().name, "system-err");
}

TEST(CiReportTest, MarkdownGithubAndSarifKeepOneEntryPerFlaggedRow) {
  const std::vector<ResultRow> rows = TrickyRows();
  // Markdown: one table line per × and ？ row, each with its eight cell borders.
  const std::string markdown = FormatMarkdownReport(rows, Context());
  std::istringstream lines(markdown.substr(markdown.find("| No |")));
  std::vector<std::string> table;
  for (std::string line; std::getline(lines, line);) {
    table.push_back(line);
    int borders = 0;
    for (size_t i = 0; i < line.size(); ++i) line[i] == '\\' ? ++i : borders += line[i] == '|';
    EXPECT_EQ(borders, 8) << line;
  }
  ASSERT_EQ(table.size(), 5u) << markdown;
  EXPECT_NE(
      table[2].find("| 3 | http://例え.jp/a?b=1&amp;c=&lt;2> | 「名前」 \"引用\" &lt;b> &amp; "
                    "\\| \\\\ \\` \\*x\\* 2行目 | HTTP 404 |"),
      std::string::npos);
  // GitHub: every line a workflow command; properties never hold ":" or ",".
  const std::string github = FormatGithubCommands(rows, Context());
  const std::regex command("::(error|warning)( file=[^:,\r\n]+(,line=[1-9][0-9]*)?)?::[^\r\n]*");
  std::istringstream commands(github);
  std::vector<std::string> found;
  for (std::string line; std::getline(commands, line);) {
    EXPECT_TRUE(std::regex_match(line, command)) << line;
    found.push_back(line);
  }
  EXPECT_EQ(found,
            (std::vector<std::string>{
                "::error file=site/日本/ページ.htm,line=3::HTTP 404: http://例え.jp/a?b=1&c=<2> "
                "(「名前」 \"引用\" <b> & | \\ ` *x*%0A2行目)",
                "::warning::https://h.test/p,q:r%25.htm: soft 404: http://x.test/%2541,b:c "
                "(a|b%0D%0Ac)",
                "::error file=/elsewhere/b%2Cc%3Ad%25.htm::HTTP 404: http://y.test/'q'%0Az "
                "(ctl bad\xEF\xBF\xBD)"}));
  // SARIF: a result per × row, pages under the folder relative, others as file URIs.
  const std::string sarif = FormatSarifReport(rows, Context());
  for (const char* part :
       {"\"version\":\"2.1.0\"", "\"originalUriBaseIds\":{\"%SRCROOT%\":{\"uri\":\"file:///w/\"}}",
        "{\"uri\":\"site/%E6%97%A5%E6%9C%AC/%E3%83%9A%E3%83%BC%E3%82%B8.htm\",\"uriBaseId\":"
        "\"%SRCROOT%\"},\"region\":{\"startLine\":3}}",
        "{\"uri\":\"file:///elsewhere/b%2Cc%3Ad%25.htm\"}}}"})
    EXPECT_NE(sarif.find(part), std::string::npos) << part << "\n" << sarif;
  const std::regex result("\"ruleId\"");
  EXPECT_EQ(std::distance(std::sregex_iterator(sarif.begin(), sarif.end(), result), {}), 2);
  for (const std::string& text : {markdown, github, sarif}) EXPECT_TRUE(IsValidUtf8(text));
}

}  // namespace
}  // namespace voxtrel
