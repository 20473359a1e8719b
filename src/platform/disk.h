#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace voxtrel {

/// Attribute values of a listing entry; compared as whole values, not as bits.
inline constexpr int kAttrReadOnly = 1;
inline constexpr int kAttrHidden = 2;
inline constexpr int kAttrSystem = 4;
inline constexpr int kAttrDirectory = 16;
inline constexpr int kAttrArchive = 32;
inline constexpr int kAttrSymlinkedFolder = 1024;

struct DirEntry {
  std::string name;
  int attributes = 0;
};

/// What a file's entry tells of it, through symbolic links.
struct FileFacts {
  uint64_t size = 0;
  /// The last modification, in nanoseconds since 1970.
  int64_t modified = 0;
};

/// A file opened for sequential reading.
class InputFile {
 public:
  virtual ~InputFile() = default;
  /// Reads up to `size` bytes; returns the count, 0 at the end. Sets *failed on a read error.
  virtual size_t Read(char* buffer, size_t size, bool* failed) = 0;
};

/// The file system operations the engine uses.
class DiskInterface {
 public:
  virtual ~DiskInterface() = default;
  /// Entries of `folder` in byte order of name, hidden names and unusable entries left out.
  virtual bool ListFolder(const std::string& folder, std::vector<DirEntry>* entries,
                          std::string* err) = 0;
  /// nullptr (and *err) when the file cannot be opened for reading.
  virtual std::unique_ptr<InputFile> OpenForReading(const std::string& path, std::string* err) = 0;
  virtual bool ReadWholeFile(const std::string& path, std::string* bytes, std::string* err) = 0;
  /// Makes `bytes` the whole content of `path`. False (and *err) on any failure; a file that
  /// was there is then as it was.
  virtual bool WriteWholeFile(const std::string& path, const std::string& bytes,
                              std::string* err) = 0;
  /// Sets *piece to the next bytes of a file (valid until the next call); false at the end.
  using NextPiece = std::function<bool(std::string_view* piece)>;
  /// As WriteWholeFile, the bytes coming piece by piece so that they need not all be held at
  /// once. This default gathers them and calls WriteWholeFile.
  virtual bool WriteInPieces(const std::string& path, const NextPiece& next, std::string* err);
  virtual bool DeleteFile(const std::string& path, std::string* err) = 0;
  /// True when `path` names a file this process can open for reading now (not a folder).
  virtual bool FileExists(const std::string& path) = 0;
  /// True when `path` names a folder, through symbolic links.
  virtual bool IsFolder(const std::string& path) = 0;
  /// Whether WriteWholeFile(path) can be expected to succeed, asked without touching anything:
  /// false (and *err) when the file, or the folder a new one would be made in, takes no writes.
  virtual bool CanWrite(const std::string& path, std::string* err) = 0;
  /// False (and *err) when nothing can be learnt of `path`.
  virtual bool FactsOf(const std::string& path, FileFacts* facts, std::string* err) = 0;
  /// Makes `folder` and any folder above it that is missing; true when it is a folder then.
  virtual bool MakeFolders(const std::string& folder, std::string* err) = 0;
};

class PosixDisk : public DiskInterface {
 public:
  bool ListFolder(const std::string& folder, std::vector<DirEntry>* entries,
                  std::string* err) override;
  std::unique_ptr<InputFile> OpenForReading(const std::string& path, std::string* err) override;
  bool ReadWholeFile(const std::string& path, std::string* bytes, std::string* err) override;
  /// A regular file or a new name is replaced in one step by a uniquely named temporary file
  /// beside it (the old file's permissions kept); through symbolic links, the final target is
  /// replaced and the links stay. A device, fifo or socket is written in place; a fifo no one
  /// reads is an error, not a wait. A file without a write bit is refused, even for root.
  bool WriteWholeFile(const std::string& path, const std::string& bytes,
                      std::string* err) override;
  bool WriteInPieces(const std::string& path, const NextPiece& next, std::string* err) override;
  bool DeleteFile(const std::string& path, std::string* err) override;
  bool FileExists(const std::string& path) override;
  bool IsFolder(const std::string& path) override;
  /// A device or fifo must take writes itself; a file is replaced in the folder of what its
  /// links point to, so that folder must.
  bool CanWrite(const std::string& path, std::string* err) override;
  bool FactsOf(const std::string& path, FileFacts* facts, std::string* err) override;
  /// New folders get 0777 less the umask, as mkdir -p makes them.
  bool MakeFolders(const std::string& folder, std::string* err) override;
};

/// The running executable's folder when it is a writable build or copy folder; for an installed
/// executable, or when that folder is read-only, $XDG_DATA_HOME/voxtrel or else
/// ~/.local/share/voxtrel (created). No trailing separator.
std::string ProgramFolder();

/// Joins a folder and a name with "/", without doubling the separator.
std::string JoinPath(const std::string& folder, const std::string& name);

}  // namespace voxtrel
