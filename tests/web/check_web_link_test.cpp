#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "engine/result_list.h"
#include "platform/cp932.h"
#include "support/local_server.h"
#include "support/recording_view.h"
#include "support/scripted_http.h"
#include "support/temp_dir.h"
#include "web/web_check.h"

namespace voxtrel {
namespace {

using test::RecordingView;

constexpr const char* kPage = "/site/index.htm";

HttpOptions ShortOptions() {
  HttpOptions options;
  options.connect_timeout_ms = 2000;
  options.total_timeout_ms = 1500;
  options.keep_alive_interval_ms = 20;
  return options;
}

// A port that accepts connections (the kernel completes them) and never answers.
class SilentPort {
 public:
  SilentPort() {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    socklen_t len = sizeof addr;
    if (fd_ >= 0 && bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        listen(fd_, 8) == 0 && getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len) == 0) {
      port_ = ntohs(addr.sin_port);
    }
  }
  ~SilentPort() {
    if (fd_ >= 0) close(fd_);
  }
  std::string Base() const { return "http://127.0.0.1:" + std::to_string(port_); }
  int port() const { return port_; }

 private:
  int fd_ = -1;
  int port_ = 0;
};

void ServePages(httplib::Server& server) {
  auto text = [](std::string body) {
    return [body](const httplib::Request&, httplib::Response& res) {
      res.set_content(body, "text/html");
    };
  };
  server.Get("/ok", text("<html><body>hello</body></html>"));
  server.Get("/refresh", text("<html><head><title>moved</title>\n"
                              "<meta http-equiv=\"Refresh\" content=\"0;URL=http://x/\">"));
  server.Get("/refresh-at-start", text("refresh\" content=\"0;URL=http://x/\">"));
  server.Get("/refresh-single", text("<html><head><title>moved</title>\n"
                                     "<meta http-equiv='refresh' content=\"0;URL=http://x/\">"));
  server.Get("/refresh-two-blanks", text("<html><head><title>moved</title>\n"
                                         "<meta http-equiv=\"refresh\"  content=\"0\">"));
  server.Get("/refresh-late",
             text(std::string(5000, 'x') + "<meta http-equiv=\"refresh\" content=\"0\">"));
  server.Get("/empty", [](const httplib::Request&, httplib::Response& res) { res.status = 204; });
  server.Get("/missing", [](const httplib::Request&, httplib::Response& res) {
    res.status = 404;
    res.set_content("<html>refresh\" content=x not found</html>", "text/html");
  });
  server.Get("/error", [](const httplib::Request&, httplib::Response& res) { res.status = 500; });
  server.Get("/to-ok",
             [](const httplib::Request&, httplib::Response& res) { res.set_redirect("/ok"); });
  server.Get("/to-missing",
             [](const httplib::Request&, httplib::Response& res) { res.set_redirect("/missing"); });
  server.Get("/loop",
             [](const httplib::Request&, httplib::Response& res) { res.set_redirect("/loop"); });
  server.Get("/slow", [](const httplib::Request&, httplib::Response& res) {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    res.set_content("late", "text/html");
  });
}

class CheckWebLinkTest : public ::testing::Test {
 protected:
  CheckWebLinkTest() : ctx(view, disk, scripted, dir.path()) {}

  /// Checks one address and returns the row it gave, or "" for none.
  std::string MarkFor(HttpRequestFactory& factory, const std::string& url) {
    RunContext run(view, disk, factory, dir.path());
    run.Check2 = 1;
    run.LinkUrl = url;
    CheckWebLink(run, kPage);
    return run.results.Count() == 1 ? run.results.Row(0)[kColMark] : "";
  }

  test::TempDir dir;
  PosixDisk disk;
  RecordingView view;
  test::ScriptedHttpFactory scripted;
  RunContext ctx;
};

TEST_F(CheckWebLinkTest, MarksFollowStatusAndRefresh) {
  test::LocalServer server;
  ServePages(server.server());
  const std::string base = server.Start();
  SilentPort silent;
  ASSERT_NE(silent.port(), 0);
  CurlRequestFactory curl(ShortOptions());
  struct Case {
    std::string url;
    const char* mark;
  };
  const Case cases[] = {
      {base + "/ok", "◎"},
      {base + "/refresh", "△"},
      {base + "/refresh-at-start", "◎"},
      {base + "/refresh-single", "◎"},
      {base + "/refresh-two-blanks", "◎"},
      {base + "/empty", "◎"},
      {base + "/missing", "×"},
      {base + "/error", "×"},
      {base + "/to-ok", "◎"},
      {base + "/to-missing", "×"},
      {base + "/loop", "×"},
      {test::kUnknownHostUrl, "×"},
      {"http//127.0.0.1/", "×"},
      {"http://[::1/", "×"},
      {"http://", "×"},
      {silent.Base() + "/", "×"},
  };
  for (const Case& c : cases) EXPECT_EQ(MarkFor(curl, c.url), c.mark) << c.url;
}

TEST_F(CheckWebLinkTest, BodyPastTheCapIsNotLookedAt) {
  test::LocalServer server;
  ServePages(server.server());
  const std::string base = server.Start();
  CurlRequestFactory whole(ShortOptions());
  EXPECT_EQ(MarkFor(whole, base + "/refresh-late"), "△");
  HttpOptions capped = ShortOptions();
  capped.body_cap = 1024;
  CurlRequestFactory small(capped);
  EXPECT_EQ(MarkFor(small, base + "/refresh-late"), "◎");
}

TEST_F(CheckWebLinkTest, SlowAnswerKeepsTheWindowAlive) {
  test::LocalServer server;
  ServePages(server.server());
  const std::string base = server.Start();
  CurlRequestFactory curl(ShortOptions());
  int yields_during_wait = -1;
  view.on_keep_alive = [&] { yields_during_wait = view.yields; };
  EXPECT_EQ(MarkFor(curl, base + "/slow"), "◎");
  EXPECT_GE(view.keep_alives, 3);
  // The one yield comes after the wait.
  EXPECT_EQ(yields_during_wait, 0);
  EXPECT_EQ(view.yields, 1);
}

TEST(RefreshPageTest, CountsCharactersFromTheStart) {
  const std::string text = "REFRESH\" CONTENT=";
  struct Case {
    std::string page;
    bool refresh;
  };
  const Case cases[] = {
      {text, false},
      {std::string(9, 'x') + text, false},
      {std::string(10, 'x') + text, true},
      {"<meta http-equiv=\"refresh\" content=\"5;URL=http://x/\">", true},
      {"<meta http-equiv=\"refresh\"  content=\"5\">", false},
      {"<meta http-equiv='refresh' content='5'>", false},
      // Nine characters but more than ten bytes before the text.
      {"日本語日本語日本語" + text, false},
      {"日本語日本語日本語日" + text, true},
      // A later match does not count when the first one is too early.
      {"xx" + text + std::string(40, 'y') + text, false},
      {"", false},
  };
  for (const Case& c : cases) EXPECT_EQ(IsRefreshPage(c.page), c.refresh) << c.page;
}

TEST_F(CheckWebLinkTest, ShowAllResultsGovernsAnsweredRows) {
  scripted.Answer("http://ok/", 200, "fine");
  scripted.Answer("http://refresh/", 200,
                  Utf8ToCp932("<p>日本語</p><meta http-equiv=\"REFRESH\" Content=\"0\">"));
  scripted.Answer("http://gone/", 404);
  struct Case {
    int check2;
    std::string url;
    const char* mark;  // "" for no row
  };
  const Case cases[] = {
      {1, "http://ok/", "◎"},      {0, "http://ok/", ""},      {2, "http://ok/", ""},
      {1, "http://refresh/", "△"}, {0, "http://refresh/", ""}, {1, "http://gone/", "×"},
      {0, "http://gone/", "×"},    {0, "http://fails/", "×"},
  };
  for (const Case& c : cases) {
    ctx.results.Clear();
    ctx.RowNo = 0;
    ctx.Check2 = c.check2;
    ctx.LinkUrl = c.url;
    view.log.clear();
    CheckWebLink(ctx, kPage);
    std::string mark = ctx.results.Count() == 1 ? ctx.results.Row(0)[kColMark] : "";
    EXPECT_EQ(mark, c.mark) << c.url << " Check2=" << c.check2;
    EXPECT_EQ(ctx.RowNo, mark.empty() ? 0 : 1);
    // The count label is renewed whether or not a row came.
    EXPECT_EQ(view.Caption(Control::kLabel7), mark.empty() ? "0 件" : "1 件");
    EXPECT_EQ(view.log.back(), "repaint Label7");
  }
}

TEST_F(CheckWebLinkTest, RowHoldsNumberAddressNameAndPage) {
  scripted.Answer("http://Host/Path name", 500);
  ctx.RowNo = 1234566;
  ctx.LinkUrl = "http://Host/Path name";
  ctx.LinkName = "リンク";
  CheckWebLink(ctx, kPage);
  ctx.LinkUrl = "changed";
  ASSERT_EQ(ctx.results.Count(), 1u);
  EXPECT_EQ(ctx.results.Row(0),
            (ResultRow{"234567", "×", "http://Host/Path name", "リンク", kPage, "234567"}));
  EXPECT_EQ(scripted.requested, (std::vector<std::string>{"http://Host/Path name"}));
  EXPECT_EQ(view.log, (std::vector<std::string>{"yield", "refresh list", "caption Label7=1 件",
                                                "repaint Label7"}));
}

TEST_F(CheckWebLinkTest, WebPageModeNamesTheAddress) {
  ctx.SinglePageMode = kModeWebPage;
  ctx.SinglePageTarget = "http://site/";
  ctx.LinkUrl = "http://gone/";
  CheckWebLink(ctx, "/work/WEB_Dummy.htm");
  ASSERT_EQ(ctx.results.Count(), 1u);
  EXPECT_EQ(ctx.results.Row(0)[kColFile], "http://site/");
  ctx.SinglePageMode = kModeLocalFile;
  CheckWebLink(ctx, "/work/page.htm");
  EXPECT_EQ(ctx.results.Row(1)[kColFile], "/work/page.htm");
}

TEST_F(CheckWebLinkTest, FallbackIdentifierIsTriedSecond) {
  scripted.fail_primary = true;
  scripted.Answer("http://ok/", 200);
  ctx.LinkUrl = "http://ok/";
  CheckWebLink(ctx, kPage);
  EXPECT_EQ(scripted.created_ids,
            (std::vector<std::string>{"MSXML2.XMLHTTP", "MSXML.XMLHTTPRequest"}));
  EXPECT_EQ(scripted.requested, (std::vector<std::string>{"http://ok/"}));
  EXPECT_EQ(ctx.results.Row(0)[kColMark], "◎");
  EXPECT_TRUE(view.messages.empty());
}

TEST_F(CheckWebLinkTest, NoRequestObjectWarnsAndSetsTheFlag) {
  scripted.fail_next_creations = 2;
  ctx.LinkUrl = "http://ok/";
  view.captions[Control::kLabel7] = "7 件";
  CheckWebLink(ctx, kPage);
  ASSERT_EQ(view.messages.size(), 1u);
  EXPECT_EQ(view.messages[0].title, "Voxtrel");
  EXPECT_EQ(view.messages[0].text, "XMLHTTPｵﾌﾞｼﾞｪｸﾄを作成できませんでした。     ");
  EXPECT_EQ(view.messages[0].icon, MessageIcon::kWarning);
  EXPECT_EQ(view.messages[0].buttons, MessageButtons::kOk);
  EXPECT_EQ(ctx.WebErrorFlag, kWebError);
  EXPECT_EQ(ctx.results.Count(), 0u);
  EXPECT_EQ(ctx.RowNo, 0);
  EXPECT_EQ(view.Caption(Control::kLabel7), "7 件");
  EXPECT_EQ(view.log.back(), "cursor default");
  EXPECT_TRUE(scripted.requested.empty());

  // The next call has its object again and clears the flag.
  CheckWebLink(ctx, kPage);
  EXPECT_EQ(ctx.WebErrorFlag, 0);
  EXPECT_EQ(ctx.results.Count(), 1u);
}

TEST_F(CheckWebLinkTest, AbandonedWaitCountsAsFailure) {
  scripted.Answer("http://slow/", 200, "", 5);
  view.keep_alive_result = false;
  ctx.LinkUrl = "http://slow/";
  CheckWebLink(ctx, kPage);
  EXPECT_EQ(scripted.abandoned, 1);
  ASSERT_EQ(ctx.results.Count(), 1u);
  EXPECT_EQ(ctx.results.Row(0)[kColMark], "×");
}

}  // namespace
}  // namespace voxtrel
