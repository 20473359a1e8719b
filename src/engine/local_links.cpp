#include "engine/local_links.h"

#include <algorithm>

#include "platform/cp932.h"
#include "platform/text.h"
#include "web/html_links.h"
#include "web/page.h"

namespace voxtrel {
namespace {

CheckOutcome Answered() {
  CheckOutcome outcome;
  outcome.kind = CheckOutcome::Kind::kAnswered;
  return outcome;
}

CheckOutcome Failed(FailureReason reason, std::string detail = "") {
  CheckOutcome outcome;
  outcome.reason = reason;
  outcome.detail = std::move(detail);
  return outcome;
}

std::string WithoutTrailingSlash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

}  // namespace

CheckOutcome LocalLinkChecker::Check(const std::string& path, const std::string& anchor,
                                     size_t root_size) {
  const std::string key = path + '#' + anchor;
  auto known = checked_.find(key);
  if (known != checked_.end()) return known->second;

  // Sites copied from Windows keep Shift_JIS file names; the link is written in the page's
  // text, so both spellings of the name below the root are tried.
  root_size = std::min(root_size, path.size());
  std::vector<std::string> spellings = {path};
  const std::string below = path.substr(root_size);
  const std::string cp932 = Utf8ToCp932(below);
  if (cp932 != below && Cp932ToUtf8(cp932) == below)
    spellings.push_back(path.substr(0, root_size) + cp932);
  for (const std::string& spelling : spellings) {
    const Found what = Lookup(spelling);
    if (what == Found::kNone) continue;
    CheckOutcome outcome = Answered();
    if (what == Found::kFolder) {
      outcome = Failed(FailureReason::kNoIndexPage);
      for (const char* index : kIndexPages)
        if (disk_.FileExists(JoinPath(WithoutTrailingSlash(spelling), index))) outcome = Answered();
    } else if (IsHtmlFileName(spelling) && !anchor.empty() && AsciiUpper(anchor) != "TOP" &&
               !HasAnchor(spelling, anchor)) {
      outcome = Failed(FailureReason::kAnchorNotFound);
    }
    return checked_[key] = outcome;
  }
  // A site made on Windows and moved to a Linux server breaks where a name differs in letter
  // case only: say which name it is on the disk.
  CheckOutcome outcome = Failed(FailureReason::kFileNotFound);
  for (const std::string& spelling : spellings) {
    if (auto match = CaseMatch(spelling, root_size)) {
      outcome = Failed(FailureReason::kCaseDiffers, DisplayName(*match));
      break;
    }
  }
  return checked_[key] = outcome;
}

LocalLinkChecker::Found LocalLinkChecker::Lookup(const std::string& path) {
  if (path.empty()) return Found::kNone;
  if (path.back() != '/' && disk_.FileExists(path)) return Found::kFile;
  return Listing(WithoutTrailingSlash(path)) ? Found::kFolder : Found::kNone;
}

const std::vector<DirEntry>* LocalLinkChecker::Listing(const std::string& folder) {
  auto known = listings_.find(folder);
  if (known == listings_.end()) {
    std::vector<DirEntry> entries;
    std::string err;
    std::optional<std::vector<DirEntry>> listing;
    if (disk_.ListFolder(folder, &entries, &err)) listing = std::move(entries);
    known = listings_.emplace(folder, std::move(listing)).first;
  }
  return known->second ? &*known->second : nullptr;
}

std::optional<std::string> LocalLinkChecker::CaseMatch(const std::string& path, size_t root_size) {
  if (path.empty()) return std::nullopt;
  // The walk starts at the root as written; without one, a relative path (a page named
  // relative to the current folder) is walked from there.
  std::string real = root_size > 0 ? path.substr(0, root_size) : path.front() == '/' ? "/" : ".";
  std::string differing;
  size_t start = root_size > 0 ? root_size : path.front() == '/' ? 1 : 0;
  while (start <= path.size()) {
    size_t slash = path.find('/', start);
    if (slash == std::string::npos) slash = path.size();
    const std::string name = path.substr(start, slash - start);
    start = slash + 1;
    if (name.empty() || name == ".") continue;
    if (name == "..") {  // no listing holds it; it is taken as written
      real = real == "." ? name : JoinPath(real, name);
      continue;
    }
    const std::vector<DirEntry>* entries = Listing(real == "/" ? real : WithoutTrailingSlash(real));
    if (!entries) return std::nullopt;
    const DirEntry* exact = nullptr;
    const DirEntry* folded = nullptr;
    for (const DirEntry& entry : *entries) {
      if (entry.name == name) exact = &entry;
      if (!folded && AsciiUpper(entry.name) == AsciiUpper(name)) folded = &entry;
    }
    const DirEntry* entry = exact ? exact : folded;
    if (!entry) return std::nullopt;
    if (!exact) differing = entry->name;
    real = real == "." ? entry->name : JoinPath(real, entry->name);
  }
  if (differing.empty()) return std::nullopt;
  return differing;
}

bool LocalLinkChecker::HasAnchor(const std::string& page, const std::string& anchor) {
  auto known = anchors_.find(page);
  if (known == anchors_.end()) {
    std::set<std::string> ids;
    PageSource source;
    std::string err;
    source.source = page;
    if (disk_.ReadWholeFile(page, &source.bytes, &err)) {
      const PageText text = DecodePage(std::move(source));
      for (std::string& id : FindHtmlLinks(Utf8Text(text)).anchors) ids.insert(std::move(id));
    }
    known = anchors_.emplace(page, std::move(ids)).first;
  }
  return known->second.count(anchor) > 0;
}

}  // namespace voxtrel
