#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace voxtrel {

/// The most of a robots.txt that is read, in bytes; what follows is ignored, as other crawlers
/// ignore it.
inline constexpr size_t kRobotsCap = 500 * 1024;
/// Rules longer than this, in bytes, are dropped; a path is matched on its first this many bytes.
inline constexpr size_t kRobotsRuleCap = 2048;
inline constexpr size_t kRobotsPathCap = 2048;

/// Where the robots.txt of the site of `page` lies; "" when `page` is no web address.
std::string RobotsAddress(const std::string& page);

/// The rules of a site's robots.txt for one crawler, read as RFC 9309 says.
class RobotsRules {
 public:
  /// Everything allowed: what a missing or unreadable robots.txt means.
  RobotsRules() = default;
  /// The groups of `text` for the product token `agent` (any case), else those for "*". A byte
  /// order mark is skipped; what lies past kRobotsCap, and the line the cap cuts, is ignored.
  RobotsRules(std::string_view text, std::string_view agent);

  /// Whether `path` ("/" and what follows, query included) may be crawled: the longest rule
  /// that matches decides, an allow winning a tie; no match allows. Each rule costs at most one
  /// pass over the path's first kRobotsPathCap bytes plus its own length.
  bool Allows(std::string_view path) const;

 private:
  std::vector<std::pair<std::string, bool>> rules_;  // pattern, allow
};

}  // namespace voxtrel
