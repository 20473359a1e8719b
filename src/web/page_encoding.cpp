#include "web/page_encoding.h"

#include <iconv.h>

#include <cerrno>
#include <cstring>
#include <initializer_list>

#include "platform/cp932.h"
#include "platform/text.h"
#include "web/euc_to_sjis.h"

namespace voxtrel {
namespace {

constexpr char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD
const iconv_t kNoConverter = reinterpret_cast<iconv_t>(-1);

// Whether `text` is `upper` (upper-case ASCII) in any letter case.
bool EqualsNoCase(std::string_view text, std::string_view upper) {
  return text.size() == upper.size() && StartsWithNoCase(text, upper);
}

bool IsHttpBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view TrimHttpBlanks(std::string_view text) {
  while (!text.empty() && IsHttpBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsHttpBlank(text.back())) text.remove_suffix(1);
  return text;
}

// Where the next "<meta" tag starts at or after `from`, npos when there is none. The name must be
// followed by what may follow a tag name, so "<metadata" is not taken for a meta tag.
size_t FindMetaTag(std::string_view page, size_t from) {
  while (from < page.size()) {
    const void* lt = std::memchr(page.data() + from, '<', page.size() - from);
    if (!lt) return std::string_view::npos;
    size_t at = static_cast<size_t>(static_cast<const char*>(lt) - page.data());
    if (at + 5 < page.size() && EqualsNoCase(page.substr(at + 1, 4), "META") &&
        std::strchr(" \t\r\n\f/>", page[at + 5]) != nullptr) {
      return at;
    }
    from = at + 1;
  }
  return std::string_view::npos;
}

bool ContainsNoCase(std::string_view text, std::string_view upper) {
  for (size_t at = 0; at + upper.size() <= text.size(); ++at) {
    if (StartsWithNoCase(text.substr(at), upper)) return true;
  }
  return false;
}

// The first charset= value in one tag's decoded text, which ends at its '>' or the page's end.
std::optional<std::string> CharsetInTag(const std::string& tag) {
  const std::string upper = AsciiUpper(tag);
  for (size_t at = upper.find("CHARSET"); at != std::string::npos;
       at = upper.find("CHARSET", at + 1)) {
    size_t i = at + 7;
    while (i < tag.size() && tag[i] == ' ') ++i;
    if (i == tag.size() || tag[i] != '=') continue;
    ++i;
    while (i < tag.size() && tag[i] == ' ') ++i;
    if (i < tag.size() && (tag[i] == '"' || tag[i] == '\'')) ++i;
    size_t end = tag.find_first_of("\"' ;/>", i);
    if (end == std::string::npos) end = tag.size();
    return tag.substr(i, end - i);
  }
  return std::nullopt;
}

// Converts a few bytes with a fresh descriptor; false when iconv refuses any of them.
bool ConvertsTo(const char* from_code, std::string_view bytes, std::string_view expected) {
  iconv_t cd = iconv_open("UTF-8", from_code);
  if (cd == kNoConverter) return false;
  char buffer[64];
  char* in = const_cast<char*>(bytes.data());
  size_t in_left = bytes.size();
  char* out = buffer;
  size_t out_left = sizeof buffer;
  size_t rc = iconv(cd, &in, &in_left, &out, &out_left);
  iconv_close(cd);
  return rc != static_cast<size_t>(-1) &&
         std::string_view(buffer, sizeof buffer - out_left) == expected;
}

// The iconv name that decodes JIS X 0208 text right. Plain ISO-2022-JP is preferred; the larger
// variants are only a fallback for a C library that lacks it or gets it wrong.
const char* Iso2022JpCodeName() {
  static const char* const name = [] {
    for (const char* candidate : {"ISO-2022-JP", "ISO-2022-JP-3", "ISO-2022-JP-2"}) {
      if (ConvertsTo(candidate, "\x1B$BF|\x1B(B", "日")) return candidate;
    }
    return static_cast<const char*>(nullptr);
  }();
  return name;
}

// Whether the text is in a two-byte set after the escape sequences in bytes[from, to), starting
// from `two_byte`: ESC $ ... selects a two-byte set, ESC ( ... a one-byte one.
bool TwoByteAfter(std::string_view bytes, size_t from, size_t to, bool two_byte) {
  for (size_t i = from; i + 1 < to; ++i) {
    if (bytes[i] != '\x1B') continue;
    if (bytes[i + 1] == '$') two_byte = true;
    if (bytes[i + 1] == '(') two_byte = false;
  }
  return two_byte;
}

// How many bytes one invalid ISO-2022-JP unit at the start of `rest` spans: a whole escape
// sequence, a two-byte code in a two-byte set, else one byte. Skipping only one byte of a bad pair
// would read its second byte as the first of the next pair and garble the rest of the run.
size_t InvalidUnitLength(std::string_view rest, bool two_byte) {
  auto in = [&](size_t k, unsigned char low, unsigned char high) {
    return k < rest.size() && static_cast<unsigned char>(rest[k]) >= low &&
           static_cast<unsigned char>(rest[k]) <= high;
  };
  if (rest[0] == '\x1B') {
    size_t k = 1;
    while (in(k, 0x20, 0x2F)) ++k;
    return in(k, 0x30, 0x7E) ? k + 1 : k;
  }
  if (two_byte && in(0, 0x21, 0x7E) && in(1, 0x21, 0x7E)) return 2;
  return 1;
}

}  // namespace

PageEncoding EncodingForName(std::string_view name) {
  struct Known {
    std::string_view name;
    PageEncoding encoding;
  };
  static constexpr Known kKnown[] = {
      {"SHIFT_JIS", PageEncoding::kShiftJis},
      {"SHIFT-JIS", PageEncoding::kShiftJis},
      {"X-SJIS", PageEncoding::kShiftJis},
      {"SJIS", PageEncoding::kShiftJis},
      {"WINDOWS-31J", PageEncoding::kShiftJis},
      {"CP932", PageEncoding::kShiftJis},
      {"MS_KANJI", PageEncoding::kShiftJis},
      {"EUC-JP", PageEncoding::kEucJp},
      {"X-EUC-JP", PageEncoding::kEucJp},
      {"UTF-8", PageEncoding::kUtf8},
      {"UTF8", PageEncoding::kUtf8},
      {"ISO-2022-JP", PageEncoding::kIso2022Jp},
  };
  const std::string upper = AsciiUpper(TrimBlanks(name));
  for (const Known& known : kKnown) {
    if (upper == known.name) return known.encoding;
  }
  return PageEncoding::kShiftJis;
}

std::optional<std::string> CharsetOfContentType(std::string_view content_type) {
  size_t i = 0;
  const size_t n = content_type.size();
  while (i < n) {
    const size_t name_start = i;
    while (i < n && content_type[i] != '=' && content_type[i] != ';') ++i;
    const std::string_view name = TrimHttpBlanks(content_type.substr(name_start, i - name_start));
    if (i < n && content_type[i] == '=') {
      ++i;
      while (i < n && IsHttpBlank(content_type[i])) ++i;
      std::string value;
      if (i < n && content_type[i] == '"') {
        // A quoted string may hold ';' and backslash escapes.
        for (++i; i < n && content_type[i] != '"'; ++i) {
          if (content_type[i] == '\\' && i + 1 < n) ++i;
          value.push_back(content_type[i]);
        }
      } else {
        const size_t value_start = i;
        while (i < n && content_type[i] != ';') ++i;
        std::string_view raw = TrimHttpBlanks(content_type.substr(value_start, i - value_start));
        // Some servers quote with apostrophes; they are never part of a charset name.
        if (raw.size() >= 2 && raw.front() == '\'' && raw.back() == '\'') {
          raw = raw.substr(1, raw.size() - 2);
        }
        value = raw;
      }
      if (EqualsNoCase(name, "CHARSET")) return value;
    }
    while (i < n && content_type[i] != ';') ++i;
    ++i;
  }
  return std::nullopt;
}

std::optional<std::string> DeclaredCharset(std::string_view page_bytes) {
  // Only the tags are decoded, never the whole page. That reads them exactly as the whole page
  // read as code page 932 would: '<' and '>' are below every trail byte, so each is a character of
  // its own and a tag's bytes start and end on character boundaries. And since decoded ASCII only
  // comes from ASCII bytes, a tag whose bytes hold no "charset" is not decoded at all.
  for (size_t tag = FindMetaTag(page_bytes, 0); tag != std::string_view::npos;) {
    const size_t close = page_bytes.find('>', tag);
    const size_t end = close == std::string_view::npos ? page_bytes.size() : close + 1;
    const std::string_view raw = page_bytes.substr(tag, end - tag);
    if (ContainsNoCase(raw, "CHARSET")) {
      if (std::optional<std::string> value = CharsetInTag(Cp932ToUtf8(raw))) return value;
    }
    // An unclosed tag runs to the end of the page, and so would every tag after it.
    if (close == std::string_view::npos) break;
    tag = FindMetaTag(page_bytes, end);
  }
  return std::nullopt;
}

bool IsUtf8WithMultibyte(std::string_view bytes) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const size_t n = bytes.size();
  bool multibyte = false;
  size_t i = 0;
  while (i < n) {
    if (p[i] < 0x80) {
      ++i;
      continue;
    }
    const size_t len = Utf8SequenceLength(p + i, n - i);
    if (len == 0) return false;
    multibyte = true;
    i += len;
  }
  return multibyte;
}

bool HasUtf8Bom(std::string_view bytes) { return bytes.substr(0, 3) == "\xEF\xBB\xBF"; }

PageEncoding DecidePageEncoding(std::string_view bytes, bool euc_test_fired,
                                const std::optional<std::string>& http_charset) {
  if (euc_test_fired) return PageEncoding::kEucJp;
  if (HasUtf8Bom(bytes)) return PageEncoding::kUtf8;
  if (http_charset) return EncodingForName(*http_charset);
  if (std::optional<std::string> declared = DeclaredCharset(bytes)) {
    return EncodingForName(*declared);
  }
  return IsUtf8WithMultibyte(bytes) ? PageEncoding::kUtf8 : PageEncoding::kShiftJis;
}

std::string Iso2022JpToUtf8(std::string_view bytes) {
  const char* code = Iso2022JpCodeName();
  iconv_t cd = code ? iconv_open("UTF-8", code) : kNoConverter;
  // Without a converter the ASCII of the page is still worth reading; the rest is lost either way.
  if (cd == kNoConverter) return ValidUtf8(bytes);

  std::string out;
  out.reserve(bytes.size() + bytes.size() / 2);
  char buffer[4096];
  char* in = const_cast<char*>(bytes.data());
  size_t in_left = bytes.size();
  size_t mode_known_to = 0;
  bool two_byte = false;
  while (in_left > 0) {
    char* out_ptr = buffer;
    size_t out_left = sizeof buffer;
    const size_t rc = iconv(cd, &in, &in_left, &out_ptr, &out_left);
    out.append(buffer, static_cast<size_t>(out_ptr - buffer));
    if (rc != static_cast<size_t>(-1) || errno == E2BIG) continue;
    // EILSEQ or EINVAL (a unit cut off by the end): replace the unit and go on after it. iconv
    // keeps its shift state across the error, so the text after a bad pair still reads right.
    const size_t at = static_cast<size_t>(in - bytes.data());
    two_byte = TwoByteAfter(bytes, mode_known_to, at, two_byte);
    const size_t skip = InvalidUnitLength(bytes.substr(at), two_byte);
    out.append(kReplacement);
    in += skip;
    in_left -= skip;
    mode_known_to = at + skip;  // a refused escape sequence changed nothing
  }
  iconv_close(cd);
  return out;
}

std::string ValidUtf8(std::string_view bytes) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const size_t n = bytes.size();
  std::string out;
  out.reserve(n);
  size_t i = 0;
  while (i < n) {
    // Copy each run of valid sequences in one go; most pages are nothing else.
    const size_t run = i;
    size_t len = 0;
    while (i < n && (len = Utf8SequenceLength(p + i, n - i)) != 0) i += len;
    out.append(bytes.data() + run, i - run);
    if (i < n) {
      out.append(kReplacement);
      ++i;
    }
  }
  return out;
}

std::string BytesAsUtf8(std::string_view bytes, PageEncoding encoding) {
  switch (encoding) {
    case PageEncoding::kUtf8:
      return ValidUtf8(bytes);
    case PageEncoding::kEucJp:
      return Cp932ToUtf8(EucToSjis(bytes));
    case PageEncoding::kIso2022Jp:
      return Iso2022JpToUtf8(bytes);
    case PageEncoding::kShiftJis:
      break;
  }
  return Cp932ToUtf8(bytes);
}

}  // namespace voxtrel
