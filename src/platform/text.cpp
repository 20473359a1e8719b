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

size_t Utf8SequenceLength(const unsigned char* p, size_t left) {
  const unsigned char b = p[0];
  if (b < 0x80) return 1;
  size_t len = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (b >= 0xC2 && b <= 0xDF) {
    len = 2;
  } else if (b >= 0xE0 && b <= 0xEF) {
    len = 3;
    if (b == 0xE0) low = 0xA0;
    if (b == 0xED) high = 0x9F;
  } else if (b >= 0xF0 && b <= 0xF4) {
    len = 4;
    if (b == 0xF0) low = 0x90;
    if (b == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (left < len || p[1] < low || p[1] > high) return 0;
  for (size_t k = 2; k < len; ++k) {
    if ((p[k] & 0xC0) != 0x80) return 0;
  }
  return len;
}

bool IsValidUtf8(std::string_view text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  for (size_t i = 0, len = 0; i < text.size(); i += len)
    if ((len = Utf8SequenceLength(p + i, text.size() - i)) == 0) return false;
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

void AppendUtf8(char32_t code, std::string* out) {
  if ((code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) code = 0xFFFD;
  if (code < 0x80) {
    *out += static_cast<char>(code);
    return;
  }
  const int extra = code < 0x800 ? 1 : code < 0x10000 ? 2 : 3;
  static constexpr unsigned char kLead[] = {0, 0xC0, 0xE0, 0xF0};
  *out += static_cast<char>(kLead[extra] | (code >> (6 * extra)));
  for (int i = extra - 1; i >= 0; --i) *out += static_cast<char>(0x80 | ((code >> (6 * i)) & 0x3F));
}

std::string LocalTimeText(std::time_t now, const char* format) {
  std::tm local{};
  localtime_r(&now, &local);
  char text[64];
  const size_t length = std::strftime(text, sizeof text, format, &local);
  return std::string(text, length);
}

namespace {

// A status of three digits, 100-999, into *status.
bool ReadStatus(std::string_view text, int* status) {
  if (text.size() != 3 || text[0] < '1' || text[0] > '9') return false;
  *status = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    *status = *status * 10 + (c - '0');
  }
  return true;
}

}  // namespace

bool ParseStatusRanges(std::string_view list, std::vector<std::pair<int, int>>* ranges) {
  std::vector<std::pair<int, int>> read;
  while (true) {
    const size_t comma = list.find(',');
    const std::string_view item = list.substr(0, comma);
    const size_t dots = item.find("..");
    int low = 0;
    int high = 0;
    if (!ReadStatus(item.substr(0, dots), &low)) return false;
    if (dots == std::string_view::npos) {
      high = low;
    } else if (!ReadStatus(item.substr(dots + 2), &high) || high < low) {
      return false;
    }
    read.emplace_back(low, high);
    if (comma == std::string_view::npos) break;
    list.remove_prefix(comma + 1);
  }
  *ranges = std::move(read);
  return true;
}

std::string Fill(std::string_view pattern, std::initializer_list<std::string> values) {
  std::string text;
  for (size_t i = 0; i < pattern.size(); ++i) {
    const size_t n = i + 2 < pattern.size() && pattern[i] == '{' && pattern[i + 2] == '}'
                         ? static_cast<size_t>(pattern[i + 1] - '1')
                         : values.size();
    if (n < values.size()) {
      text += values.begin()[n];
      i += 2;
    } else {
      text += pattern[i];
    }
  }
  return text;
}

bool MatchesStars(std::string_view pattern, std::string_view text) {
  size_t p = 0, t = 0, star = std::string_view::npos, resume = 0;
  while (t < text.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      resume = t;
    } else if (p < pattern.size() && pattern[p] == text[t]) {
      ++p;
      ++t;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      t = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

}  // namespace voxtrel
