#include "web/classic_links.h"

#include <string_view>

#include "platform/cp932.h"
#include "platform/text.h"
#include "web/page_encoding.h"

namespace voxtrel {
namespace {

// "HREF=", a double quote and "HTTP", then "://" (or "S://" for https links): the one link form
// the scanner knows.
constexpr std::string_view kHrefPattern = "HREF=\"HTTP";
// From the hit to the first character after the double quote.
constexpr size_t kTargetOffset = 6;
// Whether the raw line bytes hold "HTTP://" (or, when `https`, "HTTPS://") in any letter case.
// Decoded ASCII comes only from ASCII bytes in the same order, so a line failing this cannot pass
// the test on its decoded text, and most lines are skipped without being decoded.
bool RawMayHoldLink(std::string_view raw, bool https) {
  for (size_t from = 0;;) {
    size_t at = raw.find("://", from);
    if (at == std::string_view::npos) return false;
    std::string_view before = raw.substr(0, at);
    if (before.size() >= 4 && StartsWithNoCase(before.substr(before.size() - 4), "HTTP"))
      return true;
    if (https && before.size() >= 5 && StartsWithNoCase(before.substr(before.size() - 5), "HTTPS"))
      return true;
    from = at + 1;
  }
}


// A link name is cut from the text after its link. Where anchors stay open to the end of a long
// line (a page saved as one line, say), each name would be the rest of that line, and a line of
// many such links would need memory growing with the square of its length; so a name keeps at
// most this many bytes.
constexpr size_t kMaxLinkNameBytes = 1024;

// `text` without leading and trailing blanks, cut to kMaxLinkNameBytes at a character boundary.
std::string_view TrimmedName(std::string_view text) {
  text = TrimBlanks(text);
  if (text.size() > kMaxLinkNameBytes) {
    size_t cut = kMaxLinkNameBytes;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    text = TrimBlanks(text.substr(0, cut));
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

FoundLink CutLinkFrom(std::string_view line, int32_t hit, LineFinders& find, bool keep_query) {
  FoundLink link;
  size_t start = static_cast<size_t>(hit) - 1 + kTargetOffset;  // 0-based
  if (hit < 1 || start > line.size()) return link;
  // Every later hit holds a double quote, so this search stops at the next link at the latest.
  size_t end = line.find_first_of(keep_query ? "\"#" : "\"#?", start);
  if (end == std::string_view::npos) {
    // No closing quote, "#" or "?" (when cut) on the line (an address broken over two lines, say): the
    // target is the rest of the page's line, without the two blanks the scanner appended.
    size_t stop = line.size() >= 2 ? line.size() - 2 : line.size();
    link.target = std::string(line.substr(start, stop > start ? stop - start : 0));
    return link;
  }
  link.target = std::string(line.substr(start, end - start));
  link.name = CutLinkName(line, start, find);
  return link;
}

}  // namespace

FoundLink CutLink(const std::string& line, int32_t hit) {
  const std::string upper = AsciiUpper(line);
  LineFinders finders(upper);
  return CutLinkFrom(line, hit, finders, false);
}

void ScanClassicLine(std::string_view raw, TextForm form, const ClassicRule& rule,
                     std::vector<ClassicLink>* links) {
  links->clear();
  if (!RawMayHoldLink(raw, true)) return;
  std::string line = form == TextForm::kUtf8 ? ValidUtf8(raw) : Cp932ToUtf8(raw);
  std::string_view trimmed = TrimBlanks(line);
  line = std::string(trimmed) + "  ";
  const std::string upper = AsciiUpper(line);
  LineFinders finders(upper);
  for (size_t found = upper.find(kHrefPattern); found != std::string::npos;
       found = upper.find(kHrefPattern, found + kHrefPattern.size())) {
    std::string_view rest = std::string_view(upper).substr(found + kHrefPattern.size());
    const bool http = rest.substr(0, 3) == "://";
    const bool https = rest.substr(0, 4) == "S://";
    if (!http && !https) continue;
    ClassicLink& link = links->emplace_back();
    if (https && !rule.https) {
      link.passed_over = true;
      continue;
    }
    FoundLink cut = CutLinkFrom(line, static_cast<int32_t>(found + 1), finders, rule.keep_query);
    link.target = std::move(cut.target);
    link.name = std::move(cut.name);
  }
}

}  // namespace voxtrel
