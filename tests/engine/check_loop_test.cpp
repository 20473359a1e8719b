#include "engine/check_loop.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "engine/messages.h"
#include "run/run.h"
#include "support/files.h"
#include "support/local_server.h"
#include "support/recording_view.h"
#include "support/temp_dir.h"

namespace voxtrel {
namespace {

using Events = std::vector<std::string>;

/// A server answering by path after a random delay of up to `max_delay_ms` (50 ms for /slow...),
/// counting the requests of each path and the most it, and any one path, ever had in flight.
class ScriptedServer {
 public:
  ScriptedServer() {
    server_.server().Get(".*", [this](const httplib::Request& req, httplib::Response& res) {
      int n = 0;
      int delay_ms = 0;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        n = ++asked[req.path];
        delay_ms =
            req.path.rfind("/slow", 0) == 0 ? 50 : static_cast<int>(random_() % (max_delay_ms + 1));
        most_in_flight = std::max(most_in_flight, ++in_flight_);
        if (req.path.rfind("/slow-late", 0) == 0) most_late = std::max(most_late, ++late_in_flight_);
        most_per_path = std::max(most_per_path, ++path_in_flight_[req.path]);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms));
      Answer(req.path, n, res);
      std::lock_guard<std::mutex> lock(mutex_);
      --in_flight_;
      --path_in_flight_[req.path];
      if (req.path.rfind("/slow-late", 0) == 0) --late_in_flight_;
    });
    base = server_.Start();
  }
  void Reset(unsigned seed) {
    std::lock_guard<std::mutex> lock(mutex_);
    random_.seed(seed);
    asked.clear();
  }

  std::string base;
  int max_delay_ms = 0;
  std::map<std::string, int> asked;
  int most_in_flight = 0;
  int most_per_path = 0;
  /// The most /slow-late... requests ever in flight together.
  int most_late = 0;

 private:
  // The `n`th request of `path` (from 1): /flip answers 200, 404, 200, ...; the /retry paths
  // answer 429 first, /retry-never always.
  static void Answer(const std::string& path, int n, httplib::Response& res) {
    if (path == "/missing" || (path == "/flip" && n % 2 == 0)) res.status = 404;
    if (path == "/error") res.status = 500;
    if (path == "/moved") res.set_redirect("/ok", 301);
    if ((path.rfind("/retry", 0) == 0 && n == 1) || path == "/retry-never") res.status = 429;
    if (path == "/retry-1s") res.set_header("Retry-After", "1");
    res.set_content(
        path == "/refresh" ? "0123456789<META HTTP-EQUIV=\"REFRESH\" CONTENT=\"0\">" : "fine",
        "text/html");
  }

  test::LocalServer server_;
  std::mutex mutex_;
  std::mt19937 random_;
  int in_flight_ = 0;
  int late_in_flight_ = 0;
  std::map<std::string, int> path_in_flight_;
};

/// Cannot create a request for the addresses `fails` says yes to; hands the others to libcurl.
class FailingPool : public HttpPool {
 public:
  explicit FailingPool(std::function<bool(const std::string&)> fails) : fails_(std::move(fails)) {}
  bool Start(uint64_t id, HttpRequest request) override {
    return !fails_(request.url) && real_.Start(id, std::move(request));
  }
  void Wait(int timeout_ms, std::vector<std::pair<uint64_t, HttpAnswer>>* finished) override {
    real_.Wait(timeout_ms, finished);
  }
  void CancelAll() override { real_.CancelAll(); }
  size_t InFlight() const override { return real_.InFlight(); }

 private:
  std::function<bool(const std::string&)> fails_;
  CurlPool real_;
};

class CheckLoopTest : public ::testing::Test {
 protected:
  /// Writes page `name` of `folder` with one link a line, named by its number from 1.
  std::string Page(const std::string& folder, const std::string& name,
                   const std::vector<std::string>& targets) {
    std::string bytes;
    for (size_t i = 0; i < targets.size(); ++i)
      bytes += "<A HREF=\"" + targets[i] + "\">" + std::to_string(i + 1) + "</A>\r\n";
    test::WriteFile(dir_ / (folder + "/" + name), bytes);
    return dir_ / (folder + "/" + name);
  }
  Events Run(const std::string& folder, const RunSettings& settings, size_t abort_at = 0,
             HttpPool* http = nullptr) {
    test::RecordingView view;
    RunContext ctx(view, disk_, http ? *http : http_, dir_.path());
    ctx.settings = settings;
    view.ctx = &ctx;
    view.abort_at_row = abort_at;
    RunFolder(ctx, dir_ / folder, false);
    rows_ = ctx.results.Rows();
    return view.events;
  }
  std::string Marks() const {
    std::string marks;
    for (const ResultRow& row : rows_) marks += row[kColMark];
    return marks;
  }

  ScriptedServer hosts_[3];
  test::TempDir dir_;
  PosixDisk disk_;
  CurlPool http_;
  std::vector<ResultRow> rows_;
};

TEST_F(CheckLoopTest, ManyInFlightGiveTheEventsOfOneAtATime) {
  const char* paths[] = {"/ok",      "/missing", "/error", "/moved",
                         "/refresh", "/flip",    "/x.pl",  "https"};
  for (unsigned seed = 1; seed <= 8; ++seed) {
    SCOPED_TRACE(seed);
    std::mt19937 random(seed);
    const std::string folder = "site" + std::to_string(seed);
    for (const char* page : {"a.htm", "b.htm", "c.htm"}) {
      std::vector<std::string> targets;
      for (size_t n = random() % 8; n > 0; --n) {
        const std::string path = paths[random() % std::size(paths)];
        targets.push_back(path == "https" ? "https://s.jp/" : hosts_[random() % 3].base + path);
      }
      Page(folder, page, targets);
    }
    RunSettings settings;
    settings.show_all = seed % 2 == 1;
    std::vector<Events> runs;
    for (int jobs : {1, 64}) {
      for (ScriptedServer& host : hosts_) {
        host.Reset(seed);
        host.max_delay_ms = 30;
      }
      settings.jobs = jobs;
      runs.push_back(Run(folder, settings));
    }
    EXPECT_EQ(runs[0], runs[1]);
  }
}

TEST_F(CheckLoopTest, AbortAfterAnyRowKeepsExactlyTheRowsBefore) {
  for (ScriptedServer& host : hosts_) host.max_delay_ms = 30;
  const std::string& a = hosts_[0].base;
  Page("site", "a.htm", {a + "/ok", a + "/missing", a + "/error", hosts_[1].base + "/moved",
                         a + "/refresh", a + "/x.pl", hosts_[2].base + "/ok", a + "/ok"});
  const Events all = Run("site", RunSettings{});
  ASSERT_EQ(all.size(), 11u);
  for (size_t k = 1; k <= 8; ++k) {
    SCOPED_TRACE(k);
    Events expected(all.begin(), all.begin() + 1 + k);
    expected.push_back("message " + std::string(kMsgRunAborted));
    expected.push_back("closed " + std::to_string(static_cast<int>(RunOutcome::kAborted)) + " " +
                       std::to_string(k));
    EXPECT_EQ(Run("site", RunSettings{}, k), expected);
  }
}

TEST_F(CheckLoopTest, ServerSeesThePerHostLimitAndNoAddressTwiceAtOnce) {
  std::vector<std::string> targets;
  for (int i = 0; i < 5; ++i) {
    for (ScriptedServer& host : hosts_) targets.push_back(host.base + "/slow/" + std::to_string(i));
    targets.push_back(hosts_[0].base + "/slow/same");
  }
  Page("site", "a.htm", targets);
  RunSettings settings;
  settings.per_host = 2;
  Run("site", settings);
  std::string all_answered;
  for (int i = 0; i < 20; ++i) all_answered += kMarkOk;
  EXPECT_EQ(Marks(), all_answered);
  for (ScriptedServer& host : hosts_) {
    EXPECT_EQ(host.most_in_flight, 2);
    EXPECT_EQ(host.most_per_path, 1);
  }
  EXPECT_EQ(hosts_[0].asked["/slow/same"], 5);
}

TEST_F(CheckLoopTest, OnceAsksEachAddressOnceAndListsEveryOccurrence) {
  const std::string& a = hosts_[0].base;
  Page("site", "a.htm", {a + "/flip", a + "/ok", a + "/flip"});
  Page("site", "b.htm", {a + "/ok", a + "/flip"});
  const struct {
    bool once;
    std::string marks;
    int flips;
  } cases[] = {{false, "◎◎×◎◎", 3}, {true, "◎◎◎◎◎", 1}};
  for (const auto& c : cases) {
    hosts_[0].Reset(1);
    RunSettings settings;
    settings.once = c.once;
    Run("site", settings);
    EXPECT_EQ(Marks(), c.marks);
    EXPECT_EQ(hosts_[0].asked["/flip"], c.flips);
    EXPECT_EQ(hosts_[0].asked["/ok"], c.once ? 1 : 2);
  }
}

TEST_F(CheckLoopTest, TooManyRequestsIsAskedOnceMoreAfterItsWait) {
  const std::string& a = hosts_[0].base;
  Page("site", "a.htm", {a + "/retry-1s", a + "/retry", a + "/retry-never"});
  Run("site", RunSettings{});
  EXPECT_EQ(Marks(), "◎◎×");
  ASSERT_EQ(rows_.size(), 3u);
  EXPECT_EQ(ReasonText(rows_[2].outcome), "HTTP 429");
  EXPECT_EQ(hosts_[0].asked,
            (std::map<std::string, int>{{"/retry", 2}, {"/retry-1s", 2}, {"/retry-never", 2}}));
}

TEST_F(CheckLoopTest, TooManyRequestsSlowsItsHostToOneRequestAtATime) {
  // The 429 comes back while seven slow requests hold the host's other places; every request
  // started after it, the late ones, must go alone.
  const std::string& b = hosts_[1].base;
  std::vector<std::string> targets = {b + "/retry-1s"};
  for (int i = 0; i < 7; ++i) targets.push_back(b + "/slow-" + std::to_string(i));
  for (int i = 0; i < 5; ++i) targets.push_back(b + "/slow-late-" + std::to_string(i));
  Page("slowed", "a.htm", targets);
  Run("slowed", RunSettings{});
  EXPECT_EQ(Marks(), "◎◎◎◎◎◎◎◎◎◎◎◎◎");
  EXPECT_EQ(hosts_[1].most_late, 1);
}

TEST_F(CheckLoopTest, PageWithoutRequestObjectIsReportedOnceAndSkipped) {
  const std::string& a = hosts_[0].base;
  const std::string page1 = Page("site", "1.htm", {a + "/p1/a", a + "/p1/b", a + "/p1/c.pl"});
  const std::string page2 = Page("site", "2.htm", {a + "/p2/a", a + "/p2/b"});
  const std::string start = "message " + StartConfirmationText(2);
  const std::string no_request = "message " + std::string(kMsgNoRequestObject);
  const std::string done = "message " + std::string(kMsgRunComplete);
  const struct {
    std::string failing;
    Events events;
  } cases[] = {
      {"/p", {start, no_request, no_request, done, "closed 0 0"}},
      {"/p1/",
       {start, no_request, "row 000001 ◎ " + a + "/p2/a [1] " + page2,
        "row 000002 ◎ " + a + "/p2/b [2] " + page2, done, "closed 0 2"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.failing);
    FailingPool pool(
        [&c](const std::string& url) { return url.find(c.failing) != std::string::npos; });
    EXPECT_EQ(Run("site", RunSettings{}, 0, &pool), c.events);
  }
}

}  // namespace
}  // namespace voxtrel
