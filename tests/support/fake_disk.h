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
enum class DiskOp { kList, kRead, kWrite, kDelete };

/// A disk held in memory: a map from path to file bytes or folder. Records every call and fails
/// the operations it is told to fail. Paths are compared as given ("/a/b"), except that a
/// trailing "/" on a folder to list or a path to test is dropped.
class FakeDisk : public DiskInterface {
 public:
  /// Adds (or replaces) a file; its missing parent folders are added as plain folders.
  void AddFile(const std::string& path, const std::string& bytes, int attributes = kAttrArchive);
  /// Adds a folder and its missing parents; `attributes` is what a listing reports for it.
  void AddFolder(const std::string& path, int attributes = kAttrDirectory);
  /// Changes the attribute value a listing reports for an existing entry.
  void SetAttributes(const std::string& path, int attributes);
  /// Makes `op` on `path` fail from now on (reading also makes FileExists false; a copy fails
  /// when its source fails reading or its target fails writing).
  void Fail(DiskOp op, const std::string& path);
  void Remove(const std::string& path);

  bool HasFile(const std::string& path) const;
  bool HasFolder(const std::string& path) const;
  /// The bytes of a file, or nothing when there is no such file.
  std::optional<std::string> Contents(const std::string& path) const;

  bool ListFolder(const std::string& folder, std::vector<DirEntry>* entries,
                  std::string* err) override;
  std::unique_ptr<InputFile> OpenForReading(const std::string& path, std::string* err) override;
  bool ReadWholeFile(const std::string& path, std::string* bytes, std::string* err) override;
  bool WriteWholeFile(const std::string& path, const std::string& bytes, std::string* err) override;
  bool CopyFile(const std::string& from, const std::string& to, std::string* err) override;
  bool DeleteFile(const std::string& path, std::string* err) override;
  bool ReplaceFile(const std::string& from, const std::string& to, std::string* err) override;
  bool FileExists(const std::string& path) override;

  /// Every call in order, one line each: "list F", "open P", "read P", "write P",
  /// "copy A -> B", "delete P", "exists P".
  std::vector<std::string> log;
  std::vector<std::string> listed;
  /// Paths opened or read whole.
  std::vector<std::string> read;
  std::vector<std::string> written;
  std::vector<std::pair<std::string, std::string>> copied;
  std::vector<std::string> deleted;

 private:
  struct Entry {
    bool folder = false;
    std::string bytes;
    int attributes = 0;
  };

  bool Fails(DiskOp op, const std::string& path) const;
  const Entry* Find(const std::string& path) const;
  void AddParents(const std::string& path);
  /// Stores a file written through the interface, keeping the attributes of one it replaces.
  void Store(const std::string& path, const std::string& bytes);

  std::map<std::string, Entry> entries_;
  std::set<std::pair<DiskOp, std::string>> failures_;
};

}  // namespace voxtrel::test
