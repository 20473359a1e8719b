#include "web/page.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/cp932.h"
#include "web/euc_to_sjis.h"

namespace voxtrel {
namespace {

TEST(EucToSjisTest, ConvertsByJisArithmeticAndWidensHalfWidthKana) {
  const std::pair<std::string, std::string> cases[] = {
      {"abc\r\n", "abc\r\n"},
      {"\xA4\xA2\xA5\xC6", "あテ"},        // odd and even rows
      {"\xB0\xA1\xDF\xA1\xE0\xA1", "亜漾燹"},  // lead bytes on both sides of the 0x9F jump
      {"\xA1\xA1\xF4\xA6", "　熙"}, {"\x8E\xB1\x8E\xDE", "ア゛"},
      {"x\xB1", "xｱ"},  // a byte left over at the end stands alone, not widened
      {"x\xFF", "x?"}, {"\xAD\xA1", "①"},
      {"\xA9\xA1", "?"},  // a row code page 932 leaves empty
  };
  for (const auto& [euc, text] : cases) EXPECT_EQ(Cp932ToUtf8(EucToSjis(euc)), text) << text;
}

TEST(DecodePageTest, EucJpPagesAreConvertedOthersKeptFetchedPagesSplitAtLineFeeds) {
  const std::string euc_body = "\r\n<P>\xA4\xA2</P>\r\n";
  struct Case {
    PageSource page;
    std::string text;
    TextForm form;
  };
  const Case cases[] = {
      {{"/p", "<META charset=EUC-JP>" + euc_body, std::nullopt, PageOrigin::kFile}, "<META charset=EUC-JP>\r\n<P>\x82\xA0</P>\r\n",
       TextForm::kShiftJis},
      {{"/p", "<META\ncharset=euc-jp>" + euc_body, std::nullopt, PageOrigin::kFile}, "<META\ncharset=euc-jp>\r\n<P>\x82\xA0</P>\r\n",
       TextForm::kShiftJis},
      // ャ is 83 43: its trail byte is the "C" of CHARSET, so nothing is declared.
      {{"/p", "<META \x83HARSET=EUC-JP>" + euc_body, std::nullopt, PageOrigin::kFile}, "<META \x83HARSET=EUC-JP>" + euc_body,
       TextForm::kShiftJis},
      {{"/p", "<P>\x82\xA0</P>\r\n", std::nullopt, PageOrigin::kFile}, "<P>\x82\xA0</P>\r\n", TextForm::kShiftJis},
      {{"/p", "\xEF\xBB\xBF<P>\xE3\x81\x82", std::nullopt, PageOrigin::kFile}, "<P>\xE3\x81\x82", TextForm::kUtf8},
      // The server's charset wins over the page's own declaration.
      {{"u", "<meta charset=utf-8>\x82\xA0\n", "Shift_JIS", PageOrigin::kWeb},
       "<meta charset=utf-8>\x82\xA0\r\n\r\n", TextForm::kShiftJis},
      {{"u", "\x1B$B$\"\x1B(B\r\n", "ISO-2022-JP", PageOrigin::kWeb}, "あ\r\r\n\r\n", TextForm::kUtf8},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.page.bytes);
    const PageText text = DecodePage(c.page);
    EXPECT_EQ(text.source, c.page.source);
    EXPECT_EQ(text.text, c.text);
    EXPECT_EQ(text.form, c.form);
  }
}

}  // namespace
}  // namespace voxtrel
