#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "web/link.h"
#include "web/page_encoding.h"

namespace voxtrel {

/// Finds where each link of a page stands in the page's own bytes, links asked in the order
/// the scan meets them. Pages are read decoded, so positions are found again in the bytes as the
/// file holds them: the address written back in the page's encoding, looked for ahead of the
/// links met before, and taken only where it fills an attribute value or a url().
class PlaceFinder {
 public:
  /// `bytes` must outlive the finder. `skip_comments`: a match inside <!-- --> is no link (the
  /// HTML5 parse never sees them; the old rule's line scan does).
  PlaceFinder(std::string_view bytes, PageEncoding encoding, bool skip_comments);
  /// The place of the next link, written as `utf8` in the page; length 0 (and line 0) when no
  /// exact span is found.
  LinkPlace Find(std::string_view utf8);

 private:
  std::string Encoded(std::string_view utf8) const;
  LinkPlace Search(std::string_view needle);
  bool Fits(size_t at, size_t size) const;
  bool InComment(size_t at);
  uint32_t LineAt(size_t at);

  std::string_view bytes_;
  PageEncoding encoding_;
  bool skip_comments_;
  /// Where the search for the next link begins: the start of the tag of the last one found, as
  /// one element's links may come in another order than their attributes.
  size_t from_ = 0;
  /// Matches taken since from_, never given twice.
  std::vector<size_t> taken_;
  size_t counted_ = 0;
  uint32_t line_ = 1;
  size_t comment_checked_ = 0;
  /// Bytes read by searches that found nothing.
  size_t missed_ = 0;
};

}  // namespace voxtrel
