#include "engine/local_links.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "engine/link_scanner.h"
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

// The real disk, keeping every path a lookup asked about.
class WatchedDisk : public PosixDisk {
 public:
  bool ListFolder(const std::string& folder, std::vector<DirEntry>* entries,
                  std::string* err) override {
    asked.push_back(folder);
    return PosixDisk::ListFolder(folder, entries, err);
  }
  bool FileExists(const std::string& path) override {
    asked.push_back(path);
    return PosixDisk::FileExists(path);
  }
  std::vector<std::string> asked;
};

TEST(LocalLinkCheckerTest, LinksResolveAsABrowserResolvesThemAndNeverLeaveTheRoot) {
  test::TempDir dir;
  const std::string site = dir / "site";
  for (const char* name : {"/secret.txt", "/Folder/x.txt", "/site/a b.htm", "/site/sub/b.htm"})
    test::WriteFile(dir.path() + name, "");
  const std::pair<std::string, std::string> cases[] = {
      {"%2e%2e/secret.txt", "file not found"},    {"/..%2fsecret.txt", "file not found"},
      {"..%2fSECRET.txt", "file not found"},      {"..%2fFolder/", "file not found"},
      {".%2E/%2E./secret.txt", "file not found"}, {"..\\secret.txt", "file not found"},
      {"..%2f..%00", "file not found"},           {"sub/%2E%2e/a%20b.htm", ""},
      {"sub\\b.htm", ""},                        {"/sub/B.htm", "differs in case: b.htm"},
      {"hhttps://ja.wikipedia.org/", "unknown scheme"}, {"httpis://h.jp/", "unknown scheme"},
      {"mailto:a@h.jp", "passed over"},           {"tel:0312345678", "passed over"},
      {"http://h.jp/日本/a b.html?q=1", "→ http://h.jp/%E6%97%A5%E6%9C%AC/a%20b.html"},
      {"//例え.テスト/x", "→ http://xn--r8jz45g.xn--zckzah/x"},
  };
  std::string page;
  for (const auto& [href, reason] : cases) page += "<a href=\"" + href + "\">x</a>\n";
  test::WriteFile(site + "/p.htm", page);
  WatchedDisk disk;
  LinkScanner scanner({{site + "/p.htm", {}}}, disk, ScanRule{{true, false}, true, site});
  LocalLinkChecker checker(disk);
  size_t next = 0;
  for (ScanItem item; scanner.Next(&item) && item.kind != ScanItem::Kind::kPageEnd;) {
    while (next < std::size(cases) && cases[next].second == "passed over") ++next;
    ASSERT_LT(next, std::size(cases)) << item.link.target;
    const auto& [href, reason] = cases[next++];
    EXPECT_EQ(item.link.target, href);
    CheckOutcome outcome;
    outcome.reason = item.fails;
    if (item.fails == FailureReason::kNone && item.link.local)
      outcome = checker.Check(item.link.resolved, item.link.anchor, item.root_size);
    EXPECT_EQ(item.request.empty() ? ReasonText(outcome) : "→ " + item.request, reason) << href;
  }
  EXPECT_EQ(next, std::size(cases));
  for (const std::string& asked : disk.asked)
    EXPECT_TRUE(std::filesystem::path(asked).lexically_normal().string().starts_with(site))
        << asked;
}

}  // namespace
}  // namespace voxtrel
