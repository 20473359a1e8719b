#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace voxtrel {

/// An absolute http(s) address taken apart: scheme and host lower-cased as written otherwise.
struct UrlParts {
  std::string scheme;     // "http" or "https"
  std::string authority;  // host[:port], any user info left in
  std::string path;       // from the first "/", "/" when empty
  std::string query;      // with its "?", or empty
  std::string fragment;   // with its "#", or empty
};

/// The parts of an absolute http:// or https:// address; nothing for anything else.
std::optional<UrlParts> SplitUrl(std::string_view url);

/// The lower-cased scheme a reference starts with ("http", "mailto"), or "" when it has none.
std::string SchemeOf(std::string_view reference);

/// `path` with its "." and ".." segments resolved; ".." never climbs above the first "/".
std::string RemoveDotSegments(std::string_view path);

/// `reference` (relative, "/…", "//host/…", or absolute) resolved against the absolute http(s)
/// address `base`, as a browser resolves a link; nothing when `base` is no such address.
std::optional<std::string> ResolveUrl(std::string_view base, std::string_view reference);

/// The form two addresses of one page share, for telling pages apart: fragment cut, scheme and
/// host lower-cased, default port dropped, "." and ".." resolved, escapes of unreserved
/// characters decoded and the others' hex upper-cased. Nothing for an address that is no
/// absolute http(s) one.
std::optional<std::string> NormalizeUrl(std::string_view url);

/// The address of a link for a request: the fragment always cut, the query unless kept.
std::string RequestAddress(std::string_view written, bool keep_query);

/// Every %XX escape replaced by its byte; a "%" without two hex digits stays.
std::string PercentDecode(std::string_view text);

}  // namespace voxtrel
