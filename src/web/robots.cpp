#include "web/robots.h"

#include "platform/text.h"

namespace voxtrel {
namespace {

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
    text.remove_suffix(1);
  return text;
}

// Whether `pattern` ("*" any run of characters, a final "$" the end) matches the start of
// `path`. Greedy with one step back to the last "*", so no pattern a server writes can make it
// slow.
bool Matches(std::string_view pattern, std::string_view path) {
  const bool anchored = !pattern.empty() && pattern.back() == '$';
  if (anchored) pattern.remove_suffix(1);
  size_t p = 0, s = 0, star = std::string_view::npos, resume = 0;
  for (;;) {
    if (p == pattern.size() && (!anchored || s == path.size())) return true;
    if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      resume = s;
    } else if (p < pattern.size() && s < path.size() && pattern[p] == path[s]) {
      ++p;
      ++s;
    } else if (star != std::string_view::npos && resume < path.size()) {
      p = star + 1;
      s = ++resume;
    } else {
      return false;
    }
  }
}

}  // namespace

RobotsRules::RobotsRules(std::string_view text, std::string_view agent) {
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
    if ((key != "ALLOW" && key != "DISALLOW") || value.empty()) continue;
    const std::pair<std::string, bool> rule{std::string(value), key == "ALLOW"};
    if (for_own) own.push_back(rule);
    if (for_any) any.push_back(rule);
  }
  rules_ = own_group ? std::move(own) : std::move(any);
}

bool RobotsRules::Allows(std::string_view path) const {
  if (path == "/robots.txt") return true;
  size_t longest = 0;
  bool allowed = true;
  for (const auto& [pattern, allow] : rules_) {
    if (!Matches(pattern, path)) continue;
    if (pattern.size() > longest || (pattern.size() == longest && allow)) {
      longest = pattern.size();
      allowed = allow;
    }
  }
  return allowed;
}

}  // namespace voxtrel
