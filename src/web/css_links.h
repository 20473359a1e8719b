#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "web/page_encoding.h"

namespace voxtrel {

/// A link a style sheet makes a browser fetch: a url() or an @import.
struct CssLink {
  /// The address with CSS escapes decoded and blanks trimmed at both ends.
  std::string written;
  /// The property whose value holds it ("background-image", "src"), "@import", or "url" when
  /// it stands outside any declaration.
  std::string name;
  /// Named by @import: another style sheet, whose own links count too.
  bool import = false;
};

/// The links of a style sheet's text (UTF-8), of a <style> element or of a style="" attribute,
/// in the order written. Comments and strings hide nothing; a url() a browser would reject (a
/// blank or quote inside an unquoted one), an empty one, one that is only a "#fragment" (an
/// element of the document using the sheet, never fetched) and that of @namespace are left out.
std::vector<CssLink> FindCssLinks(std::string_view css);

class CssReader;

/// The same links one at a time, so that a huge sheet never has all its links in memory at
/// once. `css` must outlive the reader.
class CssLinkReader {
 public:
  explicit CssLinkReader(std::string_view css);
  CssLinkReader(CssLinkReader&&) noexcept;
  CssLinkReader& operator=(CssLinkReader&&) noexcept;
  ~CssLinkReader();
  /// Replaces *link with the next link; false once the text is done.
  bool Next(CssLink* link);

 private:
  std::unique_ptr<CssReader> reader_;
};

/// A style sheet's bytes as UTF-8: read as its UTF-8 byte order mark or its leading
/// @charset "…"; rule says, else in `linking_page` (the encoding of the page that uses it).
std::string StyleSheetText(std::string_view bytes, PageEncoding linking_page);

}  // namespace voxtrel
