#include "engine/check_loop.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string_view>

#include "engine/messages.h"
#include "engine/text_utils.h"
#include "platform/cp932.h"
#include "web/web_check.h"

namespace voxtrel {
namespace {

// "HREF=", a double quote and "HTTP://": the one link form the scanner knows.
constexpr std::string_view kHrefPattern = "HREF=\"HTTP://";
// From the hit to the first character after the double quote.
constexpr size_t kTargetOffset = 6;
constexpr size_t kCntPosEntries = 5001;

inline char UpperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

// Whether the raw line bytes hold "HTTP://" in any letter case. Decoded ASCII comes only from
// ASCII bytes in the same order, so a line failing this cannot pass the test on its decoded text,
// and most lines are skipped without being decoded.
bool RawMayHoldHttp(std::string_view raw) {
  const char* data = raw.data();
  size_t size = raw.size();
  size_t from = 4;
  while (from + 3 <= size) {
    const void* colon = std::memchr(data + from, ':', size - from - 2);
    if (!colon) return false;
    size_t at = static_cast<size_t>(static_cast<const char*>(colon) - data);
    if (data[at + 1] == '/' && data[at + 2] == '/' && UpperAscii(data[at - 4]) == 'H' &&
        UpperAscii(data[at - 3]) == 'T' && UpperAscii(data[at - 2]) == 'T' &&
        UpperAscii(data[at - 1]) == 'P') {
      return true;
    }
    from = at + 1;
  }
  return false;
}

std::string_view TrimView(std::string_view text) {
  size_t first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  size_t last = text.find_last_not_of(' ');
  return text.substr(first, last - first + 1);
}

bool ContainsIgnoringAsciiCase(std::string_view text, std::string_view upper_needle) {
  if (text.size() < upper_needle.size()) return false;
  for (size_t at = 0; at + upper_needle.size() <= text.size(); ++at) {
    size_t k = 0;
    while (k < upper_needle.size() && UpperAscii(text[at + k]) == upper_needle[k]) ++k;
    if (k == upper_needle.size()) return true;
  }
  return false;
}

// Link text steps: `rest` runs from the target to the end of the line, `upper_rest` is the same
// text upper-cased.
std::string CutLinkName(std::string_view rest, std::string_view upper_rest) {
  if (upper_rest.find('>') == std::string_view::npos) return "";
  size_t close = upper_rest.find("</A");
  if (close != std::string_view::npos) {
    std::string_view t = TrimView(rest.substr(0, close));
    size_t q = t.rfind('>');
    std::string_view name = TrimView(q == std::string_view::npos ? t : t.substr(q + 1));
    if (ContainsIgnoringAsciiCase(name, ".GIF") || ContainsIgnoringAsciiCase(name, ".JPG")) {
      return kImageLinkName;
    }
    return std::string(name);
  }
  // The closing tag is not on this line: take the text after the first ">" unless the tag is
  // directly followed by another one.
  if (upper_rest.find("><") != std::string_view::npos) return "";
  size_t gt = upper_rest.find('>') + 1;  // 1-based
  size_t quote = upper_rest.find('"');
  size_t qt = quote == std::string_view::npos ? 0 : quote + 1;
  size_t length = rest.size();
  if (gt + 1 < length && qt < gt) return std::string(TrimView(rest.substr(gt)));
  return "";
}

FoundLink CutLinkFrom(std::string_view line, std::string_view upper_line, int32_t hit) {
  FoundLink link;
  size_t start = static_cast<size_t>(hit) - 1 + kTargetOffset;  // 0-based
  if (hit < 1 || start > line.size()) return link;
  size_t end = start;
  while (end < line.size() && line[end] != '"' && line[end] != '#' && line[end] != '?') ++end;
  if (end == line.size()) {
    // No closing quote, "#" or "?" on the line (an address broken over two lines, say): the
    // target is the rest of the page's line, without the two blanks the scanner appended.
    size_t stop = line.size() >= 2 ? line.size() - 2 : line.size();
    link.target = std::string(line.substr(start, stop > start ? stop - start : 0));
    return link;
  }
  link.target = std::string(line.substr(start, end - start));
  link.name = CutLinkName(line.substr(start), upper_line.substr(start));
  return link;
}

bool EndsWithScriptExtension(const std::string& target) {
  if (target.size() < 3) return false;
  return AsciiUpper(std::string_view(target).substr(target.size() - 3)) == ".PL";
}

const std::string& FileColumn(const RunContext& ctx, const std::string& page) {
  return ctx.SinglePageMode == kModeWebPage ? ctx.SinglePageTarget : page;
}

enum class LinkOutcome { kDone, kLeavePage };

// Link steps for one cut link; kLeavePage when the rest of the page is to be skipped.
LinkOutcome HandleLink(RunContext& ctx, const std::string& page, FoundLink link) {
  ctx.LinkName = "";
  ctx.LinkUrl = std::move(link.target);
  ctx.LinkName = std::move(link.name);
  if (EndsWithScriptExtension(ctx.LinkUrl)) {
    ++ctx.RowNo;
    std::string number = RowNumberText(ctx.RowNo);
    ctx.results.AddRow(number, kMarkScript, ctx.LinkUrl, ctx.LinkName, FileColumn(ctx, page));
    ctx.view.RefreshResults();
    return LinkOutcome::kDone;
  }
  ctx.view.SetCaption(Control::kLabel3, FileColumn(ctx, page));
  ctx.view.Repaint(Control::kLabel3);
  ctx.WebErrorFlag = 0;
  ctx.AbortFlag = 0;
  ctx.view.SetCaption(Control::kLabel8, kCaptionConnecting + ctx.LinkUrl);
  ctx.view.Repaint(Control::kLabel8);
  CheckWebLink(ctx, page);
  ctx.view.Yield();
  return ctx.WebErrorFlag == kWebError ? LinkOutcome::kLeavePage : LinkOutcome::kDone;
}

enum class LineOutcome { kNext, kLeavePage };

// Buffers kept from line to line so the scan allocates little.
struct LineScan {
  std::string upper;
  std::vector<int32_t> hits;
  /// Entries of CntPos the last line wrote.
  size_t cnt_pos_used = 0;
};

// Line steps for one raw line of the work file.
LineOutcome ScanLine(RunContext& ctx, const std::string& page, std::string_view raw,
                     LineScan& scan) {
  if (!RawMayHoldHttp(raw)) return LineOutcome::kNext;
  std::string line = Cp932ToUtf8(raw);
  size_t last = line.find_last_not_of(' ');
  line.erase(last == std::string::npos ? 0 : last + 1);
  line.erase(0, line.find_first_not_of(' '));
  line += "  ";
  scan.upper.assign(line);
  for (char& c : scan.upper) c = UpperAscii(c);
  const std::string& upper = scan.upper;
  if (upper.find("HTTP://") == std::string::npos) return LineOutcome::kNext;

  // The position table keeps its documented contents; only the entries the last line wrote need
  // clearing to make it all zero again.
  std::fill_n(ctx.CntPos.begin(), std::min(scan.cnt_pos_used, ctx.CntPos.size()), 0);
  ctx.HrefCount = 0;
  scan.hits.clear();
  for (size_t found = upper.find(kHrefPattern); found != std::string::npos;
       found = upper.find(kHrefPattern, found + kHrefPattern.size())) {
    scan.hits.push_back(static_cast<int32_t>(found + 1));
  }
  if (scan.hits.empty()) return LineOutcome::kNext;
  ctx.HrefCount = CntStr(upper, std::string(kHrefPattern), ctx.CntPos);
  scan.cnt_pos_used = std::min(scan.hits.size(), ctx.CntPos.size());
  // Every hit is handled, also past the table's 5001 entries where CntStr gives up.
  for (size_t j = 0; j < scan.hits.size(); ++j) {
    FoundLink link = CutLinkFrom(line, upper, scan.hits[j]);
    if (HandleLink(ctx, page, std::move(link)) == LinkOutcome::kLeavePage) {
      return LineOutcome::kLeavePage;
    }
    ctx.view.Yield();
    if (ctx.AbortFlag == kAbortRequested) {
      ctx.view.Yield();
      return LineOutcome::kLeavePage;
    }
  }
  return LineOutcome::kNext;
}

void ScanPage(RunContext& ctx, const std::string& page, LineScan& scan) {
  // A page that could not be prepared is not scanned: the work file does not hold it.
  if (!PrepareLocalPage(ctx, page)) return;
  std::string err;
  std::unique_ptr<InputFile> in = ctx.disk.OpenForReading(ctx.ScanWorkFilePath(), &err);
  if (!in) return;
  LineReader reader(*in);
  std::string_view raw;
  while (reader.Next(&raw)) {
    if (ScanLine(ctx, page, raw, scan) == LineOutcome::kLeavePage) return;
  }
}

void StartRun(RunContext& ctx) {
  ctx.view.SetVisible(Control::kLabel4, true);
  ctx.view.Repaint(Control::kLabel4);
  ctx.view.SetVisible(Control::kLabel5, false);
  ctx.view.SetVisible(Control::kCommand2, true);
  ctx.view.SetVisible(Control::kCommand1, false);
  ctx.view.SetVisible(Control::kCommand3, false);
  ctx.AbortFlag = 0;
  ctx.view.SetBusyCursor(true);
  ctx.RowNo = 0;
}

void EndRun(RunContext& ctx) {
  ctx.view.Yield();
  ctx.view.SetCaption(Control::kLabel7, std::to_string(ctx.results.Count()) + kItemsSuffix);
  ctx.view.SetBusyCursor(false);
  ctx.view.SetVisible(Control::kLabel4, false);
  ctx.view.SetCaption(Control::kLabel5, kCaptionSearchAborted);
  ctx.view.SetCaption(Control::kLabel8, "");
  ctx.view.SetVisible(Control::kCommand2, false);
  ctx.view.SetVisible(Control::kCommand1, true);
  ctx.view.ShowMessage(kMessageTitle,
                       ctx.AbortFlag == kAbortRequested ? kMsgRunAborted : kMsgRunComplete,
                       MessageIcon::kWarning, MessageButtons::kOk);
  ctx.view.SetVisible(Control::kCommand3, ctx.results.Count() > 0);
  ctx.view.SetVisible(Control::kLabel5, false);
  ctx.AbortFlag = 0;
  ctx.WebErrorFlag = 0;
}

}  // namespace

FoundLink CutLink(const std::string& line, int32_t hit) {
  return CutLinkFrom(line, AsciiUpper(line), hit);
}

void CheckLinks(RunContext& ctx) {
  StartRun(ctx);
  ctx.CntPos.assign(kCntPosEntries, 0);
  ctx.HrefCount = 0;
  LineScan scan;
  for (size_t i = 0; i < ctx.List1.size(); ++i) {
    ctx.AbortFlag = 0;
    ctx.WebErrorFlag = 0;
    // A copy: the file list belongs to the front end, which may change it during a yield.
    std::string page = ctx.List1[i];
    ScanPage(ctx, page, scan);
    ctx.view.Yield();
    if (ctx.AbortFlag == kAbortRequested) {
      ctx.view.Yield();
      break;
    }
  }
  EndRun(ctx);
}

}  // namespace voxtrel
