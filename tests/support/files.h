#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace voxtrel::test {

/// Writes `bytes` to `path`, creating the folders above it.
inline void WriteFile(const std::string& path, const std::string& bytes) {
  std::error_code ec;
  std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
  std::ofstream(path, std::ios::binary) << bytes;
}

/// The bytes of `path`; empty when it cannot be read.
inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace voxtrel::test
