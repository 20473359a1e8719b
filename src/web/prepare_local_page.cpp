#include <cstring>
#include <memory>
#include <string_view>

#include "engine/text_utils.h"
#include "platform/text.h"
#include "platform/cp932.h"
#include "web/page_encoding.h"
#include "web/web_check.h"

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

bool PrepareLocalPage(RunContext& ctx, const std::string& page) {
  const std::string work = ctx.ScanWorkFilePath();
  std::string err;
  // On any failure the work file is emptied, so a page that cannot be read never leaves the
  // previous page behind to be scanned under this page's name.
  auto fail = [&] {
    ctx.disk.WriteWholeFile(work, std::string(), &err);  // the caller skips the page either way
    return false;
  };
  std::string bytes;
  if (!ctx.disk.ReadWholeFile(page, &bytes, &err)) return fail();
  const bool fetched = ctx.SinglePageMode == kModeWebPage && page == ctx.WebWorkFilePath();
  const PageEncoding encoding = DecidePageEncoding(
      bytes, DeclaresEucJp(bytes), fetched ? ctx.fetched_charset : std::nullopt);
  ctx.scan_text = ScanText::kShiftJis;
  std::string text;
  switch (encoding) {
    case PageEncoding::kShiftJis:
      text = std::move(bytes);
      break;
    case PageEncoding::kEucJp:
      // Straight to Shift_JIS bytes, the form the scanner reads these pages in.
      text = EucToSjis(bytes);
      break;
    case PageEncoding::kUtf8:
      ctx.scan_text = ScanText::kUtf8;
      text = HasUtf8Bom(bytes) ? bytes.substr(3) : std::move(bytes);
      break;
    case PageEncoding::kIso2022Jp:
      ctx.scan_text = ScanText::kUtf8;
      text = Iso2022JpToUtf8(bytes);
      break;
  }
  if (!ctx.disk.WriteWholeFile(work, text, &err)) return fail();
  return true;
}

}  // namespace voxtrel
