#include "run/recheck.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "output/cells.h"
#include "support/fake_pool.h"
#include "support/fake_run.h"

namespace voxtrel {
namespace {

class RecheckTest : public test::FakeRunTest {
 protected:
  RecheckTest() {
    pool_.script = [](const std::string& url, int) {
      test::FakeAnswer answer;
      answer.delay_ms = url.ends_with("/slow") ? 500 : 10;
      if (url.ends_with("/gone")) answer.status = 404;
      return answer;
    };
    CheckOutcome failed;
    failed.reason = FailureReason::kTimeout;
    CheckOutcome ok{CheckOutcome::Kind::kAnswered, FailureReason::kNone, 200, 0, 0, "", ""};
    FoundLink local("b.htm#s", "b", "/site/a.htm");
    local.internal = local.local = true;
    local.resolved = "/site/b.htm";
    local.anchor = "s";
    CheckOutcome no_anchor = failed;
    no_anchor.reason = FailureReason::kAnchorNotFound;
    const std::pair<FoundLink, CheckOutcome> rows[] = {
        {{"http://a.jp/slow", "1", "p"}, failed}, {{"http://a.jp/ok", "2", "p"}, ok},
        {{"http://a.jp/gone", "3", "p"}, failed}, {{"http://a.jp/slow", "4", "p"}, failed},
        {{"http://b.jp/ok", "5", "p"}, failed},   {local, failed},
        // An answer says nothing of another page's anchor: it stays as it was.
        {{"http://b.jp/ok#nope", "7", "p"}, no_anchor},
    };
    for (const auto& [link, outcome] : rows) results_.Add(link, outcome);
    // Sorted since the run: rows are found again by their numbers, not their places.
    results_.Reorder({6, 5, 4, 3, 2, 1, 0});
    disk_.AddFile("/site/b.htm", "<a id=\"s\">");
  }

  std::string Marks() const {
    std::string marks;
    for (const ResultRow& row : results_.Rows())
      marks += RowNumberText(row.number) + MarkOf(row.outcome) + " ";
    return marks;
  }
};

TEST_F(RecheckTest, FailedRowsAreAskedOnceEachAndUpdatedInPlaceInListOrder) {
  settings_.per_host = 1;
  const RunSummary summary = RecheckFailed(seams_, settings_);
  EXPECT_EQ(Marks(), "000007× 000006◎ 000005◎ 000004◎ 000003× 000002◎ 000001◎ ");
  EXPECT_EQ(results_.Row(4).outcome.status, 404);
  EXPECT_EQ(results_.Row(0).outcome.reason, FailureReason::kAnchorNotFound);
  EXPECT_EQ(pool_.asked,
            (std::map<std::string, int>{
                {"http://a.jp/gone", 1}, {"http://a.jp/slow", 1}, {"http://b.jp/ok", 1}}));
  EXPECT_EQ(pool_.most_per_host["http://a.jp"], 1);
  EXPECT_EQ(summary.links_checked, 6u);
  EXPECT_EQ(summary.rows_by_mark, (std::array<size_t, kMarkCount>{2, 5, 0, 0, 0}));
  EXPECT_EQ(view_.events,
            (std::vector<std::string>{"updated 000006 ◎", "updated 000005 ◎", "updated 000004 ◎",
                                      "updated 000003 ×", "updated 000001 ◎", "ended ×2 ◎5 △0 Ｐ0",
                                      "closed 0 7"}));
}

TEST_F(RecheckTest, RowsStillDeadHaveTheirArchivedCopyLookedUpOnlyWhenAsked) {
  const std::string api = "http://arc.jp/a";
  pool_.script = [api, scripted = pool_.script](const std::string& url, int n) {
    if (!url.starts_with(api)) return scripted(url, n);
    return test::FakeAnswer{.body =
                                "{\"archived_snapshots\":{\"closest\":{\"status\":\"200\","
                                "\"available\":true,\"url\":\"http://w.org/1/gone\"}}}"};
  };
  for (const bool archive : {false, true}) {
    CheckOutcome old;
    old.archived = "http://w.org/0/gone";
    results_.ReplaceOutcome(3, old);
    settings_.archive = {archive, api};
    const RunSummary summary = RecheckFailed(seams_, settings_);
    // Without the option a row still dead keeps the copy it had.
    EXPECT_EQ(results_.Row(4).outcome.archived, archive ? "http://w.org/1/gone" : old.archived);
    EXPECT_EQ(summary.archive_lookups, archive ? 1u : 0u);
    EXPECT_EQ(pool_.asked[api + "?url=http%3A%2F%2Fa.jp%2Fgone"], archive ? 1 : 0);
  }
}

TEST_F(RecheckTest, NoRequestObjectIsWarnedOnceAsARunDoesAndItsRowsKeepWhatTheyHad) {
  pool_.cannot_start = [](const std::string&) { return true; };
  RecheckFailed(seams_, settings_);
  EXPECT_EQ(Marks(), "000007× 000006◎ 000005× 000004× 000003× 000002◎ 000001× ");
  EXPECT_EQ(view_.events[0], "no request");
  EXPECT_EQ(view_.events[1], "updated 000006 ◎");
  EXPECT_EQ(view_.events[2], "ended ×5 ◎2 △0 Ｐ0");
}

TEST_F(RecheckTest, AnAbortLeavesTheRowsNotReachedAsTheyWere) {
  view_.abort = &abort_;
  view_.abort_at_row = 2;
  EXPECT_EQ(RecheckFailed(seams_, settings_).outcome, RunOutcome::kAborted);
  EXPECT_EQ(Marks(), "000007× 000006◎ 000005◎ 000004× 000003× 000002◎ 000001× ");
  EXPECT_EQ(view_.events.back(), "closed 1 7");
}

}  // namespace
}  // namespace voxtrel
