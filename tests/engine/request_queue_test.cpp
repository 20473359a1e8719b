#include "engine/request_queue.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "support/fake_clock.h"
#include "support/fake_pool.h"

namespace voxtrel {
namespace {

using test::FakeAnswer;

class RequestQueueTest : public ::testing::Test {
 protected:
  RequestQueueTest() { Reset(); }
  void Reset() {
    pool_ = test::FakePool();
    got_.clear();
    starts_.clear();
    pool_.script = [this](const std::string& url, int n) {
      starts_[url].push_back(pool_.now_ms);
      FakeAnswer answer;
      answer.delay_ms = 10;
      auto scripted = answers_.find(url);
      if (scripted != answers_.end() && !scripted->second.empty())
        answer = scripted->second[std::min<size_t>(n, scripted->second.size()) - 1];
      return answer;
    };
  }
  Ticket Ask(RequestQueue& queue, const std::string& url) {
    QueueAsk ask;
    ask.url = url;
    return Ask(queue, std::move(ask));
  }
  Ticket Ask(RequestQueue& queue, QueueAsk ask) {
    return queue.Ask(std::move(ask),
                     [this](Ticket ticket, QueueAnswer& answer) { got_[ticket] = answer; });
  }
  // Pumps until every ticket is handed over; a pump that neither hands over, takes an answer
  // nor moves time on would be a busy wait.
  void Drain(RequestQueue& queue) {
    size_t idle = 0;
    while (queue.Outstanding() > 0) {
      const long before = pool_.now_ms;
      const size_t got = got_.size();
      const size_t asked = pool_.started.size();
      queue.Pump(300);
      idle += pool_.now_ms == before && got_.size() == got && pool_.started.size() == asked;
      ASSERT_LE(idle, pool_.started.size() + 1) << "busy wait";
    }
  }

  test::FakePool pool_;
  test::FakeClock clock_{pool_};
  QueueLimits limits_;
  std::map<std::string, std::vector<FakeAnswer>> answers_;  // by address, one per request
  std::map<std::string, std::vector<long>> starts_;         // virtual start times by address
  std::map<Ticket, QueueAnswer> got_;
};

TEST_F(RequestQueueTest, StartsInAskOrderWithinTheLimitsAndNeverOneKeyTwiceAtOnce) {
  struct Case {
    int jobs, per_host;
    std::vector<std::string> urls;
    std::vector<std::string> started;
    size_t most_in_flight;
    int most_per_host;  // to http://a
  } cases[] = {
      {2, 8, {"http://a/1", "http://b/1", "http://a/2", "http://c/1", "http://a/3"}, {}, 2, 1},
      {8,
       2,
       {"http://a/1", "http://a/2", "http://a/3", "http://b/1", "http://a/4"},
       {"http://a/1", "http://a/2", "http://b/1", "http://a/3", "http://a/4"},
       3,
       2},
      // One address waits for its earlier ask; the next address goes ahead.
      {8,
       8,
       {"http://a/1", "http://a/1", "http://a/1", "http://a/2"},
       {"http://a/1", "http://a/2", "http://a/1", "http://a/1"},
       2,
       2},
  };
  for (const Case& c : cases) {
    Reset();
    limits_.jobs = c.jobs;
    limits_.per_host = c.per_host;
    RequestQueue queue(pool_, limits_, clock_);
    for (const std::string& url : c.urls) Ask(queue, url);
    Drain(queue);
    EXPECT_EQ(pool_.started, c.started.empty() ? c.urls : c.started) << c.jobs;
    EXPECT_EQ(pool_.most_in_flight, c.most_in_flight) << c.jobs;
    EXPECT_EQ(pool_.most_per_host["http://a"], c.most_per_host) << c.jobs;
    EXPECT_EQ(pool_.most_per_url, 1) << c.jobs;
    EXPECT_EQ(got_.size(), c.urls.size());
  }
}

TEST_F(RequestQueueTest, OnceTakesTheCachedAnswerButABodyIsAlwaysAsked) {
  struct Ask2 {
    bool once, keep_body;
  };
  struct Case {
    bool remembered;
    std::vector<Ask2> asks;
    int requests;
    std::vector<bool> cached;
  } cases[] = {
      {false, {{true, false}, {true, false}, {true, false}}, 1, {false, true, true}},
      {false, {{false, false}, {true, false}}, 2, {false, false}},
      {false, {{false, true}, {true, false}}, 1, {false, true}},
      {false, {{true, false}, {true, true}}, 2, {false, false}},
      {true, {{true, false}, {false, false}}, 1, {true, false}},
  };
  for (const Case& c : cases) {
    Reset();
    RequestQueue queue(pool_, limits_, clock_);
    if (c.remembered) queue.Remember("http://a/k", QueueAnswer{});
    for (const Ask2& a : c.asks) {
      QueueAsk ask;
      ask.url = "http://a/p";
      ask.key = "http://a/k";
      ask.keep_body = a.keep_body;
      ask.once = a.once;
      Ask(queue, std::move(ask));
    }
    Drain(queue);
    EXPECT_EQ(pool_.asked["http://a/p"], c.requests);
    for (size_t i = 0; i < c.asks.size(); ++i) {
      EXPECT_EQ(got_[i + 1].cached, c.cached[i]) << c.requests << " " << i;
      EXPECT_EQ(got_[i + 1].tries, c.cached[i] ? 0 : 1);
    }
  }
}

TEST_F(RequestQueueTest, WaitsOutA429OnceAndRetriesPassingFailuresAfterABackOff) {
  auto status = [](int code, std::optional<long> retry_after = std::nullopt) {
    FakeAnswer answer;
    answer.status = code;
    answer.retry_after_s = retry_after;
    return answer;
  };
  auto failed = [](HttpFailure failure) {
    FakeAnswer answer;
    answer.status = std::nullopt;
    answer.failure = failure;
    return answer;
  };
  const FakeAnswer ok = status(200);
  struct Case {
    int retries;
    bool host_answered_before;
    std::vector<FakeAnswer> answers;
    std::vector<long> starts;
  } cases[] = {
      {1, false, {status(429), ok}, {0, 2000}},
      {1, false, {status(429), status(429)}, {0, 2000}},
      {1, false, {status(429, 60), ok}, {0, 30000}},
      {1, false, {failed(HttpFailure::kCutOff), ok}, {0, 1000}},
      {1, false, {status(502), ok}, {0, 1000}},
      {3, false, {status(503)}, {0, 1000, 3000, 7000}},
      {2, false, {status(504, 5), ok}, {0, 5000}},
      {1, false, {status(503, 100), ok}, {0, 30000}},
      {2, false, {status(429), status(503), ok}, {0, 2000, 3000}},
      {1, true, {failed(HttpFailure::kRefused), ok}, {0, 1000}},
      {1, false, {failed(HttpFailure::kRefused), ok}, {0}},
      {1, false, {failed(HttpFailure::kTimeout), ok}, {0}},
      {1, false, {failed(HttpFailure::kHostNotFound), ok}, {0}},
      {1, false, {status(500), ok}, {0}},
      {0, false, {status(503), ok}, {0}},
  };
  for (const Case& c : cases) {
    Reset();
    answers_["http://a/x"] = c.answers;
    limits_.retries = c.retries;
    RequestQueue queue(pool_, limits_, clock_);
    if (c.host_answered_before) {
      Ask(queue, "http://a/before");
      Drain(queue);
      pool_.now_ms = 0;
    }
    const Ticket ticket = Ask(queue, "http://a/x");
    Drain(queue);
    std::vector<long> starts;
    for (long start : starts_["http://a/x"]) starts.push_back(start);
    EXPECT_EQ(starts, c.starts) << c.starts.size() << " " << c.retries;
    const FakeAnswer& last = c.answers[std::min(c.answers.size(), c.starts.size()) - 1];
    EXPECT_EQ(got_[ticket].answer.status, last.status) << c.starts.size();
    EXPECT_EQ(got_[ticket].tries, static_cast<int>(c.starts.size()));
  }
}

TEST_F(RequestQueueTest, AfterA429ItsHostIsAskedOneAtATime) {
  FakeAnswer busy;
  busy.status = 429;
  answers_["http://a/busy"] = {busy};
  RequestQueue queue(pool_, limits_, clock_);
  Ask(queue, "http://a/busy");
  Drain(queue);
  for (const char* url : {"http://a/1", "http://a/2", "http://a/3", "http://b/1", "http://b/2"})
    Ask(queue, url);
  Drain(queue);
  EXPECT_EQ(std::vector<int>(pool_.host_load.begin() + 2, pool_.host_load.end()),
            (std::vector<int>{1, 1, 2, 1, 1}));
}

TEST_F(RequestQueueTest, ARateKeepsStartsToOneHostApart) {
  struct Case {
    double rate;
    int asks;
    long last_start;  // at least
  } cases[] = {{2, 100, 49500}, {0.5, 3, 4000}, {10, 30, 2900}, {0, 30, 0}};
  for (const Case& c : cases) {
    Reset();
    limits_.rate = c.rate;
    RequestQueue queue(pool_, limits_, clock_);
    for (int i = 0; i < c.asks; ++i) {
      Ask(queue, "http://a/" + std::to_string(i));
      Ask(queue, "http://b/" + std::to_string(i));
    }
    Drain(queue);
    std::vector<long> times;
    for (int i = 0; i < c.asks; ++i) times.push_back(starts_["http://a/" + std::to_string(i)][0]);
    const size_t most = c.rate >= 1 ? static_cast<size_t>(c.rate) : 1;
    for (size_t i = 0; c.rate > 0 && i + most < times.size(); ++i)
      EXPECT_GE(times[i + most] - times[i], 1000) << c.rate << " " << i;
    EXPECT_GE(times.back(), c.last_start) << c.rate;
    EXPECT_LE(times.back(), c.last_start + 100) << c.rate;  // and no slower than that
  }
}

TEST_F(RequestQueueTest, ADroppedTicketHoldsItsSlotAndIsNeverHandedOver) {
  FakeAnswer slow_answer;
  slow_answer.delay_ms = 100;
  answers_["http://a/slow"] = {slow_answer};
  limits_.per_host = 1;
  RequestQueue queue(pool_, limits_, clock_);
  const Ticket slow = Ask(queue, "http://a/slow");
  const Ticket next = Ask(queue, "http://a/next");
  queue.Pump(0);
  ASSERT_TRUE(queue.StartedAt(slow));
  queue.Drop(slow);
  EXPECT_EQ(queue.InFlight(), 1u);
  EXPECT_EQ(queue.Outstanding(), 1u);
  Drain(queue);
  EXPECT_EQ(got_.count(slow), 0u);
  EXPECT_EQ(starts_["http://a/next"], std::vector<long>{100});
  EXPECT_TRUE(got_.count(next));
}

TEST_F(RequestQueueTest, AFailedStartIsHandedOverAtOnce) {
  pool_.cannot_start = [](const std::string& url) { return url == "http://a/no"; };
  RequestQueue queue(pool_, limits_, clock_);
  const Ticket ticket = Ask(queue, "http://a/no");
  queue.Pump(50);
  ASSERT_TRUE(got_.count(ticket));
  EXPECT_TRUE(got_[ticket].no_request);
  EXPECT_EQ(got_[ticket].tries, 0);
  EXPECT_EQ(pool_.waits + clock_.sleeps, 0);
}

}  // namespace
}  // namespace voxtrel
