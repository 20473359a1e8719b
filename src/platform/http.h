#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace voxtrel {

/// Called repeatedly while a request waits on the network. Returning false abandons the request.
using KeepAliveHook = std::function<bool()>;

/// One synchronous HTTP request: open, send, then read body and status.
class HttpRequest {
 public:
  virtual ~HttpRequest() = default;
  /// Prepares a request; false when the address or method cannot be used (the request then fails).
  virtual bool Open(const std::string& method, const std::string& url) = 0;
  /// Performs the request and returns when it is complete or has failed; false on failure.
  virtual bool Send(const KeepAliveHook& keep_alive) = 0;
  /// Body bytes received, decoded from any content encoding, at most the factory's body cap.
  virtual const std::string& ResponseBody() const = 0;
  /// Final status after redirects, or nothing when the request failed.
  virtual std::optional<int> Status() const = 0;
};

/// Creates requests by programmatic identifier; nullptr when creation fails.
class HttpRequestFactory {
 public:
  virtual ~HttpRequestFactory() = default;
  virtual std::unique_ptr<HttpRequest> Create(const std::string& prog_id) = 0;
};

/// The most body bytes a request keeps; the rest of a longer body is never stored.
inline constexpr size_t kBodyCap = 8u << 20;

struct HttpOptions {
  long connect_timeout_ms = 15000;
  long total_timeout_ms = 60000;
  size_t body_cap = kBodyCap;
  long max_redirects = 10;
  /// How often the keep-alive hook runs while waiting.
  long keep_alive_interval_ms = 50;
  std::string user_agent;  // empty: "Voxtrel/<version>"
};

/// Requests on libcurl.
class CurlRequestFactory : public HttpRequestFactory {
 public:
  explicit CurlRequestFactory(HttpOptions options = {});
  std::unique_ptr<HttpRequest> Create(const std::string& prog_id) override;

 private:
  HttpOptions options_;
};

}  // namespace voxtrel
