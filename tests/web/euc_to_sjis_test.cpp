#include <gtest/gtest.h>
#include <iconv.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/cp932.h"
#include "web/web_check.h"

namespace voxtrel {
namespace {

// glibc's own EUC-JP to code page 932 conversion of one pair; nothing when it refuses the pair.
class IconvOracle {
 public:
  IconvOracle() : cd_(iconv_open("CP932", "EUC-JP")) {}
  ~IconvOracle() {
    if (ok()) iconv_close(cd_);
  }
  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

  bool Convert(const std::string& euc, std::string* sjis) {
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    char out[16];
    char* in_ptr = const_cast<char*>(euc.data());
    size_t in_left = euc.size();
    char* out_ptr = out;
    size_t out_left = sizeof out;
    if (iconv(cd_, &in_ptr, &in_left, &out_ptr, &out_left) == static_cast<size_t>(-1) ||
        in_left != 0) {
      return false;
    }
    sjis->assign(out, static_cast<size_t>(out_ptr - out));
    return true;
  }

 private:
  iconv_t cd_;
};

// The textbook JIS X 0208 row/cell to Shift_JIS mapping, written independently of the code under
// test.
std::string ShiftJisOf(int row, int cell) {
  int s1 = ((row - 1) >> 1) + (row <= 62 ? 0x81 : 0xC1);
  int s2 = (row % 2 == 1) ? cell + 0x3F + (cell >= 64 ? 1 : 0) : cell + 0x9E;
  return {static_cast<char>(s1), static_cast<char>(s2)};
}

// The one character code page 932 assigns to a two-byte code, U+FFFD where it assigns none.
std::string CharacterOf(const std::string& sjis) {
  std::string text = Cp932ToUtf8(sjis);
  return Utf8Length(text) == 1 ? text : "\uFFFD";
}

std::string Hex(const std::string& bytes) {
  std::string out;
  char part[4];
  for (unsigned char b : bytes) {
    std::snprintf(part, sizeof part, "%02X", b);
    out += part;
  }
  return out;
}

TEST(EucToSjisTest, EveryJisPairMatchesTheArithmeticAndMostlyIconv) {
  IconvOracle oracle;
  ASSERT_TRUE(oracle.ok());
  // Where the two differ: iconv gives another character, iconv refuses the pair but the code
  // page has a character at the computed code, or neither has a character.
  std::vector<std::string> other_character, only_ours, neither;
  int agreeing = 0;
  for (int c1 = 0xA1; c1 <= 0xFE; ++c1) {
    for (int c2 = 0xA1; c2 <= 0xFE; ++c2) {
      const std::string euc = {static_cast<char>(c1), static_cast<char>(c2)};
      const std::string sjis = ShiftJisOf(c1 - 0xA0, c2 - 0xA0);
      const std::string ours = EucToSjis(euc);
      // Each pair gives the code page's character of the computed code, whatever iconv says.
      ASSERT_EQ(ours, CharacterOf(sjis)) << Hex(euc);
      std::string converted;
      if (!oracle.Convert(euc, &converted)) {
        (ours == "\uFFFD" ? neither : only_ours)
            .push_back(Hex(euc) + "->" + Hex(sjis) + " " + ours);
      } else if (Cp932ToUtf8(converted) == ours) {
        ++agreeing;
      } else {
        other_character.push_back(Hex(euc) + " iconv " + Hex(converted) + " ours " + Hex(sjis));
      }
    }
  }
  auto print = [](const char* what, const std::vector<std::string>& codes) {
    std::printf("%s: %zu", what, codes.size());
    for (size_t k = 0; k < codes.size() && k < 10; ++k) std::printf("  %s", codes[k].c_str());
    std::printf("%s\n", codes.size() > 10 ? "  ..." : "");
  };
  std::printf("EucToSjis and iconv agree on %d pairs\n", agreeing);
  print("iconv gives another character", other_character);
  print("iconv refuses, code page 932 has a character", only_ours);
  print("neither has a character", neither);
  EXPECT_TRUE(other_character.empty());
  EXPECT_GE(agreeing, 6879);
}

TEST(EucToSjisTest, ShortInputs) {
  struct Case {
    std::string euc;
    std::string text;
  };
  const Case cases[] = {
      {"", ""},
      {"A", "A"},
      {"Hello, <a href=\"http://x/\">\r\nWorld!\r\n",
       "Hello, <a href=\"http://x/\">\r\nWorld!\r\n"},
      {"\xB0\xA1\xA4\xA2", "亜あ"},
      {"\xA1\xA2\xA1\xE0", "、÷"},
      {"\x8E\xB1", "ア"},
      {"\x8E\xDE", "゛"},
      {"\x8E\xB6\x8E\xDE", "カ゛"},
      {"\x8E\xA1\x8E\xA2\x8E\xB0", "。「ー"},
      {"\x41\xB0", "Aｰ"},
      {"\xB1", "ｱ"},
      {"A\xA4\xA2", "Aあ"},
      {"\xA4\xA2\r\n", "あ\r\n"},
      // 0x8F is an ordinary lead byte: it takes the next byte, and the third stands alone.
      {"\x8F\xB0\xA1", "\uFFFD｡"},
      {"\x8E\x41", "A"},
  };
  for (const Case& c : cases) EXPECT_EQ(EucToSjis(c.euc), c.text) << Hex(c.euc);
  EXPECT_EQ(Utf8ToCp932(EucToSjis("\xB0\xA1\xA4\xA2")), "\x88\x9F\x82\xA0");
}

TEST(EucToSjisTest, InvalidPairsGiveOneCharacterEach) {
  // Bytes outside the EUC-JP ranges still form one unit per pair and never lose the next unit.
  for (int c1 = 0x80; c1 <= 0xFF; ++c1) {
    if (c1 == 0x8E) continue;
    for (int c2 = 0; c2 <= 0xFF; ++c2) {
      const std::string euc = {static_cast<char>(c1), static_cast<char>(c2), 'Z'};
      std::string text = EucToSjis(euc);
      ASSERT_EQ(Utf8Length(text), 2u) << Hex(euc);
      ASSERT_EQ(text.back(), 'Z');
    }
  }
}

}  // namespace
}  // namespace voxtrel
