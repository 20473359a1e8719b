// Hostile folders: huge, deep, looping, oddly named or vanishing trees are walked to the end,
// and every page that can be read is checked.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/settings_file.h"
#include "engine/check_loop.h"
#include "engine/run_context.h"
#include "output/report_writer.h"
#include "platform/cp932.h"
#include "platform/disk.h"
#include "reliability/figures.h"
#include "reliability/light_seams.h"
#include "run/find_html_files.h"
#include "support/files.h"
#include "support/recording_view.h"
#include "support/scripted_http.h"
#include "support/temp_dir.h"

namespace voxtrel {
namespace {

using test::WriteFile;
using test::ReadFile;

namespace fs = std::filesystem;
using test::TempDir;

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

std::vector<std::string> Walk(DiskInterface& disk, const std::string& folder) {
  std::vector<std::string> pages;
  FindHtmlFiles(
      disk, folder, 1, [&pages](const std::string& path) { pages.push_back(path); }, nullptr);
  return pages;
}

/// The real disk, deleting one folder (with all in it) as soon as another one is listed: a
/// folder that disappears while the walk is under way.
class VanishingDisk : public PosixDisk {
 public:
  VanishingDisk(std::string trigger, std::string victim)
      : trigger_(std::move(trigger)), victim_(std::move(victim)) {}

  bool ListFolder(const std::string& folder, std::vector<DirEntry>* entries,
                  std::string* err) override {
    bool listed = PosixDisk::ListFolder(folder, entries, err);
    if (folder == trigger_) {
      std::error_code ec;
      fs::remove_all(victim_, ec);
    }
    return listed;
  }

 private:
  std::string trigger_;
  std::string victim_;
};

TEST(HostileFoldersTest, TwentyThousandPagesInOneFolderAreAllFoundAndChecked) {
  // Under the sanitizers every page's file operations cost many times more: a tenth will do.
  constexpr int kPages = test::kSanitized ? 2000 : 20000;
  TempDir temp;
  for (int i = 0; i < kPages; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "p%05d.htm", i);
    WriteFile(temp / name, "<A HREF=\"http://h/" + std::to_string(i) + "\">x</A>\r\n");
  }
  // The pages were only just written; their writeback is not what this run is to measure.
  sync();
  test::CountingView view;
  PosixDisk disk;
  test::InstantHttpFactory http(200);
  size_t out_of_order = 0;
  http.check = [&](size_t index, const std::string& url) {
    if (url != "http://h/" + std::to_string(index)) ++out_of_order;
  };
  RunContext ctx(view, disk, http, temp.path());
  ctx.Check2 = 0;

  auto start = std::chrono::steady_clock::now();
  FindHtmlFiles(ctx, temp.path(), 1);
  const double find_seconds = SecondsSince(start);
  start = std::chrono::steady_clock::now();
  CheckLinks(ctx);
  const double check_seconds = SecondsSince(start);

  ASSERT_EQ(ctx.List1.size(), static_cast<size_t>(kPages));
  EXPECT_EQ(ctx.List1.front(), temp / "p00000.htm");
  char last[32];
  std::snprintf(last, sizeof last, "p%05d.htm", kPages - 1);
  EXPECT_EQ(ctx.List1.back(), temp / last);
  EXPECT_EQ(http.requests, static_cast<size_t>(kPages));
  EXPECT_EQ(out_of_order, 0u);
  const std::string pages = std::to_string(kPages);
  test::Record(
      {"folder: " + pages + " pages, discovery", pages + " pages listed", find_seconds, "", 0});
  test::Record({"folder: " + pages + " pages, check run", pages + " requests, in order",
                check_seconds, "", test::SelfPeakRssKib()});
}

TEST(HostileFoldersTest, NestingThreeHundredDeepIsWalkedToTheBottom) {
  constexpr int kDepth = 300;
  TempDir temp;
  std::string folder = temp.path();
  std::vector<std::string> expected;
  for (int level = 0; level <= kDepth; ++level) {
    if (level > 0) {
      folder += "/d";
      ASSERT_TRUE(fs::create_directory(folder));
    }
    WriteFile(folder + "/p.htm", "<A HREF=\"http://h/" + std::to_string(level) + "\">x</A>\r\n");
    expected.push_back(folder + "/p.htm");
  }
  PosixDisk disk;

  const auto start = std::chrono::steady_clock::now();
  const std::vector<std::string> pages = Walk(disk, temp.path());
  const double seconds = SecondsSince(start);

  EXPECT_EQ(pages, expected);
  test::Record({"folder: 300 levels deep, discovery", std::to_string(pages.size()) + " pages",
                seconds, "", 0});
}

TEST(HostileFoldersTest, SymlinkLoopsAreNeverFollowedAndFifosNeverListed) {
  TempDir temp;
  fs::create_directories(temp / "sub");
  WriteFile(temp / "a.htm", "");
  WriteFile(temp / "sub/b.htm", "");
  fs::create_directory_symlink("..", temp / "sub/up");  // back to the top
  fs::create_directory_symlink(".", temp / "self");     // to itself
  fs::create_directory_symlink(temp / "sub", temp / "sub/again");
  fs::create_symlink("y.htm", temp / "x.htm");  // x -> y -> x
  fs::create_symlink("x.htm", temp / "y.htm");
  fs::create_symlink("missing.htm", temp / "dangling.htm");
  fs::create_symlink("a.htm", temp / "link.htm");           // a link to a page is that page
  ASSERT_EQ(mkfifo((temp / "fifo.htm").c_str(), 0644), 0);  // no page can be read from it
  PosixDisk disk;

  EXPECT_EQ(Walk(disk, temp.path()),
            (std::vector<std::string>{temp / "a.htm", temp / "link.htm", temp / "sub/b.htm"}));
}

// Names with characters code page 932 lacks: the rows name the pages in UTF-8, the report and
// the settings file write "?" for each such character.
TEST(HostileFoldersTest, NamesShiftJisCannotHoldShowInRowsAndBecomeQuestionMarksInFiles) {
  TempDir temp;
  const std::string folder = temp / "폴더";
  fs::create_directories(folder);
  const std::vector<std::string> names = {"한글.htm", "smile😀.htm", "日本.htm"};
  for (const std::string& name : names)
    WriteFile(folder + "/" + name, "<A HREF=\"http://h/\">link</A>\r\n");
  // A page named in raw Shift_JIS bytes, as copied from another system: not UTF-8 at all.
  const std::string raw_name = "\x95\xB6\x8F\xCD.htm";
  WriteFile(folder + "/" + raw_name, "<A HREF=\"http://h/raw\">raw</A>\r\n");

  test::RecordingView view;
  PosixDisk disk;
  test::ScriptedHttpFactory http;  // every request fails: every link gets its row
  RunContext ctx(view, disk, http, temp.path());
  FindHtmlFiles(ctx, folder, 1);
  CheckLinks(ctx);

  ASSERT_EQ(ctx.results.Count(), 4u);
  std::vector<std::string> files;
  for (const ResultRow& row : ctx.results.Rows()) files.push_back(row[kColFile]);
  // Byte order of the names: the raw bytes (0x95) sort before the UTF-8 of 日 (0xE6).
  EXPECT_EQ(files, (std::vector<std::string>{folder + "/smile😀.htm", folder + "/" + raw_name,
                                             folder + "/日本.htm", folder + "/한글.htm"}));

  std::string err;
  ASSERT_TRUE(WriteReport(disk, ctx.results.Rows(), temp / "report.htm", &err)) << err;
  ASSERT_TRUE(WriteReport(disk, ctx.results.Rows(), temp / "report.csv", &err)) << err;
  const std::string sjis_folder = Utf8ToCp932(temp.path()) + "/??";
  for (const std::string& report : {temp / "report.htm", temp / "report.csv"}) {
    SCOPED_TRACE(report);
    const std::string bytes = ReadFile(report);
    EXPECT_NE(bytes.find(sjis_folder + "/??.htm"), std::string::npos);
    EXPECT_NE(bytes.find(sjis_folder + "/smile?.htm"), std::string::npos);
    EXPECT_NE(bytes.find(sjis_folder + "/????.htm"), std::string::npos);
    EXPECT_NE(bytes.find(sjis_folder + "/" + Utf8ToCp932("日本.htm")), std::string::npos);
  }

  SettingsValues values;
  values.drive = "/";
  values.folder = folder;
  values.single_page_target = "http://h/한글😀.htm";
  const std::string settings = FormatSettings(values);
  EXPECT_NE(settings.find(sjis_folder + "\r\n"), std::string::npos);
  EXPECT_NE(settings.find("http://h/???.htm\r\n"), std::string::npos);
}

TEST(HostileFoldersTest, FolderVanishingDuringDiscoveryLosesOnlyItsOwnPages) {
  TempDir temp;
  for (const char* folder : {"a", "b", "b/inner", "c"}) fs::create_directories(temp / folder);
  for (const char* page : {"top.htm", "a/1.htm", "b/2.htm", "b/inner/3.htm", "c/4.htm"})
    WriteFile(temp / page, "");
  // The top folder's listing names b; b is gone by the time the walk gets there.
  VanishingDisk disk(temp / "a", temp / "b");

  EXPECT_EQ(Walk(disk, temp.path()),
            (std::vector<std::string>{temp / "top.htm", temp / "a/1.htm", temp / "c/4.htm"}));
  EXPECT_FALSE(fs::exists(temp / "b"));
}

}  // namespace
}  // namespace voxtrel
