#include "cli/checker.h"

#include <sys/wait.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "support/files.h"
#include "support/local_server.h"
#include "support/temp_dir.h"

namespace voxtrel {
namespace {

class CheckerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server_.server().Get("/ok", [](const auto&, auto& res) { res.set_content("ok", "text/plain"); });
    base_ = server_.Start();
    test::WriteFile(dir_ / "site/a.htm", "<A HREF=\"" + base_ + "/ok\">ok</A>\r\n<A HREF=\"" +
                                             base_ + "/gone\">gone</A>\r\n");
    test::WriteFile(dir_ / "site/sub/b.htm", "<A HREF=\"" + base_ + "/ok\">b</A>\r\n");
  }
  int Run(std::vector<std::string> args) {
    out_.str("");
    err_.str("");
    CheckerEnvironment env;
    env.http.connect_timeout_ms = 2000;
    env.http.total_timeout_ms = 5000;
    return RunChecker(args, out_, err_, env);
  }

  test::LocalServer server_;
  std::string base_;
  test::TempDir dir_;
  std::ostringstream out_;
  std::ostringstream err_;
};

TEST_F(CheckerTest, ExitStatusSaysWhetherDeadLinksWereFound) {
  const std::string a = dir_ / "site/a.htm";
  const std::string b = dir_ / "site/sub/b.htm";
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string out;
  };
  const Case cases[] = {
      {{dir_ / "site"}, kExitDeadLinks, "000001,×," + base_ + "/gone,gone," + a + "\n"},
      {{"-a", dir_ / "site/"}, kExitDeadLinks,
       "000001,◎," + base_ + "/ok,ok," + a + "\n000002,×," + base_ + "/gone,gone," + a + "\n"},
      {{"-ra", dir_ / "site/sub"}, kExitClean, "000001,◎," + base_ + "/ok,b," + b + "\n"},
      {{"-q", b}, kExitClean, ""},
      {{"-r", dir_ / "site", "-a"}, kExitDeadLinks,
       "000001,◎," + base_ + "/ok,ok," + a + "\n000002,×," + base_ + "/gone,gone," + a +
           "\n000003,◎," + base_ + "/ok,b," + b + "\n"},
      {{"-x", b}, kExitUsage, ""},
      {{}, kExitUsage, ""},
      {{b, b}, kExitUsage, ""},
      {{"-o"}, kExitUsage, ""},
      {{dir_ / "none.htm"}, kExitUsage, ""},
      {{base_ + "/none.htm"}, kExitUsage, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    EXPECT_EQ(Run(c.args), c.status);
    EXPECT_EQ(out_.str(), c.out);
    if (c.status == kExitUsage) {
      EXPECT_NE(err_.str().find("voxtrel-check: "), std::string::npos);
    }
  }
  EXPECT_EQ(Run({"-a", base_ + "/none.htm"}), kExitUsage);
  EXPECT_NE(err_.str().find("voxtrel-check: cannot fetch " + base_ + "/none.htm: HTTP 404\n"),
            std::string::npos);
}

TEST_F(CheckerTest, ReportIsWrittenInTheFormItsNameSays) {
  ASSERT_EQ(Run({"-o", dir_ / "r.htm", dir_ / "site"}), kExitDeadLinks);
  EXPECT_EQ(test::ReadFile(dir_ / "r.htm").rfind("<HTML>\r\n", 0), 0u);
  ASSERT_EQ(Run({"-a", "-o", dir_ / "r.txt", dir_ / "site/sub/b.htm"}), kExitClean);
  EXPECT_EQ(test::ReadFile(dir_ / "r.txt"),
            "000001,\x81\x9D," + base_ + "/ok,b," + (dir_ / "site/sub/b.htm") + "\r\n");
  EXPECT_EQ(Run({"-o", dir_ / "none/r.csv", dir_ / "site/sub"}), kExitUsage);
}

TEST_F(CheckerTest, BinaryExitsWithTheRunsStatus) {
  const std::string command = std::string(VOXTREL_CHECK_BINARY) + " -q " + (dir_ / "site") +
                              " >/dev/null 2>&1";
  const int status = std::system(command.c_str());
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), kExitDeadLinks);
}

}  // namespace
}  // namespace voxtrel
