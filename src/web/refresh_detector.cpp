#include "web/refresh_detector.h"

#include <algorithm>

#include "platform/cp932.h"
#include "platform/text.h"

namespace voxtrel {

void RefreshDetector::Feed(std::string_view chunk) {
  if (decided_ || chunk.empty()) return;
  std::string text;
  if (!pending_lead_.empty()) {
    // The held lead byte and this first byte decode together; when the pair is unmapped and the
    // byte is ASCII, the decoder gives U+FFFD and the byte, which is what decoding them alone
    // gives too.
    text = Cp932ToUtf8(pending_lead_ + chunk[0]);
    pending_lead_.clear();
    chunk.remove_prefix(1);
  }
  // Every lead byte takes the byte after it, or the decoder reads that byte next on its own;
  // either way a character starts two bytes on. Only a lead byte ending the chunk is undecided.
  size_t end = 0;
  while (end < chunk.size()) {
    if (!IsCp932LeadByte(static_cast<unsigned char>(chunk[end]))) {
      ++end;
    } else if (end + 1 < chunk.size()) {
      end += 2;
    } else {
      pending_lead_.assign(1, chunk[end]);
      break;
    }
  }
  text += Cp932ToUtf8(chunk.substr(0, end));
  Scan(std::move(text));
}

void RefreshDetector::Scan(std::string text) {
  std::string window = tail_ + text;
  std::string upper = AsciiUpper(window);
  size_t found = upper.find(kRefreshText);
  if (found != std::string::npos) {
    decided_ = true;
    size_t position =
        chars_before_tail_ + Utf8Length(std::string_view(window).substr(0, found)) + 1;
    refresh_ = position >= kRefreshFirstPosition;
    return;
  }
  // Utf8Length counts lead bytes only, so the counts of two parts split mid-character still add
  // up to the count of the whole.
  size_t keep = std::min(window.size(), kRefreshText.size() - 1);
  chars_before_tail_ += Utf8Length(std::string_view(window).substr(0, window.size() - keep));
  tail_ = window.substr(window.size() - keep);
}

}  // namespace voxtrel
