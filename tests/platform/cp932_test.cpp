#include "platform/cp932.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "platform/text.h"

namespace voxtrel {
namespace {

TEST(Cp932Test, DecodesAndEncodesWithReplacementsForWhatDoesNotMap) {
  struct Case {
    std::string bytes;
    std::string text;
    std::string encoded;  // Utf8ToCp932(text)
  };
  const Case cases[] = {
      {"abc", "abc", "abc"}, {"\x82\xA0\x83\x65", "あテ", "\x82\xA0\x83\x65"},
      {"\xB1\xDE", "ｱﾞ", "\xB1\xDE"},
      {"\x87\x40\xFA\x40\x81\xFC", "①ⅰ◯", "\x87\x40\xFA\x40\x81\xFC"},
      {"\x82", "\xEF\xBF\xBD", "?"},        // a lead byte at the end
      {"\x82\x20", "\xEF\xBF\xBD ", "? "},  // a lead byte without its trail byte
      {"\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD", "??"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(Cp932ToUtf8(c.bytes), c.text);
    EXPECT_EQ(Utf8ToCp932(c.text), c.encoded);
  }
  EXPECT_EQ(Utf8ToCp932("𠮷€\xFF"), "???");
}

TEST(Cp932Test, SingleBytesStandAloneOrWidened) {
  struct Case {
    unsigned char byte;
    const char* single;
    const char* wide;
  };
  const Case cases[] = {{'A', "A", "A"},         {0xA1, "｡", "。"}, {0xB1, "ｱ", "ア"},
                        {0xDE, "ﾞ", "゛"},       {0xDF, "ﾟ", "゜"}, {0xA6, "ｦ", "ヲ"},
                        {0x82, "\xEF\xBF\xBD", "\xEF\xBF\xBD"}};
  for (const Case& c : cases) {
    EXPECT_EQ(Cp932SingleByteToUtf8(c.byte), c.single) << int(c.byte);
    EXPECT_EQ(WidenHalfwidthKatakana(c.byte), c.wide) << int(c.byte);
  }
}

TEST(Cp932Test, DisplayNameKeepsUtf8AndReadsOtherBytesAsCodePage932) {
  const std::pair<std::string, std::string> cases[] = {
      {"café テスト", "café テスト"}, {"\x83\x65\x83\x58", "テス"}, {"\xB1\xDE", "ｱﾞ"},
      {"\xC0\xAF", "ﾀｯ"}, {"\xED\xA0\x80", "恝\xEF\xBF\xBD"},  // an overlong "/", a surrogate
      {"caf\xE9", "caf\xEF\xBF\xBD"}, {"", ""},
  };
  for (const auto& [bytes, shown] : cases) EXPECT_EQ(DisplayName(bytes), shown) << bytes;
}

TEST(TextTest, TerminalSafeShowsControlCharactersButTabAsHex) {
  const std::pair<std::string, std::string> cases[] = {
      {"a\tb é", "a\tb é"},        {"\x1b[31mx\x7f", "\\x1b[31mx\\x7f"},
      {"\x83\x65\xFF", "\x83\x65\xFF"}, {std::string("\0\r\n\x1f ", 5), "\\x00\\x0d\\x0a\\x1f "},
  };
  for (const auto& [text, safe] : cases) EXPECT_EQ(TerminalSafe(text), safe) << safe;
}

}  // namespace
}  // namespace voxtrel
