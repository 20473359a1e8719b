#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/http_options.h"

namespace voxtrel {

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
  bool body_cut = false;     // the body went on past body_cap and was cut there
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
};

/// Transfers in flight at once on one connection pool.
class HttpPool {
 public:
  virtual ~HttpPool() = default;
  /// Starts a GET at once. False when no request can be created for it (then nothing started and
  /// nothing will be reported for `id`). An address that cannot be requested is no false: it is
  /// started and reported finished with kBadAddress on the next Wait.
  virtual bool Start(uint64_t id, HttpRequest request) = 0;
  /// Drives the transfers for at most `timeout_ms`, returning as soon as one or more finished
  /// (or at once when none is in flight), and appends every finished request to `finished`.
  virtual void Wait(int timeout_ms, std::vector<std::pair<uint64_t, HttpAnswer>>* finished) = 0;
  /// Abandons every transfer in flight at once; none is reported.
  virtual void CancelAll() = 0;
  /// Requests started and not yet reported.
  virtual size_t InFlight() const = 0;
};

/// Every transfer of a run on one libcurl multi handle: connections stay open and are reused
/// from one request to the next, host names are resolved once, and HTTP/2 streams share a
/// connection. Single-threaded: call it from one thread only.
class CurlPool : public HttpPool {
 public:
  explicit CurlPool(HttpOptions options = {});
  ~CurlPool() override;
  CurlPool(const CurlPool&) = delete;
  CurlPool& operator=(const CurlPool&) = delete;

  bool Start(uint64_t id, HttpRequest request) override;
  void Wait(int timeout_ms, std::vector<std::pair<uint64_t, HttpAnswer>>* finished) override;
  void CancelAll() override;
  size_t InFlight() const override;

 private:
  struct Transfer;

  /// Sets the pool's easy handle options for `transfer`; false when libcurl refused one.
  bool Configure(Transfer& transfer);
  /// Moves every transfer libcurl reports done to `finished`; true when there was one.
  bool Collect(std::vector<std::pair<uint64_t, HttpAnswer>>* finished);
  /// Lets the connection cache hold twice the transfers ever in flight at once.
  void GrowConnectionCache();

  HttpOptions options_;
  std::string user_agent_;
  void* multi_ = nullptr;  // CURLM*, kept out of this header
  void* share_ = nullptr;  // CURLSH*
  std::vector<std::unique_ptr<Transfer>> transfers_;
  std::vector<std::pair<uint64_t, HttpAnswer>> bad_addresses_;  // told on the next Wait
  size_t connection_cache_ = 0;
};

}  // namespace voxtrel
