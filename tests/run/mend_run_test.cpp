#include "run/mend_run.h"

#include <gtest/gtest.h>

#include "run/ignore_list.h"
#include "support/fake_disk.h"

namespace voxtrel {
namespace {

ResultRow Row(std::string written, CheckOutcome::Kind kind, std::string moved_to,
              std::string archived, uint64_t offset = 10, std::string resolved = "") {
  ResultRow row;
  row.link = FoundLink(std::move(written), "", "/site/a.htm");
  row.link.resolved = std::move(resolved);
  row.link.place = {2, offset, static_cast<uint32_t>(row.link.target.size())};
  row.outcome.kind = kind;
  row.outcome.redirected_to = std::move(moved_to);
  row.outcome.archived = std::move(archived);
  return row;
}

TEST(MendRunTest, RowsGiveTheirNewAddressesKeepingWhatTheServerNeverSaw) {
  using K = CheckOutcome::Kind;
  const std::string copy = "http://web.archive.org/web/2015/http://old.jp/";
  struct Case {
    ResultRow row;
    MendKind kind;
    const char* address;  // "" for no mend
  } cases[] = {
      {Row("http://old.jp/", K::kAnswered, "http://new.jp/", ""), MendKind::kMoved, "http://new.jp/"},
      {Row("http://old.jp/#章", K::kAnswered, "http://new.jp/", ""), MendKind::kMoved,
       "http://new.jp/#章"},
      // The old rule asked without the query: the page keeps it.
      {Row("http://old.jp/a.cgi?x=1#s", K::kAnswered, "http://new.jp/a.cgi", "", 10,
           "http://old.jp/a.cgi"),
       MendKind::kMoved, "http://new.jp/a.cgi?x=1#s"},
      {Row("http://old.jp/a?x=1", K::kAnswered, "http://new.jp/b?y=2", "", 10,
           "http://old.jp/a?x=1"),
       MendKind::kMoved, "http://new.jp/b?y=2"},
      {Row("http://old.jp/", K::kFailed, "http://new.jp/", copy), MendKind::kMoved, ""},
      {Row("http://old.jp/", K::kSuspect, "http://new.jp/", ""), MendKind::kMoved, ""},
      {Row("http://old.jp/", K::kAnswered, "", copy), MendKind::kMoved, ""},
      {Row("http://old.jp/", K::kFailed, "", copy), MendKind::kArchived, copy.c_str()},
      {Row("http://old.jp/", K::kSuspect, "", copy), MendKind::kArchived, copy.c_str()},
      {Row("http://old.jp/", K::kAnswered, "", copy), MendKind::kArchived, ""},
      {Row("http://old.jp/", K::kFailed, "", ""), MendKind::kArchived, ""},
  };
  for (const Case& c : cases) {
    const std::vector<Mend> mends = MendsOf(std::vector<ResultRow>{c.row}, c.kind);
    SCOPED_TRACE(c.row.link.target);
    if (*c.address == '\0') {
      EXPECT_TRUE(mends.empty());
      continue;
    }
    ASSERT_EQ(mends.size(), 1u);
    EXPECT_EQ(mends[0].address, c.address);
    EXPECT_EQ(mends[0].written, c.row.link.target);
    EXPECT_EQ(mends[0].place.offset, 10u);
  }
}

TEST(MendRunTest, APlaceIsMendedOnceAndAnUnknownOneNever) {
  using K = CheckOutcome::Kind;
  std::vector<ResultRow> rows = {Row("http://old.jp/", K::kAnswered, "http://new.jp/", ""),
                                 Row("http://old.jp/", K::kAnswered, "http://new.jp/", ""),
                                 Row("http://old.jp/", K::kAnswered, "http://new.jp/", "", 90),
                                 Row("http://old.jp/", K::kAnswered, "http://new.jp/", "")};
  rows[3].link.place.length = 0;
  EXPECT_EQ(MendsOf(rows, MendKind::kMoved).size(), 2u);
}

TEST(MendRunTest, TheRootOfAFileIsItsFolder) {
  test::FakeDisk disk;
  disk.AddFile("/site/sub/a.htm", "");
  EXPECT_EQ(MendRoot(disk, "/site"), "/site");
  EXPECT_EQ(MendRoot(disk, "/site/sub/a.htm"), "/site/sub");
  EXPECT_EQ(MendRoot(disk, "/a.htm"), "/");
}

TEST(IgnoreListTest, AddressesAndPatternsSetLinksAside) {
  IgnoreList list;
  list.Add(
      "\xEF\xBB\xBF# set aside\n  http://exact.jp/a  \r\n\nhttp://*.parked.jp/*\n*.pdf\n"
      "#http://comment.jp/\nhttp://日本.jp/ページ");
  const struct {
    const char* address;
    bool ignored;
  } cases[] = {
      {"http://exact.jp/a", true},          {"http://exact.jp/a/", false},
      {"http://x.parked.jp/", true},        {"http://parked.jp/", false},
      {"http://a.jp/b/c.pdf", true},        {"http://a.jp/c.pdf?x", false},
      {"http://comment.jp/", false},        {"http://日本.jp/ページ", true},
      {"# set aside", false},
  };
  for (const auto& c : cases) EXPECT_EQ(list.Matches(c.address), c.ignored) << c.address;
  EXPECT_FALSE(IgnoreList().Matches("http://a.jp/"));
}

TEST(IgnoreListTest, AddingKeepsEveryLineAlreadyThere) {
  test::FakeDisk disk;
  const std::string path = "/site/.voxtrelignore";
  std::string why;
  ASSERT_TRUE(AddToIgnoreFile(disk, path, "http://a.jp/", &why)) << why;
  disk.AddFile(path, *disk.Contents(path) + "# kept\n*.zip");
  ASSERT_TRUE(AddToIgnoreFile(disk, path, "http://b.jp/", &why));
  EXPECT_EQ(*disk.Contents(path), "http://a.jp/\n# kept\n*.zip\nhttp://b.jp/\n");
  EXPECT_FALSE(AddToIgnoreFile(disk, path, "http://c.jp/\nhttp://d.jp/", &why));
  IgnoreList list;
  ASSERT_TRUE(ReadIgnoreFile(disk, path, &list, &why));
  ASSERT_TRUE(ReadIgnoreFile(disk, "/site/none", &list, &why));
  EXPECT_TRUE(list.Matches("http://b.jp/") && list.Matches("x.zip"));
}

}  // namespace
}  // namespace voxtrel
