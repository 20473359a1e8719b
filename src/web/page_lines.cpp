#include <cstring>

#include "web/page.h"

namespace voxtrel {

// Only CR or CR LF ends a line: pages saved with bare LFs are one long line to the scanner, as
// they always were.
bool PageLines::Next(std::string_view* line) {
  if (pos_ >= text_.size()) return false;
  const char* base = text_.data();
  const void* cr = std::memchr(base + pos_, '\r', text_.size() - pos_);
  const size_t end = cr ? static_cast<size_t>(static_cast<const char*>(cr) - base) : text_.size();
  *line = text_.substr(pos_, end - pos_);
  pos_ = end + 1;
  if (pos_ < text_.size() && text_[pos_] == '\n') ++pos_;
  return true;
}

}  // namespace voxtrel
