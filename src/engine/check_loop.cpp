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

// A link name is cut from the text after its link. Where anchors stay open to the end of a long
// line (a page saved as one line, say), each name would be the rest of that line, and a line of
// many such links would need memory growing with the square of its length; so a name keeps at
// most this many bytes.
constexpr size_t kMaxLinkNameBytes = 1024;

// `text` without leading and trailing blanks, cut to kMaxLinkNameBytes at a character boundary.
std::string_view TrimmedName(std::string_view text) {
  text = TrimView(text);
  if (text.size() > kMaxLinkNameBytes) {
    size_t cut = kMaxLinkNameBytes;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    text = TrimView(text.substr(0, cut));
  }
  return text;
}

// The first occurrence of a pattern at or after a position. The links of a line are cut left to
// right, so a search is reused while its result still lies ahead: each stretch of the line is
// searched once for all its links, not once per link.
class ForwardFinder {
 public:
  ForwardFinder(std::string_view text, std::string_view pattern) : text_(text), pattern_(pattern) {}

  size_t From(size_t from) {
    if (!searched_ || from < from_ || (found_ != std::string_view::npos && found_ < from)) {
      from_ = from;
      found_ = text_.find(pattern_, from);
      searched_ = true;
    }
    return found_;
  }

 private:
  std::string_view text_;
  std::string_view pattern_;
  bool searched_ = false;
  size_t from_ = 0;
  size_t found_ = std::string_view::npos;
};

// The last occurrence of a pattern lying wholly before a position, scanning each stretch of the
// line once while the positions asked for grow.
class LastFinder {
 public:
  LastFinder(std::string_view text, std::string_view pattern) : text_(text), pattern_(pattern) {}

  size_t Before(size_t end) {
    if (end < scanned_) {
      scanned_ = 0;
      last_ = std::string_view::npos;
    }
    if (end > scanned_) {
      // An occurrence may straddle the end of the stretch scanned before.
      size_t from = scanned_ >= pattern_.size() ? scanned_ - pattern_.size() + 1 : 0;
      size_t found = text_.substr(from, end - from).rfind(pattern_);
      if (found != std::string_view::npos) last_ = from + found;
      scanned_ = end;
    }
    return last_;
  }

 private:
  std::string_view text_;
  std::string_view pattern_;
  size_t scanned_ = 0;
  size_t last_ = std::string_view::npos;
};

// The searches the link text steps make, shared by all links of one upper-cased line.
struct LineFinders {
  explicit LineFinders(std::string_view upper)
      : gt(upper, ">"),
        close_tag(upper, "</A"),
        tag_pair(upper, "><"),
        last_gt(upper, ">"),
        last_gif(upper, ".GIF"),
        last_jpg(upper, ".JPG") {}

  ForwardFinder gt;
  ForwardFinder close_tag;
  ForwardFinder tag_pair;
  LastFinder last_gt;
  LastFinder last_gif;
  LastFinder last_jpg;
};

// Link text steps for the link whose target starts at `start` (0-based): the rest of the line
// from there is R; its positions are searched in the upper-cased line through `find`.
std::string CutLinkName(std::string_view line, size_t start, LineFinders& find) {
  const size_t first_gt = find.gt.From(start);
  if (first_gt == std::string_view::npos) return "";
  const size_t close = find.close_tag.From(start);
  if (close != std::string_view::npos) {
    // The text between the last ">" before the closing tag and the tag; all of it when the
    // link's own rest holds no ">" there.
    size_t q = find.last_gt.Before(close);
    size_t from = (q == std::string_view::npos || q < start) ? start : q + 1;
    // The image test looks at the whole text, also past the part of a long name that is kept;
    // blanks trimmed off cannot be part of ".GIF" or ".JPG".
    size_t gif = find.last_gif.Before(close);
    size_t jpg = find.last_jpg.Before(close);
    if ((gif != std::string_view::npos && gif >= from) ||
        (jpg != std::string_view::npos && jpg >= from)) {
      return kImageLinkName;
    }
    return std::string(TrimmedName(line.substr(from, close - from)));
  }
  // The closing tag is not on this line: take the text after the first ">" unless the tag is
  // directly followed by another one.
  if (find.tag_pair.From(start) != std::string_view::npos) return "";
  size_t gt = first_gt - start + 1;  // 1-based in the rest
  // Every later link's attribute holds a double quote, so this search stops at the next link.
  size_t quote = line.find('"', start);
  size_t qt = quote == std::string_view::npos ? 0 : quote - start + 1;
  size_t length = line.size() - start;
  if (gt + 1 < length && qt < gt) return std::string(TrimmedName(line.substr(first_gt + 1)));
  return "";
}

FoundLink CutLinkFrom(std::string_view line, int32_t hit, LineFinders& find) {
  FoundLink link;
  size_t start = static_cast<size_t>(hit) - 1 + kTargetOffset;  // 0-based
  if (hit < 1 || start > line.size()) return link;
  // Every later hit holds a double quote, so this search stops at the next link at the latest.
  size_t end = line.find_first_of("\"#?", start);
  if (end == std::string_view::npos) {
    // No closing quote, "#" or "?" on the line (an address broken over two lines, say): the
    // target is the rest of the page's line, without the two blanks the scanner appended.
    size_t stop = line.size() >= 2 ? line.size() - 2 : line.size();
    link.target = std::string(line.substr(start, stop > start ? stop - start : 0));
    return link;
  }
  link.target = std::string(line.substr(start, end - start));
  link.name = CutLinkName(line, start, find);
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
  LineFinders finders(upper);
  for (size_t j = 0; j < scan.hits.size(); ++j) {
    FoundLink link = CutLinkFrom(line, scan.hits[j], finders);
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
  const std::string upper = AsciiUpper(line);
  LineFinders finders(upper);
  return CutLinkFrom(line, hit, finders);
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
