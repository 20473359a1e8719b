#include "platform/disk.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <iterator>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "support/files.h"
#include "support/temp_dir.h"

namespace voxtrel {
namespace {

TEST(PosixDiskTest, ListingIsInByteOrderWithAttributeValuesAndNoHiddenOrOddEntries) {
  test::TempDir dir;
  for (const char* name : {"b", "a", "A", "_x", "\xC3\xA9", ".hidden", "ro", "sub/x", "rosub/x"})
    test::WriteFile(dir / name, "x");
  chmod((dir / "ro").c_str(), 0444);
  chmod((dir / "rosub").c_str(), 0555);
  mkfifo((dir / "fifo").c_str(), 0600);
  symlink("sub", (dir / "link-sub").c_str());
  symlink("ro", (dir / "link-ro").c_str());
  symlink("gone", (dir / "dangling").c_str());
  std::vector<DirEntry> entries;
  std::string err;
  ASSERT_TRUE(PosixDisk().ListFolder(dir.path() + "/", &entries, &err));
  EXPECT_EQ(err, "");
  std::vector<std::pair<std::string, int>> got;
  for (const DirEntry& entry : entries) got.emplace_back(entry.name, entry.attributes);
  EXPECT_EQ(got, (std::vector<std::pair<std::string, int>>{
                     {"A", 32}, {"_x", 32}, {"a", 32}, {"b", 32}, {"link-ro", 33},
                     {"link-sub", 16 + 1024}, {"ro", 33}, {"rosub", 17}, {"sub", 16},
                     {"\xC3\xA9", 32}}));
  EXPECT_FALSE(PosixDisk().ListFolder(dir / "missing", &entries, &err));
  EXPECT_TRUE(entries.empty());
}

TEST(PosixDiskTest, OnlyRegularFilesAreRead) {
  test::TempDir dir;
  PosixDisk disk;
  test::WriteFile(dir / "a", "new");
  mkfifo((dir / "fifo").c_str(), 0600);
  std::string err;
  std::string bytes;
  for (const std::string& path : {dir / "fifo", dir.path(), dir / "missing"}) {
    EXPECT_FALSE(disk.FileExists(path)) << path;
    EXPECT_EQ(disk.OpenForReading(path, &err), nullptr) << path;
    EXPECT_FALSE(disk.ReadWholeFile(path, &bytes, &err)) << path;
  }
  EXPECT_TRUE(disk.FileExists(dir / "a/"));
  EXPECT_FALSE(disk.FileExists("/"));
  ASSERT_TRUE(disk.WriteWholeFile(dir / "c", "new", &err));
  EXPECT_TRUE(disk.DeleteFile(dir / "c", &err));
  EXPECT_FALSE(disk.DeleteFile(dir / "c", &err));
  EXPECT_FALSE(disk.DeleteFile(dir.path(), &err));
}

TEST(PosixDiskTest, WritingReplacesFilesAndLinkTargetsWholeAndOtherFilesInPlace) {
  test::TempDir dir;
  const mode_t umask_bits = umask(0);
  umask(umask_bits);
  for (const char* name : {"kept", "archive/r.csv", "ro"}) test::WriteFile(dir / name, "old");
  chmod((dir / "kept").c_str(), 0640);
  chmod((dir / "ro").c_str(), 0444);
  symlink("archive/r.csv", (dir / "r.csv").c_str());
  mkfifo((dir / "fifo").c_str(), 0600);
  // Where the temporary file used to go, so a link planted there made a save overwrite anything.
  symlink((dir / "victim").c_str(), (dir / "kept.voxtrel-tmp").c_str());
  // Path, error, bytes read afterwards (unless ""), lstat's mode afterwards (bits when given).
  const std::tuple<std::string, std::string, std::string, mode_t> cases[] = {
      {dir / "new", "", "x", S_IFREG | (0666 & ~umask_bits)},
      {dir / "kept", "", "x", S_IFREG | 0640}, {dir / "r.csv", "", "x", S_IFLNK | 0777},
      {"/dev/null", "", "", S_IFCHR}, {"/dev/full", "No space left on device", "", S_IFCHR},
      {dir / "fifo", "no program is reading from the fifo", "", S_IFIFO},  // and no wait for one
      {dir / "ro", "Permission denied", "old", S_IFREG | 0444},
  };
  for (const auto& [path, error, bytes, mode] : cases) {
    std::string err;
    EXPECT_EQ(PosixDisk().WriteWholeFile(path, "x", &err), error.empty()) << path;
    EXPECT_EQ(err, error) << path;
    EXPECT_TRUE(bytes.empty() || test::ReadFile(path) == bytes) << path;
    struct stat st;
    ASSERT_EQ(lstat(path.c_str(), &st), 0) << path;
    EXPECT_EQ(st.st_mode & (S_IFMT | ((mode & 0777) ? 0777 : 0)), mode) << path;
  }
  // The seven names made here and no more: no temporary file left, nothing made at the victim.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 7);
}

TEST(PosixDiskTest, WhatAWriteWouldMeetIsToldBeforehand) {
  test::TempDir dir;
  test::WriteFile(dir / "sub/a", "x");
  symlink("sub", (dir / "link").c_str());
  // Path, whether it is a folder, CanWrite's error.
  const std::tuple<std::string, bool, std::string> cases[] = {
      {dir.path(), true, "Is a directory"}, {dir / "link", true, "Is a directory"},
      {dir / "sub/a", false, ""}, {dir / "link/new", false, ""}, {"/dev/null", false, ""},
      {dir / "none/new", false, "No such file or directory"},
  };
  for (const auto& [path, folder, error] : cases) {
    std::string err;
    EXPECT_EQ(PosixDisk().IsFolder(path), folder) << path;
    EXPECT_EQ(PosixDisk().CanWrite(path, &err), error.empty()) << path;
    EXPECT_EQ(err, error) << path;
  }
}

TEST(ProgramFolderTest, ABuildTreeProgramKeepsItsFilesBesideItself) {
  // This test program lies in a writable build folder, not in an installed location.
  EXPECT_EQ(ProgramFolder(), std::filesystem::canonical("/proc/self/exe").parent_path().string());
}

}  // namespace
}  // namespace voxtrel
