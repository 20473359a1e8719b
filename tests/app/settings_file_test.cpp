#include "app/settings_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/fake_disk.h"
#include "support/temp_dir.h"

namespace voxtrel {
namespace {

/// Every value applied, as one line of "name=value;" pieces.
class AppliedValues : public SettingsTarget {
 public:
  bool SelectDrive(const std::string& text) override { return Add("drive", text) && text != "X"; }
  bool SetFolder(const std::string& path) override { return Add("folder", path); }
  bool SetCheckState(int which, int state) override {
    return Add("check" + std::to_string(which), std::to_string(state)) && state <= 2;
  }
  void SetOption(SettingsOption option, bool on) override {
    const char* names[] = {"https", "once", "query", "all", "crawl", "suspect"};
    Add(names[static_cast<int>(option)], on ? "on" : "off");
  }
  void SetTimeout(int seconds) override { Add("timeout", std::to_string(seconds)); }
  void SetWindowLayout(const WindowLayout& layout) override { Add("layout", FormatWindowLayout(layout)); }
  void SetRetries(int count) override { Add("retries", std::to_string(count)); }
  void SetRate(int per_second) override { Add("rate", std::to_string(per_second)); }
  void SetSinglePageTarget(const std::string& text) override { Add("target", text); }
  bool Add(const std::string& name, const std::string& value) {
    applied += name + "=" + value + ";";
    return true;
  }
  std::string applied;
};

TEST(SettingsFileTest, FileLinesApplyInOrderAndAFailedLineLeavesTheOthers) {
  const std::pair<std::string, std::string> cases[] = {  // file, values applied
      {"/ \r\n /home/a b \r\n 1 \r\n 0 \r\n 1 \r\n\r\n\r\n http://x.jp/a.htm \r\n 1 \r\n 1 \r\n 1 \r\n"
       " 30 \r\n 900  500 1 2 \r\n 0 \r\n 100 \r\n 1 \r\nignored\r\n",
       "drive=/;folder=/home/a b;check1=1;check2=0;https=on;once=off;target=http://x.jp/a.htm;"
       "query=on;all=on;crawl=on;timeout=30;layout=900 500 1 2;retries=0;rate=100;suspect=on;"},
      // A time-out, retries or rate out of range and a layout that is no layout are passed over.
      {"/\r\n/f\r\n1\r\n1\r\n\r\n\r\n\r\n\r\n\r\n\r\nx\r\n 4 \r\n0 5\r\n 11 \r\n-1\r\n1\r\n",
       "drive=/;folder=/f;check1=1;check2=1;https=off;once=off;target=;query=off;all=off;crawl=off;"
       "suspect=off;"},
      {"/\r/f\r0.5\r1.5\r1\r 1  \r\r", "drive=/;folder=/f;check1=0;check2=2;https=off;once=off;"},
      {"/\r\n/f\n/g\r\n2.5\r\n-0.4\r\n 1 \r\n 1 \r\nline7\r\n\r\n", "drive=/;folder=/f\n/g;check1=2;"
       "check2=0;https=on;once=on;target=;"},
      {"/\r\n/f\r\nx\r\n1\r\n", "drive=/;folder=/f;check2=1;"},
      {"/\r\n/f\r\n3\r\n1\r\n", "drive=/;folder=/f;check1=3;check2=1;"},
      {"/\r\n/f\r\n+1\r\n1e0\r\n", "drive=/;folder=/f;check1=1;check2=1;"},
      {"X\r\n/f\r\n", "drive=X;folder=/f;"}, {"/\r\n\x83\x65\x83\x58\r\n", "drive=/;folder=テス;"},
      {"\xEF\xBB\xBF/\r\ncafé\r\n", "drive=/;folder=café;"}, {"", ""},
  };
  for (const auto& [file, applied] : cases) {
    SCOPED_TRACE(file);
    test::FakeDisk disk;
    disk.AddFile("/p/Voxtrel.DEF", file);
    AppliedValues target;
    ReadSettingsFile(disk, "/p/Voxtrel.DEF", target);
    EXPECT_EQ(target.applied, applied);
  }
}

TEST(SettingsFileTest, ValuesAreWrittenByteForByteAndReadBack) {
  SettingsValues values{"/", "/home/テスト\rx", 0, 2, true, false, "", false, false, false, 60, {}, {}};
  const std::string bytes =
      "/\r\n/home/\x83\x65\x83\x58\x83\x67?x\r\n 0 \r\n 2 \r\n 1 \r\n\r\n\r\nhttp://\r\n";
  EXPECT_EQ(FormatSettings(values), bytes);
  // A name code page 932 cannot hold makes the file UTF-8, so it reads back as it was.
  values.folder = "/home/café\r";
  values.once = true;
  values.https = false;
  values.single_page_target = "/a.htm";
  test::FakeDisk disk;
  std::string err;
  values.all_links = true;
  ASSERT_TRUE(WriteSettingsFile(disk, "/p/Voxtrel.DEF", values, &err));
  EXPECT_EQ(disk.Contents("/p/Voxtrel.DEF"),
            "\xEF\xBB\xBF/\r\n/home/café?\r\n 0 \r\n 2 \r\n\r\n 1 \r\n\r\n/a.htm\r\n\r\n 1 \r\n");
  // Later lines only when they differ from their defaults: a time-out, a resized window.
  values.timeout_s = 120;
  values.layout = {900, 500, {50, 40}};
  EXPECT_TRUE(FormatSettings(values).ends_with("\r\n 1 \r\n\r\n 120 \r\n900 500 50 40\r\n"));
  values.layout = {};
  values.retries = 0;
  EXPECT_TRUE(FormatSettings(values).ends_with(" 120 \r\n\r\n 0 \r\n"));
  values.retries = kDefaultRetryCount;
  values.rate = 2;
  EXPECT_TRUE(FormatSettings(values).ends_with(" 120 \r\n\r\n\r\n 2 \r\n"));
  values.suspect = true;
  EXPECT_TRUE(FormatSettings(values).ends_with("\r\n 2 \r\n 1 \r\n"));
  ASSERT_TRUE(WriteSettingsFile(disk, "/p/Voxtrel.DEF", values, &err));
  AppliedValues target;
  ReadSettingsFile(disk, "/p/Voxtrel.DEF", target);
  EXPECT_EQ(target.applied,
            "drive=/;folder=/home/café?;check1=0;check2=2;https=off;once=on;target=/a.htm;"
            "query=off;all=on;crawl=off;timeout=120;rate=2;suspect=on;");
}

TEST(SettingsFileTest, AFifoIsNotWaitedOnAndALinkAtTheOldTemporaryNameNotFollowed) {
  test::TempDir dir;
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
  PosixDisk disk;
  AppliedValues target;
  ReadSettingsFile(disk, dir / "fifo", target);  // would block for ever on open or read
  EXPECT_EQ(target.applied, "");
  symlink((dir / "victim").c_str(), (dir / "Voxtrel.DEF.voxtrel-tmp").c_str());
  EXPECT_TRUE(WriteSettingsFile(disk, dir / "Voxtrel.DEF", SettingsValues{}, nullptr));
  EXPECT_FALSE(std::filesystem::exists(dir / "victim"));
}

}  // namespace
}  // namespace voxtrel
