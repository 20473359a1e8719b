#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace voxtrel {

/// The most body bytes a request keeps; the rest of a longer body is never stored.
inline constexpr size_t kBodyCap = 8u << 20;

struct HttpOptions {
  long connect_timeout_ms = 15000;
  long total_timeout_ms = 60000;
  size_t body_cap = kBodyCap;
  long max_redirects = 10;
  std::string user_agent;  // empty: "Voxtrel/<version>"
  /// A PEM file of the certificates trusted for https, in place of the system's; empty: the
  /// system's. Certificates are always verified.
  std::string ca_file;
};

}  // namespace voxtrel
