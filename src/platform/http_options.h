#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

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
  /// "Name: value" lines sent with every request, after the usual ones (a name given here
  /// replaces the usual header of that name).
  std::vector<std::string> headers;
  /// Log in with the credentials of ~/.netrc (or of `netrc_file` when given) for the hosts it
  /// names; libcurl reads the file.
  bool netrc = false;
  std::string netrc_file;
};

}  // namespace voxtrel
