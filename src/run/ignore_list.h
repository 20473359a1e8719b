#pragma once

#include <string>
#include <vector>

#include "platform/disk.h"

namespace voxtrel {

/// The file in a checked folder that lists the addresses its user has set aside.
inline constexpr const char* kIgnoreFileName = ".voxtrelignore";

/// Addresses set aside: each exact, or a pattern in which "*" stands for any run of characters.
class IgnoreList {
 public:
  /// Reads one address or pattern a line (UTF-8; "#" starts a comment line; blanks around a
  /// line are dropped, blank lines passed over).
  void Add(const std::string& text);
  bool Matches(const std::string& address) const;
  bool empty() const { return exact_.empty() && patterns_.empty(); }

 private:
  std::vector<std::string> exact_;
  std::vector<std::string> patterns_;
};

/// Adds the lines of the file at `path` to *list; a missing file adds nothing. False with *why
/// when it exists but cannot be read.
bool ReadIgnoreFile(DiskInterface& disk, const std::string& path, IgnoreList* list,
                    std::string* why);

/// Adds `address` as a line of its own at the end of the file at `path` (made when missing),
/// keeping every line already there; written safely, as every file is.
bool AddToIgnoreFile(DiskInterface& disk, const std::string& path, const std::string& address,
                     std::string* why);

}  // namespace voxtrel
