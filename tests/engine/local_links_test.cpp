#include "engine/local_links.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <tuple>

#include "support/files.h"
#include "support/temp_dir.h"

namespace voxtrel {
namespace {

TEST(LocalLinkCheckerTest, FilesFoldersCaseAnchorsAndShiftJisNames) {
  test::TempDir dir;
  const std::string site = dir / "site";
  test::WriteFile(site + "/a.htm", "<h2 id=\"章\">x</h2><A NAME=n1></A>");
  for (const char* name : {"/Photo.JPG", "/docs/index.html", "/empty/x.txt", "/テスト.htm",
                           "/\x83\x65.htm", "/Sub/b.htm"})
    test::WriteFile(site + name, "");
  PosixDisk disk;
  LocalLinkChecker checker(disk);
  const std::tuple<std::string, std::string, std::string> cases[] = {
      {"/a.htm", "", ""},           {"/a.htm", "章", ""},     {"/a.htm", "n1", ""},
      {"/a.htm", "top", ""},        {"/a.htm", "TOP", ""},    {"/a.htm", "none", "anchor not found"},
      {"/Photo.JPG", "x", ""},      {"/docs/", "", ""},       {"/docs", "", ""},
      {"/empty/", "", "no index page"}, {"/missing.htm", "", "file not found"},
      {"/photo.jpg", "", "differs in case: Photo.JPG"}, {"/sub/b.htm", "", "differs in case: Sub"},
      {"/テスト.htm", "", ""},     {"/テ.htm", "", ""},       // stored as UTF-8 and as Shift_JIS
  };
  for (const auto& [path, anchor, reason] : cases) {
    const CheckOutcome outcome = checker.Check(site + path, anchor);
    EXPECT_EQ(ReasonText(outcome), reason) << path << "#" << anchor;
    EXPECT_EQ(outcome.kind == CheckOutcome::Kind::kAnswered, reason.empty()) << path;
  }
  // A page named relative to the current folder gets the same answers.
  const std::string relative = std::filesystem::relative(site).string();
  EXPECT_EQ(ReasonText(checker.Check(relative + "/photo.jpg", "")), "differs in case: Photo.JPG");
  // Each target is looked up once a run: a file gone since still has its first answer.
  std::filesystem::remove(site + "/Photo.JPG");
  EXPECT_EQ(checker.Check(site + "/Photo.JPG", "x").kind, CheckOutcome::Kind::kAnswered);
  EXPECT_EQ(checker.Check(site + "/Photo.JPG", "").kind, CheckOutcome::Kind::kFailed);
}

}  // namespace
}  // namespace voxtrel
