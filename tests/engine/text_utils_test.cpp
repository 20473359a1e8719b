#include "engine/text_utils.h"

#include <gtest/gtest.h>

#include <fstream>
#include <vector>

#include "support/fake_disk.h"
#include "support/temp_dir.h"

namespace voxtrel {
namespace {

std::string Repeat(const std::string& piece, int times) {
  std::string out;
  for (int k = 0; k < times; ++k) out += piece;
  return out;
}

TEST(CntStrTest, HitsDoNotOverlap) {
  struct Case {
    std::string text;
    std::string search;
    int32_t count;
    std::vector<int32_t> positions;  // the first entries of the table afterwards
  };
  const Case cases[] = {
      {"ABAB", "AB", 2, {1, 3, 0}},
      {"AAA", "AA", 1, {1, 0}},
      {"AAAA", "AA", 2, {1, 3, 0}},
      {"XAB", "AB", 1, {2, 0}},
      {"<A HREF=\"HTTP://A/\"><A HREF=\"HTTP://B/\">", "HREF=\"HTTP://", 2, {4, 24, 0}},
  };
  for (const Case& c : cases) {
    std::vector<int32_t> table(5001, 0);
    EXPECT_EQ(CntStr(c.text, c.search, table), c.count) << c.text;
    for (size_t k = 0; k < c.positions.size(); ++k) EXPECT_EQ(table[k], c.positions[k]) << c.text;
  }
}

TEST(CntStrTest, NoHitLeavesTheTableAlone) {
  std::vector<int32_t> table(4, 7);
  EXPECT_EQ(CntStr("nothing here", "AB", table), 0);
  EXPECT_EQ(table, (std::vector<int32_t>{7, 7, 7, 7}));
}

TEST(CntStrTest, FullTableCountsAndOverflowGivesZero) {
  std::vector<int32_t> table(5001, 0);
  EXPECT_EQ(CntStr(Repeat("AB", 5001), "AB", table), 5001);
  EXPECT_EQ(table[5000], 10001);

  std::vector<int32_t> small(5001, 0);
  EXPECT_EQ(CntStr(Repeat("AB", 5002), "AB", small), 0);
  // What was written before the overflow stays.
  EXPECT_EQ(small[0], 1);
  EXPECT_EQ(small[5000], 10001);

  std::vector<int32_t> none;
  EXPECT_EQ(CntStr("AB", "AB", none), 0);
}

TEST(CntStrTest, FindAllHitsHasNoLimit) {
  std::vector<int32_t> hits = FindAllHits(Repeat("AB", 5002), "AB");
  ASSERT_EQ(hits.size(), 5002u);
  EXPECT_EQ(hits.front(), 1);
  EXPECT_EQ(hits.back(), 10003);
  EXPECT_EQ(FindAllHits("AAA", "AA"), (std::vector<int32_t>{1}));
  EXPECT_TRUE(FindAllHits("xyz", "AB").empty());
}

TEST(FileExistsTest, OnlyReadableFilesCount) {
  test::TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  std::ofstream(dir / "page.htm") << "x";
  PosixDisk disk;
  struct Case {
    std::string path;
    bool exists;
  };
  const Case cases[] = {
      {"", false},         {dir / "page.htm", true},  {dir / "page.htm" + "/", true},
      {dir.path(), false}, {dir.path() + "/", false}, {dir / "missing.htm", false},
      {"/", false},
  };
  for (const Case& c : cases) EXPECT_EQ(FileExists(disk, c.path), c.exists) << c.path;
}

TEST(FileExistsTest, FileLockedAgainstReadingDoesNotCount) {
  test::FakeDisk disk;
  disk.AddFile("/site/a.htm", "x");
  disk.AddFile("/site/locked.htm", "x");
  disk.Fail(test::DiskOp::kRead, "/site/locked.htm");
  EXPECT_TRUE(FileExists(disk, "/site/a.htm"));
  EXPECT_FALSE(FileExists(disk, "/site/locked.htm"));
}

}  // namespace
}  // namespace voxtrel
