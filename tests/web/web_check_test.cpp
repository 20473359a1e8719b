#include "web/web_check.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/cp932.h"
#include "support/fake_disk.h"
#include "support/recording_view.h"

namespace voxtrel {
namespace {

TEST(EucToSjisTest, ConvertsByJisArithmeticAndWidensHalfWidthKana) {
  struct Case {
    std::string euc;
    std::string text;
  };
  const Case cases[] = {
      {"abc\r\n", "abc\r\n"},
      {"\xA4\xA2\xA5\xC6", "あテ"},        // odd and even rows
      {"\xB0\xA1\xDF\xA1\xE0\xA1", "亜漾燹"},  // lead bytes on both sides of the 0x9F jump
      {"\xA1\xA1\xF4\xA6", "　熙"},
      {"\x8E\xB1\x8E\xDE", "ア゛"},
      {"x\xB1", "xｱ"},  // a byte left over at the end stands alone, not widened
      {"x\xFF", "x?"},
      {"\xAD\xA1", "①"},
      {"\xA9\xA1", "?"},  // a row code page 932 leaves empty
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(Cp932ToUtf8(EucToSjis(c.euc)), c.text);
  }
}

TEST(IsRefreshPageTest, DeclarationCountsFromTheEleventhCharacter) {
  const std::string decl = "REFRESH\" CONTENT=\"0\">";
  struct Case {
    std::string text;
    bool refresh;
  };
  const Case cases[] = {
      {"0123456789" + decl, true},   {"012345678" + decl, false},
      {"ああああああああああ" + decl, true}, {"あああああああああ" + decl, false},
      {"<meta http-equiv=\"refresh\" content=\"0\">", true},
      {"<meta http-equiv=\"refresh\"  content=\"0\">", false}, {"", false},
  };
  for (const Case& c : cases) EXPECT_EQ(IsRefreshPage(c.text), c.refresh) << c.text;
}

TEST(PrepareLocalPageTest, EucJpPagesAreConvertedOthersCopiedUnreadableEmptied) {
  const std::string euc_body = "\r\n<P>\xA4\xA2</P>\r\n";
  struct Case {
    std::string page;
    std::string work;
  };
  const Case cases[] = {
      {"<META charset=EUC-JP>" + euc_body, "<META charset=EUC-JP>\r\n<P>\x82\xA0</P>\r\n"},
      {"<META\ncharset=euc-jp>" + euc_body, "<META\ncharset=euc-jp>\r\n<P>\x82\xA0</P>\r\n"},
      // ャ is 83 43: its trail byte is the "C" of CHARSET, so nothing is declared.
      {"<META \x83HARSET=EUC-JP>" + euc_body, "<META \x83HARSET=EUC-JP>" + euc_body},
      {"<P>\x82\xA0</P>\r\n", "<P>\x82\xA0</P>\r\n"},
  };
  test::RecordingView view;
  test::FakeDisk disk;
  CurlPool http;
  RunContext ctx(view, disk, http, "/w");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.page);
    disk.AddFile("/p.htm", c.page);
    EXPECT_TRUE(PrepareLocalPage(ctx, "/p.htm"));
    EXPECT_EQ(disk.Contents(ctx.ScanWorkFilePath()), c.work);
  }
  EXPECT_FALSE(PrepareLocalPage(ctx, "/missing.htm"));
  EXPECT_EQ(disk.Contents(ctx.ScanWorkFilePath()), "");
}

}  // namespace
}  // namespace voxtrel
