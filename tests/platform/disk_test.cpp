#include "platform/disk.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/fake_disk.h"
#include "support/temp_dir.h"

namespace voxtrel {
namespace {

using test::TempDir;

void Put(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::string Get(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

/// Binds a Unix socket at `path` and returns its descriptor, so the listing sees a socket entry.
int BindSocket(const std::string& path) {
  int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

std::vector<std::string> Names(const std::vector<DirEntry>& entries) {
  std::vector<std::string> names;
  for (const DirEntry& entry : entries) names.push_back(entry.name);
  return names;
}

class PosixDiskTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(dir_.path().empty()); }

  TempDir dir_;
  PosixDisk disk_;
};

TEST_F(PosixDiskTest, ListingIsInByteOrderWithoutHiddenOrUnusableEntries) {
  Put(dir_ / "b.htm", "b");
  Put(dir_ / "a.htm", "a");
  Put(dir_ / "A.htm", "A");
  Put(dir_ / "_x", "x");
  Put(dir_ / "\xC3\xA9.htm", "e");  // a name beyond ASCII sorts after every ASCII name
  Put(dir_ / ".hidden.htm", "h");
  ASSERT_EQ(mkdir((dir_ / "Z").c_str(), 0755), 0);
  ASSERT_EQ(mkdir((dir_ / ".git").c_str(), 0755), 0);
  ASSERT_EQ(mkfifo((dir_ / "m-fifo").c_str(), 0644), 0);
  ASSERT_EQ(symlink((dir_ / "gone").c_str(), (dir_ / "n-dangling").c_str()), 0);
  int socket_fd = BindSocket(dir_ / "o-socket");
  ASSERT_GE(socket_fd, 0);

  std::vector<DirEntry> entries;
  std::string err;
  ASSERT_TRUE(disk_.ListFolder(dir_.path(), &entries, &err));
  close(socket_fd);
  EXPECT_EQ(err, "");
  EXPECT_EQ(Names(entries),
            (std::vector<std::string>{"A.htm", "Z", "_x", "a.htm", "b.htm", "\xC3\xA9.htm"}));
}

TEST_F(PosixDiskTest, AttributesFollowModeBitsAndSymlinkTargets) {
  struct Case {
    std::string name;
    bool folder;
    mode_t mode;
  };
  const std::vector<Case> made = {
      {"file", false, 0644},         {"file-ro", false, 0444},
      {"file-owner-w", false, 0600}, {"file-write-only", false, 0200},
      {"folder", true, 0755},        {"folder-ro", true, 0555},
  };
  for (const Case& c : made) {
    std::string path = dir_ / c.name;
    if (c.folder)
      ASSERT_EQ(mkdir(path.c_str(), 0755), 0);
    else
      Put(path, "x");
    ASSERT_EQ(chmod(path.c_str(), c.mode), 0);
  }
  ASSERT_EQ(symlink("file", (dir_ / "link-file").c_str()), 0);
  ASSERT_EQ(symlink("file-ro", (dir_ / "link-file-ro").c_str()), 0);
  ASSERT_EQ(symlink("folder", (dir_ / "link-folder").c_str()), 0);
  ASSERT_EQ(symlink((dir_ / "folder").c_str(), (dir_ / "link-folder-abs").c_str()), 0);

  std::vector<DirEntry> entries;
  std::string err;
  ASSERT_TRUE(disk_.ListFolder(dir_.path() + "/", &entries, &err));
  EXPECT_EQ(err, "");
  std::vector<std::pair<std::string, int>> got;
  for (const DirEntry& entry : entries) got.emplace_back(entry.name, entry.attributes);
  EXPECT_EQ(got, (std::vector<std::pair<std::string, int>>{
                     {"file", 32},
                     {"file-owner-w", 32},
                     {"file-ro", 33},
                     {"file-write-only", 32},
                     {"folder", 16},
                     {"folder-ro", 17},
                     {"link-file", 32},
                     {"link-file-ro", 33},
                     {"link-folder", 16 + 1024},
                     {"link-folder-abs", 16 + 1024},
                 }));
}

TEST_F(PosixDiskTest, ListingAFolderThatCannotBeOpenedFails) {
  Put(dir_ / "plain", "x");
  for (const std::string& folder : {dir_ / "missing", dir_ / "plain", std::string()}) {
    SCOPED_TRACE(folder);
    std::vector<DirEntry> entries = {{"stale", 32}};
    std::string err;
    EXPECT_FALSE(disk_.ListFolder(folder, &entries, &err));
    EXPECT_NE(err, "");
    EXPECT_TRUE(entries.empty());
  }
  std::string err;
  std::vector<DirEntry> entries;
  disk_.ListFolder(dir_ / "missing", &entries, &err);
  EXPECT_EQ(err, std::strerror(ENOENT));
}

TEST_F(PosixDiskTest, WholeFilesAreWrittenAndReadBack) {
  const std::string bytes("\x82\xa0\r\n\0tail\xff", 10);
  std::string err;
  Put(dir_ / "page.htm", std::string(5000, 'o'));
  ASSERT_TRUE(disk_.WriteWholeFile(dir_ / "page.htm", bytes, &err));
  EXPECT_EQ(err, "");
  EXPECT_EQ(Get(dir_ / "page.htm"), bytes);  // truncated, not overlaid

  std::string read_back = "stale";
  ASSERT_TRUE(disk_.ReadWholeFile(dir_ / "page.htm", &read_back, &err));
  EXPECT_EQ(read_back, bytes);
  EXPECT_EQ(err, "");

  ASSERT_TRUE(disk_.WriteWholeFile(dir_ / "new.htm", "", &err));
  ASSERT_TRUE(disk_.ReadWholeFile(dir_ / "new.htm", &read_back, &err));
  EXPECT_EQ(read_back, "");
}

TEST_F(PosixDiskTest, ReadingAndWritingRefuseWhatIsNotAFile) {
  ASSERT_EQ(mkdir((dir_ / "folder").c_str(), 0755), 0);
  ASSERT_EQ(mkfifo((dir_ / "fifo").c_str(), 0644), 0);
  for (const std::string& path : {dir_ / "missing", dir_ / "folder", dir_ / "fifo"}) {
    SCOPED_TRACE(path);
    std::string bytes = "stale";
    std::string err;
    EXPECT_FALSE(disk_.ReadWholeFile(path, &bytes, &err));
    EXPECT_NE(err, "");
    EXPECT_EQ(bytes, "");
    err.clear();
    EXPECT_EQ(disk_.OpenForReading(path, &err), nullptr);
    EXPECT_NE(err, "");
  }
  for (const std::string& path : {dir_ / "folder", dir_ / "fifo", dir_ / "no/such/folder.htm"}) {
    SCOPED_TRACE(path);
    std::string err;
    EXPECT_FALSE(disk_.WriteWholeFile(path, "x", &err));
    EXPECT_NE(err, "");
  }
}

TEST_F(PosixDiskTest, OpenedFileIsReadInChunks) {
  std::string bytes;
  for (int i = 0; i < 100000; ++i) bytes += static_cast<char>('a' + i % 26);
  Put(dir_ / "big.htm", bytes);
  std::string err;
  std::unique_ptr<InputFile> file = disk_.OpenForReading(dir_ / "big.htm", &err);
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(err, "");
  std::string got;
  char buffer[4096];
  bool failed = false;
  for (size_t count; (count = file->Read(buffer, sizeof buffer, &failed)) > 0;)
    got.append(buffer, count);
  EXPECT_FALSE(failed);
  EXPECT_EQ(got, bytes);
}

TEST_F(PosixDiskTest, CopyReplacesTheTarget) {
  std::string bytes(300000, '\0');  // several copy chunks
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7);
  Put(dir_ / "from.htm", bytes);
  Put(dir_ / "to.htm", std::string(400000, 'x'));
  std::string err;
  ASSERT_TRUE(disk_.CopyFile(dir_ / "from.htm", dir_ / "to.htm", &err));
  EXPECT_EQ(err, "");
  EXPECT_EQ(Get(dir_ / "to.htm"), bytes);

  ASSERT_TRUE(disk_.CopyFile(dir_ / "from.htm", dir_ / "fresh.htm", &err));
  EXPECT_EQ(Get(dir_ / "fresh.htm"), bytes);
}

TEST_F(PosixDiskTest, CopyOntoItselfKeepsTheContent) {
  Put(dir_ / "page.htm", "content");
  ASSERT_EQ(symlink("page.htm", (dir_ / "alias.htm").c_str()), 0);
  std::string err;
  EXPECT_TRUE(disk_.CopyFile(dir_ / "page.htm", dir_ / "page.htm", &err));
  EXPECT_TRUE(disk_.CopyFile(dir_ / "page.htm", dir_ / "alias.htm", &err));
  EXPECT_EQ(err, "");
  EXPECT_EQ(Get(dir_ / "page.htm"), "content");
}

TEST_F(PosixDiskTest, FailedCopyLeavesTheTargetAlone) {
  Put(dir_ / "to.htm", "old");
  std::string err;
  EXPECT_FALSE(disk_.CopyFile(dir_ / "missing.htm", dir_ / "to.htm", &err));
  EXPECT_NE(err, "");
  EXPECT_EQ(Get(dir_ / "to.htm"), "old");
  err.clear();
  EXPECT_FALSE(disk_.CopyFile(dir_ / "to.htm", dir_ / "no/such/x.htm", &err));
  EXPECT_NE(err, "");
}

TEST_F(PosixDiskTest, DeleteRemovesFilesOnly) {
  Put(dir_ / "page.htm", "x");
  ASSERT_EQ(mkdir((dir_ / "folder").c_str(), 0755), 0);
  std::string err;
  EXPECT_TRUE(disk_.DeleteFile(dir_ / "page.htm", &err));
  EXPECT_EQ(err, "");
  EXPECT_FALSE(std::filesystem::exists(dir_ / "page.htm"));
  EXPECT_FALSE(disk_.DeleteFile(dir_ / "page.htm", &err));
  EXPECT_EQ(err, std::strerror(ENOENT));
  err.clear();
  EXPECT_FALSE(disk_.DeleteFile(dir_ / "folder", &err));
  EXPECT_NE(err, "");
  EXPECT_TRUE(std::filesystem::is_directory(dir_ / "folder"));
}

TEST_F(PosixDiskTest, FileExistsOnlyForReadableFiles) {
  Put(dir_ / "page.htm", "x");
  ASSERT_EQ(mkdir((dir_ / "folder").c_str(), 0755), 0);
  ASSERT_EQ(mkfifo((dir_ / "fifo").c_str(), 0644), 0);  // must not wait for a writer
  ASSERT_EQ(symlink("page.htm", (dir_ / "link.htm").c_str()), 0);
  struct Case {
    std::string path;
    bool exists;
  };
  const std::vector<Case> cases = {
      {"", false},
      {dir_ / "page.htm", true},
      {dir_ / "page.htm/", true},
      {dir_ / "page.htm//", false},
      {dir_ / "link.htm", true},
      {dir_ / "folder", false},
      {dir_ / "folder/", false},
      {dir_ / "missing.htm", false},
      {dir_ / "fifo", false},
      {"/", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(disk_.FileExists(c.path), c.exists);
  }
}

TEST(JoinPathTest, JoinsWithOneSeparator) {
  struct Case {
    std::string folder, name, joined;
  };
  const std::vector<Case> cases = {
      {"/home/u/site", "index.htm", "/home/u/site/index.htm"},
      {"/home/u/site/", "index.htm", "/home/u/site/index.htm"},
      {"/home/u/site", "/index.htm", "/home/u/site/index.htm"},
      {"/home/u/site/", "/index.htm", "/home/u/site/index.htm"},
      {"/", "tmp", "/tmp"},
      {"", "index.htm", "index.htm"},
  };
  for (const Case& c : cases) EXPECT_EQ(JoinPath(c.folder, c.name), c.joined) << c.folder;
}

TEST(ProgramFolderTest, IsTheWritableExecutableFolderWithoutTrailingSeparator) {
  std::string folder = ProgramFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_NE(folder.back(), '/');
  EXPECT_TRUE(std::filesystem::is_directory(folder));
  // The test binary lives in the build tree, which is writable.
  EXPECT_EQ(folder, std::filesystem::read_symlink("/proc/self/exe").parent_path().string());
}

TEST(FakeDiskTest, ListsChildrenInByteOrderAndRecordsCalls) {
  test::FakeDisk disk;
  disk.AddFile("/site/b.htm", "b");
  disk.AddFile("/site/A.htm", "A", 33);
  disk.AddFile("/site/.hidden.htm", "h");
  disk.AddFile("/site/sub/deep.htm", "d");
  disk.AddFolder("/site/link", 16 + 1024);

  std::vector<DirEntry> entries;
  std::string err;
  ASSERT_TRUE(disk.ListFolder("/site/", &entries, &err));
  std::vector<std::pair<std::string, int>> got;
  for (const DirEntry& entry : entries) got.emplace_back(entry.name, entry.attributes);
  EXPECT_EQ(got, (std::vector<std::pair<std::string, int>>{
                     {"A.htm", 33}, {"b.htm", 32}, {"link", 1040}, {"sub", 16}}));

  EXPECT_TRUE(disk.CopyFile("/site/b.htm", "/work/Dummy_File_PC.htm", &err));
  EXPECT_EQ(disk.Contents("/work/Dummy_File_PC.htm"), "b");
  EXPECT_TRUE(disk.DeleteFile("/work/Dummy_File_PC.htm", &err));
  EXPECT_FALSE(disk.FileExists("/work/Dummy_File_PC.htm"));
  EXPECT_EQ(disk.log, (std::vector<std::string>{
                          "list /site", "copy /site/b.htm -> /work/Dummy_File_PC.htm",
                          "delete /work/Dummy_File_PC.htm", "exists /work/Dummy_File_PC.htm"}));
}

TEST(FakeDiskTest, FailsWhatItIsToldToFail) {
  test::FakeDisk disk;
  disk.AddFile("/site/locked.htm", "x");
  disk.AddFolder("/site/closed");
  disk.Fail(test::DiskOp::kRead, "/site/locked.htm");
  disk.Fail(test::DiskOp::kList, "/site/closed");
  disk.Fail(test::DiskOp::kWrite, "/prog/WEB_Dummy.htm");
  disk.Fail(test::DiskOp::kDelete, "/site/locked.htm");

  std::string err, bytes;
  std::vector<DirEntry> entries;
  EXPECT_FALSE(disk.FileExists("/site/locked.htm"));
  EXPECT_FALSE(disk.ReadWholeFile("/site/locked.htm", &bytes, &err));
  EXPECT_EQ(disk.OpenForReading("/site/locked.htm", &err), nullptr);
  EXPECT_FALSE(disk.ListFolder("/site/closed", &entries, &err));
  EXPECT_FALSE(disk.WriteWholeFile("/prog/WEB_Dummy.htm", "page", &err));
  EXPECT_FALSE(disk.HasFile("/prog/WEB_Dummy.htm"));
  EXPECT_FALSE(disk.DeleteFile("/site/locked.htm", &err));
  EXPECT_TRUE(disk.HasFile("/site/locked.htm"));
  EXPECT_FALSE(disk.CopyFile("/site/locked.htm", "/prog/copy.htm", &err));
  EXPECT_FALSE(disk.ListFolder("/nowhere", &entries, &err));
  EXPECT_NE(err, "");
}

}  // namespace
}  // namespace voxtrel
