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

#include "platform/http_answer.h"
#include "platform/http_options.h"

namespace voxtrel {

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
  void* headers_ = nullptr;  // curl_slist*, the extra header lines of every request
  void* multi_ = nullptr;  // CURLM*, kept out of this header
  void* share_ = nullptr;  // CURLSH*
  std::vector<std::unique_ptr<Transfer>> transfers_;
  std::vector<std::pair<uint64_t, HttpAnswer>> bad_addresses_;  // told on the next Wait
  size_t connection_cache_ = 0;
};

}  // namespace voxtrel
