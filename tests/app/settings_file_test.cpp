#include "app/settings_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace voxtrel {
namespace {

/// Records what the reader applied; a drive or folder not in its sets fails like the pickers.
class RecordingTarget : public SettingsTarget {
 public:
  bool SelectDrive(const std::string& text) override {
    log.push_back("drive " + text);
    if (!drives.count(text.substr(0, text.find(" [")))) return false;
    drive = text;
    return true;
  }
  bool SetFolder(const std::string& path) override {
    log.push_back("folder " + path);
    if (!folders.count(path)) return false;
    folder = path;
    return true;
  }
  bool SetCheckState(int which, int state) override {
    log.push_back("check" + std::to_string(which) + " " + std::to_string(state));
    if (state < 0 || state > 2) return false;
    (which == 1 ? check1 : check2) = state;
    return true;
  }
  void SetSinglePageTarget(const std::string& text) override {
    log.push_back("target " + text);
    target = text;
  }

  std::set<std::string> drives{"/", "/mnt/data"};
  std::set<std::string> folders{"/site", "/mnt/data/サイト"};
  std::string drive = "/";
  std::string folder = "/start";
  int check1 = 1;
  int check2 = 1;
  std::string target = "http://";
  std::vector<std::string> log;
};

void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
}

TEST(SettingsFileTest, SplitsLinesAtCrLfAndCrButNotAtBareLf) {
  struct Case {
    std::string bytes;
    size_t max_lines;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {"", 8, {}},
      {"\r\n", 8, {""}},
      {"a\r\nb\r\n", 8, {"a", "b"}},
      {"a\rb\r", 8, {"a", "b"}},
      {"a\r\nb", 8, {"a", "b"}},
      {"a\nb\r\nc", 8, {"a\nb", "c"}},
      {"a\r\r\nb", 8, {"a", "", "b"}},
      {"1\r\n2\r\n3\r\n", 2, {"1", "2"}},
      // Shift_JIS "サイト" decodes to UTF-8.
      {"/\x83T\x83""C\x83g\r\n", 8, {"/サイト"}},
  };
  for (const Case& c : cases)
    EXPECT_EQ(SplitSettingsLines(c.bytes, c.max_lines), c.lines) << c.bytes;
}

TEST(SettingsFileTest, NumbersAreDecimalsRoundedHalfToEven) {
  struct Case {
    std::string text;
    bool ok;
    int value;
  };
  const Case cases[] = {
      {"0", true, 0},      {"1", true, 1},       {"2", true, 2},     {"5", true, 5},
      {"+1", true, 1},     {"-0", true, 0},      {"1.4", true, 1},   {"1.5", true, 2},
      {"0.5", true, 0},    {"2.5", true, 2},     {".6", true, 1},    {"1.", true, 1},
      {"1e0", true, 1},    {"-0.4", true, 0},    {"", false, 0},     {"word", false, 0},
      {"1 2", false, 0},   {"0x1", false, 0},    {"nan", false, 0},  {"inf", false, 0},
      {"1e999", false, 0}, {"99999999999", false, 0}, {".", false, 0}, {"1e", false, 0},
  };
  for (const Case& c : cases) {
    int value = -7;
    EXPECT_EQ(ParseSettingsNumber(c.text, &value), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(value, c.value) << c.text;
    }
  }
}

TEST(SettingsFileTest, ReadingStopsAtTheFirstLineThatCannotBeApplied) {
  struct Case {
    const char* what;
    std::vector<std::string> lines;
    std::string drive, folder;
    int check1, check2;
    std::string target;
  };
  const Case cases[] = {
      {"empty file", {}, "/", "/start", 1, 1, "http://"},
      {"two lines", {"/mnt/data", "/mnt/data/サイト"}, "/mnt/data", "/mnt/data/サイト", 1, 1,
       "http://"},
      {"missing drive", {"/gone [usb]", "/site", " 0 ", " 0 ", "", "", "", "http://h/a.htm"},
       "/", "/start", 1, 1, "http://"},
      {"missing folder", {"/mnt/data [data]", "/nowhere", " 0 ", " 0 ", "", "", "", "http://h/"},
       "/mnt/data [data]", "/start", 1, 1, "http://"},
      {"word on line 3", {"/", "/site", "yes", " 0 ", "", "", "", "http://h/a.htm"}, "/",
       "/site", 1, 1, "http://"},
      {"5 on line 4", {"/", "/site", " 0 ", "5", "", "", "", "http://h/a.htm"}, "/", "/site",
       0, 1, "http://"},
      {"blanks around digits", {"/", "/site", " 0 ", "0", "", "", "", "http://h/a.htm"}, "/",
       "/site", 0, 0, "http://h/a.htm"},
      {"greyed", {"/", "/site", "2", "1", "", "", "", "/site/i.htm"}, "/", "/site", 2, 1,
       "/site/i.htm"},
      {"empty line 8", {"/", "/site", " 1 ", " 1 ", "", "", "", ""}, "/", "/site", 1, 1, ""},
      {"reserved lines and a ninth ignored",
       {"/", "/site", " 1 ", " 0 ", "x", "y", "z", "  http://h/b.html  ", "/gone"}, "/",
       "/site", 1, 0, "http://h/b.html"},
  };
  for (const Case& c : cases) {
    RecordingTarget target;
    ApplySettingsLines(c.lines, target);
    EXPECT_EQ(target.drive, c.drive) << c.what;
    EXPECT_EQ(target.folder, c.folder) << c.what;
    EXPECT_EQ(target.check1, c.check1) << c.what;
    EXPECT_EQ(target.check2, c.check2) << c.what;
    EXPECT_EQ(target.target, c.target) << c.what;
  }
}

TEST(SettingsFileTest, FormatsEightShiftJisLinesWithCrLf) {
  SettingsValues values;
  values.drive = "/mnt/data [data]";
  values.folder = "/mnt/data/サイト";
  values.check1 = 0;
  values.check2 = 1;
  values.single_page_target = "http://example.test/index.html";
  EXPECT_EQ(FormatSettings(values),
            "/mnt/data [data]\r\n/mnt/data/\x83T\x83""C\x83g\r\n 0 \r\n 1 \r\n\r\n\r\n\r\n"
            "http://example.test/index.html\r\n");

  values.single_page_target.clear();
  const std::string bytes = FormatSettings(values);
  EXPECT_EQ(bytes.substr(bytes.size() - 9), "http://\r\n");
}

TEST(SettingsFileTest, WrittenFileReadsBackTheSameValues) {
  test::TempDir dir;
  const std::string path = dir / kSettingsFileName;
  SettingsValues values;
  values.drive = "/mnt/data";
  values.folder = "/mnt/data/サイト";
  values.check1 = 0;
  values.check2 = 0;
  values.single_page_target = "/site/トップ.htm";
  std::string err;
  ASSERT_TRUE(WriteSettingsFile(path, values, &err)) << err;
  EXPECT_TRUE(err.empty());

  RecordingTarget target;
  ReadSettingsFile(path, target);
  EXPECT_EQ(target.drive, "/mnt/data");
  EXPECT_EQ(target.folder, "/mnt/data/サイト");
  EXPECT_EQ(target.check1, 0);
  EXPECT_EQ(target.check2, 0);
  EXPECT_EQ(target.target, "/site/トップ.htm");
  // Only the file itself is left: the temporary one was renamed.
  size_t entries = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.path()))
    ++entries;
  EXPECT_EQ(entries, 1u);
}

TEST(SettingsFileTest, FailedWriteLeavesNoPartialFile) {
  test::TempDir dir;
  std::string err;
  EXPECT_FALSE(WriteSettingsFile(dir / "missing/Voxtrel.DEF", SettingsValues{}, &err));
  EXPECT_FALSE(err.empty());

  // A folder in the file's place cannot be replaced; the temporary file goes again.
  const std::string blocked = dir / "blocked";
  std::filesystem::create_directory(blocked);
  std::filesystem::create_directory(blocked + "/inside");
  err.clear();
  EXPECT_FALSE(WriteSettingsFile(blocked, SettingsValues{}, &err));
  EXPECT_FALSE(err.empty());
  size_t entries = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.path()))
    ++entries;
  EXPECT_EQ(entries, 1u);
  EXPECT_TRUE(std::filesystem::is_directory(blocked + "/inside"));
}

TEST(SettingsFileTest, OddFilesApplyNothingOrOnlyTheirFirstLines) {
  test::TempDir dir;
  const std::string path = dir / kSettingsFileName;

  {  // no file at all
    RecordingTarget target;
    ReadSettingsFile(path, target);
    EXPECT_TRUE(target.log.empty());
  }
  {  // a folder where the file should be
    std::filesystem::create_directory(dir / "folder.DEF");
    RecordingTarget target;
    ReadSettingsFile(dir / "folder.DEF", target);
    EXPECT_TRUE(target.log.empty());
  }
  {  // a million lines: the first eight are applied, the rest never looked at
    std::string bytes = "/\r\n/site\r\n 0 \r\n 0 \r\n\r\n\r\n\r\nhttp://h/a.htm\r\n";
    bytes.reserve(bytes.size() + 1000000 * 3);
    for (int i = 0; i < 1000000; ++i) bytes += "x\r\n";
    WriteBytes(path, bytes);
    RecordingTarget target;
    ReadSettingsFile(path, target);
    EXPECT_EQ(target.log.size(), 5u);
    EXPECT_EQ(target.target, "http://h/a.htm");
  }
  {  // one endless line: cut by the size limit, so it is no line and nothing is applied
    WriteBytes(path, std::string(4 << 20, '/'));
    RecordingTarget target;
    ReadSettingsFile(path, target);
    EXPECT_TRUE(target.log.empty());
  }
  {  // binary garbage: the first line names no drive
    std::string bytes;
    for (int i = 0; i < 200000; ++i) bytes += static_cast<char>((i * 7919) & 0xff);
    WriteBytes(path, bytes);
    RecordingTarget target;
    ReadSettingsFile(path, target);
    EXPECT_LE(target.log.size(), 1u);
    EXPECT_EQ(target.folder, "/start");
  }
  {  // a last line without CR LF still counts
    WriteBytes(path, "/\r\n/site");
    RecordingTarget target;
    ReadSettingsFile(path, target);
    EXPECT_EQ(target.folder, "/site");
  }
}

}  // namespace
}  // namespace voxtrel
