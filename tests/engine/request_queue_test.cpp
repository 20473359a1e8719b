#include "engine/request_queue.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "support/fake_clock.h"

namespace voxtrel {
namespace {

using test::FakeAnswer;

// "a1 b2" → http://a/1, http://b/2.
std::vector<std::string> Urls(const std::string& short_forms) {
  std::vector<std::string> urls;
  std::istringstream words(short_forms);
  for (std::string word; words >> word;)
    urls.push_back("http://" + word.substr(0, 1) + "/" + word.substr(1));
  return urls;
}

FakeAnswer Answer(std::optional<int> status, HttpFailure failure = HttpFailure::kNone,
                  std::optional<long> retry_after = std::nullopt, long delay_ms = 10) {
  FakeAnswer answer;
  answer.status = status;
  answer.failure = failure;
  answer.retry_after_s = retry_after;
  answer.delay_ms = delay_ms;
  return answer;
}

class RequestQueueTest : public ::testing::Test {
 protected:
  // A queue on a fresh pool whose `answers` (by address, one per request) default to 200.
  void Fresh(std::map<std::string, std::vector<FakeAnswer>> answers = {}) {
    queue_.reset();
    pool_ = test::FakePool();
    got_.clear();
    starts_.clear();
    pool_.script = [this, answers](const std::string& url, int n) {
      starts_[url].push_back(pool_.now_ms);
      auto found = answers.find(url);
      if (found == answers.end()) return Answer(200);
      return found->second[std::min<size_t>(n, found->second.size()) - 1];
    };
    queue_ = std::make_unique<RequestQueue>(pool_, limits_, clock_);
  }
  Ticket Ask(const std::string& url, bool once = false, bool keep_body = false) {
    QueueAsk ask{url, "", keep_body, false, 0, once};
    return queue_->Ask(std::move(ask), [this](Ticket t, QueueAnswer& a) { got_[t] = a; });
  }
  // Pumps until all is handed over; a pump that neither hands over, starts nor moves time on is
  // a busy wait, allowed only once per answer taken.
  void Drain() {
    size_t idle = 0;
    while (queue_->Outstanding() > 0) {
      const auto before = std::make_tuple(pool_.now_ms, got_.size(), pool_.started.size());
      queue_->Pump(300);
      idle += before == std::make_tuple(pool_.now_ms, got_.size(), pool_.started.size());
      ASSERT_LE(idle, pool_.started.size() + 1) << "busy wait";
    }
  }

  test::FakePool pool_;
  test::FakeClock clock_{pool_};
  QueueLimits limits_;
  std::unique_ptr<RequestQueue> queue_;
  std::map<std::string, std::vector<long>> starts_;  // virtual start times by address
  std::map<Ticket, QueueAnswer> got_;
};

TEST_F(RequestQueueTest, StartsInAskOrderWithinTheLimitsAndNeverOneKeyTwiceAtOnce) {
  struct Case {
    int jobs, per_host;
    const char *asks, *started;
    size_t most_in_flight;
    int most_to_a;
  } cases[] = {{2, 8, "a1 b1 a2 c1 a3", "a1 b1 a2 c1 a3", 2, 1},
               {8, 2, "a1 a2 a3 b1 a4", "a1 a2 b1 a3 a4", 3, 2},
               {8, 8, "a1 a1 a1 a2", "a1 a2 a1 a1", 2, 2}};
  for (const Case& c : cases) {
    limits_.jobs = c.jobs;
    limits_.per_host = c.per_host;
    Fresh();
    for (const std::string& url : Urls(c.asks)) Ask(url);
    Drain();
    EXPECT_EQ(pool_.started, Urls(c.started)) << c.asks;
    EXPECT_EQ(pool_.most_in_flight, c.most_in_flight) << c.asks;
    EXPECT_EQ(pool_.most_per_host["http://a"], c.most_to_a) << c.asks;
    EXPECT_EQ(pool_.most_per_url, 1);
    EXPECT_EQ(got_.size(), Urls(c.asks).size());
  }
}

TEST_F(RequestQueueTest, OnceTakesTheCachedAnswerButABodyIsAlwaysAsked) {
  // Each ask of one address: o with once, b with keep_body, - neither; r: remembered first.
  const std::tuple<const char*, int, const char*> cases[] = {{"o o o", 1, "-cc"},
                                                             {"- o", 2, "--"},
                                                             {"b o", 1, "-c"},
                                                             {"o ob", 2, "--"},
                                                             {"r o -", 1, "c-"}};
  for (const auto& [asks, requests, cached] : cases) {
    Fresh();
    std::istringstream words(asks);
    for (std::string w; words >> w;)
      w == "r" ? queue_->Remember("http://a/p", {})
               : void(Ask("http://a/p", w[0] == 'o', w.back() == 'b'));
    Drain();
    std::string shown;
    for (auto& [ticket, answer] : got_) shown += answer.cached && answer.tries == 0 ? "c" : "-";
    EXPECT_EQ(pool_.asked["http://a/p"], requests) << asks;
    EXPECT_EQ(shown, cached) << asks;
  }
}

TEST_F(RequestQueueTest, WaitsOutA429OnceAndRetriesPassingFailuresAfterABackOff) {
  const FakeAnswer ok = Answer(200);
  auto failed = [](HttpFailure failure) { return Answer(std::nullopt, failure); };
  struct Case {
    int retries;
    std::vector<FakeAnswer> answers;
    std::vector<long> starts;  // the last one's answer is handed over
    bool host_answered_before = false;
  } cases[] = {
      {1, {Answer(429), ok}, {0, 2010}},
      {1, {Answer(429), Answer(429)}, {0, 2010}},
      {1, {Answer(429, {}, 60), ok}, {0, 30010}},
      {1, {failed(HttpFailure::kCutOff), ok}, {0, 1010}},
      {1, {Answer(502), ok}, {0, 1010}},
      {3, {Answer(503)}, {0, 1010, 3020, 7030}},
      {2, {Answer(504, {}, 5), ok}, {0, 5010}},
      {1, {Answer(503, {}, 100), ok}, {0, 30010}},
      {2, {Answer(429), Answer(503), ok}, {0, 2010, 3020}},
      {1, {failed(HttpFailure::kRefused), ok}, {0, 1010}, true},
      {1, {failed(HttpFailure::kRefused), ok}, {0}},
      {1, {failed(HttpFailure::kTimeout), ok}, {0}},
      {1, {failed(HttpFailure::kHostNotFound), ok}, {0}},
      {1, {Answer(500), ok}, {0}},
      {0, {Answer(503), ok}, {0}},
  };
  for (const Case& c : cases) {
    limits_.retries = c.retries;
    Fresh({{"http://a/x", c.answers}});
    if (c.host_answered_before) Ask("http://a/before"), Drain(), pool_.now_ms = 0;
    const Ticket ticket = Ask("http://a/x");
    Drain();
    EXPECT_EQ(starts_["http://a/x"], c.starts) << c.starts.size() << " " << c.retries;
    const size_t last = std::min(c.answers.size(), c.starts.size()) - 1;
    EXPECT_EQ(got_[ticket].answer.status, c.answers[last].status) << c.starts.size();
    EXPECT_EQ(got_[ticket].tries, static_cast<int>(c.starts.size()));
  }
  // The host that asked to slow down is asked one thing at a time from then on.
  Fresh({{"http://a/busy", {Answer(429)}}});
  Ask("http://a/busy");
  Drain();
  for (const std::string& url : Urls("a1 a2 b1 b2")) Ask(url);
  Drain();
  EXPECT_EQ(pool_.host_load, (std::vector<int>{1, 1, 1, 1, 2, 1}));
}

TEST_F(RequestQueueTest, ARateKeepsStartsToOneHostApart) {
  // At most `rate` starts in any second; the last of `asks` starts that late, and no later.
  const std::tuple<double, int, long> cases[] = {
      {2, 100, 49500}, {0.5, 3, 4000}, {10, 30, 2900}, {0, 30, 30}};
  for (const auto& [rate, asks, last_start] : cases) {
    limits_.rate = rate;
    Fresh();
    for (int i = 0; i < asks; ++i)
      Ask("http://a/" + std::to_string(i)), Ask("http://b/" + std::to_string(i));
    Drain();
    std::vector<long> times;
    for (int i = 0; i < asks; ++i) times.push_back(starts_["http://a/" + std::to_string(i)][0]);
    const size_t most = std::max<size_t>(1, static_cast<size_t>(rate));
    for (size_t i = 0; rate > 0 && i + most < times.size(); ++i)
      EXPECT_GE(times[i + most] - times[i], 1000) << rate << " " << i;
    EXPECT_EQ(times.back() / 100, last_start / 100) << rate;
  }
}

TEST_F(RequestQueueTest, ADroppedTicketHoldsItsSlotAndAFailedStartIsHandedOverAtOnce) {
  limits_.per_host = 1;
  Fresh({{"http://a/slow", {Answer(200, {}, {}, 100)}}});
  pool_.cannot_start = [](const std::string& url) { return url == "http://b/no"; };
  const Ticket slow = Ask("http://a/slow");
  const Ticket next = Ask("http://a/next");
  const Ticket no = Ask("http://b/no");
  queue_->Pump(0);
  EXPECT_TRUE(got_[no].no_request);
  EXPECT_EQ(got_[no].tries, 0);
  EXPECT_EQ(pool_.waits + clock_.sleeps, 0);  // handed over without waiting
  queue_->Drop(slow);
  EXPECT_EQ(queue_->InFlight(), 1u);
  Drain();
  EXPECT_EQ(got_.count(slow), 0u);
  EXPECT_EQ(starts_["http://a/next"], std::vector<long>{100});
  EXPECT_TRUE(got_.count(next));
}

}  // namespace
}  // namespace voxtrel
