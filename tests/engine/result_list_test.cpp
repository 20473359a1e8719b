#include "engine/result_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace voxtrel {
namespace {

// Every field of a row in one line, so that a row read back compares whole.
std::string Fields(const ResultRow& row) {
  const FoundLink& l = row.link;
  const CheckOutcome& o = row.outcome;
  return std::to_string(row.number) + "|" + l.target + "|" + l.name + "|" + l.page + "|" +
         l.resolved + "|" + l.anchor + "|" + std::to_string(l.internal) + std::to_string(l.local) +
         "|" + std::to_string(static_cast<int>(o.kind)) + "|" +
         std::to_string(static_cast<int>(o.reason)) + "|" +
         (o.status ? std::to_string(*o.status) : "none") + "|" + std::to_string(o.redirects) + "|" +
         std::to_string(o.elapsed_ms) + "|" + o.detail + "|" + o.redirected_to + "|" +
         SuspectName(o.suspect) + "|" + o.archived + "|" + std::to_string(l.place.line) + ":" +
         std::to_string(l.place.offset) + "+" + std::to_string(l.place.length);
}

CheckOutcome Outcome(CheckOutcome::Kind kind, FailureReason reason, std::optional<int> status,
                     std::string detail = "", std::string redirected_to = "",
                     SuspectKind suspect = SuspectKind::kNone) {
  CheckOutcome outcome;
  outcome.suspect = suspect;
  outcome.kind = kind;
  outcome.reason = reason;
  outcome.status = status;
  outcome.redirects = 3;
  outcome.elapsed_ms = int64_t{1} << 40;
  outcome.detail = std::move(detail);
  outcome.redirected_to = std::move(redirected_to);
  return outcome;
}

TEST(ResultListTest, RowsComeBackWithEveryFieldAsAdded) {
  using Kind = CheckOutcome::Kind;
  FoundLink local("b.htm#章", "", "/site/a.htm");
  local.resolved = "/site/b.htm";
  local.anchor = "章";
  local.internal = local.local = true;
  local.place = {70000, uint64_t{1} << 33, 100000};
  const std::string long_text(200, 'x'), huge_text(70000, 'y');  // a longer length; a block
  std::vector<ResultRow> rows = {
      {1,
       {"http://a.jp/", "ａ", "/site/a.htm"},
       Outcome(Kind::kAnswered, FailureReason::kNone, 200)},
      {2,
       {"http://a.jp/", "ａ", "/site/a.htm"},
       Outcome(Kind::kFailed, FailureReason::kHttpStatus, 0)},
      {3, local, Outcome(Kind::kFailed, FailureReason::kCaseDiffers, std::nullopt, "B.htm")},
      {4, {"", "", ""}, Outcome(Kind::kScript, FailureReason::kNone, -1)},
      {5,
       {long_text, huge_text, "http://s.jp/"},
       Outcome(Kind::kRefresh, FailureReason::kNone, 301, "", "http://new/")},
      {6,
       {"http://a.jp/", long_text, "/site/a.htm"},
       Outcome(Kind::kFailed, kLastFailureReason, 404, huge_text)},
      {7, local, Outcome(Kind::kSuspect, {}, 200, "", "", kLastSuspectKind)},
      {8, local, Outcome(Kind::kFailed, {}, 404, "閉鎖", "", SuspectKind::kClosedService)},
  };
  rows[7].outcome.archived = "http://web.archive.org/web/2015/http://a.jp/";
  ResultList list;
  for (const ResultRow& row : rows) list.Add(row.link, row.outcome);
  ASSERT_EQ(list.Count(), rows.size());
  for (size_t i = 0; i < rows.size(); ++i) EXPECT_EQ(Fields(list.Row(i)), Fields(rows[i])) << i;
  ResultRows::Iterator row = ResultRows(list).begin();
  EXPECT_EQ((*row++).number, 1);
  EXPECT_EQ((*row).number, 2);

  // Reordered, replaced and read back under their own numbers, the rows stay whole.
  list.Reorder({5, 4, 3, 2, 1, 0, 6, 7});
  const std::optional<ResultRow> replaced = list.ReplaceOutcome(3, rows[4].outcome);
  ASSERT_TRUE(replaced);
  ResultRow expected = rows[2];
  expected.outcome = rows[4].outcome;
  EXPECT_EQ(Fields(*replaced), Fields(expected));
  EXPECT_EQ(Fields(list.Row(3)), Fields(expected));
  EXPECT_EQ(Fields(list.Row(0)), Fields(rows[5]));
  EXPECT_FALSE(list.ReplaceOutcome(9, {}));
  list.Restore({list.Row(0), list.Row(3)});
  ASSERT_EQ(list.Count(), 2u);
  EXPECT_EQ(Fields(list.Row(0)), Fields(rows[5]));
  EXPECT_EQ(Fields(list.Row(1)), Fields(expected));
}

}  // namespace
}  // namespace voxtrel
