#include "engine/check_loop.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "engine/archive_lookup.h"
#include "run/run.h"
#include "support/fake_disk.h"
#include "support/fake_pool.h"
#include "support/recording_view.h"

namespace voxtrel {
namespace {

using Events = std::vector<std::string>;
using test::FakeAnswer;

// How the scripted hosts answer the `n`th request of an address (from 1), by its path: /flip
// answers 200, 404, 200, ...; /retry... answer 429 first, /retry-never always; /slow takes 50 ms.
FakeAnswer Scripted(const std::string& url, int n, unsigned delay_seed, long max_delay_ms) {
  FakeAnswer answer;
  const std::string path = url.substr(url.find('/', 7));
  answer.delay_ms = path.rfind("/slow", 0) == 0
                        ? 50
                        : static_cast<long>(std::hash<std::string>()(url + std::to_string(n + delay_seed)) %
                                            static_cast<size_t>(max_delay_ms + 1));
  if (path == "/missing" || (path == "/flip" && n % 2 == 0)) answer.status = 404;
  if (path == "/error") answer.status = 500;
  if (path == "/dead") answer.failure = HttpFailure::kRefused;
  if ((path.rfind("/retry", 0) == 0 && n == 1) || path == "/retry-never") answer.status = 429;
  if (path == "/retry-1s") answer.retry_after_s = 1;
  if (path == "/refresh") answer.body = "0123456789<META HTTP-EQUIV=\"REFRESH\" CONTENT=\"0\">";
  return answer;
}

class CheckLoopTest : public ::testing::Test {
 protected:
  CheckLoopTest() {
    pool_.script = [this](const std::string& url, int n) {
      return Scripted(url, n, seed_, max_delay_ms_);
    };
    // A 429 is waited out for real; a millisecond keeps its order and costs nothing.
    settings_.retry_after_cap_ms = 1;
  }
  /// Adds page `name` of folder /site with one link a line, named by its number from 1.
  std::string Page(const std::string& name, const std::vector<std::string>& targets) {
    std::string bytes;
    for (size_t i = 0; i < targets.size(); ++i)
      bytes += "<A HREF=\"" + targets[i] + "\">" + std::to_string(i + 1) + "</A>\r\n";
    disk_.AddFile("/site/" + name, bytes);
    return "/site/" + name;
  }
  Events Run(size_t abort_at = 0, bool abort_first = false, bool keep_alive = true) {
    test::RecordingView view;
    view.keep_alive = keep_alive;
    AbortSignal abort;
    if (abort_first) abort.Raise();
    view.abort = &abort;
    view.abort_at_row = abort_at;
    results_.Clear();
    summary_ = RunFolder(RunSeams{view, disk_, pool_, results_, abort}, settings_, "/site", false);
    waits_ = view.waits;
    progress_ = view.last_progress;
    return view.events;
  }
  std::string Marks() const {
    std::string marks;
    for (const ResultRow& row : results_.Rows()) marks += MarkOf(row.outcome);
    return marks;
  }

  test::FakeDisk disk_;
  test::FakePool pool_;
  RunSettings settings_;
  ResultList results_;
  RunSummary summary_;
  RunProgress progress_;  // the last the run told
  size_t waits_ = 0;
  unsigned seed_ = 0;
  long max_delay_ms_ = 0;
};

TEST_F(CheckLoopTest, ManyInFlightGiveTheEventsOfOneAtATime) {
  const char* paths[] = {"/ok",   "/missing", "/error", "/dead", "/refresh", "/flip",
                         "/x.pl", "https",    "/ok?q",  "b.htm",  "../c.htm#n"};
  const char* hosts[] = {"http://a.jp", "http://b.jp:8080", "http://c.jp"};
  max_delay_ms_ = 30;
  for (unsigned seed = 1; seed <= 8; ++seed) {
    SCOPED_TRACE(seed);
    std::mt19937 random(seed);
    for (const char* page : {"a.htm", "b.htm", "c.htm"}) {
      std::vector<std::string> targets;
      for (size_t n = random() % 12; n > 0; --n) {
        const std::string path = paths[random() % std::size(paths)];
        const std::string host = hosts[random() % 3];
        targets.push_back(path == "https" ? "https://s.jp/" : path[0] != '/' ? path : host + path);
      }
      Page(page, targets);
    }
    settings_.show_all = seed % 2 == 1;
    settings_.once = seed % 3 == 0;
    settings_.per_host = seed % 2 ? 2 : kDefaultPerHost;
    // Every link of a page, relative ones looked up on the disk, keeps the same order too.
    settings_.all_links = seed % 4 == 1;
    std::vector<Events> runs;
    for (int jobs : {1, 64}) {
      seed_ = seed;
      pool_.asked.clear();
      settings_.jobs = jobs;
      runs.push_back(Run());
    }
    EXPECT_EQ(runs[0], runs[1]);
    EXPECT_GT(pool_.most_in_flight, 1u);
    // No host more than its limit at once, and no address twice at once.
    for (const auto& [host, most] : pool_.most_per_host) EXPECT_LE(most, settings_.per_host) << host;
    EXPECT_EQ(pool_.most_per_url, 1);
    pool_.most_per_host.clear();
  }
  // Pages are read where they lie and never copied: no work file is written or removed.
  for (const std::string& op : disk_.log) EXPECT_TRUE(op.rfind("list", 0) == 0 || op.rfind("read", 0) == 0) << op;
}

TEST_F(CheckLoopTest, AbortAtAnyMomentKeepsExactlyTheRowsBefore) {
  max_delay_ms_ = 30;
  Page("a.htm", {"http://a.jp/ok", "http://a.jp/missing", "http://a.jp/error", "http://b.jp/ok",
                 "http://a.jp/refresh", "http://a.jp/x.pl", "http://c.jp/ok", "http://a.jp/ok"});
  const Events all = Run();
  ASSERT_EQ(all.size(), 11u);
  for (size_t k = 1; k <= 8; ++k) {
    SCOPED_TRACE(k);
    Events expected(all.begin(), all.begin() + 1 + k);
    expected.push_back("ended aborted");
    expected.push_back("closed " + std::to_string(static_cast<int>(RunOutcome::kAborted)) + " " +
                       std::to_string(k));
    Events got = Run(k);
    // The end message's counts are those of the rows kept (seen whole elsewhere).
    ASSERT_EQ(got.size(), expected.size());
    got[got.size() - 2].resize(expected[expected.size() - 2].size());
    EXPECT_EQ(got, expected);
  }
  // Raised before the run reaches the check (a Ctrl-C during the page search): nothing is asked.
  pool_.started.clear();
  EXPECT_EQ(Run(0, true), (Events{"aborted", "closed 1 0"}));
  EXPECT_TRUE(pool_.started.empty());
  EXPECT_EQ(summary_.outcome, RunOutcome::kAborted);
  // A window closing while requests wait gives them up at once.
  EXPECT_EQ(Run(0, false, false), (Events{all[0], "ended aborted ×0 ◎0 △0 Ｐ0", "closed 1 0"}));
}

TEST_F(CheckLoopTest, OnceAsksEachAddressOnceAndListsEveryOccurrence) {
  Page("a.htm", {"http://a.jp/flip", "http://a.jp/ok", "http://a.jp/flip"});
  Page("b.htm", {"http://a.jp/ok", "http://a.jp/flip"});
  for (const bool once : {false, true}) {
    pool_.asked.clear();
    settings_.once = once;
    Run();
    EXPECT_EQ(Marks(), once ? "◎◎◎◎◎" : "◎◎×◎◎");
    EXPECT_EQ(pool_.asked["http://a.jp/flip"], once ? 1 : 3);
    EXPECT_EQ(pool_.asked["http://a.jp/ok"], once ? 1 : 2);
    EXPECT_EQ(summary_.rows_by_mark[1], once ? 5u : 4u);
  }
}

TEST_F(CheckLoopTest, TooManyRequestsIsAskedOnceMoreThenItsHostOneAtATime) {
  // The 429 comes back while seven slow requests hold the host's other places; every request
  // started after it must go alone.
  std::vector<std::string> targets = {"http://b.jp/retry-1s", "http://b.jp/retry",
                                      "http://b.jp/retry-never"};
  for (int i = 0; i < 7; ++i) targets.push_back("http://b.jp/slow-" + std::to_string(i));
  Page("a.htm", targets);
  Run();
  EXPECT_EQ(Marks(), "◎◎×◎◎◎◎◎◎◎");
  EXPECT_EQ(ReasonText(results_.Row(2).outcome), "HTTP 429");
  EXPECT_EQ(pool_.asked["http://b.jp/retry-1s"], 2);
  EXPECT_EQ(pool_.asked["http://b.jp/retry-never"], 2);
  // The first wave is the host's eight places; what starts after the 429 goes alone.
  ASSERT_EQ(pool_.host_load.size(), 13u);
  EXPECT_EQ(std::vector<int>(pool_.host_load.begin() + 8, pool_.host_load.end()),
            std::vector<int>(5, 1));
}

TEST_F(CheckLoopTest, LinksThatNeedNoRequestNeverWait) {
  std::vector<std::string> targets;
  const char* const kinds[] = {"https://s.jp/", "http://a.jp/x.pl", "http://a.jp/skip",
                               "http://a.jp/set-aside"};
  for (int i = 0; i < 300; ++i) targets.push_back(kinds[i % 4]);
  Page("a.htm", targets);
  settings_.jobs = 1;
  settings_.excluded = [](const std::string& url) { return url.ends_with("skip"); };
  settings_.ignored = [](const std::string& url) { return url.ends_with("aside"); };
  Run();
  EXPECT_EQ(summary_.ignored, 75u);
  EXPECT_EQ(summary_.https_skipped + summary_.excluded + summary_.rows_by_mark[3], 225u);
  EXPECT_EQ(results_.Count(), 75u);
  EXPECT_EQ(waits_, 0u);
}

TEST_F(CheckLoopTest, DeadLinksTakeTheArchivedCopyTheArchiveNamesAskedOnceEach) {
  const std::string copy = "http://web.archive.org/web/2015/http://a.jp/";
  auto closest = [](const std::string& status, const char* available, const std::string& url) {
    return "{\"archived_snapshots\":{\"closest\":{\"status\":\"" + status +
           "\",\"available\":" + available + ",\"url\":\"" + url + "\"}}}";
  };
  const struct {
    std::string dead;  // where the dead link leads, its host naming the case
    FakeAnswer api;    // what the archive answers for it
    std::string archived;
  } cases[] = {
      {"http://copy.jp/dead", {.body = closest("200", "true", copy)}, copy},
      {"http://gone.jp/dead", {.body = closest("200", "false", copy)}, ""},
      {"http://404.jp/dead", {.body = closest("404", "true", copy)}, ""},
      {"http://broken.jp/dead", {.body = "{\"archived_snapshots\":{\"closest\":"}, ""},
      {"http://odd.jp/dead", {.body = "[\"archived_snapshots\"]"}, ""},
      {"http://empty.jp/dead", {.body = ""}, ""},
      {"http://error.jp/dead", {.status = 500, .body = closest("200", "true", copy)}, ""},
      {"http://failed.jp/dead", {.status = {}, .failure = HttpFailure::kTimeout}, ""},
  };
  const std::string api = "http://arc.jp/available";
  std::map<std::string, FakeAnswer> answers;
  std::vector<std::string> targets = {"http://a.jp/ok", "http://a.jp/x.pl"};
  for (const auto& c : cases) {
    answers[ArchiveQueryOf(api, c.dead, "19700101")] = c.api;
    targets.push_back(c.dead);
  }
  Page("a.htm", targets);
  Page("b.htm", {cases[0].dead, cases[1].dead});  // later rows take the first one's result
  pool_.script = [&](const std::string& url, int n) {
    return url.starts_with(api) ? answers.at(url) : Scripted(url, n, 0, 0);
  };
  settings_.archive = {true, api};
  settings_.show_all = true;
  for (int jobs : {1, 64}) {
    settings_.jobs = jobs;
    pool_.asked.clear();
    Run();
    ASSERT_EQ(Marks(), "◎Ｐ××××××××××");
    for (size_t i = 0; i < std::size(cases); ++i)
      EXPECT_EQ(results_.Row(i + 2).outcome.archived, cases[i].archived) << cases[i].dead;
    EXPECT_EQ(results_.Row(10).outcome.archived, copy);
    EXPECT_EQ(results_.Row(11).outcome.archived, "");
    // One request per dead address, dated as its page (the fake disk's clock starts at 1970).
    EXPECT_EQ(summary_.archive_lookups, std::size(cases));
    for (const auto& [url, answer] : answers) EXPECT_EQ(pool_.asked[url], 1) << url;
  }
  EXPECT_EQ(ArchiveQueryOf(api, "http://a.jp/x?y=1&z", ""),
            api + "?url=http%3A%2F%2Fa.jp%2Fx%3Fy%3D1%26z");
  // Without the option nothing is asked of the archive.
  settings_.archive.look_up = false;
  pool_.started.clear();
  Run();
  for (const std::string& url : pool_.started) EXPECT_FALSE(url.starts_with(api)) << url;
  EXPECT_EQ(results_.Row(2).outcome.archived, "");
  EXPECT_EQ(summary_.archive_lookups, 0u);
}

TEST_F(CheckLoopTest, PageWithoutRequestObjectIsReportedOnceAndSkipped) {
  const std::string page1 = Page("1.htm", {"http://a.jp/p1/a", "http://a.jp/p1/b", "http://a.jp/p1/c.pl"});
  const std::string page2 = Page("2.htm", {"http://a.jp/p2/a", "http://a.jp/p2/b"});
  const std::string start = "start? 2";
  const std::string no_request = "no request";
  const std::string done = "ended ×0 ◎";
  const struct {
    std::string failing;
    Events events;
  } cases[] = {
      {"/p", {start, no_request, no_request, done + "0 △0 Ｐ0", "closed 0 0"}},
      {"/p1/",
       {start, no_request, "row 000001 ◎ http://a.jp/p2/a [1] " + page2,
        "row 000002 ◎ http://a.jp/p2/b [2] " + page2, done + "2 △0 Ｐ0", "closed 0 2"}},
      // One at a time, the page's next link is already asked when its first cannot be.
      {"/p1/a",
       {start, no_request, "row 000001 ◎ http://a.jp/p2/a [1] " + page2,
        "row 000002 ◎ http://a.jp/p2/b [2] " + page2, done + "2 △0 Ｐ0", "closed 0 2"}},
  };
  settings_.jobs = 1;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.failing);
    pool_.cannot_start = [&c](const std::string& url) { return url.find(c.failing) != std::string::npos; };
    EXPECT_EQ(Run(), c.events);
    // The links of a page passed over count as settled, so the counts still end even.
    EXPECT_EQ(progress_.links_answered, progress_.links_found);
  }
}

}  // namespace
}  // namespace voxtrel
