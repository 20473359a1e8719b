#include "support/fake_disk.h"

#include <algorithm>
#include <cstring>

namespace voxtrel::test {
namespace {

bool Refuse(std::string* err, const char* text) {
  if (err) *err = text;
  return false;
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

std::optional<std::string> FakeDisk::Contents(const std::string& path) const {
  auto it = files_.find(path);
  if (it == files_.end()) return std::nullopt;
  return it->second;
}

bool FakeDisk::ListFolder(const std::string& folder, std::vector<DirEntry>* entries,
                          std::string* /*err*/) {
  log.push_back("list " + folder);
  entries->clear();
  const std::string prefix = folder.back() == '/' ? folder : folder + "/";
  for (const auto& [path, bytes] : files_) {
    if (path.compare(0, prefix.size(), prefix) != 0) continue;
    const std::string name = path.substr(prefix.size());
    const size_t slash = name.find('/');
    if (slash == std::string::npos) {
      entries->push_back({name, kAttrArchive});
    } else if (entries->empty() || entries->back().name != name.substr(0, slash)) {
      entries->push_back({name.substr(0, slash), kAttrDirectory});
    }
  }
  return true;
}

std::unique_ptr<InputFile> FakeDisk::OpenForReading(const std::string& path, std::string* err) {
  std::string bytes;
  if (!ReadWholeFile(path, &bytes, err)) return nullptr;
  return std::make_unique<FakeInputFile>(bytes);
}

bool FakeDisk::ReadWholeFile(const std::string& path, std::string* bytes, std::string* err) {
  log.push_back("read " + path);
  if (Fails(DiskOp::kRead, path)) return Refuse(err, "Permission denied");
  std::optional<std::string> found = Contents(path);
  if (!found) return Refuse(err, "No such file or directory");
  *bytes = *found;
  return true;
}

bool FakeDisk::WriteWholeFile(const std::string& path, const std::string& bytes,
                              std::string* err) {
  log.push_back("write " + path);
  if (Fails(DiskOp::kWrite, path)) return Refuse(err, "Permission denied");
  files_[path] = bytes;
  times_[path] = ++clock_;
  return true;
}

bool FakeDisk::FactsOf(const std::string& path, FileFacts* facts, std::string* err) {
  auto it = files_.find(path);
  if (it == files_.end()) return Refuse(err, "No such file or directory");
  *facts = {it->second.size(), times_[path]};
  return true;
}

bool FakeDisk::MakeFolders(const std::string& folder, std::string* err) {
  log.push_back("mkdir " + folder);
  return !Fails(DiskOp::kWrite, folder) || Refuse(err, "Permission denied");
}

bool FakeDisk::DeleteFile(const std::string& path, std::string* err) {
  log.push_back("delete " + path);
  if (!files_.erase(path)) return Refuse(err, "No such file or directory");
  return true;
}

bool FakeDisk::FileExists(const std::string& path) {
  return files_.count(path) > 0 && !Fails(DiskOp::kRead, path);
}

bool FakeDisk::IsFolder(const std::string& path) {
  const std::string prefix = path.ends_with('/') ? path : path + "/";
  auto next = files_.lower_bound(prefix);
  return next != files_.end() && next->first.starts_with(prefix);
}

bool FakeDisk::CanWrite(const std::string& path, std::string* err) {
  if (IsFolder(path)) return Refuse(err, "Is a directory");
  if (Fails(DiskOp::kWrite, path)) return Refuse(err, "Permission denied");
  const std::string folder = path.substr(0, path.rfind('/') + 1);
  if (folder != "/" && !IsFolder(folder)) return Refuse(err, "No such file or directory");
  return true;
}

}  // namespace voxtrel::test
