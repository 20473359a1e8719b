#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/disk.h"
#include "web/link.h"

namespace voxtrel {

/// The folder index pages a link to a folder is answered by, in the order looked for.
inline constexpr const char* kIndexPages[] = {"index.html", "index.htm", "index.shtml",
                                              "default.htm"};

/// Looks the targets of internal links up on the disk, each distinct target once per run.
class LocalLinkChecker {
 public:
  explicit LocalLinkChecker(DiskInterface& disk) : disk_(disk) {}

  /// ◎ when `path` is a file (and, for a page, `anchor` names an element of it, unless empty or
  /// "top") or a folder holding an index page; × otherwise, saying why. The file is looked for by
  /// the path's UTF-8 bytes and by their code page 932 form, as old Windows sites store names.
  /// The first `root_size` bytes of `path` are its root, taken as they are: nothing above it
  /// is listed.
  CheckOutcome Check(const std::string& path, const std::string& anchor, size_t root_size = 0);

 private:
  enum class Found { kNone, kFile, kFolder };
  Found Lookup(const std::string& path);
  /// The name as it is on the disk that differs from `path` in letter case only, when such a
  /// path exists.
  std::optional<std::string> CaseMatch(const std::string& path, size_t root_size);
  const std::vector<DirEntry>* Listing(const std::string& folder);
  bool HasAnchor(const std::string& page, const std::string& anchor);

  DiskInterface& disk_;
  std::map<std::string, CheckOutcome> checked_;
  std::map<std::string, std::optional<std::vector<DirEntry>>> listings_;
  std::map<std::string, std::set<std::string>> anchors_;
};

}  // namespace voxtrel
