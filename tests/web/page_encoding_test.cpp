#include "web/page_encoding.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace voxtrel {
namespace {

using Charset = std::optional<std::string>;
constexpr PageEncoding kSjis = PageEncoding::kShiftJis;
constexpr PageEncoding kEuc = PageEncoding::kEucJp;
constexpr PageEncoding kUtf8 = PageEncoding::kUtf8;
constexpr PageEncoding kJis = PageEncoding::kIso2022Jp;

TEST(PageEncodingTest, DecisionRulesApplyInOrder) {
  const std::string bom = "\xEF\xBB\xBF";
  const std::string utf8_body = "<p>日本</p>";
  const std::string sjis_body = "<p>\x93\xFA\x96\x7B</p>";  // 日本
  struct Case {
    std::string page;
    bool euc_test;
    Charset http;
    PageEncoding expected;
  } const cases[] = {
      {bom + utf8_body, true, std::nullopt, kEuc},
      {"<meta charset=utf-8>" + utf8_body, true, "UTF-8", kEuc},
      {bom + "<meta charset=Shift_JIS>" + utf8_body, false, "Shift_JIS", kUtf8},
      {"<meta charset=utf-8>" + utf8_body, false, "EUC-JP", kEuc},
      {"<meta charset=utf-8>" + sjis_body, false, "koi8-r", kSjis},
      {"<meta charset=Shift_JIS>" + utf8_body, false, std::nullopt, kSjis},
      {"<meta charset=x-unknown>" + utf8_body, false, std::nullopt, kSjis},
      {"<meta charset=iso-2022-jp>", false, std::nullopt, kJis},
      {utf8_body, false, std::nullopt, kUtf8}, {sjis_body, false, std::nullopt, kSjis},
      {"<p>ascii only</p>", false, std::nullopt, kSjis},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DecidePageEncoding(c.page, c.euc_test, c.http), c.expected) << c.page;
  }
}

TEST(PageEncodingTest, NamesAnyCaseWithBlanksTrimmed) {
  const struct {
    const char* name;
    PageEncoding expected;
  } cases[] = {
      {"Shift_JIS", kSjis},   {"SHIFT-JIS", kSjis}, {"x-sjis", kSjis},   {" sjis ", kSjis},
      {"Windows-31J", kSjis}, {"cp932", kSjis},     {"MS_Kanji", kSjis}, {"euc-jp", kEuc},
      {"X-EUC-JP", kEuc},     {"utf-8", kUtf8},     {"UTF8", kUtf8},     {"iso-2022-JP", kJis},
      {"utf-16", kSjis},      {"", kSjis},          {"\tutf-8", kSjis},
  };
  for (const auto& c : cases) EXPECT_EQ(EncodingForName(c.name), c.expected) << c.name;
}

TEST(PageEncodingTest, DeclarationIsFirstCharsetInMetaTagReadAsCodePage932) {
  const std::string tsu = "\x83";  // with a following "c", the code of ツ
  const struct {
    std::string page;
    Charset expected;
  } cases[] = {
      {"<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; Charset=euc-jp\">", "euc-jp"},
      {"<meta\r\ncharset = 'sjis'/>", "sjis"}, {"<meta charset =\"x-euc-jp\" >", "x-euc-jp"},
      {"<meta content=\"charset=a;b\"><meta charset=c>", "a"},
      {"<meta name=x><p>charset=utf-8</p><meta charset=euc-jp>", "euc-jp"},
      {"<meta charset=utf-8", "utf-8"}, {"<meta charset=>", ""},
      {"<p>charset=utf-8</p><metadata charset=utf-8>", std::nullopt},
      // ツ takes the "c", so the first tag declares nothing.
      {"<meta content=\"" + tsu + "charset=UTF-8\"><meta charset=EUC-JP>", "EUC-JP"},
      {"<meta content=\"" + tsu + "charset=UTF-8\">", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(DeclaredCharset(c.page), c.expected) << c.page;
}

TEST(PageEncodingTest, CharsetParameterOfContentType) {
  const struct {
    const char* header;
    Charset expected;
  } cases[] = {
      {"text/html; charset=Shift_JIS", "Shift_JIS"}, {"text/html;CHARSET=\"utf-8\"", "utf-8"},
      {"text/html ; charset = 'EUC-JP' ; q=1", "EUC-JP"},
      {"text/html; x=\"a;charset=b\"; charset=utf-8", "utf-8"},
      {"text/html; x=\"a\\\";charset=b\"; charset=utf-8", "utf-8"},  // an escaped quote
      {"text/html; x-charset=utf-8", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(CharsetOfContentType(c.header), c.expected) << c.header;
}

TEST(PageEncodingTest, Utf8ValidityAndSanitising) {
  const struct {
    std::string bytes;
    bool multibyte;
    std::string sanitised;
  } cases[] = {
      {"日本\xF0\x9F\x98\x80", true, "日本\xF0\x9F\x98\x80"}, {"a\xFFz", false, "a\uFFFDz"},
      {"\xC0\xAF", false, "\uFFFD\uFFFD"},            // overlong "/"
      {"\xED\xA0\x80", false, "\uFFFD\uFFFD\uFFFD"},  // surrogate
      {"本\xE3\x81", false, "本\uFFFD\uFFFD"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsUtf8WithMultibyte(c.bytes), c.multibyte) << c.bytes;
    EXPECT_EQ(ValidUtf8(c.bytes), c.sanitised);
  }
}

TEST(PageEncodingTest, Iso2022JpDecodesAndReplacesInvalidUnits) {
  const struct {
    std::string bytes;
    std::string text;
  } cases[] = {
      {"\x1B$BF|K\\8l\x1B(B", "日本語"},
      {"\x1B$B:#F|$ONI$$E75$$G$9!#\x1B(B\r\nABC", "今日は良い天気です。\r\nABC"},
      // Row 9 is unassigned; the pair goes as one unit and the next pair still reads.
      {"\x1B$B)!F|\x1B(Ba\x80z", "\uFFFD日a\uFFFDz"}, {"\x1B$BF", "\uFFFD"},
  };
  for (const auto& c : cases) EXPECT_EQ(Iso2022JpToUtf8(c.bytes), c.text);
}

}  // namespace
}  // namespace voxtrel
