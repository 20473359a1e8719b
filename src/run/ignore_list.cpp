#include "run/ignore_list.h"

#include <algorithm>
#include <string_view>

#include "platform/text.h"

namespace voxtrel {
namespace {

std::string Trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t\r\n\f\v");
  if (first == std::string::npos) return "";
  const size_t last = text.find_last_not_of(" \t\r\n\f\v");
  return text.substr(first, last - first + 1);
}

}  // namespace

void IgnoreList::Add(const std::string& text) {
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = Trimmed(text.substr(start, end - start));
    if (start == 0 && line.starts_with("\xEF\xBB\xBF")) line = Trimmed(line.substr(3));
    if (!line.empty() && line[0] != '#')
      (line.find('*') == std::string::npos ? exact_ : patterns_).push_back(std::move(line));
    start = end + 1;
  }
  std::sort(exact_.begin(), exact_.end());
}

bool IgnoreList::Matches(const std::string& address) const {
  if (std::binary_search(exact_.begin(), exact_.end(), address)) return true;
  return std::any_of(patterns_.begin(), patterns_.end(),
                     [&](const std::string& pattern) { return MatchesStars(pattern, address); });
}

bool ReadIgnoreFile(DiskInterface& disk, const std::string& path, IgnoreList* list,
                    std::string* why) {
  if (!disk.FileExists(path)) return true;
  std::string text;
  if (!disk.ReadWholeFile(path, &text, why)) return false;
  list->Add(text);
  return true;
}

bool AddToIgnoreFile(DiskInterface& disk, const std::string& path, const std::string& address,
                     std::string* why) {
  if (address.empty() || address.find_first_of("\r\n") != std::string::npos) {
    *why = "an address to set aside is one line";
    return false;
  }
  std::string text;
  if (disk.FileExists(path) && !disk.ReadWholeFile(path, &text, why)) return false;
  if (!text.empty() && text.back() != '\n') text += '\n';
  text += address + "\n";
  return disk.WriteWholeFile(path, text, why);
}

}  // namespace voxtrel
