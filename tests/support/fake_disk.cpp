#include "support/fake_disk.h"

#include <algorithm>
#include <cstring>

namespace voxtrel::test {

namespace {

constexpr const char* kNoEntry = "No such file or directory";

void SetErr(std::string* err, const char* text) {
  if (err) *err = text;
}

std::string WithoutTrailingSlash(std::string path) {
  if (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

std::string ParentOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return "";
  return slash == 0 ? "/" : path.substr(0, slash);
}

class FakeInputFile : public InputFile {
 public:
  explicit FakeInputFile(std::string bytes) : bytes_(std::move(bytes)) {}
  size_t Read(char* buffer, size_t size, bool* /*failed*/) override {
    size_t count = std::min(size, bytes_.size() - offset_);
    std::memcpy(buffer, bytes_.data() + offset_, count);
    offset_ += count;
    return count;
  }

 private:
  std::string bytes_;
  size_t offset_ = 0;
};

}  // namespace

void FakeDisk::AddFile(const std::string& path, const std::string& bytes, int attributes) {
  AddParents(path);
  entries_[path] = Entry{false, bytes, attributes};
}

void FakeDisk::AddFolder(const std::string& path, int attributes) {
  AddParents(path);
  entries_[path] = Entry{true, "", attributes};
}

void FakeDisk::AddParents(const std::string& path) {
  for (std::string parent = ParentOf(path); !parent.empty() && parent != "/";
       parent = ParentOf(parent)) {
    if (!entries_.count(parent)) entries_[parent] = Entry{true, "", kAttrDirectory};
  }
}

void FakeDisk::SetAttributes(const std::string& path, int attributes) {
  auto it = entries_.find(path);
  if (it != entries_.end()) it->second.attributes = attributes;
}

void FakeDisk::Fail(DiskOp op, const std::string& path) { failures_.insert({op, path}); }

void FakeDisk::Remove(const std::string& path) { entries_.erase(path); }

bool FakeDisk::Fails(DiskOp op, const std::string& path) const {
  return failures_.count({op, path}) > 0;
}

const FakeDisk::Entry* FakeDisk::Find(const std::string& path) const {
  auto it = entries_.find(path);
  return it == entries_.end() ? nullptr : &it->second;
}

bool FakeDisk::HasFile(const std::string& path) const {
  const Entry* entry = Find(path);
  return entry && !entry->folder;
}

bool FakeDisk::HasFolder(const std::string& path) const {
  const Entry* entry = Find(path);
  return entry && entry->folder;
}

std::optional<std::string> FakeDisk::Contents(const std::string& path) const {
  const Entry* entry = Find(path);
  if (!entry || entry->folder) return std::nullopt;
  return entry->bytes;
}

void FakeDisk::Store(const std::string& path, const std::string& bytes) {
  auto it = entries_.find(path);
  int attributes = it == entries_.end() ? kAttrArchive : it->second.attributes;
  AddParents(path);
  entries_[path] = Entry{false, bytes, attributes};
}

bool FakeDisk::ListFolder(const std::string& folder, std::vector<DirEntry>* entries,
                          std::string* err) {
  std::string path = WithoutTrailingSlash(folder);
  log.push_back("list " + path);
  listed.push_back(path);
  entries->clear();
  if (Fails(DiskOp::kList, path)) {
    SetErr(err, "Permission denied");
    return false;
  }
  if (path != "/" && !HasFolder(path)) {
    SetErr(err, kNoEntry);
    return false;
  }
  std::string prefix = path == "/" ? "/" : path + "/";
  for (auto it = entries_.lower_bound(prefix);
       it != entries_.end() && it->first.compare(0, prefix.size(), prefix) == 0; ++it) {
    std::string name = it->first.substr(prefix.size());
    // Only direct children, and hidden names are left out as on the real disk.
    if (name.empty() || name.find('/') != std::string::npos || name[0] == '.') continue;
    entries->push_back(DirEntry{name, it->second.attributes});
  }
  std::sort(entries->begin(), entries->end(),
            [](const DirEntry& a, const DirEntry& b) { return a.name < b.name; });
  return true;
}

std::unique_ptr<InputFile> FakeDisk::OpenForReading(const std::string& path, std::string* err) {
  log.push_back("open " + path);
  read.push_back(path);
  const Entry* entry = Find(path);
  if (Fails(DiskOp::kRead, path)) {
    SetErr(err, "Permission denied");
    return nullptr;
  }
  if (!entry) {
    SetErr(err, kNoEntry);
    return nullptr;
  }
  if (entry->folder) {
    SetErr(err, "Is a directory");
    return nullptr;
  }
  return std::make_unique<FakeInputFile>(entry->bytes);
}

bool FakeDisk::ReadWholeFile(const std::string& path, std::string* bytes, std::string* err) {
  log.push_back("read " + path);
  read.push_back(path);
  bytes->clear();
  const Entry* entry = Find(path);
  if (Fails(DiskOp::kRead, path)) {
    SetErr(err, "Permission denied");
    return false;
  }
  if (!entry) {
    SetErr(err, kNoEntry);
    return false;
  }
  if (entry->folder) {
    SetErr(err, "Is a directory");
    return false;
  }
  *bytes = entry->bytes;
  return true;
}

bool FakeDisk::WriteWholeFile(const std::string& path, const std::string& bytes, std::string* err) {
  log.push_back("write " + path);
  written.push_back(path);
  if (Fails(DiskOp::kWrite, path)) {
    SetErr(err, "Permission denied");
    return false;
  }
  if (HasFolder(path)) {
    SetErr(err, "Is a directory");
    return false;
  }
  Store(path, bytes);
  return true;
}

bool FakeDisk::CopyFile(const std::string& from, const std::string& to, std::string* err) {
  log.push_back("copy " + from + " -> " + to);
  copied.emplace_back(from, to);
  if (Fails(DiskOp::kRead, from) || Fails(DiskOp::kWrite, to)) {
    SetErr(err, "Permission denied");
    return false;
  }
  std::optional<std::string> bytes = Contents(from);
  if (!bytes) {
    SetErr(err, HasFolder(from) ? "Is a directory" : kNoEntry);
    return false;
  }
  if (HasFolder(to)) {
    SetErr(err, "Is a directory");
    return false;
  }
  Store(to, *bytes);
  return true;
}

bool FakeDisk::DeleteFile(const std::string& path, std::string* err) {
  log.push_back("delete " + path);
  deleted.push_back(path);
  if (Fails(DiskOp::kDelete, path)) {
    SetErr(err, "Permission denied");
    return false;
  }
  if (!HasFile(path)) {
    SetErr(err, HasFolder(path) ? "Is a directory" : kNoEntry);
    return false;
  }
  entries_.erase(path);
  return true;
}

bool FakeDisk::FileExists(const std::string& path) {
  log.push_back("exists " + path);
  if (path.empty()) return false;
  std::string target = path;
  if (target.back() == '/') target.pop_back();
  return HasFile(target) && !Fails(DiskOp::kRead, target);
}

bool FakeDisk::ReplaceFile(const std::string& from, const std::string& to, std::string* err) {
  log.push_back("replace " + from + " -> " + to);
  if (Fails(DiskOp::kWrite, to)) {
    SetErr(err, "Permission denied");
    return false;
  }
  std::optional<std::string> bytes = Contents(from);
  if (!bytes) {
    SetErr(err, HasFolder(from) ? "Is a directory" : kNoEntry);
    return false;
  }
  if (HasFolder(to)) {
    SetErr(err, "Is a directory");
    return false;
  }
  Store(to, *bytes);
  entries_.erase(from);
  return true;
}

}  // namespace voxtrel::test
