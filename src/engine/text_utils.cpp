#include "engine/text_utils.h"

#include <algorithm>
#include <cstring>

namespace voxtrel {

bool FileExists(DiskInterface& disk, const std::string& path) {
  if (path.empty()) return false;
  std::string file = path;
  if (file.back() == '/') file.pop_back();
  if (file.empty()) return false;
  return disk.FileExists(file);
}

namespace {
constexpr size_t kReadChunk = 64 * 1024;
}  // namespace

// Only CR or CR LF ends a line: pages saved with bare LFs are one long line to the scanner, as
// they always were.
bool LineReader::Next(std::string_view* line) {
  size_t scanned = pos_;
  for (;;) {
    const char* base = buf_.data();
    const void* cr = scanned < end_ ? std::memchr(base + scanned, '\r', end_ - scanned) : nullptr;
    if (cr) {
      size_t at = static_cast<size_t>(static_cast<const char*>(cr) - base);
      // A CR at the end of what was read may still be followed by its LF.
      if (at + 1 == end_ && !eof_) {
        scanned = at - pos_;
        Fill();
        scanned += pos_;
        continue;
      }
      *line = std::string_view(base + pos_, at - pos_);
      pos_ = at + 1;
      if (pos_ < end_ && buf_[pos_] == '\n') ++pos_;
      return true;
    }
    if (eof_) {
      if (pos_ >= end_) return false;
      *line = std::string_view(base + pos_, end_ - pos_);
      pos_ = end_;
      return true;
    }
    scanned = end_ - pos_;
    Fill();
    scanned += pos_;
  }
}

// Moves the unread bytes to the front and appends the next chunk; pos_ becomes 0. The buffer
// grows only while a single line is longer than what it holds.
void LineReader::Fill() {
  if (pos_ > 0) {
    std::memmove(buf_.data(), buf_.data() + pos_, end_ - pos_);
    end_ -= pos_;
    pos_ = 0;
  }
  if (buf_.size() - end_ < kReadChunk) buf_.resize(std::max(buf_.size() * 2, end_ + kReadChunk));
  bool failed = false;
  size_t got = in_.Read(buf_.data() + end_, kReadChunk, &failed);
  end_ += got;
  // A read error ends the file like its end would; the caller goes on with what it has.
  if (got == 0 || failed) eof_ = true;
}

}  // namespace voxtrel
