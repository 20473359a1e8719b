#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "web/page.h"

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

/// Whether a reference without a scheme names a host: it starts with two slashes, "\" counting
/// as "/" as in every http(s) address.
bool IsSchemeRelative(std::string_view reference);

/// Whether browsers know links of this lower-case scheme as something other than a web page
/// ("mailto", "tel", "javascript", "ftp", a Windows drive letter): a link check passes them over,
/// while any other scheme is a mistyped one a reader clicks in vain.
bool IsKnownScheme(std::string_view scheme);

/// `reference` as a browser reads it from an attribute: C0 controls and blanks cut at both ends,
/// tabs and line breaks dropped wherever they are.
std::string CleanReference(std::string_view reference);

/// `text` with its character references (&amp;, &#38;, &#x26; and the few names addresses hold)
/// replaced by their characters in UTF-8; an unknown or unfinished one stays as written.
std::string DecodeCharacterReferences(std::string_view text);

/// `path` with its "." and ".." segments resolved, "%2e" counting as "." in any letter case;
/// ".." never climbs above the first "/".
std::string RemoveDotSegments(std::string_view path);

/// `written` (relative, "/…", "//host/…", or absolute) resolved against the absolute http(s)
/// address `base`, as a browser resolves a link: cleaned as CleanReference, "\" read as "/"
/// and "%2e" as "." in a relative one; nothing when `base` is no such address.
std::optional<std::string> ResolveUrl(std::string_view base, std::string_view written);

/// The form two addresses of one page share, for telling pages apart: fragment cut, scheme and
/// host lower-cased, default port dropped, "." and ".." resolved, escapes of unreserved
/// characters decoded and the others' hex upper-cased. Nothing for an address that is no
/// absolute http(s) one.
std::optional<std::string> NormalizeUrl(std::string_view url);

/// The address of a link for a request: the fragment always cut, the query unless kept.
std::string RequestAddress(std::string_view written, bool keep_query);

/// The address a browser sends for the absolute http(s) address `address` (UTF-8): cleaned as
/// CleanReference, "\" read as "/" before the query, the host in punycode, dot segments
/// resolved, blanks, controls and non-ASCII bytes percent-encoded (the path's as UTF-8, the
/// query's in `query_form`'s encoding, as the page's own), escapes kept, the fragment cut.
/// Anything else, or a host with no punycode form, comes back cleaned only.
std::string BrowserAddress(std::string_view address, TextForm query_form = TextForm::kUtf8);

/// A host name in the ASCII form DNS asks for: punycode labels for an internationalised name
/// (UTS #46, non-transitional, else transitional), lower-cased; nothing when it has none.
std::optional<std::string> AsciiHost(std::string_view host);

/// The file path an address's path names below its site's root: each segment percent-decoded.
/// Nothing when a segment decodes to a name no file has (one holding "/" or NUL, "." or "..").
std::optional<std::string> LocalPathOf(std::string_view url_path);

/// Every %XX escape replaced by its byte; a "%" without two hex digits stays.
std::string PercentDecode(std::string_view text);

}  // namespace voxtrel
