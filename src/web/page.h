#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "web/page_encoding.h"

namespace voxtrel {

/// Where a page's bytes came from; a fetched page keeps a server's line ends, so a line feed
/// alone ends its lines too.
enum class PageOrigin { kFile, kWeb };

/// A page as read from the disk or fetched: where from, its bytes as they came, and the charset
/// its server named (a fetched page's Content-Type; never for a file).
struct PageSource {
  std::string source;  // the path, or the address
  std::string bytes;
  std::optional<std::string> charset;
  PageOrigin origin = PageOrigin::kFile;
};

/// How a page's text is held: the Shift_JIS bytes the old pages are read in, or UTF-8.
enum class TextForm { kShiftJis, kUtf8 };

/// A page decoded for reading, in memory.
struct PageText {
  std::string source;
  std::string text;
  TextForm form = TextForm::kShiftJis;
  /// What the bytes were read as, which the page's style sheets are read as too by default.
  PageEncoding encoding = PageEncoding::kShiftJis;
  /// The bytes as they came when `text` is not them (converted, a byte order mark dropped, line
  /// feeds expanded); else empty, `text` being those bytes.
  std::string bytes;
};

/// The most bytes of a fetched page read for its links; a local page is read whole.
inline constexpr size_t kPageCap = size_t{64} << 20;

/// Whether `name` ends in .htm, .html, .shtm or .shtml, in any letter case.
bool IsHtmlFileName(std::string_view name);

/// Decides the page's encoding and converts it: EUC-JP to Shift_JIS bytes, ISO-2022-JP to UTF-8,
/// UTF-8 without its byte order mark, Shift_JIS as it is.
PageText DecodePage(PageSource page);

/// The page's text as UTF-8, whatever form it is held in.
std::string Utf8Text(const PageText& page);

/// Whether the page, read line by line as code page 932 text, declares "CHARSET=EUC-JP" in any
/// letter case.
bool DeclaresEucJp(std::string_view bytes);

/// The lines of a page's text as the scanner reads them: a CR or a CR LF ends a line, a bare LF
/// does not. Lines are views into the text.
class PageLines {
 public:
  explicit PageLines(std::string_view text) : text_(text) {}
  /// The next line without its end; false after the last.
  bool Next(std::string_view* line);

 private:
  std::string_view text_;
  size_t pos_ = 0;
};

}  // namespace voxtrel
