#include "platform/cp932.h"

#include <iconv.h>

#include <array>
#include <cstdint>
#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/text.h"

namespace voxtrel {
namespace {

constexpr char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD

// Full-width forms of 0xA1-0xDF in code order; the sound marks become the spacing ゛ and ゜,
// never the combining ones, so each half-width character widens on its own.
constexpr const char* kWideKana[63] = {
    "。", "「", "」", "、", "・", "ヲ", "ァ", "ィ", "ゥ", "ェ", "ォ", "ャ", "ュ", "ョ", "ッ", "ー",
    "ア", "イ", "ウ", "エ", "オ", "カ", "キ", "ク", "ケ", "コ", "サ", "シ", "ス", "セ", "ソ", "タ",
    "チ", "ツ", "テ", "ト", "ナ", "ニ", "ヌ", "ネ", "ノ", "ハ", "ヒ", "フ", "ヘ", "ホ", "マ", "ミ",
    "ム", "メ", "モ", "ヤ", "ユ", "ヨ", "ラ", "リ", "ル", "レ", "ロ", "ワ", "ン", "゛", "゜"};

bool IsLeadByte(unsigned char b) { return IsCp932LeadByte(b); }

// One UTF-8 sequence of at most 4 bytes; len 0 means "not mapped".
struct Utf8Char {
  std::array<char, 4> bytes{};
  unsigned char len = 0;
};

Utf8Char IconvOne(iconv_t cd, const char* in, size_t in_len) {
  Utf8Char out;
  char buffer[16];
  char* in_ptr = const_cast<char*>(in);
  size_t in_left = in_len;
  char* out_ptr = buffer;
  size_t out_left = sizeof(buffer);
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  size_t rc = iconv(cd, &in_ptr, &in_left, &out_ptr, &out_left);
  size_t produced = sizeof(buffer) - out_left;
  if (rc == static_cast<size_t>(-1) || in_left != 0 || produced == 0 || produced > 4) return out;
  std::memcpy(out.bytes.data(), buffer, produced);
  out.len = static_cast<unsigned char>(produced);
  return out;
}

// The whole decoding table, built once from glibc's CP932 so that every double-byte code agrees
// with it; a table lookup keeps page scanning far faster than calling iconv per line.
struct DecodeTable {
  std::array<Utf8Char, 256> single;
  std::vector<Utf8Char> pairs;  // index (lead << 8) | trail

  DecodeTable() : pairs(65536) {
    iconv_t cd = iconv_open("UTF-8", "CP932");
    for (int b = 0; b < 256; ++b) {
      if (b < 0x80) {
        single[b].bytes[0] = static_cast<char>(b);
        single[b].len = 1;
      } else if (!IsLeadByte(static_cast<unsigned char>(b)) && cd != reinterpret_cast<iconv_t>(-1)) {
        char in = static_cast<char>(b);
        single[b] = IconvOne(cd, &in, 1);
      }
    }
    if (cd == reinterpret_cast<iconv_t>(-1)) return;
    for (int lead = 0x81; lead <= 0xFC; ++lead) {
      if (!IsLeadByte(static_cast<unsigned char>(lead))) continue;
      for (int trail = 0x40; trail <= 0xFC; ++trail) {
        if (trail == 0x7F) continue;
        char in[2] = {static_cast<char>(lead), static_cast<char>(trail)};
        pairs[(lead << 8) | trail] = IconvOne(cd, in, 2);
      }
    }
    iconv_close(cd);
  }
};

const DecodeTable& Table() {
  static const DecodeTable table;
  return table;
}

void Append(std::string& out, const Utf8Char& c) {
  if (c.len == 0) {
    out.append(kReplacement, 3);
  } else {
    out.append(c.bytes.data(), c.len);
  }
}

// Length of the UTF-8 sequence starting at text[i], or 0 when it is not a valid sequence.
size_t Utf8SequenceLength(std::string_view text, size_t i) {
  unsigned char b = static_cast<unsigned char>(text[i]);
  size_t len = b < 0x80 ? 1 : (b >> 5) == 0x6 ? 2 : (b >> 4) == 0xE ? 3 : (b >> 3) == 0x1E ? 4 : 0;
  if (len == 0 || i + len > text.size()) return 0;
  for (size_t k = 1; k < len; ++k) {
    if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return 0;
  }
  return len;
}

}  // namespace

bool IsCp932LeadByte(unsigned char byte) {
  return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

std::string Cp932ToUtf8(std::string_view bytes) {
  const DecodeTable& table = Table();
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 2);
  size_t i = 0;
  const size_t n = bytes.size();
  while (i < n) {
    // Runs of ASCII are the bulk of any HTML page; copy them in one go.
    size_t run = i;
    while (run < n && static_cast<unsigned char>(bytes[run]) < 0x80) ++run;
    if (run > i) {
      out.append(bytes.data() + i, run - i);
      i = run;
      if (i >= n) break;
    }
    unsigned char b = static_cast<unsigned char>(bytes[i]);
    if (!IsLeadByte(b)) {
      Append(out, table.single[b]);
      ++i;
      continue;
    }
    if (i + 1 >= n) {
      out.append(kReplacement, 3);
      ++i;
      continue;
    }
    unsigned char t = static_cast<unsigned char>(bytes[i + 1]);
    const Utf8Char& c = table.pairs[(b << 8) | t];
    if (c.len != 0) {
      Append(out, c);
      i += 2;
    } else {
      out.append(kReplacement, 3);
      // An ASCII byte after a broken lead byte is kept as itself: it may be a quote or a '>'.
      i += t < 0x80 ? 1 : 2;
    }
  }
  return out;
}

namespace {

// Code page 932 bytes of every BMP character, asked of glibc once: two bytes as (lead << 8) |
// trail, one byte as its value, 0 for "not encodable". Reports and work files are encoded
// character by character, and one iconv call per character made EUC-JP pages crawl.
struct EncodeTable {
  std::vector<uint16_t> bmp;

  EncodeTable() : bmp(0x10000, 0) {
    for (int c = 0; c < 0x80; ++c) bmp[c] = static_cast<uint16_t>(c);
    iconv_t cd = iconv_open("CP932", "UTF-32LE");
    if (cd == reinterpret_cast<iconv_t>(-1)) return;
    for (uint32_t c = 0x80; c < 0x10000; ++c) {
      if (c >= 0xD800 && c <= 0xDFFF) continue;
      char in[4] = {static_cast<char>(c & 0xFF), static_cast<char>((c >> 8) & 0xFF), 0, 0};
      char buffer[8];
      char* in_ptr = in;
      size_t in_left = sizeof(in);
      char* out_ptr = buffer;
      size_t out_left = sizeof(buffer);
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
      size_t rc = iconv(cd, &in_ptr, &in_left, &out_ptr, &out_left);
      size_t produced = sizeof(buffer) - out_left;
      if (rc == static_cast<size_t>(-1) || in_left != 0) continue;
      if (produced == 1 && buffer[0] != 0) {
        bmp[c] = static_cast<unsigned char>(buffer[0]);
      } else if (produced == 2) {
        bmp[c] = static_cast<uint16_t>((static_cast<unsigned char>(buffer[0]) << 8) |
                                       static_cast<unsigned char>(buffer[1]));
      }
    }
    iconv_close(cd);
  }
};

const EncodeTable& Encoder() {
  static const EncodeTable table;
  return table;
}

}  // namespace

std::string Utf8ToCp932(std::string_view utf8) {
  size_t first_non_ascii = 0;
  while (first_non_ascii < utf8.size() && static_cast<unsigned char>(utf8[first_non_ascii]) < 0x80)
    ++first_non_ascii;
  if (first_non_ascii == utf8.size()) return std::string(utf8);

  const std::vector<uint16_t>& bmp = Encoder().bmp;
  std::string out(utf8.substr(0, first_non_ascii));
  out.reserve(utf8.size());
  size_t i = first_non_ascii;
  while (i < utf8.size()) {
    unsigned char b = static_cast<unsigned char>(utf8[i]);
    if (b < 0x80) {
      out.push_back(static_cast<char>(b));
      ++i;
      continue;
    }
    size_t len = Utf8SequenceLength(utf8, i);
    if (len < 2 || len > 3) {
      // Invalid UTF-8, or a character beyond the BMP, which the code page has none of.
      out.push_back('?');
      i += len == 0 ? 1 : len;
      continue;
    }
    uint32_t c = len == 2 ? ((b & 0x1Fu) << 6) | (static_cast<unsigned char>(utf8[i + 1]) & 0x3Fu)
                          : ((b & 0x0Fu) << 12) |
                                ((static_cast<unsigned char>(utf8[i + 1]) & 0x3Fu) << 6) |
                                (static_cast<unsigned char>(utf8[i + 2]) & 0x3Fu);
    // Overlong forms are invalid UTF-8, not a second spelling of an ASCII character.
    bool overlong = (len == 2 && c < 0x80) || (len == 3 && c < 0x800);
    uint16_t code = overlong ? 0 : bmp[c];
    if (code == 0) {
      out.push_back('?');
    } else if (code < 0x100) {
      out.push_back(static_cast<char>(code));
    } else {
      out.push_back(static_cast<char>(code >> 8));
      out.push_back(static_cast<char>(code & 0xFF));
    }
    i += len;
  }
  return out;
}

std::string Cp932SingleByteToUtf8(unsigned char byte) {
  std::string out;
  Append(out, Table().single[byte]);
  return out;
}

std::string WidenHalfwidthKatakana(unsigned char byte) {
  if (byte >= 0xA1 && byte <= 0xDF) return kWideKana[byte - 0xA1];
  return Cp932SingleByteToUtf8(byte);
}

std::string DisplayName(std::string_view bytes) {
  // Names made on Linux are UTF-8; names copied from a Japanese Windows disk keep their code
  // page 932 bytes. Valid UTF-8 is taken to be UTF-8: a Shift_JIS name rarely is.
  return IsValidUtf8(bytes) ? std::string(bytes) : Cp932ToUtf8(bytes);
}

}  // namespace voxtrel
