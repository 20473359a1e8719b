#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace voxtrel {

/// "REFRESH", a double quote and " CONTENT=": the usual meta refresh declaration.
inline constexpr std::string_view kRefreshText = "REFRESH\" CONTENT=";
/// The first character position (from 1) at which kRefreshText counts.
inline constexpr size_t kRefreshFirstPosition = 11;

/// Feeds a body's bytes in chunks; tells whether the body, read as code page 932 text, is a
/// refresh page (the first kRefreshText in any letter case at character 11 or later). Keeps a
/// few bytes only, whatever the body's length.
class RefreshDetector {
 public:
  /// Takes the next bytes of the body; does nothing once decided.
  void Feed(std::string_view chunk);
  /// The answer for all bytes fed so far.
  bool IsRefresh() const { return refresh_; }
  /// True once the first occurrence was seen: later bytes cannot change the answer.
  bool Decided() const { return decided_; }

 private:
  /// Looks for the text in what was kept plus `text`, decoded text that ends on a character.
  void Scan(std::string text);

  bool decided_ = false;
  bool refresh_ = false;
  /// A lead byte that ended the last chunk: its character needs the next chunk's first byte.
  std::string pending_lead_;
  /// The last decoded bytes, too few to hold the text, in case it runs on into the next chunk.
  std::string tail_;
  size_t chars_before_tail_ = 0;
};

}  // namespace voxtrel
