#include "web/url.h"

#include <algorithm>
#include <cctype>
#include <vector>

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

}  // namespace

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
    ends_in_folder = segment == "." || segment == "..";
    if (segment == "..") {
      if (!kept.empty()) kept.pop_back();
    } else if (segment != ".") {
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

std::optional<std::string> ResolveUrl(std::string_view base, std::string_view reference) {
  const std::optional<UrlParts> from = SplitUrl(base);
  if (!from) return std::nullopt;
  if (!SchemeOf(reference).empty()) return std::string(reference);
  if (reference.substr(0, 2) == "//") return from->scheme + ":" + std::string(reference);
  std::string path, query, fragment;
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
  std::optional<UrlParts> parts = SplitUrl(url);
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
