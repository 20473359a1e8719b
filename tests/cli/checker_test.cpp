#include "cli/checker.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/cp932.h"
#include "support/files.h"
#include "support/local_server.h"
#include "support/temp_dir.h"

namespace voxtrel {
namespace {

using test::WriteFile;
using test::ReadFile;

using test::LocalServer;
using test::TempDir;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

class CheckerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server_.server().Get("/ok", [](const httplib::Request&, httplib::Response& res) {
      res.set_content("<html>fine</html>", "text/html");
    });
    server_.server().Get("/gone", [](const httplib::Request&, httplib::Response& res) {
      res.status = 404;
      res.set_content("no", "text/plain");
    });
    server_.server().Get("/page.htm", [this](const httplib::Request&, httplib::Response& res) {
      res.set_content(Utf8ToCp932("<A HREF=\"" + base_ + "/gone\">消えた</A>\n"), "text/html");
    });
    base_ = server_.Start();
    env_.http.connect_timeout_ms = 2000;
    env_.http.total_timeout_ms = 5000;
    env_.interrupts = &interrupts_;
    // Work files of the checker land here, so a test can see that none is left behind.
    old_tmpdir_ = getenv("TMPDIR") ? getenv("TMPDIR") : "";
    setenv("TMPDIR", tmp_.path().c_str(), 1);
  }
  void TearDown() override {
    if (old_tmpdir_.empty()) {
      unsetenv("TMPDIR");
    } else {
      setenv("TMPDIR", old_tmpdir_.c_str(), 1);
    }
  }

  int Run(std::vector<std::string> args) {
    out_.str("");
    err_.str("");
    return RunChecker(args, out_, err_, env_);
  }

  // A page in Shift_JIS with one live and one dead link, and a script link.
  std::string Page() const {
    return Utf8ToCp932("<P><A HREF=\"" + base_ + "/ok\">生きている</A>\r\n" + "<A HREF=\"" +
                       base_ + "/gone#x\">死んだ</A> <a href=\"http://h/x.pl?q=1\">s</a>\r\n");
  }

  LocalServer server_;
  std::string base_;
  CheckerEnvironment env_;
  volatile std::sig_atomic_t interrupts_ = 0;
  TempDir site_;
  TempDir tmp_;
  std::string old_tmpdir_;
  std::ostringstream out_;
  std::ostringstream err_;
};

TEST_F(CheckerTest, UsageErrorsExitWithTwoAndHelpAndVersionWithZero) {
  EXPECT_EQ(Run({}), kExitUsage);
  EXPECT_NE(err_.str().find("no TARGET"), std::string::npos);
  EXPECT_EQ(Run({"-x", site_.path()}), kExitUsage);
  EXPECT_EQ(Run({"-o"}), kExitUsage);
  EXPECT_EQ(Run({site_.path(), site_.path()}), kExitUsage);
  EXPECT_EQ(Run({site_ / "missing.htm"}), kExitUsage);
  EXPECT_NE(err_.str().find("cannot read"), std::string::npos);
  EXPECT_EQ(Run({"-h"}), kExitClean);
  EXPECT_NE(out_.str().find("usage: voxtrel-check"), std::string::npos);
  EXPECT_EQ(Run({"--version"}), kExitClean);
  EXPECT_EQ(out_.str().rfind("voxtrel-check ", 0), 0u);
}

TEST_F(CheckerTest, FolderRunListsDeadAndScriptLinksAndAllWithDashA) {
  WriteFile(site_ / "index.htm", Page());
  WriteFile(site_ / "sub/inner.html", Utf8ToCp932("<a href=\"" + base_ + "/gone\">x</a>\r\n"));

  EXPECT_EQ(Run({"-q", site_.path()}), kExitDeadLinks);
  std::string page = site_ / "index.htm";
  EXPECT_EQ(Lines(out_.str()),
            (std::vector<std::string>{"000001,×," + base_ + "/gone,死んだ," + page,
                                      "000002,Ｐ,http://h/x.pl,s," + page}));
  EXPECT_NE(err_.str().find("Voxtrelが完了しました。"), std::string::npos);

  EXPECT_EQ(Run({"-q", "-r", "-a", site_.path()}), kExitDeadLinks);
  EXPECT_EQ(Lines(out_.str()),
            (std::vector<std::string>{"000001,◎," + base_ + "/ok,生きている," + page,
                                      "000002,×," + base_ + "/gone,死んだ," + page,
                                      "000003,Ｐ,http://h/x.pl,s," + page,
                                      "000004,×," + base_ + "/gone,x," + (site_ / "sub/inner.html")}));
  // No work file or work folder is left behind.
  EXPECT_TRUE(std::filesystem::is_empty(tmp_.path()));
}

TEST_F(CheckerTest, ReportsDifferOnlyInFormAndFollowTheRows) {
  WriteFile(site_ / "index.htm", Page());
  std::string csv = tmp_ / "r.csv";
  std::string htm = tmp_ / "r.HTM";
  ASSERT_EQ(Run({"-q", "-a", "-o", csv, site_.path()}), kExitDeadLinks);
  std::string rows = out_.str();
  ASSERT_EQ(Run({"-q", "-a", "-o", htm, site_.path()}), kExitDeadLinks);
  EXPECT_EQ(out_.str(), rows);

  // The comma-separated report is the printed rows in Shift_JIS with CR LF.
  std::string expected_csv;
  for (const std::string& line : Lines(rows)) expected_csv += line + "\r\n";
  EXPECT_EQ(ReadFile(csv), Utf8ToCp932(expected_csv));
  std::string html = Cp932ToUtf8(ReadFile(htm));
  EXPECT_EQ(html.rfind("<HTML>\r\n<HEAD>\r\n", 0), 0u);
  EXPECT_NE(html.find("<A href=\"" + base_ + "/gone\">" + base_ + "/gone</A>"), std::string::npos);
  EXPECT_NE(html.find("死んだ"), std::string::npos);
}

TEST_F(CheckerTest, FileTargetKeepsThePathAsTypedAndWebTargetNamesTheAddress) {
  WriteFile(site_ / "one.htm", Page());
  std::string cwd = std::filesystem::current_path().string();
  ASSERT_EQ(chdir(site_.path().c_str()), 0);
  int status = Run({"-q", "one.htm"});
  ASSERT_EQ(chdir(cwd.c_str()), 0);
  EXPECT_EQ(status, kExitDeadLinks);
  EXPECT_EQ(Lines(out_.str()).at(0), "000001,×," + base_ + "/gone,死んだ,one.htm");

  EXPECT_EQ(Run({"-q", base_ + "/page.htm"}), kExitDeadLinks);
  EXPECT_EQ(Lines(out_.str()),
            (std::vector<std::string>{"000001,×," + base_ + "/gone,消えた," + base_ + "/page.htm"}));

  EXPECT_EQ(Run({"-q", base_ + "/gone.htm"}), kExitUsage);
  EXPECT_NE(err_.str().find("cannot fetch"), std::string::npos);
  EXPECT_TRUE(std::filesystem::is_empty(tmp_.path()));
}

TEST_F(CheckerTest, CleanSiteExitsZeroAndInterruptStopsAfterCurrentLinkWithReport) {
  WriteFile(site_ / "a.htm", Utf8ToCp932("<a href=\"" + base_ + "/ok\">ok</a>\r\n"));
  EXPECT_EQ(Run({"-q", site_.path()}), kExitClean);
  EXPECT_EQ(out_.str(), "");

  std::string links;
  for (int i = 0; i < 5; ++i) links += "<a href=\"" + base_ + "/gone\">g</a>\r\n";
  WriteFile(site_ / "b.htm", Utf8ToCp932(links));
  std::string csv = tmp_ / "partial.csv";
  interrupts_ = 1;  // Ctrl-C already pressed: the first link is finished, then the run stops.
  EXPECT_EQ(Run({"-q", "-o", csv, site_.path()}), kExitInterrupted);
  EXPECT_EQ(Lines(out_.str()).size(), 0u);  // a.htm's only link answered; b.htm never opened
  EXPECT_NE(err_.str().find("Voxtrelを中止しました。"), std::string::npos);
  EXPECT_TRUE(std::filesystem::exists(csv));
}

// The real binary against the loopback server: a generated site of a few hundred pages.
TEST_F(CheckerTest, BinaryChecksGeneratedSiteAndReportsStatus) {
  const int kPages = 300;
  for (int i = 0; i < kPages; ++i) {
    std::string body = "<html><body>\r\n";
    body += "<a href=\"" + base_ + (i % 50 == 0 ? "/gone" : "/ok") + "\">link " +
            std::to_string(i) + "</a>\r\n";
    WriteFile(site_ / ("d" + std::to_string(i / 100) + "/p" + std::to_string(i) + ".htm"),
              body + "</body></html>\r\n");
  }
  std::string report = tmp_ / "site.csv";
  std::string command = std::string(VOXTREL_CHECK_BINARY) + " -r -o " + report + " " +
                        site_.path() + " 2>/dev/null";
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string output;
  char buffer[4096];
  while (size_t n = fread(buffer, 1, sizeof(buffer), pipe)) output.append(buffer, n);
  int status = pclose(pipe);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), kExitDeadLinks);
  EXPECT_EQ(Lines(output).size(), static_cast<size_t>(kPages / 50));
  EXPECT_EQ(Lines(Cp932ToUtf8(ReadFile(report))).size(), static_cast<size_t>(kPages / 50));
}

}  // namespace
}  // namespace voxtrel
