#include "platform/http_pool.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "support/local_server.h"

namespace voxtrel {
namespace {

using Finished = std::vector<std::pair<uint64_t, HttpAnswer>>;

class CurlPoolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    options_.connect_timeout_ms = 2000;
    options_.total_timeout_ms = 5000;
    options_.max_redirects = 3;
    for (test::LocalServer* local : {&local_, &other_}) {
      httplib::Server& s = local->server();
      s.Get("/ok", [this](const httplib::Request& req, httplib::Response& res) {
        std::lock_guard<std::mutex> lock(mutex_);
        client_ports_.insert(req.remote_port);
        res.set_content("<html>ok</html>", "text/html; charset=Shift_JIS");
      });
      s.Get("/busy", [](const httplib::Request&, httplib::Response& res) {
        res.status = 503;
        res.set_header("Retry-After", "120");
        res.set_content("busy", "text/plain");
      });
      s.Get("/slow", [](const httplib::Request&, httplib::Response& res) {
        std::this_thread::sleep_for(std::chrono::milliseconds(600));
        res.set_content("late", "text/plain");
      });
      s.Get("/hop",
            [](const httplib::Request&, httplib::Response& res) { res.set_redirect("/busy"); });
      s.Get("/ftp", [](const auto&, auto& res) { res.set_redirect("ftp://127.0.0.1/"); });
      s.Get("/moved", [](const auto&, auto& res) { res.set_redirect("/hop", 301); });
    }
    base_ = local_.Start();
    other_base_ = other_.Start();
  }

  /// Waits until nothing is in flight (or 10 s passed) and returns every answer by id.
  std::map<uint64_t, HttpAnswer> Drain(HttpPool& pool) {
    std::map<uint64_t, HttpAnswer> answers;
    for (int round = 0; round < 100 && pool.InFlight() > 0; ++round) {
      Finished finished;
      pool.Wait(100, &finished);
      for (auto& [id, answer] : finished) EXPECT_TRUE(answers.emplace(id, answer).second) << id;
    }
    EXPECT_EQ(pool.InFlight(), 0u);
    return answers;
  }

  test::LocalServer local_;
  test::LocalServer other_;
  std::string base_;
  std::string other_base_;
  std::mutex mutex_;
  std::set<int> client_ports_;
  HttpOptions options_;
};

TEST_F(CurlPoolTest, EachRequestEndsInItsStatusOrFailure) {
  struct Case {
    std::string url;
    std::optional<int> status;
    HttpFailure failure;
    int redirects = 0;
    std::string ended_at = "";  // the path the redirects ended at
    bool moved = false;
  };
  const std::vector<Case> cases = {
      {base_ + "/ok", 200, HttpFailure::kNone},
      {base_ + "/hop", 503, HttpFailure::kNone, 1, "/busy"},
      {base_ + "/moved", 503, HttpFailure::kNone, 2, "/busy", true},
      // Refused, time-out, redirect loop and cut-off answers: see the checker's JSON reasons.
      {base_ + "/ftp", std::nullopt, HttpFailure::kBadRedirect, 1},
      {"https" + base_.substr(4) + "/ok", std::nullopt, HttpFailure::kTlsHandshake},  // plain
      {test::kUnknownHostUrl, std::nullopt, HttpFailure::kHostNotFound},
      {"http//bad", std::nullopt, HttpFailure::kBadAddress},
      {base_ + std::string("/ok\0.evil", 9), std::nullopt, HttpFailure::kBadAddress},
  };
  CurlPool pool(options_);
  for (size_t i = 0; i < cases.size(); ++i) ASSERT_TRUE(pool.Start(i, {cases[i].url, true, {}}));
  std::map<uint64_t, HttpAnswer> answers = Drain(pool);
  ASSERT_EQ(answers.size(), cases.size());
  for (size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(cases[i].url);
    EXPECT_EQ(answers[i].status, cases[i].status);
    EXPECT_EQ(answers[i].failure, cases[i].failure);
    EXPECT_EQ(answers[i].redirects, cases[i].redirects);
    EXPECT_EQ(answers[i].final_url, cases[i].ended_at.empty() ? "" : base_ + cases[i].ended_at);
    EXPECT_EQ(answers[i].moved_permanently, cases[i].moved);
    if (cases[i].failure != HttpFailure::kNone) {
      EXPECT_EQ(answers[i].body, "");
    }
  }
  EXPECT_EQ(answers[0].body, "<html>ok</html>");
  EXPECT_EQ(answers[0].content_type, "text/html; charset=Shift_JIS");
  EXPECT_EQ(answers[0].retry_after_s, std::nullopt);
  EXPECT_FALSE(answers[0].body_cut || answers[1].body_cut);
  EXPECT_EQ(answers[1].body, "busy");
  EXPECT_EQ(answers[1].retry_after_s, 120);
  // The final answer's fields only: the redirect's Location went with its head.
  const HeaderFields& fields = answers[1].headers;
  EXPECT_NE(std::find(fields.begin(), fields.end(),
                      std::pair<std::string, std::string>("retry-after", "120")),
            fields.end());
  EXPECT_EQ(std::find_if(fields.begin(), fields.end(),
                         [](const auto& f) { return f.first == "location"; }),
            fields.end());
  // A keep cap stores the start of the body; the whole of it is still read.
  std::string read;
  ASSERT_TRUE(pool.Start(
      99, {base_ + "/ok", true, [&read](std::string_view chunk) { read += chunk; }, 0, false, 4}));
  answers = Drain(pool);
  EXPECT_EQ(answers[99].body, "<htm");
  EXPECT_TRUE(answers[99].body_cut);
  EXPECT_EQ(read, "<html>ok</html>");
}

TEST_F(CurlPoolTest, ManyRequestsInFlightAreAllAnsweredOverFewConnections) {
  CurlPool pool(options_);
  std::string streamed;
  // Ten at once: the test server's listen queue holds few more connections than that.
  for (uint64_t id = 0; id < 10; ++id) {
    HttpRequest request{(id % 2 ? other_base_ : base_) + "/ok", false, {}};
    if (id == 0) request.on_body = [&streamed](std::string_view chunk) { streamed += chunk; };
    ASSERT_TRUE(pool.Start(id, std::move(request)));
  }
  EXPECT_EQ(pool.InFlight(), 10u);
  std::map<uint64_t, HttpAnswer> answers = Drain(pool);
  ASSERT_EQ(answers.size(), 10u);
  for (auto& [id, answer] : answers) {
    EXPECT_EQ(answer.status, 200) << id;
    EXPECT_EQ(answer.body, "") << id;  // nothing kept unless asked
  }
  EXPECT_EQ(streamed, "<html>ok</html>");

  // One after another, requests reuse the connections the pool keeps open.
  std::set<int> before = client_ports_;
  for (uint64_t id = 100; id < 110; ++id) {
    ASSERT_TRUE(pool.Start(id, {base_ + "/ok", false, {}}));
    EXPECT_EQ(Drain(pool)[id].status, 200);
  }
  std::lock_guard<std::mutex> lock(mutex_);
  EXPECT_LT(client_ports_.size() - before.size(), 10u);
}

TEST_F(CurlPoolTest, AConnectionTheServerResetsUnansweredIsCutOffAtEveryConcurrency) {
  const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
  socklen_t length = sizeof address;
  // Accepted sockets inherit the zero linger: each is reset when taken, the request sent or not.
  const linger reset{1, 0};
  setsockopt(listener, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), length), 0);
  ASSERT_EQ(listen(listener, 64), 0);
  getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
  std::thread closer([listener] {
    for (int client; (client = accept(listener, nullptr, nullptr)) >= 0;) close(client);
  });
  const std::string url = "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/";
  for (uint64_t in_flight : {1, 1, 16, 16}) {
    CurlPool pool(options_);
    for (uint64_t id = 0; id < in_flight; ++id) EXPECT_TRUE(pool.Start(id, {url, false, {}}));
    for (const auto& [id, answer] : Drain(pool))
      EXPECT_EQ(answer.failure, HttpFailure::kCutOff) << in_flight;
  }
  shutdown(listener, SHUT_RDWR);  // ends the accept
  closer.join();
  close(listener);
}

TEST_F(CurlPoolTest, CancelledRequestsAreNeverReported) {
  CurlPool pool(options_);
  ASSERT_TRUE(pool.Start(1, {base_ + "/slow", false, {}}));
  ASSERT_TRUE(pool.Start(2, {"http//bad", false, {}}));
  Finished finished;
  pool.Wait(0, &finished);
  finished.clear();
  pool.CancelAll();
  EXPECT_EQ(pool.InFlight(), 0u);
  pool.Wait(800, &finished);
  EXPECT_TRUE(finished.empty());
}

}  // namespace
}  // namespace voxtrel
