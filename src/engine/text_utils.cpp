#include "engine/text_utils.h"

#include <algorithm>
#include <cstring>

namespace voxtrel {

int32_t CntStr(const std::string& text, const std::string& search, std::vector<int32_t>& cnt_pos) {
  if (search.empty()) return 0;
  int32_t count = 0;
  size_t from = 0;
  for (;;) {
    size_t found = text.find(search, from);
    if (found == std::string::npos) break;
    // A hit that does not fit the table ends the search with nothing counted, as callers that
    // sized the table expect; what was written stays.
    if (static_cast<size_t>(count) >= cnt_pos.size()) return 0;
    cnt_pos[static_cast<size_t>(count)] = static_cast<int32_t>(found + 1);
    ++count;
    from = found + search.size();
  }
  return count;
}

std::vector<int32_t> FindAllHits(const std::string& text, const std::string& search) {
  std::vector<int32_t> hits;
  if (search.empty()) return hits;
  for (size_t found = text.find(search); found != std::string::npos;
       found = text.find(search, found + search.size())) {
    hits.push_back(static_cast<int32_t>(found + 1));
  }
  return hits;
}

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
