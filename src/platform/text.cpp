#include "platform/text.h"

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

}  // namespace voxtrel
