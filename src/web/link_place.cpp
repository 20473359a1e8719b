#include "web/link_place.h"

#include <algorithm>
#include <array>

#include "platform/cp932.h"

namespace voxtrel {
namespace {

// How far back from a link the start of its tag is looked for.
constexpr size_t kTagReach = 1024;
// How many times over failed searches may read a page before they look only a window ahead.
constexpr size_t kMissBudget = 4;
constexpr size_t kMissWindow = size_t{8} << 10;

bool IsAscii(std::string_view text) {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }

// Shift_JIS bytes as EUC-JP; empty when a character has no EUC-JP form.
std::string SjisToEuc(std::string_view sjis) {
  std::string out;
  for (size_t i = 0; i < sjis.size(); ++i) {
    const auto c = static_cast<unsigned char>(sjis[i]);
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c >= 0xA1 && c <= 0xDF) {
      out += '\x8E';
      out += static_cast<char>(c);
    } else if (i + 1 < sjis.size() && ((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xEF))) {
      const auto t = static_cast<unsigned char>(sjis[++i]);
      int row = ((c >= 0xE0 ? c - 0x40 : c) - 0x81) * 2 + 0x21;
      int cell = t - 0x1F - (t >= 0x80 ? 1 : 0);
      if (t >= 0x9F) ++row, cell = t - 0x7E;
      out += static_cast<char>(row | 0x80);
      out += static_cast<char>(cell | 0x80);
    } else {
      return "";
    }
  }
  return out;
}

// EUC-JP with each full-width character that reads as widened half-width kana in its
// half-width form: the decoding widens them, so a page may hold either.
std::string NarrowedEuc(std::string_view euc) {
  static const std::array<uint8_t, 94 * 94> narrow = [] {
    std::array<uint8_t, 94 * 94> table{};
    for (unsigned b = 0xA1; b <= 0xDF; ++b) {
      const std::string wide = SjisToEuc(Utf8ToCp932(WidenHalfwidthKatakana(b)));
      if (wide.size() == 2 && static_cast<unsigned char>(wide[0]) >= 0xA1)
        table[(static_cast<unsigned char>(wide[0]) - 0xA1) * 94 +
              (static_cast<unsigned char>(wide[1]) - 0xA1)] = static_cast<uint8_t>(b);
    }
    return table;
  }();
  std::string out;
  for (size_t i = 0; i < euc.size(); ++i) {
    const auto c = static_cast<unsigned char>(euc[i]);
    const auto d = i + 1 < euc.size() ? static_cast<unsigned char>(euc[i + 1]) : 0;
    if (c < 0xA1 || d < 0xA1 || c == 0xFF || d == 0xFF) {
      out += euc.substr(i, c >= 0x80 && i + 1 < euc.size() ? 2 : 1);
      i += c >= 0x80 && i + 1 < euc.size() ? 1 : 0;
      continue;
    }
    const uint8_t half = narrow[(c - 0xA1) * 94 + (d - 0xA1)];
    out += half ? std::string{'\x8E', static_cast<char>(half)} : std::string(euc.substr(i, 2));
    ++i;
  }
  return out;
}

// EUC-JP bytes as ISO-2022-JP, each run of two-byte characters shifted in and back to ASCII;
// empty for half-width kana, which it has no plain form for.
std::string EucToJis(std::string_view euc) {
  std::string out;
  bool shifted = false;
  for (size_t i = 0; i < euc.size(); ++i) {
    const auto c = static_cast<unsigned char>(euc[i]);
    if (c == 0x8E) return "";
    if ((c >= 0x80) != shifted) out += (shifted = c >= 0x80) ? "\x1B$B" : "\x1B(B";
    out += static_cast<char>(c & 0x7F);
  }
  if (shifted) out += "\x1B(B";
  return out;
}

}  // namespace

PlaceFinder::PlaceFinder(std::string_view bytes, PageEncoding encoding, bool skip_comments)
    : bytes_(bytes), encoding_(encoding), skip_comments_(skip_comments) {}

std::string PlaceFinder::Encoded(std::string_view utf8) const {
  if (IsAscii(utf8)) return std::string(utf8);
  switch (encoding_) {
    case PageEncoding::kUtf8:
      return std::string(utf8);
    case PageEncoding::kShiftJis:
      return Utf8ToCp932(utf8);
    case PageEncoding::kEucJp:
      return SjisToEuc(Utf8ToCp932(utf8));
    case PageEncoding::kIso2022Jp:
      return EucToJis(SjisToEuc(Utf8ToCp932(utf8)));
  }
  return "";
}

// Whether the span [at, at + size) is a whole attribute value or url(), or the start of one
// (the old rule cuts at "#" and "?").
bool PlaceFinder::Fits(size_t at, size_t size) const {
  size_t before = at;
  while (before > 0 && IsBlank(bytes_[before - 1])) --before;
  if (before == 0) return false;
  const char open = bytes_[before - 1];
  const bool quoted = open == '"' || open == '\'';
  if (!quoted && open != '=' && open != '(') return false;
  if (at + size >= bytes_.size()) return true;
  const char close = bytes_[at + size];
  if (quoted && close == open) return true;
  return IsBlank(close) || close == '>' || close == ')' || close == '#' || close == '?' ||
         close == ',' || (!quoted && (close == '"' || close == '\''));
}

// Whether `at` lies inside a comment; asked for growing positions but for the few links one
// element gives out of order, which go back no further than their tag.
bool PlaceFinder::InComment(size_t at) {
  if (at < comment_checked_) comment_checked_ = from_;
  // Only the bytes before `at` are searched, so a page without comments is read once.
  const std::string_view before = bytes_.substr(0, at);
  for (;;) {
    const size_t open = before.find("<!--", comment_checked_);
    if (open == std::string_view::npos) {
      comment_checked_ = at;
      return false;
    }
    const size_t close = before.find("-->", open + 4);
    if (close == std::string_view::npos || close + 3 > at) {
      comment_checked_ = open;
      return true;
    }
    comment_checked_ = close + 3;
  }
}

// The line of `at`, counted on from the last position asked. A line end is counted at its last
// byte: the LF of a CR LF, else the CR or LF itself.
uint32_t PlaceFinder::LineAt(size_t at) {
  const size_t low = std::min(at, counted_), high = std::max(at, counted_);
  const std::string_view span = bytes_.substr(low, high - low);
  // Counted a byte kind at a time, which the library does many bytes at once.
  auto ends = static_cast<uint32_t>(std::count(span.begin(), span.end(), '\n'));
  for (size_t cr = span.find('\r'); cr != std::string_view::npos; cr = span.find('\r', cr + 1))
    if (low + cr + 1 >= bytes_.size() || bytes_[low + cr + 1] != '\n') ++ends;
  line_ = at >= counted_ ? line_ + ends : line_ - ends;
  counted_ = at;
  return line_;
}

LinkPlace PlaceFinder::Find(std::string_view utf8) {
  const std::string needle = Encoded(utf8);
  if (needle.empty()) return {};
  LinkPlace place = Search(needle);
  if (place.length == 0 && encoding_ == PageEncoding::kEucJp && !IsAscii(needle))
    if (const std::string narrow = NarrowedEuc(needle); narrow != needle) place = Search(narrow);
  return place;
}

LinkPlace PlaceFinder::Search(std::string_view needle) {
  LinkPlace place;
  // A link not found costs a search to the end of the page; once such searches have read the
  // page many times over, the rest look only a window ahead, so the scan stays linear.
  const size_t end = missed_ < kMissBudget * (bytes_.size() + 1)
                         ? bytes_.size()
                         : std::min(bytes_.size(), from_ + kMissWindow);
  const std::string_view ahead = bytes_.substr(0, end);
  for (size_t at = ahead.find(needle, from_); at != std::string_view::npos;
       at = ahead.find(needle, at + 1)) {
    if (std::find(taken_.begin(), taken_.end(), at) != taken_.end() || !Fits(at, needle.size()) ||
        (skip_comments_ && InComment(at)))
      continue;
    place.line = LineAt(at);
    place.offset = at;
    place.length = static_cast<uint32_t>(needle.size());
    const size_t reach = std::max(from_, at > kTagReach ? at - kTagReach : size_t{0});
    const size_t tag = bytes_.substr(reach, at - reach).rfind('<');
    const size_t start = tag != std::string_view::npos ? reach + tag : at;
    if (start != from_) taken_.clear();
    from_ = start;
    taken_.push_back(at);
    return place;
  }
  missed_ += end - std::min(end, from_);
  return place;
}

}  // namespace voxtrel
