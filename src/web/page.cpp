#include <cstring>
#include <string_view>

#include "web/page.h"

#include "platform/cp932.h"
#include "platform/text.h"
#include "web/euc_to_sjis.h"
#include "web/page_encoding.h"

namespace voxtrel {
namespace {

constexpr std::string_view kEucDeclaration = "CHARSET=EUC-JP";

// Whether a line of the page, read as code page 932 text and upper-cased, holds the EUC-JP
// declaration. The raw bytes are searched first: decoded ASCII comes only from ASCII bytes, so a
// line without them cannot hold the text, and only lines that do are decoded, to rule out a
// double-byte character whose second byte looks like a letter.
bool LineDeclaresEucJp(std::string_view line) {
  const size_t need = kEucDeclaration.size();
  size_t from = 7;  // "=" is the eighth character of the declaration
  while (from < line.size()) {
    const void* eq = std::memchr(line.data() + from, '=', line.size() - from);
    if (!eq) return false;
    size_t at = static_cast<size_t>(static_cast<const char*>(eq) - line.data());
    if (at - 7 + need <= line.size() &&
        StartsWithNoCase(line.substr(at - 7), kEucDeclaration)) {
      return AsciiUpper(Cp932ToUtf8(line)).find(kEucDeclaration) != std::string::npos;
    }
    from = at + 1;
  }
  return false;
}

}  // namespace

bool DeclaresEucJp(std::string_view bytes) {
  // Line by line as the scanner reads: a CR ends a line (an LF after it is harmless here).
  for (size_t start = 0; start < bytes.size();) {
    size_t cr = bytes.find('\r', start);
    if (cr == std::string_view::npos) cr = bytes.size();
    if (LineDeclaresEucJp(bytes.substr(start, cr - start))) return true;
    start = cr + 1;
  }
  return false;
}

namespace {

// A fetched page's line feeds each become two line breaks, as the page was always stored before
// it was read: the scanner then finds the lines of pages served with bare LFs, and the blank
// lines this makes hold no links.
std::string ExpandLineFeeds(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 8);
  for (char c : text) {
    if (c == '\n') {
      out += "\r\n\r\n";
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace

std::string Utf8Text(const PageText& page) {
  return page.form == TextForm::kUtf8 ? ValidUtf8(page.text) : Cp932ToUtf8(page.text);
}

bool IsHtmlFileName(std::string_view name) {
  return EndsWithNoCase(name, ".SHTML") || EndsWithNoCase(name, ".SHTM") ||
         EndsWithNoCase(name, ".HTML") || EndsWithNoCase(name, ".HTM");
}

PageText DecodePage(PageSource page) {
  PageText decoded;
  decoded.source = std::move(page.source);
  // A line feed is never part of a multi-byte character, so this may come before decoding.
  std::string bytes =
      page.origin == PageOrigin::kWeb ? ExpandLineFeeds(page.bytes) : std::move(page.bytes);
  decoded.bytes = std::move(page.bytes);
  const PageEncoding encoding = DecidePageEncoding(bytes, DeclaresEucJp(bytes), page.charset);
  decoded.encoding = encoding;
  const bool converted = encoding == PageEncoding::kEucJp || encoding == PageEncoding::kIso2022Jp ||
                         (encoding == PageEncoding::kUtf8 && HasUtf8Bom(bytes));
  switch (encoding) {
    case PageEncoding::kShiftJis:
      decoded.text = std::move(bytes);
      break;
    case PageEncoding::kEucJp:
      // Straight to Shift_JIS bytes, the form the scanner reads these pages in.
      decoded.text = EucToSjis(bytes);
      break;
    case PageEncoding::kUtf8:
      decoded.form = TextForm::kUtf8;
      decoded.text = HasUtf8Bom(bytes) ? bytes.substr(3) : std::move(bytes);
      break;
    case PageEncoding::kIso2022Jp:
      decoded.form = TextForm::kUtf8;
      decoded.text = Iso2022JpToUtf8(bytes);
      break;
  }
  // What the page's links are found again in: kept only when the text is not the file's bytes.
  if (converted && page.origin == PageOrigin::kFile) decoded.bytes = std::move(bytes);
  return decoded;
}

}  // namespace voxtrel
