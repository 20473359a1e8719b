#include "run/find_html_files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine/run_context.h"
#include "support/fake_disk.h"
#include "support/recording_view.h"
#include "support/scripted_http.h"
#include "support/temp_dir.h"

namespace voxtrel {
namespace {

namespace fs = std::filesystem;
using test::FakeDisk;
using test::TempDir;

void Touch(const std::string& path) { std::ofstream(path) << "<HTML></HTML>\r\n"; }

void MakeFolder(const std::string& path) { fs::create_directories(path); }

struct Walk {
  std::vector<std::string> pages;
  std::vector<std::string> progress;
};

Walk Find(DiskInterface& disk, const std::string& folder, int16_t include_subfolders) {
  Walk walk;
  FindHtmlFiles(
      disk, folder, include_subfolders,
      [&walk](const std::string& path) { walk.pages.push_back(path); },
      [&walk](const std::string& text) { walk.progress.push_back(text); });
  return walk;
}

TEST(FindHtmlFilesTest, RecognisesTheFourExtensionsInAnyCase) {
  const struct {
    const char* name;
    bool html;
  } cases[] = {
      {"index.htm", true}, {"B.HTML", true},     {"c.Shtml", true},  {"d.shtm", true},
      {"e.htmx", false},   {"f.htm.bak", false}, {"g.txt", false},   {"html", false},
      {".htm", true},      {"x.HtM", true},      {"htm", false},     {"", false},
      {"a.sHTM", true},    {"ページ.htm", true}, {"a.xhtml", false}, {"a.htm ", false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsHtmlFileName(c.name), c.html) << c.name;
}

TEST(FindHtmlFilesTest, ListsPagesOfOneFolderInListingOrderWithTheirNamesAsListed) {
  TempDir dir;
  for (const char* name :
       {"index.htm", "B.HTML", "c.Shtml", "d.shtm", "e.htmx", "f.htm.bak", "g.txt", "html"})
    Touch(dir / name);
  PosixDisk disk;
  Walk walk = Find(disk, dir.path(), 0);
  // Byte order: upper-case letters before lower-case ones.
  EXPECT_EQ(walk.pages, (std::vector<std::string>{dir / "B.HTML", dir / "c.Shtml", dir / "d.shtm",
                                                  dir / "index.htm"}));
  EXPECT_EQ(walk.progress, (std::vector<std::string>{dir.path(), dir / "B.HTML", dir / "c.Shtml",
                                                     dir / "d.shtm", dir / "index.htm"}));
}

TEST(FindHtmlFilesTest, WalksTheTreeDepthFirstInPreOrder) {
  TempDir dir;
  const std::string a = dir / "A";
  MakeFolder(a + "/S1/T");
  MakeFolder(a + "/S2");
  Touch(a + "/a1.htm");
  Touch(a + "/a2.htm");
  Touch(a + "/S1/s1.htm");
  Touch(a + "/S1/T/t.htm");
  Touch(a + "/S2/s2.htm");
  PosixDisk disk;

  Walk walk = Find(disk, a, 1);
  EXPECT_EQ(walk.pages, (std::vector<std::string>{a + "/a1.htm", a + "/a2.htm", a + "/S1/s1.htm",
                                                  a + "/S1/T/t.htm", a + "/S2/s2.htm"}));
  // Each folder shows in the progress text when it begins, after its parent's pages.
  EXPECT_EQ(walk.progress, (std::vector<std::string>{
                               a, a + "/a1.htm", a + "/a2.htm", a + "/S1", a + "/S1/s1.htm",
                               a + "/S1/T", a + "/S1/T/t.htm", a + "/S2", a + "/S2/s2.htm"}));

  // Only 1 descends: cleared and greyed check boxes list the starting folder alone.
  for (int16_t flag : {int16_t{0}, int16_t{2}, int16_t{-1}, int16_t{999}})
    EXPECT_EQ(Find(disk, a, flag).pages, (std::vector<std::string>{a + "/a1.htm", a + "/a2.htm"}))
        << flag;
}

TEST(FindHtmlFilesTest, SearchesFoldersNamedLikePagesButNeverDotFolders) {
  TempDir dir;
  MakeFolder(dir / "site.htm");
  Touch(dir / "site.htm/inner.htm");
  MakeFolder(dir / ".git");
  Touch(dir / ".git/config.htm");
  MakeFolder(dir / "_old");
  Touch(dir / "_old/old.htm");
  Touch(dir / ".hidden.htm");
  Touch(dir / "top.htm");
  PosixDisk disk;
  EXPECT_EQ(Find(disk, dir.path(), 1).pages,
            (std::vector<std::string>{dir / "top.htm", dir / "_old/old.htm",
                                      dir / "site.htm/inner.htm"}));
  EXPECT_EQ(Find(disk, dir.path(), 0).pages, (std::vector<std::string>{dir / "top.htm"}));
}

TEST(FindHtmlFilesTest, PassesOverReadOnlyPagesAndFoldersByTheirWholeAttributeValue) {
  TempDir dir;
  Touch(dir / "locked.htm");
  Touch(dir / "open.htm");
  Touch(dir / "owner_only.htm");
  chmod((dir / "locked.htm").c_str(), 0444);      // no write bit at all: 33
  chmod((dir / "owner_only.htm").c_str(), 0644);  // one write bit: 32
  MakeFolder(dir / "frozen");
  Touch(dir / "frozen/inside.htm");
  chmod((dir / "frozen").c_str(), 0555);  // read-only folder: 17
  MakeFolder(dir / "plain");
  Touch(dir / "plain/inside.htm");
  PosixDisk disk;
  EXPECT_EQ(Find(disk, dir.path(), 1).pages,
            (std::vector<std::string>{dir / "open.htm", dir / "owner_only.htm",
                                      dir / "plain/inside.htm"}));
}

TEST(FindHtmlFilesTest, SkipsFifosAndDanglingLinksAndNeverFollowsFolderLinks) {
  TempDir dir;
  Touch(dir / "a.htm");
  ASSERT_EQ(mkfifo((dir / "b_fifo.htm").c_str(), 0644), 0);
  ASSERT_EQ(symlink((dir / "nowhere.htm").c_str(), (dir / "c_dangling.htm").c_str()), 0);
  Touch(dir / "d.htm");
  ASSERT_EQ(symlink((dir / "d.htm").c_str(), (dir / "e_link.htm").c_str()), 0);
  MakeFolder(dir / "sub");
  Touch(dir / "sub/s.htm");
  // A loop back to the top and a link to the sibling folder: neither is entered.
  ASSERT_EQ(symlink(dir.path().c_str(), (dir / "sub/loop").c_str()), 0);
  ASSERT_EQ(symlink((dir / "sub").c_str(), (dir / "z_sub_link").c_str()), 0);
  PosixDisk disk;
  EXPECT_EQ(Find(disk, dir.path(), 1).pages,
            (std::vector<std::string>{dir / "a.htm", dir / "d.htm", dir / "e_link.htm",
                                      dir / "sub/s.htm"}));
}

TEST(FindHtmlFilesTest, WalksThreeHundredLevelsDeep) {
  TempDir dir;
  std::string folder = dir.path();
  std::vector<std::string> expected;
  for (int level = 0; level < 300; ++level) {
    folder += "/d";
    MakeFolder(folder);
    Touch(folder + "/p.htm");
    expected.push_back(folder + "/p.htm");
  }
  PosixDisk disk;
  EXPECT_EQ(Find(disk, dir.path(), 1).pages, expected);
}

TEST(FindHtmlFilesTest, AMissingFolderContributesNothing) {
  TempDir dir;
  PosixDisk disk;
  Walk walk = Find(disk, dir / "missing", 1);
  EXPECT_TRUE(walk.pages.empty());
  EXPECT_EQ(walk.progress, (std::vector<std::string>{dir / "missing"}));
}

TEST(FindHtmlFilesTest, AFolderThatCannotBeListedLosesOnlyItsOwnPart) {
  FakeDisk disk;
  disk.AddFile("/site/a.htm", "");
  disk.AddFile("/site/b/b.htm", "");
  disk.AddFile("/site/c/c.htm", "");
  disk.AddFile("/site/c/deeper/x.htm", "");
  disk.AddFile("/site/d/d.htm", "");
  disk.Fail(test::DiskOp::kList, "/site/c");
  EXPECT_EQ(Find(disk, "/site", 1).pages,
            (std::vector<std::string>{"/site/a.htm", "/site/b/b.htm", "/site/d/d.htm"}));
  EXPECT_EQ(disk.listed, (std::vector<std::string>{"/site", "/site/b", "/site/c", "/site/d"}));
}

TEST(FindHtmlFilesTest, TakesPagesAndFoldersOnlyByTheirExactAttributeValues) {
  FakeDisk disk;
  disk.AddFolder("/f");
  const struct {
    const char* name;
    int attributes;
  } pages[] = {{"p00.htm", 0},  {"p01.htm", 1},  {"p02.htm", 2}, {"p04.htm", 4}, {"p32.htm", 32},
               {"p33.htm", 33}, {"p34.htm", 34}, {"p03.htm", 3}, {"p08.htm", 8}, {"p64.htm", 64}};
  for (const auto& p : pages) disk.AddFile(std::string("/f/") + p.name, "", p.attributes);
  disk.AddFile("/f/d16/in16.htm", "");
  disk.AddFile("/f/d17/in17.htm", "");
  disk.AddFile("/f/d48/in48.htm", "");
  disk.AddFile("/f/d18/in18.htm", "");
  disk.AddFile("/f/dlink/inlink.htm", "");
  disk.SetAttributes("/f/d17", 17);
  disk.SetAttributes("/f/d48", 48);
  disk.SetAttributes("/f/d18", 18);
  disk.SetAttributes("/f/dlink", kAttrDirectory + kAttrSymlinkedFolder);
  EXPECT_EQ(Find(disk, "/f", 1).pages,
            (std::vector<std::string>{"/f/p00.htm", "/f/p01.htm", "/f/p02.htm", "/f/p04.htm",
                                      "/f/p32.htm", "/f/d16/in16.htm"}));
}

TEST(FindHtmlFilesTest, DescendsIntoEverySubfolderHoweverMany) {
  FakeDisk disk;
  constexpr int kFolders = 32770;
  for (int i = 0; i < kFolders; ++i) {
    char name[32];
    snprintf(name, sizeof name, "/big/s%05d/p.htm", i);
    disk.AddFile(name, "");
  }
  Walk walk = Find(disk, "/big", 1);
  ASSERT_EQ(walk.pages.size(), static_cast<size_t>(kFolders));
  EXPECT_EQ(walk.pages.front(), "/big/s00000/p.htm");
  EXPECT_EQ(walk.pages.back(), "/big/s32769/p.htm");
}

TEST(FindHtmlFilesTest, FillsTheFileListAndShowsProgressInLabel8) {
  FakeDisk disk;
  disk.AddFile("/w/x.htm", "");
  disk.AddFile("/w/y.html", "");
  test::RecordingView view;
  test::ScriptedHttpFactory http;
  RunContext ctx(view, disk, http, "/prog");
  ctx.List1 = {"/earlier.htm"};
  FindHtmlFiles(ctx, "/w", 1);
  EXPECT_EQ(ctx.List1, (std::vector<std::string>{"/earlier.htm", "/w/x.htm", "/w/y.html"}));
  EXPECT_EQ(view.log, (std::vector<std::string>{"caption Label8=/w", "caption Label8=/w/x.htm",
                                                "caption Label8=/w/y.html"}));
}

}  // namespace
}  // namespace voxtrel
