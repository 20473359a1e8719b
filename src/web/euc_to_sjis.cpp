#include <array>
#include <cstdint>
#include <cstring>

#include "platform/cp932.h"
#include "platform/text.h"
#include "web/euc_to_sjis.h"

namespace voxtrel {
namespace {

// One output character as Shift_JIS bytes (a character the code page lacks is "?").
struct Utf8Char {
  uint8_t size = 0;
  char bytes[4] = {};
};

Utf8Char MakeChar(const std::string& utf8) {
  Utf8Char c;
  c.size = static_cast<uint8_t>(utf8.size() <= 4 ? utf8.size() : 0);
  if (c.size) std::memcpy(c.bytes, utf8.data(), c.size);
  return c;
}

constexpr const char* kReplacement = "\xEF\xBF\xBD";  // U+FFFD

// The character code page 932 assigns to the two-byte code (lead, trail); U+FFFD where it assigns
// none (lead bytes outside the double-byte ranges give two characters or a replacement).
std::string DecodePair(unsigned char lead, unsigned char trail) {
  const char bytes[2] = {static_cast<char>(lead), static_cast<char>(trail)};
  std::string utf8 = Cp932ToUtf8(std::string_view(bytes, 2));
  if (utf8.empty() || Utf8Length(utf8) != 1) return kReplacement;
  return utf8;
}

// The Shift_JIS bytes of every pair, indexed by its JIS row and cell bytes (the lead and trail byte without
// their high bit): the arithmetic only looks at those, so 128 x 128 entries cover every input.
// Built once; a code-page lookup per pair would cost far more than the conversion itself.
struct Tables {
  std::array<Utf8Char, 128 * 128> pairs;
  std::array<Utf8Char, 256> widened;
  std::array<Utf8Char, 256> single;

  Tables() {
    for (int j1 = 0; j1 < 128; ++j1) {
      for (int j2 = 0; j2 < 128; ++j2) {
        int t = j2 + ((j1 & 1) ? 0x1F : 0x7D);
        if (t >= 0x7F) ++t;
        int l = (j1 - 0x21) / 2 + 0x81;  // truncates toward zero, as the arithmetic demands
        if (l > 0x9F) l += 0x40;
        pairs[static_cast<size_t>(j1 * 128 + j2)] = MakeChar(
            Utf8ToCp932(DecodePair(static_cast<unsigned char>(l), static_cast<unsigned char>(t))));
      }
    }
    for (int b = 0; b < 256; ++b) {
      widened[static_cast<size_t>(b)] =
          MakeChar(Utf8ToCp932(WidenHalfwidthKatakana(static_cast<unsigned char>(b))));
      single[static_cast<size_t>(b)] =
          MakeChar(Utf8ToCp932(Cp932SingleByteToUtf8(static_cast<unsigned char>(b))));
    }
  }
};

const Tables& GetTables() {
  static const Tables tables;
  return tables;
}

inline char* Put(char* out, const Utf8Char& c) {
  std::memcpy(out, c.bytes, 4);
  return out + c.size;
}

}  // namespace

std::string EucToSjis(std::string_view bytes) {
  const Tables& tables = GetTables();
  const auto* in = reinterpret_cast<const unsigned char*>(bytes.data());
  const size_t n = bytes.size();
  // Every unit gives at most two output bytes per input byte, plus the padding Put writes.
  std::string out(n * 2 + 4, '\0');
  char* dst = out.data();
  size_t i = 0;
  while (i + 1 < n) {
    unsigned char c1 = in[i];
    if (c1 < 0x80) {
      *dst++ = static_cast<char>(c1);
      ++i;
    } else if (c1 == 0x8E) {
      dst = Put(dst, tables.widened[in[i + 1]]);
      i += 2;
    } else {
      dst = Put(dst, tables.pairs[(static_cast<size_t>(c1 & 0x7F) << 7) | (in[i + 1] & 0x7F)]);
      i += 2;
    }
  }
  // A last byte left over stands alone and is not widened.
  if (i + 1 == n) dst = Put(dst, tables.single[in[i]]);
  out.resize(static_cast<size_t>(dst - out.data()));
  return out;
}

}  // namespace voxtrel
