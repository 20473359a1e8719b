#include "platform/text.h"

#include <cstdint>
#include <cstdio>

namespace voxtrel {

std::string AsciiUpper(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = AsciiUpper(c);
  return out;
}

bool StartsWithNoCase(std::string_view text, std::string_view upper_prefix) {
  if (text.size() < upper_prefix.size()) return false;
  for (size_t i = 0; i < upper_prefix.size(); ++i)
    if (AsciiUpper(text[i]) != upper_prefix[i]) return false;
  return true;
}

bool EndsWithNoCase(std::string_view text, std::string_view upper_suffix) {
  return text.size() >= upper_suffix.size() &&
         StartsWithNoCase(text.substr(text.size() - upper_suffix.size()), upper_suffix);
}

std::string_view TrimBlanks(std::string_view text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && text[begin] == ' ') ++begin;
  while (end > begin && text[end - 1] == ' ') --end;
  return text.substr(begin, end - begin);
}

size_t Utf8Length(std::string_view text) {
  size_t count = 0;
  for (char c : text) {
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++count;
  }
  return count;
}

bool IsValidUtf8(std::string_view text) {
  size_t i = 0;
  while (i < text.size()) {
    const auto b = static_cast<unsigned char>(text[i]);
    const size_t len = b < 0x80                 ? 1
                       : b >= 0xC2 && b <= 0xDF ? 2
                       : b >= 0xE0 && b <= 0xEF ? 3
                       : b >= 0xF0 && b <= 0xF4 ? 4
                                                : 0;
    if (len == 0 || text.size() - i < len) return false;
    uint32_t c = len == 1 ? b : b & (0x7Fu >> len);
    for (size_t k = 1; k < len; ++k) {
      const auto trail = static_cast<unsigned char>(text[i + k]);
      if ((trail & 0xC0) != 0x80) return false;
      c = (c << 6) | (trail & 0x3Fu);
    }
    if ((len == 3 && (c < 0x800 || (c >= 0xD800 && c <= 0xDFFF))) ||
        (len == 4 && (c < 0x10000 || c > 0x10FFFF)))
      return false;
    i += len;
  }
  return true;
}

std::string TerminalSafe(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if ((b < 0x20 && b != '\t') || b == 0x7F) {
      char escaped[5];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", b);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace voxtrel
