#include "platform/http.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "support/local_server.h"
#include "version.h"

namespace voxtrel {
namespace {

// "<html>gzip body あ</html>" in Shift_JIS, gzip-compressed.
const unsigned char kGzipPage[] = {
    0x1f, 0x8b, 0x08, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02, 0x03, 0xb3, 0xc9, 0x28, 0xc9,
    0xcd, 0xb1, 0x4b, 0xaf, 0xca, 0x2c, 0x50, 0x48, 0xca, 0x4f, 0xa9, 0x54, 0x68, 0x5a,
    0x60, 0xa3, 0x0f, 0x16, 0x02, 0x00, 0x70, 0xbe, 0xaa, 0xb9, 0x19, 0x00, 0x00, 0x00};

struct Answer {
  bool opened = false;
  bool sent = false;
  std::optional<int> status;
  std::string body;
};

class CurlRequestTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto& s = server_.server();
    s.Get("/ok", [this](const httplib::Request& req, httplib::Response& res) {
      ++requests_;
      res.set_content(req.get_header_value("User-Agent"), "text/plain");
    });
    s.Get("/missing", [](const auto&, auto& res) {
      res.status = 404;
      res.set_content("not found", "text/plain");
    });
    s.Get("/gzip", [](const auto&, auto& res) {
      res.set_header("Content-Encoding", "gzip");
      res.set_content(std::string(reinterpret_cast<const char*>(kGzipPage), sizeof kGzipPage),
                      "text/html");
    });
    s.Get("/big", [](const auto&, auto& res) { res.set_content(std::string(100000, 'x'), "a/b"); });
    s.Get("/to-ok", [](const auto&, auto& res) { res.set_redirect("/ok"); });
    s.Get("/loop", [](const auto&, auto& res) { res.set_redirect("/loop"); });
    s.Get("/to-file", [](const auto&, auto& res) { res.set_redirect("file:///etc/passwd"); });
    s.Get("/slow", [this](const auto&, auto& res) {
      while (!released_) std::this_thread::sleep_for(std::chrono::milliseconds(10));
      res.set_content("late", "text/plain");
    });
    base_ = server_.Start();
  }
  void TearDown() override { released_ = true; }

  Answer Get(const std::string& url, HttpOptions options = {}, const KeepAliveHook& hook = {}) {
    options.connect_timeout_ms = 2000;
    if (options.total_timeout_ms == HttpOptions{}.total_timeout_ms) options.total_timeout_ms = 5000;
    CurlRequestFactory factory(options);
    std::unique_ptr<HttpRequest> request = factory.Create("MSXML2.XMLHTTP");
    Answer answer;
    answer.opened = request->Open("GET", url);
    answer.sent = answer.opened && request->Send(hook);
    answer.status = request->Status();
    answer.body = request->ResponseBody();
    return answer;
  }

  test::LocalServer server_;
  std::string base_;
  std::atomic<int> requests_{0};
  std::atomic<bool> released_{false};
};

TEST_F(CurlRequestTest, AnswersGiveTheirFinalStatusAndDecodedBody) {
  HttpOptions one_hop;
  one_hop.max_redirects = 1;
  HttpOptions capped;
  capped.body_cap = 100;
  HttpOptions agent;
  agent.user_agent = "Other/2";
  struct Case {
    std::string path;
    HttpOptions options;
    std::optional<int> status;
    std::string body;
  };
  const Case cases[] = {
      {"/ok", {}, 200, std::string("Voxtrel/") + kVersionString},
      {"/ok", agent, 200, "Other/2"},
      {"/missing", {}, 404, "not found"},
      {"/gzip", {}, 200, "<html>gzip body \x82\xa0</html>"},
      {"/big", capped, 200, std::string(100, 'x')},
      {"/big", {}, 200, std::string(100000, 'x')},
      {"/to-ok", {}, 200, std::string("Voxtrel/") + kVersionString},
      {"/to-ok", [] { HttpOptions o; o.max_redirects = 0; return o; }(), std::nullopt, ""},
      {"/loop", {}, std::nullopt, ""},
      {"/to-file", {}, std::nullopt, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    const Answer answer = Get(base_ + c.path, c.options);
    EXPECT_EQ(answer.sent, c.status.has_value());
    EXPECT_EQ(answer.status, c.status);
    if (c.status) {
      EXPECT_EQ(answer.body, c.body);
    }
  }
  EXPECT_EQ(Get(base_ + "/to-ok", one_hop).status, 200);
}

TEST_F(CurlRequestTest, UnusableAddressesAreRefusedWithoutARequest) {
  const std::string nul = base_ + "/ok" + std::string(1, '\0') + "x";
  for (const std::string& url : {std::string("http//bad"), std::string(""), std::string("http://"),
                                 base_.substr(7) + "/ok", "ftp" + base_.substr(4) + "/ok", nul}) {
    SCOPED_TRACE(url);
    const Answer answer = Get(url);
    EXPECT_FALSE(answer.opened && answer.sent);
    EXPECT_EQ(answer.status, std::nullopt);
  }
  EXPECT_EQ(requests_, 0);
  EXPECT_EQ(Get(test::kUnknownHostUrl).status, std::nullopt);
  CurlRequestFactory factory;
  std::unique_ptr<HttpRequest> request = factory.Create("MSXML.XMLHTTPRequest");
  EXPECT_FALSE(request->Send({}));
  EXPECT_FALSE(request->Open("POST", base_ + "/ok"));
  ASSERT_TRUE(request->Open("get", base_ + "/missing"));
  EXPECT_TRUE(request->Send({}));
  ASSERT_TRUE(request->Open("GET", base_ + "/ok"));
  EXPECT_EQ(request->Status(), std::nullopt);  // opening again forgets the last answer
}

TEST_F(CurlRequestTest, WaitingEndsByTimeOutOrWhenTheHookSaysSo) {
  HttpOptions short_wait;
  short_wait.total_timeout_ms = 200;
  EXPECT_EQ(Get(base_ + "/slow", short_wait).status, std::nullopt);
  int calls = 0;
  EXPECT_EQ(Get(base_ + "/slow", {}, [&calls] { return ++calls < 3; }).status, std::nullopt);
  EXPECT_EQ(calls, 3);
}

}  // namespace
}  // namespace voxtrel
