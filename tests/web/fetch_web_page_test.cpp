#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "platform/cp932.h"
#include "support/files.h"
#include "support/fake_disk.h"
#include "support/local_server.h"
#include "support/recording_view.h"
#include "support/scripted_http.h"
#include "support/temp_dir.h"
#include "web/web_check.h"

namespace voxtrel {
namespace {

using test::ReadFile;

class FetchWebPageTest : public ::testing::Test {
 protected:
  FetchWebPageTest() {
    server_.server().Get("/page", [this](const httplib::Request&, httplib::Response& res) {
      res.set_content(body_, "text/html");
    });
    server_.server().Get("/empty",
                         [](const httplib::Request&, httplib::Response& res) { res.status = 200; });
    server_.server().Get("/missing", [](const httplib::Request&, httplib::Response& res) {
      res.status = 404;
      res.set_content("not here", "text/html");
    });
    base_ = server_.Start();
    HttpOptions options;
    options.connect_timeout_ms = 2000;
    options.total_timeout_ms = 3000;
    curl_ = std::make_unique<CurlRequestFactory>(options);
  }

  /// Fetches `url` into the web work file of `folder` and returns the result code.
  int16_t Fetch(const std::string& url, HttpRequestFactory& http, DiskInterface& disk,
                const std::string& folder) {
    RunContext ctx(view, disk, http, folder);
    ctx.LinkUrl = url;
    ctx.WebErrorFlag = kWebError;
    int16_t result = -1;
    FetchWebPage(ctx, result);
    web_error_flag = ctx.WebErrorFlag;
    return result;
  }
  int16_t Fetch(const std::string& url) { return Fetch(url, *curl_, disk, dir.path()); }
  std::string WorkFile() const { return ReadFile(dir / "WEB_Dummy.htm"); }

  test::TempDir dir;
  PosixDisk disk;
  test::RecordingView view;
  int16_t web_error_flag = -1;
  std::string body_;
  std::string base_;

 private:
  test::LocalServer server_;
  std::unique_ptr<CurlRequestFactory> curl_;
};

TEST_F(FetchWebPageTest, LineFeedsBecomeTwoLineBreaks) {
  struct Case {
    std::string body;
    std::string stored;
  };
  const Case cases[] = {
      {"a\nb", "a\r\n\r\nb"},
      {"a\r\nb\r\n", "a\r\r\n\r\nb\r\r\n\r\n"},
      {"a\rb", "a\rb"},
      {"\n", "\r\n\r\n"},
      // Received bytes are kept even where the code page has no character for them: an EUC-JP
      // page is converted only when it is scanned, and needs its own bytes for that.
      {"\xA4\xA2\xFE\xFE\x80\n", "\xA4\xA2\xFE\xFE\x80\r\n\r\n"},
      // Shift_JIS text is stored as received.
      {Utf8ToCp932("<p>日本語のﾍﾟｰｼﾞ</p>\n"), Utf8ToCp932("<p>日本語のﾍﾟｰｼﾞ</p>\r\n\r\n")},
  };
  for (const Case& c : cases) {
    body_ = c.body;
    EXPECT_EQ(Fetch(base_ + "/page"), kFetchOk);
    EXPECT_EQ(WorkFile(), c.stored);
    EXPECT_EQ(web_error_flag, 0);
  }
}

TEST_F(FetchWebPageTest, FailuresLeaveTheWorkFileAlone) {
  std::ofstream(dir / "WEB_Dummy.htm", std::ios::binary) << "earlier";
  struct Case {
    std::string url;
    int16_t result;
  };
  const Case cases[] = {
      {base_ + "/empty", kFetchEmptyOrFailed},
      {base_ + "/missing", kFetchBadStatus},
      {test::kUnknownHostUrl, kFetchEmptyOrFailed},
      {"not a url", kFetchEmptyOrFailed},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Fetch(c.url), c.result) << c.url;
    EXPECT_EQ(WorkFile(), "earlier") << c.url;
    EXPECT_EQ(web_error_flag, 0);
  }
  EXPECT_TRUE(view.messages.empty());
}

TEST_F(FetchWebPageTest, NoRequestObjectWarnsOnce) {
  test::ScriptedHttpFactory none;
  none.fail_all = true;
  EXPECT_EQ(Fetch(base_ + "/page", none, disk, dir.path()), kFetchNoRequestObject);
  ASSERT_EQ(view.messages.size(), 1u);
  EXPECT_EQ(view.messages[0].text, "XMLHTTPｵﾌﾞｼﾞｪｸﾄを作成できませんでした。     ");
  EXPECT_EQ(view.messages[0].title, "Voxtrel");
  EXPECT_EQ(view.messages[0].icon, MessageIcon::kWarning);
  // Neither the cursor nor the flag is touched beyond the reset at entry.
  EXPECT_FALSE(view.busy);
  EXPECT_EQ(view.log,
            (std::vector<std::string>{"message Voxtrel: " + std::string(view.messages[0].text)}));
  EXPECT_EQ(web_error_flag, 0);
  EXPECT_EQ(none.created_ids, (std::vector<std::string>{"MSXML2.XMLHTTP", "MSXML.XMLHTTPRequest"}));
}

TEST_F(FetchWebPageTest, UnwritableWorkFileIsAFailure) {
  body_ = "<a href=\"http://x/\">x</a>\n";
  EXPECT_EQ(
      Fetch(base_ + "/page", *std::make_unique<CurlRequestFactory>(), disk, dir / "no-such-folder"),
      kFetchWriteFailed);
  test::FakeDisk fake;
  fake.AddFolder("/prog");
  fake.Fail(test::DiskOp::kWrite, "/prog/WEB_Dummy.htm");
  test::ScriptedHttpFactory scripted;
  scripted.Answer("http://site/", 200, "page\n");
  EXPECT_EQ(Fetch("http://site/", scripted, fake, "/prog"), kFetchWriteFailed);
  EXPECT_GT(kFetchWriteFailed, 10);
}

TEST_F(FetchWebPageTest, YieldsOnceAfterTheRequest) {
  test::ScriptedHttpFactory scripted;
  scripted.Answer("http://site/", 200, "page", 4);
  int keep_alives_before_yield = -1;
  view.on_yield = [&](int) { keep_alives_before_yield = view.keep_alives; };
  EXPECT_EQ(Fetch("http://site/", scripted, disk, dir.path()), kFetchOk);
  EXPECT_EQ(view.yields, 1);
  EXPECT_EQ(keep_alives_before_yield, 4);
  EXPECT_EQ(WorkFile(), "page");
}

}  // namespace
}  // namespace voxtrel
