#include "output/report_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "output/report_writer.h"

namespace voxtrel {
namespace {

CheckOutcome Failed(FailureReason reason, std::optional<int> status, std::string detail = "") {
  return CheckOutcome{CheckOutcome::Kind::kFailed, reason, status, 0, 0, std::move(detail), ""};
}

TEST(ReportReaderTest, RowsReadBackAreWrittenAsTheyWere) {
  FoundLink https("//x.jp/a?b#c", "名 \"q\" \\ \x01", "/s/a.htm");
  https.resolved = "http://x.jp/a";
  FoundLink local("Photo.jpg#%E7%AB%A0", "", "/s/a.htm");
  local.internal = local.local = true;
  local.resolved = "/s/Photo.jpg";
  std::vector<ResultRow> rows = {
      {7, {"http://a.jp/", "a", "/s/a.htm"}, Failed(FailureReason::kHttpStatus, 404)},
      {8,
       {"http://b.jp/", "b", "http://w.jp/"},
       {CheckOutcome::Kind::kAnswered, {}, 200, 2, 15, "", ""}},
      {9, {"http://c.jp/x.pl", "", "/s/a.htm"}, {CheckOutcome::Kind::kScript, {}, {}, 0, 0, "", ""}},
      {10, https, Failed(FailureReason::kTimeout, {})},
      {11, local, Failed(FailureReason::kCaseDiffers, {}, "photo.JPG")},
      {12, {"http://d.jp/", "", "/s/a.htm"}, Failed(FailureReason::kNone, 200)},
      {13, {"http://e.jp/", "", "/s/a.htm"}, [] {
         CheckOutcome busy = Failed(FailureReason::kHttpStatus, 503);
         busy.tries = 3;
         return busy;
       }()},
  };
  // A ？ row of every kind, and a failure on a closed service, keep why.
  const std::string service = "Yahoo!ジオシティーズ, \"X\" (2019-03-31)";
  for (int s = 1; s <= static_cast<int>(kLastSuspectKind); ++s) {
    CheckOutcome doubt = Failed(FailureReason::kNone, 200, s == 1 ? service : "");
    doubt.kind = CheckOutcome::Kind::kSuspect;
    doubt.suspect = static_cast<SuspectKind>(s);
    rows.push_back({13 + s, {"http://f.jp/", "", "/s/a.htm"}, doubt});
  }
  rows.push_back(
      {20, {"http://g.jp/", "", "/s/a.htm"}, Failed(FailureReason::kHttpStatus, 404, service)});
  rows.back().outcome.suspect = SuspectKind::kClosedService;
  rows[0].link.place.line = 3;
  rows[1].outcome.archived = "http://web.archive.org/web/2015/http://b.jp/";
  const std::string text = FormatJsonReport(rows);
  std::vector<ResultRow> back;
  std::string err;
  ASSERT_TRUE(ReadJsonReport(text, false, &back, &err)) << err;
  EXPECT_EQ(FormatJsonReport(back), text);
  EXPECT_EQ(back[3].link.resolved, "http://x.jp/a");
  EXPECT_TRUE(back[4].link.local);
  EXPECT_EQ(back[4].link.anchor, "章");
  EXPECT_EQ(back[4].outcome.detail, "photo.JPG");
  // The line a link stands on follows its page, and only where it is known.
  EXPECT_EQ(text.find("\"line\""), text.find("\"line\":3,\"status\""));
  EXPECT_EQ(text.find("\"line\""), text.rfind("\"line\""));
  EXPECT_EQ(back[0].link.place.line, 3u);
  EXPECT_EQ(back[1].outcome.archived, rows[1].outcome.archived);
  // Only a row that took more than one request says so.
  EXPECT_EQ(back[6].outcome.tries, 3);
  EXPECT_EQ(back[0].outcome.tries, 1);
  EXPECT_EQ(text.find("\"tries\""), text.rfind("\"tries\":3}"));
  // Only the rows with a doubt name it.
  EXPECT_EQ(text.find("\"suspect\""), text.find("\"suspect\":\"closed-service\"},\n{\"no\":15"));

  // From a file, each row is kept as soon as it is read, long before the file's end.
  struct Pieces : InputFile, ResultListObserver {
    size_t Read(char* buffer, size_t size, bool* /*failed*/) override {
      const size_t n = std::min({size, size_t{16}, left.size()});
      std::copy_n(left.data(), n, buffer);
      left.remove_prefix(n);
      return n;
    }
    void RowAdded(size_t /*index*/) override { left_at_row.push_back(left.size()); }
    void RowsCleared() override {}
    void RowsReordered() override {}
    void RowChanged(size_t /*index*/) override {}
    std::string_view left;
    std::vector<size_t> left_at_row;
  } file;
  file.left = text;
  ResultList list;
  list.SetObserver(&file);
  ASSERT_TRUE(ReadJsonReport(file, false, &list, &err)) << err;
  EXPECT_EQ(FormatJsonReport(list), text);
  ASSERT_EQ(file.left_at_row.size(), std::size(rows));
  EXPECT_GT(file.left_at_row[0], text.size() / 2);
}

TEST(ReportReaderTest, AnythingElseIsRefusedSayingWhy) {
  const std::string row =
      "{\"no\":1,\"mark\":\"×\",\"url\":\"http://a.jp/\",\"name\":\"\",\"page\":\"p\","
      "\"status\":null,\"reason\":\"time-out\",\"redirects\":0,\"elapsed_ms\":5}";
  auto with = [&row](const std::string& from, const std::string& to) {
    std::string text = "[\n" + row + "\n]";
    return text.replace(text.find(from), from.size(), to);
  };
  const std::pair<std::string, std::string> cases[] = {
      {"", "line 1: the text ends where a value should be"},
      {"{}", "the report is not a list of rows"},
      {"[1]", "line 1: a row is not an object"},
      {"[" + row + ",]", "line 1: not a JSON value"},
      {"[" + row + "] x", "text after the end of the report"},
      {"[\"\xff\"]", "the file is not UTF-8"},
      {"[\"\\ud800\"]", "line 1: a lone surrogate"},
      {"[" + row + "," + row + "]", "line 1: the number 1 appears twice"},
      {with("\"no\":1", "\"no\":0"), "line 2: \"no\" is not a whole number from 1"},
      {with("\"no\":1,", ""), "line 2: the row has no \"no\""},
      {with("\"status\":null", "\"status\":\"200\""), "line 2: \"status\" is not a whole number"},
      {with("\"page\":\"p\"", "\"page\":\"p\",\"page\":\"q\""),
       "line 2: the field \"page\" appears twice"},
      {with("×", "x"), "line 2: unknown mark \"x\""},
      {with("time-out", "gone"), "line 2: unknown reason \"gone\""},
      {with(":5}", ":5,\"suspect\":\"soft-404\"}"), "line 2: \"suspect\" does not match"},
      {with("\"page\":\"p\"", "\"page\":\"p\",\"kind\":\"internal\""), "line 2: an internal link"},
  };
  for (const auto& [text, why] : cases) {
    std::vector<ResultRow> rows;
    std::string err;
    EXPECT_FALSE(ReadJsonReport(text, false, &rows, &err)) << text;
    EXPECT_TRUE(err.starts_with(why)) << text << "\n" << err;
  }
}

}  // namespace
}  // namespace voxtrel
