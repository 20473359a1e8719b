#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace voxtrel {

/// The rules of a site's robots.txt for one crawler, read as RFC 9309 says.
class RobotsRules {
 public:
  /// Everything allowed: what a missing or unreadable robots.txt means.
  RobotsRules() = default;
  /// The groups of `text` for the product token `agent` (any case), else those for "*".
  RobotsRules(std::string_view text, std::string_view agent);

  /// Whether `path` ("/" and what follows, query included) may be crawled: the longest rule
  /// that matches decides, an allow winning a tie; no match allows.
  bool Allows(std::string_view path) const;

 private:
  std::vector<std::pair<std::string, bool>> rules_;  // pattern, allow
};

}  // namespace voxtrel
