#include <cstring>
#include <memory>
#include <string_view>

#include "engine/text_utils.h"
#include "platform/text.h"
#include "platform/cp932.h"
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

bool PrepareLocalPage(RunContext& ctx, const std::string& page) {
  const std::string work = ctx.ScanWorkFilePath();
  std::string err;
  // On any failure the work file is emptied, so a page that cannot be read never leaves the
  // previous page behind to be scanned under this page's name.
  auto fail = [&] {
    ctx.disk.WriteWholeFile(work, std::string(), &err);  // the caller skips the page either way
    return false;
  };
  bool euc = false;
  {
    std::unique_ptr<InputFile> in = ctx.disk.OpenForReading(page, &err);
    if (!in) return fail();
    LineReader reader(*in);
    std::string_view line;
    while (!euc && reader.Next(&line)) euc = LineDeclaresEucJp(line);
  }
  if (euc) {
    std::string bytes;
    if (!ctx.disk.ReadWholeFile(page, &bytes, &err)) return fail();
    if (!ctx.disk.WriteWholeFile(work, EucToSjis(bytes), &err)) return fail();
    return true;
  }
  if (!ctx.disk.CopyFile(page, work, &err)) return fail();
  return true;
}

}  // namespace voxtrel
