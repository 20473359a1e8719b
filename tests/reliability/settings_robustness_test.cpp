// The settings file at start-up and exit: garbage, enormous or odd files are read without a crash
// or a hang, and a write that fails never leaves a half-written file where a whole one stood.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "app/settings_file.h"
#include "reliability/child_process.h"
#include "reliability/figures.h"
#include "support/files.h"
#include "support/temp_dir.h"

namespace voxtrel {
namespace {

using test::WriteFile;
using test::ReadFile;
using test::FolderNames;

namespace fs = std::filesystem;
using test::TempDir;

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

/// Accepts every value the way the window's pickers would accept an existing folder, and records
/// each call.
class RecordingTarget : public SettingsTarget {
 public:
  bool SelectDrive(const std::string& text) override {
    calls.push_back("drive " + text);
    return true;
  }
  bool SetFolder(const std::string& path) override {
    calls.push_back("folder " + path);
    return true;
  }
  bool SetCheckState(int which, int state) override {
    calls.push_back("check" + std::to_string(which) + " " + std::to_string(state));
    return state >= 0 && state <= 2;
  }
  void SetSinglePageTarget(const std::string& text) override { calls.push_back("target " + text); }

  std::vector<std::string> calls;
};

SettingsValues SomeValues() {
  SettingsValues values;
  values.drive = "/";
  values.folder = "/srv/サイト";
  values.check1 = 0;
  values.check2 = 1;
  values.single_page_target = "http://example.jp/index.htm";
  return values;
}

TEST(SettingsRobustnessTest, BinaryGarbageIsReadWithoutHarmAsTheLinesItHolds) {
  TempDir temp;
  std::mt19937 random(5);
  for (int round = 0; round < 50; ++round) {
    std::string bytes;
    const size_t size = random() % 4096;
    for (size_t k = 0; k < size; ++k) bytes += static_cast<char>(random() & 0xFF);
    const std::string path = temp / "Voxtrel.DEF";
    WriteFile(path, bytes);

    RecordingTarget from_file;
    ReadSettingsFile(path, from_file);
    RecordingTarget from_lines;
    ApplySettingsLines(SplitSettingsLines(bytes, kSettingsLineCount), from_lines);
    EXPECT_EQ(from_file.calls, from_lines.calls) << "round " << round;
    EXPECT_LE(from_file.calls.size(), kSettingsLineCount);
  }
}

TEST(SettingsRobustnessTest, EnormousFilesAreReadOnlyAsFarAsTheEightLinesNeed) {
  TempDir temp;
  struct Case {
    const char* name;
    std::string bytes;
    std::vector<std::string> calls;
  };
  std::string million_lines = "/\r\n/srv\r\n 1 \r\n 0 \r\n\r\n\r\n\r\nhttp://h/\r\n";
  for (int i = 0; i < 1000000; ++i) million_lines += "line " + std::to_string(i) + "\r\n";
  const std::vector<std::string> eight = {"drive /", "folder /srv", "check1 1", "check2 0",
                                          "target http://h/"};
  std::vector<Case> cases = {
      {"a million lines", million_lines, eight},
      // Empty lines: drive and folder take them, the empty option line is no number.
      {"a million CRs", std::string(1000000, '\r'), {"drive ", "folder "}},
      // One line of 50 MB never ends within what is read: it is no line, nothing is applied.
      {"a 50 MB line", std::string(50u << 20, 'x'), {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = temp / "Voxtrel.DEF";
    WriteFile(path, c.bytes);
    RecordingTarget target;
    const auto start = std::chrono::steady_clock::now();
    ReadSettingsFile(path, target);
    const double seconds = SecondsSince(start);
    EXPECT_EQ(target.calls, c.calls);
    test::Record({std::string("settings: ") + c.name,
                  std::to_string(target.calls.size()) + " values applied", seconds, "", 0});
  }
}

// A folder name may hold a carriage return on this system. Written as it is, it would end its
// line early and shift every later value by one line: the options and the single page target
// would be lost and the folder read as a different one.
TEST(SettingsRobustnessTest, CarriageReturnInAValueDoesNotShiftTheLinesAfterIt) {
  SettingsValues values = SomeValues();
  values.folder = "/srv/a\rb";
  values.single_page_target = "http://h/\r\n/x";
  RecordingTarget target;
  const std::vector<std::string> lines =
      SplitSettingsLines(FormatSettings(values), kSettingsLineCount + 1);
  EXPECT_EQ(lines.size(), kSettingsLineCount);
  ApplySettingsLines(lines, target);
  ASSERT_EQ(target.calls.size(), 5u);
  EXPECT_NE(target.calls[1], "folder /srv/a");
  EXPECT_EQ(target.calls[2], "check1 0");
  EXPECT_EQ(target.calls[3], "check2 1");
  EXPECT_EQ(target.calls[4].rfind("target http://h/", 0), 0u);
}

// A settings file that is a fifo, a folder or a device is no settings file: start-up reads
// nothing from it and goes on at once, even though nobody ever writes into the fifo.
TEST(SettingsRobustnessTest, SettingsPathThatIsNoRegularFileIsSkippedWithoutWaiting) {
  TempDir temp;
  ASSERT_EQ(mkfifo((temp / "fifo.DEF").c_str(), 0644), 0);
  fs::create_directory(temp / "folder.DEF");
  for (const std::string& path :
       {temp / "fifo.DEF", temp / "folder.DEF", std::string("/dev/zero")}) {
    SCOPED_TRACE(path);
    test::ForkOutcome run = test::RunInChild(
        [&path] {
          RecordingTarget target;
          ReadSettingsFile(path, target);
          return target.calls.empty() ? 0 : 1;
        },
        0, 5);
    EXPECT_EQ(run.signal, 0) << "reading the settings hung";
    EXPECT_EQ(run.exit_status, 0);
  }
}

// Writing goes to a temporary file renamed over the old one: a reader holding the old file keeps
// it whole, and a write that fails half way leaves the previous file exactly as it was.
TEST(SettingsRobustnessTest, FailedWriteLeavesThePreviousFileIntact) {
  TempDir temp;
  const std::string path = temp / "Voxtrel.DEF";
  std::string err;
  SettingsValues old_values = SomeValues();
  ASSERT_TRUE(WriteSettingsFile(path, old_values, &err)) << err;
  const std::string old_bytes = ReadFile(path);
  ASSERT_EQ(old_bytes, FormatSettings(old_values));

  // A second name for the old file: an in-place rewrite would change what it shows.
  ASSERT_EQ(link(path.c_str(), (temp / "old-link").c_str()), 0);
  SettingsValues new_values = SomeValues();
  new_values.folder = "/srv/新しい";
  ASSERT_TRUE(WriteSettingsFile(path, new_values, &err)) << err;
  EXPECT_EQ(ReadFile(path), FormatSettings(new_values));
  EXPECT_EQ(ReadFile(temp / "old-link"), old_bytes);
  fs::remove(temp / "old-link");
  const std::string current = ReadFile(path);

  // A disk that fills up after ten bytes: the child's writes fail with EFBIG.
  test::ForkOutcome run = test::RunInChild(
      [&path] {
        signal(SIGXFSZ, SIG_IGN);
        rlimit limit{10, 10};
        setrlimit(RLIMIT_FSIZE, &limit);
        SettingsValues values = SomeValues();
        values.folder = "/srv/" + std::string(200, 'z');
        std::string write_error;
        bool written = WriteSettingsFile(path, values, &write_error);
        return written || write_error.empty() ? 1 : 0;
      },
      0, 10);
  EXPECT_EQ(run.signal, 0);
  EXPECT_EQ(run.exit_status, 0) << "the write should have failed and said why";
  EXPECT_EQ(ReadFile(path), current);
  EXPECT_EQ(FolderNames(temp.path()), std::vector<std::string>{"Voxtrel.DEF"});
}

// The program folder cannot be written at exit: the write fails with a reason, nothing is left
// behind, and the file that was there stays.
TEST(SettingsRobustnessTest, UnwritableProgramFolderFailsCleanly) {
  TempDir temp;
  WriteFile(temp / "not-a-folder", "x");
  std::string err;
  for (const std::string& path :
       {temp / "missing/Voxtrel.DEF", temp / "not-a-folder/Voxtrel.DEF"}) {
    SCOPED_TRACE(path);
    err.clear();
    EXPECT_FALSE(WriteSettingsFile(path, SomeValues(), &err));
    EXPECT_FALSE(err.empty());
  }
  EXPECT_EQ(FolderNames(temp.path()), std::vector<std::string>{"not-a-folder"});
}

TEST(SettingsRobustnessTest, ReadOnlyProgramFolderKeepsTheFileThatWasThere) {
  if (geteuid() == 0) GTEST_SKIP() << "root writes into read-only folders";
  TempDir temp;
  std::string err;
  fs::create_directory(temp / "ro");
  const std::string path = temp / "ro/Voxtrel.DEF";
  ASSERT_TRUE(WriteSettingsFile(path, SomeValues(), &err)) << err;
  const std::string before = ReadFile(path);
  fs::permissions(temp / "ro", fs::perms::owner_read | fs::perms::owner_exec);
  SettingsValues changed = SomeValues();
  changed.check1 = 1;
  EXPECT_FALSE(WriteSettingsFile(path, changed, &err));
  fs::permissions(temp / "ro", fs::perms::owner_all);
  EXPECT_EQ(ReadFile(path), before);
  EXPECT_EQ(FolderNames(temp / "ro"), std::vector<std::string>{"Voxtrel.DEF"});
}

}  // namespace
}  // namespace voxtrel
