#pragma once

#include <algorithm>
#include <memory>

#include "platform/http_pool.h"

namespace voxtrel {

/// The window's requests: one connection pool, made anew when the user sets another time-out.
class WindowPool : public HttpPool {
 public:
  WindowPool() : pool_(std::make_unique<CurlPool>()) {}

  /// Every request from now on takes at most `seconds` in all and connects within the smaller
  /// of that and 15 s, as the checker's --timeout has it. Only between runs.
  void SetTimeout(int seconds) {
    HttpOptions options;
    options.total_timeout_ms = seconds * 1000L;
    options.connect_timeout_ms = std::min(options.connect_timeout_ms, options.total_timeout_ms);
    pool_ = std::make_unique<CurlPool>(options);
  }

  bool Start(uint64_t id, HttpRequest request) override {
    return pool_->Start(id, std::move(request));
  }
  void Wait(int timeout_ms, std::vector<std::pair<uint64_t, HttpAnswer>>* finished) override {
    pool_->Wait(timeout_ms, finished);
  }
  void CancelAll() override { pool_->CancelAll(); }
  size_t InFlight() const override { return pool_->InFlight(); }

 private:
  std::unique_ptr<CurlPool> pool_;
};

}  // namespace voxtrel
