#include "platform/cp932.h"

#include <gtest/gtest.h>

#include <string>

namespace voxtrel {
namespace {

TEST(Cp932Test, DecodesAsciiKanaAndDoubleByteCharacters) {
  struct Case {
    std::string bytes;
    std::string utf8;
  } cases[] = {
      {"", ""},
      {"abc <A HREF=\"x\">\r\n", "abc <A HREF=\"x\">\r\n"},
      {"\x88\x9F\x82\xA0", "亜あ"},
      {"\xB1\xB6\xDE", "ｱｶﾞ"},
      // ォ is 83 48: its second byte is an ASCII "H" but it stays part of the character.
      {"\x83\x48REF=", "ォREF="},
      {"\x81\x80", "÷"},
      {"\x87\x40", "①"},  // NEC special row
      {"\xFA\x40", "ⅰ"},   // IBM extension
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Cp932ToUtf8(c.bytes), c.utf8) << c.utf8;
  }
}

TEST(Cp932Test, InvalidBytesBecomeReplacementAndDecodingGoesOn) {
  const std::string fffd = "\xEF\xBF\xBD";
  EXPECT_EQ(Cp932ToUtf8("a\x80" "b"), "a" + fffd + "b");
  EXPECT_EQ(Cp932ToUtf8("a\xFF"), "a" + fffd);
  // A lead byte at the very end, and one followed by an ASCII quote that must survive.
  EXPECT_EQ(Cp932ToUtf8("a\x88"), "a" + fffd);
  EXPECT_EQ(Cp932ToUtf8("\x88\"x"), fffd + "\"x");
  EXPECT_EQ(Cp932ToUtf8("\x88\r\n"), fffd + "\r\n");
}

TEST(Cp932Test, EncodesAndUnencodableCharactersBecomeQuestionMarks) {
  EXPECT_EQ(Utf8ToCp932("plain ascii"), "plain ascii");
  EXPECT_EQ(Utf8ToCp932("亜あｱ"), "\x88\x9F\x82\xA0\xB1");
  EXPECT_EQ(Utf8ToCp932("a😀b"), "a?b");
  EXPECT_EQ(Utf8ToCp932("é"), "?");
  EXPECT_EQ(Utf8ToCp932("x\xFFy"), "x?y");  // invalid UTF-8
  EXPECT_EQ(Utf8ToCp932("\xE0\x81\x81\xC1\x81"), "??");  // overlong spellings of "A"
  EXPECT_EQ(Utf8ToCp932("\xED\xA0\x80"), "?");  // a surrogate
  EXPECT_EQ(Utf8ToCp932("\xEF\xBD\xB1\xEF\xBF\xBD"), "\xB1?");  // ｱ, then U+FFFD
  EXPECT_EQ(Utf8ToCp932("中文\xE4"), "\x92\x86\x95\xB6?");
}

TEST(Cp932Test, RoundTripKeepsEveryNonDuplicateDoubleByteCode) {
  int round_trips = 0;
  // The NEC row 0x87 repeats a few symbols of row 0x81; encoding picks the latter.
  for (int lead = 0x81; lead <= 0x9F; ++lead) {
    if (lead == 0x87) continue;
    for (int trail = 0x40; trail <= 0xFC; ++trail) {
      if (trail == 0x7F) continue;
      std::string bytes{static_cast<char>(lead), static_cast<char>(trail)};
      std::string text = Cp932ToUtf8(bytes);
      if (text.find("\xEF\xBF\xBD") != std::string::npos) continue;
      EXPECT_EQ(Utf8ToCp932(text), bytes) << std::hex << lead << " " << trail;
      ++round_trips;
    }
  }
  EXPECT_GT(round_trips, 4000);
}

TEST(Cp932Test, WidensAllSixtyThreeHalfWidthCharacters) {
  EXPECT_EQ(WidenHalfwidthKatakana(0xA1), "。");
  EXPECT_EQ(WidenHalfwidthKatakana(0xA2), "「");
  EXPECT_EQ(WidenHalfwidthKatakana(0xB0), "ー");
  EXPECT_EQ(WidenHalfwidthKatakana(0xB1), "ア");
  EXPECT_EQ(WidenHalfwidthKatakana(0xB6), "カ");
  EXPECT_EQ(WidenHalfwidthKatakana(0xDD), "ン");
  EXPECT_EQ(WidenHalfwidthKatakana(0xDE), "゛");  // U+309B, not the combining U+3099
  EXPECT_EQ(WidenHalfwidthKatakana(0xDF), "゜");
  EXPECT_EQ(WidenHalfwidthKatakana('A'), "A");
  // Every widened form is a single full-width character that the code page can hold, and
  // the table follows the half-width order (checked through the code page's own ordering of
  // katakana for the plain letters).
  for (int b = 0xA1; b <= 0xDF; ++b) {
    std::string wide = WidenHalfwidthKatakana(static_cast<unsigned char>(b));
    EXPECT_EQ(Utf8Length(wide), 1u) << b;
    EXPECT_EQ(Utf8ToCp932(wide).size(), 2u) << b;
    EXPECT_NE(wide, Cp932SingleByteToUtf8(static_cast<unsigned char>(b)));
  }
  EXPECT_EQ(Cp932SingleByteToUtf8(0xB0), "ｰ");
}

TEST(Cp932Test, TextHelpersTouchOnlyAsciiAndBlanks) {
  EXPECT_EQ(AsciiUpper("href=\"http://ä\""), "HREF=\"HTTP://ä\"");
  EXPECT_EQ(TrimBlanks("  a b \t "), "a b \t");
  EXPECT_EQ(TrimBlanks("   "), "");
  EXPECT_EQ(Utf8Length("aあ亜"), 3u);
}

}  // namespace
}  // namespace voxtrel
