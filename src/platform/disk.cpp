#include "platform/disk.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <utility>

namespace voxtrel {

namespace {

constexpr size_t kChunkSize = 64 * 1024;
// The system's own limit on links followed while resolving one path.
constexpr int kMaxLinkHops = 40;
// Keeps a temporary name within the system's 255-byte name limit, whatever the target's length.
constexpr size_t kTempBaseBytes = 200;

std::string ErrnoText(int error) { return std::strerror(error); }

void SetErr(std::string* err, const std::string& text) {
  if (err) *err = text;
}

/// Closes the descriptor when it goes out of scope.
class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() { Reset(); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  int Release() { return std::exchange(fd_, -1); }
  void Reset(int fd = -1) {
    if (fd_ >= 0) close(fd_);
    fd_ = fd;
  }

 private:
  int fd_;
};

bool NoWriteBit(mode_t mode) { return (mode & 0222) == 0; }

/// Attribute value of a folder entry, or 0 when the entry is left out of the listing.
int AttributesOf(int dir_fd, const char* name) {
  struct stat st;
  // An entry may vanish between readdir and here; it is then simply not listed.
  if (fstatat(dir_fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return 0;
  int extra = 0;
  if (S_ISLNK(st.st_mode)) {
    if (fstatat(dir_fd, name, &st, 0) != 0) return 0;  // dangling
    // A followed folder link could lead back up the tree; marking it keeps the walk finite.
    if (S_ISDIR(st.st_mode)) extra = kAttrSymlinkedFolder;
  }
  int readonly = NoWriteBit(st.st_mode) ? kAttrReadOnly : 0;
  if (S_ISDIR(st.st_mode)) return kAttrDirectory + readonly + extra;
  if (S_ISREG(st.st_mode)) return kAttrArchive + readonly;
  return 0;  // fifo, socket, device: nothing a page could be read from
}

/// Opens a regular file for reading. Fifos are opened without blocking and then refused, so a
/// path naming one never hangs the caller waiting for a writer.
bool OpenRegularForReading(const std::string& path, Fd* fd, std::string* err) {
  Fd opened(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (opened.get() < 0) {
    SetErr(err, ErrnoText(errno));
    return false;
  }
  struct stat st;
  if (fstat(opened.get(), &st) != 0) {
    SetErr(err, ErrnoText(errno));
    return false;
  }
  if (S_ISDIR(st.st_mode)) {
    SetErr(err, ErrnoText(EISDIR));
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    SetErr(err, "not a regular file");
    return false;
  }
  int flags = fcntl(opened.get(), F_GETFL);
  if (flags >= 0) fcntl(opened.get(), F_SETFL, flags & ~O_NONBLOCK);
  fd->Reset(opened.Release());
  return true;
}

bool WriteAll(int fd, const char* data, size_t size, std::string* err) {
  while (size > 0) {
    ssize_t written = write(fd, data, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      SetErr(err, ErrnoText(errno));
      return false;
    }
    if (written == 0) {  // a device that takes nothing more would otherwise be asked for ever
      SetErr(err, ErrnoText(EIO));
      return false;
    }
    data += written;
    size -= static_cast<size_t>(written);
  }
  return true;
}

/// Reads up to `size` bytes, retrying interrupted reads; -1 on error.
ssize_t ReadSome(int fd, char* buffer, size_t size) {
  for (;;) {
    ssize_t got = read(fd, buffer, size);
    if (got >= 0 || errno != EINTR) return got;
  }
}

/// True when a system call returned 0; otherwise false with its error in *err.
bool Checked(int result, std::string* err) {
  if (result != 0) SetErr(err, ErrnoText(errno));
  return result == 0;
}

bool CloseChecked(Fd* fd, std::string* err) { return Checked(close(fd->Release()), err); }

/// Whether a file may be replaced: it has a write bit and this process may write it. Root may
/// write anything, so the bits decide too, as the read-only attribute does.
bool MayReplace(const std::string& path, const struct stat& st, std::string* err) {
  int error = NoWriteBit(st.st_mode) ? EACCES : access(path.c_str(), W_OK) == 0 ? 0 : errno;
  if (error != 0) SetErr(err, ErrnoText(error));
  return error == 0;
}

/// The path a write to `path` lands on: the final target of its chain of symbolic links (which
/// may not exist yet), or `path` itself.
bool FinalTarget(const std::string& path, std::string* target, std::string* err) {
  *target = path;
  for (int hops = 0; hops < kMaxLinkHops; ++hops) {
    struct stat st;
    if (lstat(target->c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return true;
    char link[PATH_MAX];
    ssize_t length = readlink(target->c_str(), link, sizeof link);
    if (length < 0) {
      SetErr(err, ErrnoText(errno));
      return false;
    }
    std::string to(link, static_cast<size_t>(length));
    size_t slash = target->rfind('/');
    *target =
        to.starts_with('/') || slash == std::string::npos ? to : target->substr(0, slash + 1) + to;
  }
  SetErr(err, ErrnoText(ELOOP));
  return false;
}

bool WritePieces(int fd, const DiskInterface::NextPiece& next, std::string* err) {
  std::string_view piece;
  while (next(&piece))
    if (!WriteAll(fd, piece.data(), piece.size(), err)) return false;
  return true;
}

/// Creates a file under a name no one else has: `prefix` and a random suffix. O_EXCL and
/// O_NOFOLLOW: a name planted in the folder, link or file, is never followed or reused.
bool CreateTemporary(const std::string& prefix, Fd* fd, std::string* temp, std::string* err) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    // The clock alone still gives distinct names; O_EXCL keeps even a guessed one harmless.
    auto value = static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    uint64_t drawn = 0;
    if (getrandom(&drawn, sizeof drawn, GRND_NONBLOCK) == sizeof drawn) value ^= drawn;
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, ".voxtrel-%016" PRIx64, value);
    *temp = prefix + suffix;
    // 0666 lets the umask and the folder's default ACL apply, as to any new file.
    int raw = open(temp->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (raw >= 0) {
      fd->Reset(raw);
      return true;
    }
    if (errno != EEXIST) break;
  }
  SetErr(err, ErrnoText(errno));
  return false;
}

/// Writes `bytes` to a new file beside `target` and moves it over `target`, so readers see the
/// old file or the whole new one. `old` is the file replaced, nullptr for a new name.
bool ReplaceWhole(const std::string& target, const struct stat* old,
                  const DiskInterface::NextPiece& next, std::string* err) {
  size_t slash = target.rfind('/');
  size_t base = slash == std::string::npos ? 0 : slash + 1;
  Fd fd;
  std::string temp;
  // A dot name: folder listings leave it out while it exists.
  if (!CreateTemporary(target.substr(0, base) + "." + target.substr(base, kTempBaseBytes), &fd,
                       &temp, err))
    return false;
  if (old && fchown(fd.get(), old->st_uid, old->st_gid) != 0) {
    // Giving a file away is root's privilege; for anyone else the new file is simply theirs.
  }
  bool ok = (!old || Checked(fchmod(fd.get(), old->st_mode & 07777), err)) &&
            WritePieces(fd.get(), next, err) && Checked(fsync(fd.get()), err) &&
            CloseChecked(&fd, err) && Checked(std::rename(temp.c_str(), target.c_str()), err);
  if (!ok) unlink(temp.c_str());  // the failure already in *err is the one worth reporting
  return ok;
}

/// Writes `bytes` into a device, fifo or socket as it stands: replacing it would put a plain
/// file where the system expects the special one.
bool WriteInPlace(const std::string& target, const struct stat& st,
                  const DiskInterface::NextPiece& next, std::string* err) {
  // No O_CREAT or O_TRUNC: a device is written as it is. O_NONBLOCK: a fifo no one reads
  // fails at once instead of waiting for a reader.
  Fd fd(open(target.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (fd.get() < 0) {
    SetErr(err, errno == ENXIO && S_ISFIFO(st.st_mode) ? "no program is reading from the fifo"
                                                       : ErrnoText(errno));
    return false;
  }
  int flags = fcntl(fd.get(), F_GETFL);
  if (flags >= 0) fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK);
  return WritePieces(fd.get(), next, err) && CloseChecked(&fd, err);
}

class PosixInputFile : public InputFile {
 public:
  explicit PosixInputFile(Fd* fd) : fd_(fd->Release()) {}

  size_t Read(char* buffer, size_t size, bool* failed) override {
    ssize_t got = ReadSome(fd_.get(), buffer, size);
    if (got < 0) {
      if (failed) *failed = true;
      return 0;
    }
    return static_cast<size_t>(got);
  }

 private:
  Fd fd_;
};

std::string HomeFolder() {
  if (const char* home = getenv("HOME"); home && *home) return home;
  if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) return pw->pw_dir;
  return "/tmp";
}

/// $XDG_DATA_HOME/voxtrel, or ~/.local/share/voxtrel when that variable is unset or relative.
std::string UserDataFolder() {
  // The XDG rules say a relative value is invalid and must be ignored.
  if (const char* xdg = getenv("XDG_DATA_HOME"); xdg && xdg[0] == '/')
    return JoinPath(xdg, "voxtrel");
  return HomeFolder() + "/.local/share/voxtrel";
}

// Installs under any prefix place the AppStream file beside bin/, so its presence marks an
// installed copy wherever the prefix is (/usr, /usr/local, ~/.local, /opt/...); a build tree never
// has it. The system folders are listed too, for a binary copied there by hand. Either way the
// folder may be writable (root writes /usr/bin), and that must not make it the settings folder.
constexpr const char* kInstalledMarker = "../share/metainfo/io.github.voxtrel.Voxtrel.metainfo.xml";
constexpr const char* kSystemProgramFolders[] = {"/usr/bin", "/usr/local/bin", "/bin"};

bool IsInstalledLocation(const std::string& folder) {
  for (const char* system_folder : kSystemProgramFolders)
    if (folder == system_folder) return true;
  struct stat st;
  return stat(JoinPath(folder, kInstalledMarker).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

bool PosixDisk::ListFolder(const std::string& folder, std::vector<DirEntry>* entries,
                           std::string* err) {
  entries->clear();
  DIR* dir = opendir(folder.c_str());
  if (!dir) {
    SetErr(err, ErrnoText(errno));
    return false;
  }
  int dir_fd = dirfd(dir);
  for (;;) {
    errno = 0;
    const dirent* entry = readdir(dir);
    if (!entry) break;
    // Covers "." and ".." as well as the names the system treats as hidden.
    if (entry->d_name[0] == '.') continue;
    int attributes = AttributesOf(dir_fd, entry->d_name);
    if (attributes != 0) entries->push_back(DirEntry{entry->d_name, attributes});
  }
  int read_error = errno;
  closedir(dir);
  if (read_error != 0) {
    entries->clear();
    SetErr(err, ErrnoText(read_error));
    return false;
  }
  // std::string compares as unsigned bytes, which is the order callers rely on.
  std::sort(entries->begin(), entries->end(),
            [](const DirEntry& a, const DirEntry& b) { return a.name < b.name; });
  return true;
}

std::unique_ptr<InputFile> PosixDisk::OpenForReading(const std::string& path, std::string* err) {
  Fd fd;
  if (!OpenRegularForReading(path, &fd, err)) return nullptr;
  return std::make_unique<PosixInputFile>(&fd);
}

bool PosixDisk::ReadWholeFile(const std::string& path, std::string* bytes, std::string* err) {
  bytes->clear();
  Fd fd;
  if (!OpenRegularForReading(path, &fd, err)) return false;
  // Room for the whole file at once: a large page is then neither copied as it grows nor
  // faulted in twice.
  struct stat st;
  if (fstat(fd.get(), &st) == 0 && st.st_size > 0) bytes->reserve(static_cast<size_t>(st.st_size));
  char buffer[kChunkSize];
  for (;;) {
    ssize_t got = ReadSome(fd.get(), buffer, sizeof buffer);
    if (got < 0) {
      SetErr(err, ErrnoText(errno));
      bytes->clear();
      return false;
    }
    if (got == 0) return true;
    bytes->append(buffer, static_cast<size_t>(got));
  }
}

bool DiskInterface::WriteInPieces(const std::string& path, const NextPiece& next,
                                  std::string* err) {
  std::string bytes;
  std::string_view piece;
  while (next(&piece)) bytes += piece;
  return WriteWholeFile(path, bytes, err);
}

bool PosixDisk::WriteWholeFile(const std::string& path, const std::string& bytes,
                               std::string* err) {
  bool given = false;
  return WriteInPieces(
      path,
      [&](std::string_view* piece) {
        *piece = bytes;
        return !std::exchange(given, true);
      },
      err);
}

bool PosixDisk::WriteInPieces(const std::string& path, const NextPiece& next, std::string* err) {
  std::string target;
  if (!FinalTarget(path, &target, err)) return false;
  struct stat st;
  if (lstat(target.c_str(), &st) != 0) {
    if (errno == ENOENT) return ReplaceWhole(target, nullptr, next, err);
    SetErr(err, ErrnoText(errno));
    return false;
  }
  if (!S_ISREG(st.st_mode)) return WriteInPlace(target, st, next, err);
  return MayReplace(target, st, err) && ReplaceWhole(target, &st, next, err);
}

bool PosixDisk::DeleteFile(const std::string& path, std::string* err) {
  if (unlink(path.c_str()) != 0) {
    SetErr(err, ErrnoText(errno));
    return false;
  }
  return true;
}

bool PosixDisk::FileExists(const std::string& path) {
  if (path.empty()) return false;
  std::string target = path;
  if (target.back() == '/') target.pop_back();
  if (target.empty()) return false;
  Fd fd;
  return OpenRegularForReading(target, &fd, nullptr);
}

bool PosixDisk::IsFolder(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool PosixDisk::CanWrite(const std::string& path, std::string* err) {
  struct stat st {};
  const bool exists = stat(path.c_str(), &st) == 0;
  if (exists && S_ISDIR(st.st_mode)) {
    SetErr(err, ErrnoText(EISDIR));
    return false;
  }
  if (exists && !S_ISREG(st.st_mode)) {
    if (access(path.c_str(), W_OK) == 0) return true;
    SetErr(err, ErrnoText(errno));
    return false;
  }
  std::string target = path;
  if (exists) {
    if (char* resolved = realpath(path.c_str(), nullptr)) {
      target = resolved;
      free(resolved);
    }
  }
  const size_t slash = target.rfind('/');
  const std::string folder = slash == std::string::npos ? "."
                             : slash == 0               ? "/"
                                                        : target.substr(0, slash);
  if ((exists && access(target.c_str(), W_OK) != 0) || access(folder.c_str(), W_OK | X_OK) != 0) {
    SetErr(err, ErrnoText(errno));
    return false;
  }
  return true;
}

bool PosixDisk::FactsOf(const std::string& path, FileFacts* facts, std::string* err) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) {
    SetErr(err, ErrnoText(errno));
    return false;
  }
  facts->size = static_cast<uint64_t>(st.st_size);
  facts->modified = int64_t{st.st_mtim.tv_sec} * 1000000000 + st.st_mtim.tv_nsec;
  return true;
}

bool PosixDisk::MakeFolders(const std::string& folder, std::string* err) {
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  if (ec) {
    SetErr(err, ec.message());
    return false;
  }
  return true;
}

std::string ProgramFolder() {
  char exe[PATH_MAX];
  ssize_t length = readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (length > 0) {
    std::string folder(exe, static_cast<size_t>(length));
    size_t slash = folder.rfind('/');
    if (slash != std::string::npos) {
      folder.resize(slash == 0 ? 1 : slash);
      if (!IsInstalledLocation(folder) && access(folder.c_str(), W_OK) == 0) return folder;
    }
  }
  std::string data = UserDataFolder();
  std::error_code ec;
  // A folder that cannot be made shows up later, when the first file in it cannot be written.
  std::filesystem::create_directories(data, ec);
  return data;
}

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  bool folder_slash = folder.back() == '/';
  bool name_slash = !name.empty() && name.front() == '/';
  if (folder_slash && name_slash) return folder + name.substr(1);
  if (folder_slash || name_slash) return folder + name;
  return folder + "/" + name;
}

}  // namespace voxtrel
