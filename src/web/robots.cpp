#include "web/robots.h"

#include <cstring>
#include <optional>

#include "platform/text.h"
#include "web/url.h"

namespace voxtrel {
namespace {

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
    text.remove_suffix(1);
  return text;
}

// Where `piece` first occurs in `path` at or after `from`; npos when nowhere. glibc's memmem
// is linear in both lengths, so no piece a server writes makes a search slow.
size_t Find(std::string_view path, std::string_view piece, size_t from) {
  if (piece.empty()) return from;
  const void* at = memmem(path.data() + from, path.size() - from, piece.data(), piece.size());
  return at ? static_cast<size_t>(static_cast<const char*>(at) - path.data())
            : std::string_view::npos;
}

// Whether `pattern` ("*" any run of characters, a final "$" the end) matches the start of
// `path`. Each piece between "*"s is taken where it first occurs after the one before: if any
// match exists, that one is a match, so a rule costs one pass over the path. A path cut at the
// cap has no end for a "$" to match.
bool Matches(std::string_view pattern, std::string_view path, bool path_cut) {
  const bool anchored = !pattern.empty() && pattern.back() == '$';
  if (anchored) pattern.remove_suffix(1);
  const size_t star = pattern.find('*');
  if (!path.starts_with(pattern.substr(0, star))) return false;
  if (star == std::string_view::npos)
    return !anchored || (path.size() == pattern.size() && !path_cut);
  size_t at = star;
  std::string_view rest = pattern.substr(star + 1);
  for (size_t next = rest.find('*'); next != std::string_view::npos; next = rest.find('*')) {
    at = Find(path, rest.substr(0, next), at);
    if (at == std::string_view::npos) return false;
    at += next;
    rest.remove_prefix(next + 1);
  }
  if (!anchored || rest.empty()) return Find(path, rest, at) != std::string_view::npos;
  return !path_cut && path.size() >= at + rest.size() && path.ends_with(rest);
}

}  // namespace

std::string RobotsAddress(const std::string& page) {
  const std::optional<UrlParts> parts = SplitUrl(page);
  return parts ? parts->scheme + "://" + parts->authority + "/robots.txt" : std::string();
}

RobotsRules::RobotsRules(std::string_view text, std::string_view agent) {
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  if (text.size() > kRobotsCap) {
    // A rule the cap cuts could keep out more than its writer meant.
    text = text.substr(0, kRobotsCap);
    text = text.substr(0, text.rfind('\n') + 1);
  }
  const std::string wanted = AsciiUpper(agent);
  std::vector<std::pair<std::string, bool>> own, any;
  bool in_agents = false;  // the last line read was a user-agent line
  bool for_own = false, for_any = false, own_group = false;
  while (!text.empty()) {
    size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    line = Trimmed(line.substr(0, line.find('#')));
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    const std::string key = AsciiUpper(Trimmed(line.substr(0, colon)));
    const std::string_view value = Trimmed(line.substr(colon + 1));
    if (key == "USER-AGENT") {
      // Agent lines in a row name one group; one after rules starts the next.
      if (!in_agents) for_own = for_any = false;
      in_agents = true;
      const std::string name = AsciiUpper(value);
      for_own = for_own || name == wanted;
      own_group = own_group || for_own;
      for_any = for_any || name == "*";
      continue;
    }
    in_agents = false;
    if ((key != "ALLOW" && key != "DISALLOW") || value.empty() || value.size() > kRobotsRuleCap)
      continue;
    const std::pair<std::string, bool> rule{std::string(value), key == "ALLOW"};
    if (for_own) own.push_back(rule);
    if (for_any) any.push_back(rule);
  }
  rules_ = own_group ? std::move(own) : std::move(any);
}

bool RobotsRules::Allows(std::string_view path) const {
  if (path == "/robots.txt") return true;
  const bool cut = path.size() > kRobotsPathCap;
  path = path.substr(0, kRobotsPathCap);
  size_t longest = 0;
  bool allowed = true;
  for (const auto& [pattern, allow] : rules_) {
    if (!Matches(pattern, path, cut)) continue;
    if (pattern.size() > longest || (pattern.size() == longest && allow)) {
      longest = pattern.size();
      allowed = allow;
    }
  }
  return allowed;
}

}  // namespace voxtrel
