#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace voxtrel {

/// Header fields of an answer, in the order sent: the name in lower case, the value without
/// surrounding blanks.
using HeaderFields = std::vector<std::pair<std::string, std::string>>;

/// Why a request gave no usable answer.
enum class HttpFailure {
  kNone,
  kBadAddress,  // the link's own address cannot be requested
  kTimeout,
  kRefused,
  kHostNotFound,
  kTls,  // the server's certificate is not trusted
  kTooManyRedirects,
  kCutOff,           // the connection ended before the whole answer: closed, reset, cut short
  kOther,            // a failure on this side (out of memory, say)
  kTlsHandshake,     // no TLS session came about: a plain http server, no common cipher
  kCertificateFile,  // the certificates to trust could not be read
  kBadAnswer,        // what came back is no HTTP answer, or a broken one
  kBadEncoding,      // the body's content encoding could not be decoded
  kBadRedirect,      // a redirect to an address that cannot be requested (ftp://, say)
  kUnreachable,      // no route to the host or its network
  kProxy,            // the proxy could not be found or refused the request
};

/// How one request ended.
struct HttpAnswer {
  std::optional<int> status;  // final status after redirects; nothing whenever failure != kNone
  HttpFailure failure = HttpFailure::kNone;
  int redirects = 0;    // redirects followed
  /// Where the redirects ended; "" when none was followed.
  std::string final_url;
  /// The first answer was a permanent redirect (301, 308): the link itself should change.
  bool moved_permanently = false;
  long elapsed_ms = 0;  // from Start to completion
  /// The final answer's Retry-After in seconds from now (a past date gives 0); nothing when
  /// absent or unreadable.
  std::optional<long> retry_after_s;
  std::string content_type;  // the final answer's Content-Type as sent; "" when none
  std::string body;          // only with keep_body: the decoded body, at most body_cap bytes
  bool body_cut = false;     // the body went on past body_cap (or keep_cap) and was cut there
  /// Only with keep_body: the final answer's header fields.
  HeaderFields headers;
};

/// Whether a Content-Type value names an HTML page: text/html or application/xhtml+xml.
bool IsHtmlContentType(std::string_view content_type);

/// Whether a Content-Type value names a style sheet: text/css.
bool IsStyleSheetContentType(std::string_view content_type);

/// Receives the decoded body as it arrives, in order, at most body_cap bytes in all. A request
/// that then fails has still handed over what came before the failure.
using BodyChunkSink = std::function<void(std::string_view chunk)>;

/// What to ask for and what to do with the body.
struct HttpRequest {
  std::string url;
  bool keep_body = false;  // store the body in HttpAnswer::body (a page to scan)
  BodyChunkSink on_body;   // optional; called with every chunk (also with keep_body)
  size_t body_cap = 0;     // the most body bytes taken; 0: the pool's HttpOptions::body_cap
  /// With keep_body: store it only when the answer is an HTML page or a style sheet, so that a
  /// crawl asking whatever a site links keeps no images or archives.
  bool keep_pages_only = false;
  /// With keep_body: the most bytes stored in the body (0: body_cap). The rest still reaches
  /// on_body, up to body_cap, so a longer body is read as it would be without keep_body.
  size_t keep_cap = 0;
};

}  // namespace voxtrel
