#include "web/url.h"

#include <idn2.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <iterator>
#include <vector>

#include "platform/cp932.h"
#include "platform/text.h"

namespace voxtrel {
namespace {

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The path, query and fragment of a reference or of an address's rest.
void SplitRest(std::string_view rest, std::string* path, std::string* query,
               std::string* fragment) {
  const size_t hash = rest.find('#');
  if (hash != std::string_view::npos) *fragment = rest.substr(hash);
  rest = rest.substr(0, hash);
  const size_t question = rest.find('?');
  if (question != std::string_view::npos) *query = rest.substr(question);
  *path = rest.substr(0, question);
}

// 1 for a "." segment, 2 for "..", 0 for any other: "%2e" is a dot wherever it stands, as
// browsers read it, so an escaped ".." climbs as the written one does.
int DotsOf(std::string_view segment) {
  int dots = 0;
  for (size_t i = 0; i < segment.size(); ++i, ++dots) {
    if (segment[i] == '.') continue;
    if (segment.substr(i, 3) != "%2e" && segment.substr(i, 3) != "%2E") return 0;
    i += 2;
  }
  return dots <= 2 ? dots : 0;
}

// "\" is "/" in an http(s) address up to its query, as every browser reads it.
std::string ForwardSlashes(std::string_view reference) {
  std::string out(reference);
  const size_t end = std::min(out.find('?'), out.find('#'));
  std::replace(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(std::min(end, out.size())),
               '\\', '/');
  return out;
}

// The bytes browsers escape: controls, blanks, non-ASCII, and those the part cannot hold.
void AppendEscaped(std::string_view text, std::string_view unsafe, std::string* out) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  for (char c : text) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte >= 0x7F || unsafe.find(c) != std::string_view::npos) {
      *out += '%';
      *out += kHex[byte >> 4];
      *out += kHex[byte & 0xF];
    } else {
      *out += c;
    }
  }
}

// The host of an authority in ASCII, its user info and port kept; nothing when it has none.
std::optional<std::string> AsciiAuthority(std::string_view authority) {
  const size_t at = authority.rfind('@');
  const size_t host_start = at == std::string_view::npos ? 0 : at + 1;
  size_t colon = authority.rfind(':');
  if (colon == std::string_view::npos || colon < host_start || authority.back() == ']')
    colon = authority.size();
  const std::string_view host = authority.substr(host_start, colon - host_start);
  if (std::all_of(host.begin(), host.end(),
                  [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
    return std::string(authority);
  const std::optional<std::string> ascii = AsciiHost(host);
  if (!ascii) return std::nullopt;
  return std::string(authority.substr(0, host_start)) + *ascii +
         std::string(authority.substr(colon));
}

}  // namespace

bool IsSchemeRelative(std::string_view reference) {
  return reference.size() >= 2 && (reference[0] == '/' || reference[0] == '\\') &&
         (reference[1] == '/' || reference[1] == '\\');
}

bool IsKnownScheme(std::string_view scheme) {
  // Registered schemes and those of common apps a page links to; a single letter is the drive
  // of a Windows path ("C:\web\a.htm"), which old local sites hold.
  static constexpr std::string_view kKnown[] = {
      "about",    "app",         "bitcoin", "blob",  "callto",     "chrome", "data",   "facetime",
      "fax",      "feed",        "file",    "ftp",   "geo",        "git",    "gopher", "im",
      "intent",   "irc",         "ircs",    "itms",  "javascript", "ldap",   "line",   "magnet",
      "mailto",   "maps",        "market",  "mms",   "news",       "nntp",   "sftp",   "sip",
      "sips",     "skype",       "sms",     "smsto", "ssh",        "tel",    "telnet", "urn",
      "vbscript", "view-source", "webcal",  "ws",    "wss",        "xmpp"};
  return scheme.size() == 1 ||
         std::find(std::begin(kKnown), std::end(kKnown), scheme) != std::end(kKnown);
}

std::string CleanReference(std::string_view reference) {
  auto blank = [](char c) { return static_cast<unsigned char>(c) <= 0x20; };
  while (!reference.empty() && blank(reference.front())) reference.remove_prefix(1);
  while (!reference.empty() && blank(reference.back())) reference.remove_suffix(1);
  std::string out;
  out.reserve(reference.size());
  for (char c : reference)
    if (c != '\t' && c != '\n' && c != '\r') out += c;
  return out;
}

std::string DecodeCharacterReferences(std::string_view text) {
  static constexpr std::pair<std::string_view, char32_t> kNamed[] = {
      {"amp", U'&'}, {"lt", U'<'}, {"gt", U'>'}, {"quot", U'"'}, {"apos", U'\''}, {"nbsp", 0xA0}};
  if (text.find('&') == std::string_view::npos) return std::string(text);
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const size_t semicolon = text[i] == '&' ? text.find(';', i) : std::string_view::npos;
    if (semicolon == std::string_view::npos || semicolon - i > 10) {
      out += text[i];
      continue;
    }
    const std::string name(text.substr(i + 1, semicolon - i - 1));
    char32_t code = 0;
    if (name.size() > 1 && name[0] == '#') {
      const bool hex = name[1] == 'x' || name[1] == 'X';
      char* end = nullptr;
      const unsigned long value = std::strtoul(name.c_str() + (hex ? 2 : 1), &end, hex ? 16 : 10);
      if (end && *end == '\0' && value > 0 && value <= 0x10FFFF)
        code = static_cast<char32_t>(value);
    }
    for (const auto& [known, character] : kNamed)
      if (name == known) code = character;
    if (code == 0 || (code >= 0xD800 && code <= 0xDFFF)) {
      out += text[i];
      continue;
    }
    AppendUtf8(code, &out);
    i = semicolon;
  }
  return out;
}

std::string SchemeOf(std::string_view reference) {
  for (size_t i = 0; i < reference.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(reference[i]);
    if (c == ':') return i > 0 ? Lower(reference.substr(0, i)) : "";
    const bool allowed = std::isalpha(c) || (i > 0 && (std::isdigit(c) || c == '+' || c == '-' || c == '.'));
    if (!allowed) return "";
  }
  return "";
}

std::optional<UrlParts> SplitUrl(std::string_view url) {
  const std::string scheme = SchemeOf(url);
  if ((scheme != "http" && scheme != "https") || url.substr(scheme.size(), 3) != "://")
    return std::nullopt;
  UrlParts parts;
  parts.scheme = scheme;
  std::string_view rest = url.substr(scheme.size() + 3);
  const size_t end = rest.find_first_of("/?#");
  parts.authority = Lower(rest.substr(0, end));
  SplitRest(end == std::string_view::npos ? "" : rest.substr(end), &parts.path, &parts.query,
            &parts.fragment);
  if (parts.path.empty()) parts.path.push_back('/');
  return parts;
}

std::string RemoveDotSegments(std::string_view path) {
  std::vector<std::string_view> kept;
  const bool absolute = !path.empty() && path.front() == '/';
  bool ends_in_folder = false;
  size_t start = absolute ? 1 : 0;
  while (start <= path.size()) {
    size_t slash = path.find('/', start);
    if (slash == std::string_view::npos) slash = path.size();
    const std::string_view segment = path.substr(start, slash - start);
    const int dots = DotsOf(segment);
    ends_in_folder = dots > 0;
    if (dots == 2) {
      if (!kept.empty()) kept.pop_back();
    } else if (dots == 0) {
      kept.push_back(segment);
    }
    start = slash + 1;
  }
  std::string out = absolute ? "/" : "";
  for (size_t i = 0; i < kept.size(); ++i) {
    if (i > 0) out += '/';
    out += kept[i];
  }
  // "a/.." names the folder: it keeps its closing "/".
  if (ends_in_folder && !kept.empty() && !kept.back().empty()) out += '/';
  return out;
}

std::optional<std::string> ResolveUrl(std::string_view base, std::string_view written) {
  const std::optional<UrlParts> from = SplitUrl(base);
  if (!from) return std::nullopt;
  const std::string cleaned = CleanReference(written);
  if (!SchemeOf(cleaned).empty()) return cleaned;
  const std::string reference = ForwardSlashes(cleaned);
  std::string path, query, fragment;
  if (IsSchemeRelative(reference)) {
    const std::string_view rest = std::string_view(reference).substr(2);
    const size_t end = std::min(rest.find_first_of("/?#"), rest.size());
    SplitRest(rest.substr(end), &path, &query, &fragment);
    return from->scheme + "://" + std::string(rest.substr(0, end)) +
           RemoveDotSegments(path.empty() ? "/" : path) + query + fragment;
  }
  SplitRest(reference, &path, &query, &fragment);
  if (path.empty()) {
    path = from->path;
    if (query.empty()) query = from->query;
  } else if (path.front() != '/') {
    path = from->path.substr(0, from->path.rfind('/') + 1) + path;
  }
  return from->scheme + "://" + from->authority + RemoveDotSegments(path) + query + fragment;
}

std::optional<std::string> NormalizeUrl(std::string_view url) {
  // Addresses a browser sends alike are one page: "a b" and "a%20b", a name and its punycode.
  std::optional<UrlParts> parts = SplitUrl(BrowserAddress(url));
  if (!parts) return std::nullopt;
  const std::string default_port = parts->scheme == "http" ? ":80" : ":443";
  if (parts->authority.ends_with(default_port))
    parts->authority.resize(parts->authority.size() - default_port.size());
  std::string out = parts->scheme + "://" + parts->authority;
  const std::string rest = RemoveDotSegments(parts->path) + parts->query;
  for (size_t i = 0; i < rest.size(); ++i) {
    if (rest[i] == '%' && i + 2 < rest.size() && HexValue(rest[i + 1]) >= 0 &&
        HexValue(rest[i + 2]) >= 0) {
      const char c = static_cast<char>(HexValue(rest[i + 1]) * 16 + HexValue(rest[i + 2]));
      const bool unreserved = std::isalnum(static_cast<unsigned char>(c)) || c == '-' ||
                              c == '.' || c == '_' || c == '~';
      out += unreserved ? std::string(1, c)
                        : std::string{'%', static_cast<char>(std::toupper(rest[i + 1])),
                                      static_cast<char>(std::toupper(rest[i + 2]))};
      i += 2;
    } else {
      out += rest[i];
    }
  }
  return out;
}

std::string RequestAddress(std::string_view written, bool keep_query) {
  size_t end = written.find('#');
  if (!keep_query) end = std::min(end, written.find('?'));
  return std::string(written.substr(0, end));
}

std::optional<std::string> AsciiHost(std::string_view host) {
  const std::string name(host);
  char* ascii = nullptr;
  int status = idn2_to_ascii_8z(name.c_str(), &ascii, IDN2_NONTRANSITIONAL);
  // Names valid only under the older rules (some symbols) still have their transitional form.
  if (status != IDN2_OK) status = idn2_to_ascii_8z(name.c_str(), &ascii, IDN2_TRANSITIONAL);
  if (status != IDN2_OK || !ascii) return std::nullopt;
  std::string out = Lower(ascii);
  idn2_free(ascii);
  return out;
}

std::string BrowserAddress(std::string_view address, TextForm query_form) {
  // Nearly every address is sent as written: printable ASCII with no dot segment, backslash or
  // character a browser escapes.
  const bool as_written =
      std::all_of(address.begin(), address.end(),
                  [](char c) {
                    return c > 0x20 && c < 0x7F && std::string_view("\\\"<>`{}'#").find(c) ==
                                                       std::string_view::npos;
                  }) &&
      address.find("/.") == std::string_view::npos && address.find("/%2") == std::string_view::npos;
  if (as_written) return std::string(address);
  std::string cleaned = CleanReference(address);
  const std::string scheme = SchemeOf(cleaned);
  if (scheme != "http" && scheme != "https") return cleaned;
  const std::string slashed = ForwardSlashes(cleaned);
  std::string_view rest = std::string_view(slashed).substr(scheme.size() + 1);
  if (!IsSchemeRelative(rest)) return cleaned;
  rest.remove_prefix(2);
  const size_t end = std::min(rest.find_first_of("/?#"), rest.size());
  const std::optional<std::string> authority = AsciiAuthority(rest.substr(0, end));
  if (!authority) return cleaned;
  std::string path, query, fragment;
  SplitRest(rest.substr(end), &path, &query, &fragment);
  std::string out = cleaned.substr(0, scheme.size()) + "://" + *authority;
  AppendEscaped(RemoveDotSegments(path.empty() ? "/" : path), "\"<>`{}", &out);
  AppendEscaped(query_form == TextForm::kShiftJis ? Utf8ToCp932(query) : query, "\"<>'", &out);
  return out;
}

std::optional<std::string> LocalPathOf(std::string_view url_path) {
  std::string out;
  size_t start = 0;
  while (start < url_path.size()) {
    size_t slash = url_path.find('/', start);
    if (slash == std::string_view::npos) slash = url_path.size();
    const std::string segment = PercentDecode(url_path.substr(start, slash - start));
    // An escaped "/" is part of one name, never a step to another folder: no file has it.
    if (segment.find_first_of(std::string_view("/\0", 2)) != std::string::npos || segment == "." ||
        segment == "..")
      return std::nullopt;
    out += segment;
    if (slash < url_path.size()) out += '/';
    start = slash + 1;
  }
  return out;
}

std::string PercentDecode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
        HexValue(text[i + 2]) >= 0) {
      out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

}  // namespace voxtrel
