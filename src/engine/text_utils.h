#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/disk.h"

namespace voxtrel {

/// Whether `path` (a trailing "/" dropped) names a file this process can open for reading now.
bool FileExists(DiskInterface& disk, const std::string& path);

/// Reads a file line by line as the pages are read: a CR or a CR LF ends a line, a bare LF does
/// not. Lines are raw bytes.
class LineReader {
 public:
  explicit LineReader(InputFile& in) : in_(in) {}
  /// The next line without its end, valid until the next call; false at the end of the file or
  /// after a read error.
  bool Next(std::string_view* line);

 private:
  void Fill();

  InputFile& in_;
  std::string buf_;
  size_t pos_ = 0;
  size_t end_ = 0;
  bool eof_ = false;
};

}  // namespace voxtrel
