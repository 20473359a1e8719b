#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "platform/cp932.h"
#include "support/fake_disk.h"
#include "support/recording_view.h"
#include "support/scripted_http.h"
#include "support/temp_dir.h"
#include "web/web_check.h"

namespace voxtrel {
namespace {

class PrepareLocalPageTest : public ::testing::Test {
 protected:
  PrepareLocalPageTest() : ctx(view, disk, http, dir.path()) {}

  std::string WritePage(const std::string& bytes) {
    std::string path = dir / "page.htm";
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }
  std::string WorkFile() const {
    std::ifstream in(dir / "Dummy_File_PC.htm", std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
  }

  test::TempDir dir;
  PosixDisk disk;
  test::RecordingView view;
  test::ScriptedHttpFactory http;
  RunContext ctx;
};

TEST_F(PrepareLocalPageTest, ConvertsOnlyPagesDeclaringEucJp) {
  const std::string euc_body = "<p>\xB0\xA1\xA4\xA2\x8E\xB1</p>";   // 亜あｱ
  const std::string sjis_body = "<p>\x88\x9F\x82\xA0\x83\x41</p>";  // 亜あア
  struct Case {
    std::string page;
    std::string work;
  };
  const Case cases[] = {
      {"<meta charset=\"Shift_JIS\">\r\n" + sjis_body + "\r\n",
       "<meta charset=\"Shift_JIS\">\r\n" + sjis_body + "\r\n"},
      {"<meta content=\"text/html; charset=euc-jp\">\r\n" + euc_body + "\r\n",
       "<meta content=\"text/html; charset=euc-jp\">\r\n" + sjis_body + "\r\n"},
      {"<META CONTENT=\"text/html; CHARSET=EUC-JP\">\r\n" + euc_body,
       "<META CONTENT=\"text/html; CHARSET=EUC-JP\">\r\n" + sjis_body},
      // Declared on a later line with bare LFs before it.
      {euc_body + "\n\n<meta content=\"charset=Euc-Jp\">",
       sjis_body + "\n\n<meta content=\"charset=Euc-Jp\">"},
      {"<meta content=\"text/html; charset = EUC-JP\">\r\n" + euc_body,
       "<meta content=\"text/html; charset = EUC-JP\">\r\n" + euc_body},
      {"<meta content=\"charset=EUC JP\">" + euc_body,
       "<meta content=\"charset=EUC JP\">" + euc_body},
      // イ is 83 43: its second byte is a "C" that cannot begin the declaration.
      {"<p>\x83"
       "CHARSET=EUC-JP</p>\r\n",
       "<p>\x83"
       "CHARSET=EUC-JP</p>\r\n"},
      // The declaration broken by a line end does not count.
      {"CHARSET=EUC\r-JP " + euc_body, "CHARSET=EUC\r-JP " + euc_body},
      {"", ""},
  };
  for (const Case& c : cases) {
    std::string page = WritePage(c.page);
    EXPECT_TRUE(PrepareLocalPage(ctx, page));
    EXPECT_EQ(WorkFile(), c.work) << c.page;
  }
}

TEST_F(PrepareLocalPageTest, ShiftJisPageMentioningTheDeclarationIsConvertedAnyway) {
  // ASCII survives; the double-byte characters and half-width katakana do not.
  std::string page = WritePage("<p>CHARSET=EUC-JP \x88\x9F\xB1\xB1</p>\r\n");
  EXPECT_TRUE(PrepareLocalPage(ctx, page));
  std::string work = WorkFile();
  EXPECT_EQ(work.substr(0, 18), "<p>CHARSET=EUC-JP ");
  EXPECT_EQ(work.substr(work.size() - 6), "</p>\r\n");
  EXPECT_NE(work, "<p>CHARSET=EUC-JP \x88\x9F\xB1\xB1</p>\r\n");
}

TEST_F(PrepareLocalPageTest, UnreadablePageLeavesAnEmptyWorkFile) {
  std::string page = WritePage("<a href=\"http://old/\">old</a>\r\n");
  ASSERT_TRUE(PrepareLocalPage(ctx, page));
  ASSERT_FALSE(WorkFile().empty());
  EXPECT_FALSE(PrepareLocalPage(ctx, dir / "missing.htm"));
  EXPECT_EQ(WorkFile(), "");
  EXPECT_FALSE(PrepareLocalPage(ctx, dir.path()));
  EXPECT_EQ(WorkFile(), "");
}

TEST_F(PrepareLocalPageTest, WorkFileThatCannotBeWrittenIsReported) {
  test::FakeDisk fake;
  fake.AddFile("/site/a.htm", "plain\r\n");
  fake.AddFile("/site/e.htm", "charset=euc-jp\r\n");
  fake.Fail(test::DiskOp::kWrite, "/prog/Dummy_File_PC.htm");
  RunContext on_fake(view, fake, http, "/prog");
  EXPECT_FALSE(PrepareLocalPage(on_fake, "/site/a.htm"));
  EXPECT_FALSE(PrepareLocalPage(on_fake, "/site/e.htm"));
}

TEST_F(PrepareLocalPageTest, FetchedEucPageIsConvertedLikeALocalOne) {
  test::FakeDisk fake;
  fake.AddFolder("/prog");
  fake.AddFile("/prog/WEB_Dummy.htm", "<meta charset=euc-jp>\r\r\n\r\n\xA4\xA2");
  RunContext on_fake(view, fake, http, "/prog");
  EXPECT_TRUE(PrepareLocalPage(on_fake, "/prog/WEB_Dummy.htm"));
  EXPECT_EQ(fake.Contents("/prog/Dummy_File_PC.htm"),
            std::string("<meta charset=euc-jp>\r\r\n\r\n\x82\xA0"));
}

}  // namespace
}  // namespace voxtrel
