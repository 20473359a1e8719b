#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace voxtrel {

/// Pages longer than this are parsed a segment at a time, so one parse tree stays small and a
/// stop asked for during a long page waits for one segment's parse only (a tenth of a second).
inline constexpr size_t kHtmlSegmentBytes = size_t{1} << 20;

/// The longest link name, in bytes; longer names are cut at a character boundary.
inline constexpr size_t kHtmlNameCap = 1024;

/// A link as a browser finds it in a page.
struct HtmlLink {
  /// The attribute value with entities decoded and ASCII whitespace trimmed at both ends.
  std::string written;
  /// The link text of a/area (else the alt of an image inside, else 画像 or ""), the alt of an
  /// img (else 画像), the rel of a link, the tag name of any other element; for a link of a
  /// style sheet inside the page, its CssLink name ("background", "@import").
  std::string name;
  /// The lower-case tag name: "a", "img", ...; "style" for the links of a <style> element's
  /// text and of style="" attributes, which follow the element's other links.
  std::string element;
  /// The attribute value as the page writes it (references kept, trimmed); empty when it is
  /// the same as `written` or a part of a value (srcset, style sheets).
  std::string as_written;
};

/// What a page holds for link checking.
struct HtmlLinks {
  /// The links in document order; within one element, in a fixed order of its attributes.
  std::vector<HtmlLink> links;
  /// The trimmed href of the first <base> that has one.
  std::optional<std::string> base;
  /// Every non-empty id of any element and name of an <a>, in document order, duplicates kept.
  std::vector<std::string> anchors;
};

/// Whether the link names a style sheet, whose own links a browser follows too: a link with
/// rel "stylesheet" (among other words), or an @import of a style sheet inside the page.
bool IsStyleSheetLink(const HtmlLink& link);

/// The links a browser would follow in a page's decoded text, read by an HTML5 parser. Invalid
/// UTF-8 reads as U+FFFD. Pages longer than `segment_bytes` are parsed in segments cut between
/// tags where possible, which can misread markup that spans a cut.
HtmlLinks FindHtmlLinks(std::string_view utf8_text, size_t segment_bytes = kHtmlSegmentBytes);

/// The same findings a segment at a time, so that a huge page never has all its links in memory
/// at once. `utf8_text` must outlive the reader.
class HtmlLinkReader {
 public:
  explicit HtmlLinkReader(std::string_view utf8_text, size_t segment_bytes = kHtmlSegmentBytes);
  /// Replaces *out with the next segment's links and anchors; its base is the page's first, set
  /// only in the segment that holds it. False once the text is done.
  bool Next(HtmlLinks* out);

 private:
  std::string_view rest_;
  size_t segment_bytes_;
  bool base_seen_ = false;
};

}  // namespace voxtrel
