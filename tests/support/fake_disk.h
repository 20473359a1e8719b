#pragma once

#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/disk.h"

namespace voxtrel::test {

/// The operations a FakeDisk can be told to fail for a path.
enum class DiskOp { kRead, kWrite };

/// Files held in memory, path to bytes, for the failures a real disk will not give on demand.
/// A folder is there while a file is under it; it lists the files and folders directly in it. Every operation is recorded in `log` as its name and
/// path ("list /s", "read /s/a.htm", "write ...", "delete ...").
class FakeDisk : public DiskInterface {
 public:
  void AddFile(const std::string& path, const std::string& bytes) {
    files_[path] = bytes;
    times_[path] = ++clock_;
  }
  /// Makes `op` on `path` fail from now on (a failed read also makes FileExists false).
  void Fail(DiskOp op, const std::string& path) { failures_.insert({op, path}); }
  /// The bytes of a file, or nothing when there is no such file.
  std::optional<std::string> Contents(const std::string& path) const;

  bool ListFolder(const std::string& folder, std::vector<DirEntry>* entries,
                  std::string* err) override;
  std::unique_ptr<InputFile> OpenForReading(const std::string& path, std::string* err) override;
  bool ReadWholeFile(const std::string& path, std::string* bytes, std::string* err) override;
  bool WriteWholeFile(const std::string& path, const std::string& bytes, std::string* err) override;
  bool DeleteFile(const std::string& path, std::string* err) override;
  bool FileExists(const std::string& path) override;
  bool IsFolder(const std::string& path) override;
  /// False for a folder, a path told to fail writes, or a new file outside any folder but "/".
  bool CanWrite(const std::string& path, std::string* err) override;
  /// Each file added or written is modified one tick after the one before.
  bool FactsOf(const std::string& path, FileFacts* facts, std::string* err) override;
  /// A folder is only there while a file is under it, so this only logs "mkdir PATH".
  bool MakeFolders(const std::string& folder, std::string* err) override;

  std::vector<std::string> log;

 private:
  bool Fails(DiskOp op, const std::string& path) const { return failures_.count({op, path}) > 0; }

  std::map<std::string, std::string> files_;
  std::map<std::string, int64_t> times_;
  int64_t clock_ = 0;
  std::set<std::pair<DiskOp, std::string>> failures_;
};

}  // namespace voxtrel::test
