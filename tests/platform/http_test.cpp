#include "platform/http.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/local_server.h"
#include "version.h"

namespace voxtrel {
namespace {

using namespace std::chrono_literals;

/// A TCP server on 127.0.0.1 that hands each connection to a handler as a bare socket, for the
/// broken answers a real HTTP server never gives.
class RawServer {
 public:
  using Handler = std::function<void(int fd, const std::atomic<bool>& stopping)>;

  explicit RawServer(Handler handler) : handler_(std::move(handler)) {
    listen_fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(listen_fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        listen(listen_fd_, 8) == 0 &&
        getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&address), &length) == 0)
      port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }
  ~RawServer() {
    stopping_ = true;
    thread_.join();
    close(listen_fd_);
  }
  RawServer(const RawServer&) = delete;
  RawServer& operator=(const RawServer&) = delete;

  std::string Base() const { return "http://127.0.0.1:" + std::to_string(port_); }

  /// Reads the request head (up to the blank line), giving up when the server stops.
  static std::string ReadRequest(int fd, const std::atomic<bool>& stopping) {
    std::string head;
    char buffer[1024];
    while (!stopping && head.find("\r\n\r\n") == std::string::npos) {
      pollfd p{fd, POLLIN, 0};
      if (poll(&p, 1, 20) <= 0) continue;
      ssize_t got = recv(fd, buffer, sizeof buffer, 0);
      if (got <= 0) break;
      head.append(buffer, static_cast<size_t>(got));
    }
    return head;
  }
  static void Write(int fd, const std::string& bytes) {
    send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
  }
  /// Holds the connection open without answering until the client goes or the server stops.
  static void Hold(int fd, const std::atomic<bool>& stopping) {
    char buffer[256];
    while (!stopping) {
      pollfd p{fd, POLLIN, 0};
      if (poll(&p, 1, 20) > 0 && recv(fd, buffer, sizeof buffer, 0) <= 0) return;
    }
  }

 private:
  void Serve() {
    while (!stopping_) {
      pollfd p{listen_fd_, POLLIN, 0};
      if (poll(&p, 1, 20) <= 0) continue;
      int client = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (client < 0) continue;
      handler_(client, stopping_);
      close(client);
    }
  }

  Handler handler_;
  int listen_fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  std::thread thread_;
};

/// Answers every request with the same bytes after reading its head.
RawServer::Handler Answer(std::string bytes) {
  return [bytes](int fd, const std::atomic<bool>& stopping) {
    RawServer::ReadRequest(fd, stopping);
    RawServer::Write(fd, bytes);
  };
}

// "<html>gzip body あ</html>" in Shift_JIS, gzip-compressed.
const unsigned char kGzipPage[] = {0x1f, 0x8b, 0x08, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02, 0x03, 0xb3,
                                   0xc9, 0x28, 0xc9, 0xcd, 0xb1, 0x4b, 0xaf, 0xca, 0x2c, 0x50, 0x48,
                                   0xca, 0x4f, 0xa9, 0x54, 0x68, 0x5a, 0x60, 0xa3, 0x0f, 0x16, 0x02,
                                   0x00, 0x70, 0xbe, 0xaa, 0xb9, 0x19, 0x00, 0x00, 0x00};
const char kGzipPageText[] = "<html>gzip body \x82\xa0</html>";

std::string LongText() {
  std::string text;
  for (int i = 0; i < 2000; ++i) text += "line " + std::to_string(i) + "\r\n";
  return text;
}

HttpOptions ShortOptions() {
  HttpOptions options;
  options.connect_timeout_ms = 2000;
  options.total_timeout_ms = 5000;
  options.keep_alive_interval_ms = 10;
  return options;
}

struct Outcome {
  bool opened = false;
  bool sent = false;
  std::optional<int> status;
  std::string body;
};

Outcome Get(const std::string& url, const HttpOptions& options = ShortOptions(),
            const KeepAliveHook& keep_alive = {}) {
  CurlRequestFactory factory(options);
  std::unique_ptr<HttpRequest> request = factory.Create("MSXML2.XMLHTTP");
  Outcome outcome;
  if (!request) {
    ADD_FAILURE() << "no request for " << url;
    return outcome;
  }
  outcome.opened = request->Open("GET", url);
  outcome.sent = request->Send(keep_alive);
  outcome.status = request->Status();
  outcome.body = request->ResponseBody();
  return outcome;
}

void ExpectFailed(const Outcome& outcome) {
  EXPECT_FALSE(outcome.sent);
  EXPECT_EQ(outcome.status, std::nullopt);
  EXPECT_EQ(outcome.body, "");
}

class CurlRequestTest : public ::testing::Test {
 protected:
  void SetUp() override {
    httplib::Server& s = local_.server();
    s.Get("/ok", [](const httplib::Request&, httplib::Response& res) {
      res.set_content("hello \x82\xa0", "text/html");
    });
    s.Get("/empty", [](const httplib::Request&, httplib::Response& res) { res.status = 204; });
    s.Get("/missing", [](const httplib::Request&, httplib::Response& res) {
      res.status = 404;
      res.set_content("not here", "text/plain");
    });
    s.Get("/broken", [](const httplib::Request&, httplib::Response& res) {
      res.status = 500;
      res.set_content("oops", "text/plain");
    });
    s.Get("/to-ok",
          [](const httplib::Request&, httplib::Response& res) { res.set_redirect("/hop"); });
    s.Get("/hop",
          [](const httplib::Request&, httplib::Response& res) { res.set_redirect("/ok", 301); });
    s.Get("/to-missing",
          [](const httplib::Request&, httplib::Response& res) { res.set_redirect("/missing"); });
    s.Get("/loop",
          [](const httplib::Request&, httplib::Response& res) { res.set_redirect("/loop"); });
    s.Get("/to-ftp", [](const httplib::Request&, httplib::Response& res) {
      res.set_redirect("ftp://127.0.0.1:9/file.htm");
    });
    s.Get("/to-file", [](const httplib::Request&, httplib::Response& res) {
      res.set_redirect("file:///etc/passwd");
    });
    s.Get("/big", [](const httplib::Request&, httplib::Response& res) {
      res.set_content(std::string(100000, 'x'), "application/octet-stream");
    });
    s.Get("/text", [this](const httplib::Request& req, httplib::Response& res) {
      Remember(req);
      res.set_content(LongText(), "text/html");
    });
    s.Get("/slow", [](const httplib::Request&, httplib::Response& res) {
      std::this_thread::sleep_for(300ms);
      res.set_content("late", "text/plain");
    });
    s.Get("/echo", [this](const httplib::Request& req, httplib::Response& res) {
      Remember(req);
      res.set_content("seen", "text/plain");
    });
    base_ = local_.Start();
  }

  void Remember(const httplib::Request& req) {
    std::lock_guard<std::mutex> lock(mutex_);
    user_agent_ = req.get_header_value("User-Agent");
    accept_encoding_ = req.get_header_value("Accept-Encoding");
  }

  test::LocalServer local_;
  std::string base_;
  std::mutex mutex_;
  std::string user_agent_;
  std::string accept_encoding_;
};

TEST_F(CurlRequestTest, AnswerGivesItsStatusAndBody) {
  struct Case {
    std::string path;
    int status;
    std::string body;
  };
  const std::vector<Case> cases = {
      {"/ok", 200, "hello \x82\xa0"},
      {"/empty", 204, ""},
      {"/missing", 404, "not here"},
      {"/broken", 500, "oops"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    Outcome outcome = Get(base_ + c.path);
    EXPECT_TRUE(outcome.opened);
    EXPECT_TRUE(outcome.sent);
    EXPECT_EQ(outcome.status, c.status);
    EXPECT_EQ(outcome.body, c.body);
  }
  // Pages write the scheme in any letter case.
  Outcome upper = Get("HTTP" + base_.substr(4) + "/ok");
  EXPECT_TRUE(upper.opened);
  EXPECT_EQ(upper.status, 200);
}

TEST_F(CurlRequestTest, RedirectsAreFollowedToTheFinalAnswer) {
  Outcome to_ok = Get(base_ + "/to-ok");
  EXPECT_TRUE(to_ok.sent);
  EXPECT_EQ(to_ok.status, 200);
  EXPECT_EQ(to_ok.body, "hello \x82\xa0");

  Outcome to_missing = Get(base_ + "/to-missing");
  EXPECT_TRUE(to_missing.sent);
  EXPECT_EQ(to_missing.status, 404);
  EXPECT_EQ(to_missing.body, "not here");
}

TEST_F(CurlRequestTest, RedirectLoopsAndOtherSchemesGiveNoStatus) {
  for (const char* path : {"/loop", "/to-ftp", "/to-file"}) {
    SCOPED_TRACE(path);
    ExpectFailed(Get(base_ + path));
  }
  HttpOptions one_hop = ShortOptions();
  one_hop.max_redirects = 1;
  ExpectFailed(Get(base_ + "/to-ok", one_hop));
}

TEST_F(CurlRequestTest, BrokenAnswersGiveNoStatus) {
  struct Case {
    const char* what;
    RawServer::Handler handler;
  };
  const std::vector<Case> cases = {
      {"closed before any answer",
       [](int fd, const std::atomic<bool>& stopping) { RawServer::ReadRequest(fd, stopping); }},
      {"closed without reading", [](int, const std::atomic<bool>&) {}},
      {"body short of its length",
       Answer("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nonly part")},
      {"chunked body cut off",
       Answer("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n10\r\nabc")},
      {"not HTTP at all", Answer("garbage\r\n\r\n")},
      {"status that is no number", Answer("HTTP/1.1 2x0 OK\r\nContent-Length: 0\r\n\r\n")},
      {"head cut off", Answer("HTTP/1.1 200 OK\r\nContent-Le")},
      {"status line alone", Answer("HTTP/1.1 200 OK\r\n")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RawServer raw(c.handler);
    ExpectFailed(Get(raw.Base() + "/page.htm"));
  }
}

TEST_F(CurlRequestTest, RefusedConnectionGivesNoStatus) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length), 0);
  close(fd);  // bound once, never listened on: nobody answers at this port
  ExpectFailed(Get("http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/"));
}

TEST_F(CurlRequestTest, RequestNotCompleteInTotalTimeFails) {
  RawServer silent([](int fd, const std::atomic<bool>& stopping) {
    RawServer::ReadRequest(fd, stopping);
    RawServer::Hold(fd, stopping);
  });
  HttpOptions options = ShortOptions();
  options.total_timeout_ms = 300;
  ExpectFailed(Get(silent.Base() + "/", options));

  RawServer trickle([](int fd, const std::atomic<bool>& stopping) {
    RawServer::ReadRequest(fd, stopping);
    RawServer::Write(fd, "HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\nstart");
    RawServer::Hold(fd, stopping);
  });
  ExpectFailed(Get(trickle.Base() + "/", options));
}

TEST_F(CurlRequestTest, EncodedBodiesAreDecoded) {
  RawServer gzip(Answer("HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\nContent-Length: " +
                        std::to_string(sizeof kGzipPage) + "\r\n\r\n" +
                        std::string(reinterpret_cast<const char*>(kGzipPage), sizeof kGzipPage)));
  Outcome raw = Get(gzip.Base() + "/");
  EXPECT_EQ(raw.status, 200);
  EXPECT_EQ(raw.body, kGzipPageText);

  // The server compresses only what the client says it can take.
  Outcome text = Get(base_ + "/text");
  EXPECT_EQ(text.status, 200);
  EXPECT_EQ(text.body, LongText());
  std::lock_guard<std::mutex> lock(mutex_);
  EXPECT_NE(accept_encoding_.find("gzip"), std::string::npos) << accept_encoding_;
}

TEST_F(CurlRequestTest, BodyPastTheCapIsCutAndTheAnswerStands) {
  struct Case {
    size_t cap;
    size_t kept;
  };
  const std::vector<Case> cases = {{100, 100}, {0, 0}, {100000, 100000}, {200000, 100000}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.cap);
    HttpOptions options = ShortOptions();
    options.body_cap = c.cap;
    Outcome outcome = Get(base_ + "/big", options);
    EXPECT_TRUE(outcome.sent);
    EXPECT_EQ(outcome.status, 200);
    EXPECT_EQ(outcome.body, std::string(c.kept, 'x'));
  }
  HttpOptions small = ShortOptions();
  small.body_cap = 3;
  Outcome missing = Get(base_ + "/missing", small);
  EXPECT_EQ(missing.status, 404);
  EXPECT_EQ(missing.body, "not");
}

TEST_F(CurlRequestTest, KeepAliveHookRunsWhileTheAnswerIsAwaited) {
  int calls = 0;
  Outcome outcome = Get(base_ + "/slow", ShortOptions(), [&calls] {
    ++calls;
    return true;
  });
  EXPECT_TRUE(outcome.sent);
  EXPECT_EQ(outcome.status, 200);
  EXPECT_EQ(outcome.body, "late");
  EXPECT_GT(calls, 0);
}

TEST_F(CurlRequestTest, KeepAliveHookReturningFalseAbandonsTheRequest) {
  RawServer silent([](int fd, const std::atomic<bool>& stopping) {
    RawServer::ReadRequest(fd, stopping);
    RawServer::Hold(fd, stopping);
  });
  int calls = 0;
  ExpectFailed(Get(silent.Base() + "/", ShortOptions(), [&calls] { return ++calls < 3; }));
  EXPECT_EQ(calls, 3);
}

TEST_F(CurlRequestTest, UserAgentNamesVoxtrelUnlessToldOtherwise) {
  EXPECT_EQ(Get(base_ + "/echo").status, 200);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    EXPECT_EQ(user_agent_.rfind("Voxtrel/", 0), 0u) << user_agent_;
    EXPECT_EQ(user_agent_, std::string("Voxtrel/") + kVersionString);
  }
  HttpOptions options = ShortOptions();
  options.user_agent = "Other/2";
  EXPECT_EQ(Get(base_ + "/echo", options).status, 200);
  std::lock_guard<std::mutex> lock(mutex_);
  EXPECT_EQ(user_agent_, "Other/2");
}

TEST_F(CurlRequestTest, UnusableAddressesGiveNoStatus) {
  HttpOptions options = ShortOptions();
  options.total_timeout_ms = 3000;
  for (const std::string& url :
       {std::string("http//bad"), std::string("http://"), std::string(""),
        std::string("127.0.0.1/ok"), std::string("ftp://127.0.0.1:9/file.htm"),
        std::string("file:///etc/passwd"), test::kUnknownHostUrl,
        std::string("http://127.0.0.1:99999/")}) {
    SCOPED_TRACE(url);
    Outcome outcome = Get(url, options);
    EXPECT_FALSE(outcome.opened && outcome.sent);
    EXPECT_EQ(outcome.status, std::nullopt);
  }
}

TEST_F(CurlRequestTest, OnlyGetIsOpenedAndOnlyAnOpenedRequestIsSent) {
  CurlRequestFactory factory(ShortOptions());
  std::unique_ptr<HttpRequest> request = factory.Create("MSXML.XMLHTTPRequest");
  ASSERT_NE(request, nullptr);
  EXPECT_FALSE(request->Send({}));
  EXPECT_FALSE(request->Open("POST", base_ + "/ok"));
  EXPECT_FALSE(request->Send({}));
  EXPECT_EQ(request->Status(), std::nullopt);

  ASSERT_TRUE(request->Open("get", base_ + "/missing"));
  EXPECT_TRUE(request->Send({}));
  EXPECT_EQ(request->Status(), 404);
  ASSERT_TRUE(request->Open("GET", base_ + "/ok"));
  EXPECT_EQ(request->Status(), std::nullopt);  // opening again forgets the last answer
  EXPECT_TRUE(request->Send({}));
  EXPECT_EQ(request->Status(), 200);
  EXPECT_EQ(request->ResponseBody(), "hello \x82\xa0");
}

}  // namespace
}  // namespace voxtrel
