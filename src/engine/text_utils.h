#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/disk.h"

namespace voxtrel {

/// Finds the non-overlapping hits of `search` in `text` (1-based positions) and writes them into
/// `cnt_pos` from index 0. Returns the hit count, or 0 when a hit does not fit into the table
/// (positions already written stay).
int32_t CntStr(const std::string& text, const std::string& search, std::vector<int32_t>& cnt_pos);

/// Collects every hit position, however many; what the check loop uses so no link is dropped.
std::vector<int32_t> FindAllHits(const std::string& text, const std::string& search);

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
