#include "engine/page_mend.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <cstdlib>

#include "platform/cp932.h"
#include "support/fake_disk.h"
#include "support/files.h"
#include "support/temp_dir.h"

namespace voxtrel {
namespace {

using test::FakeDisk;

std::string Encode(const std::string& utf8, PageEncoding encoding) {
  if (encoding == PageEncoding::kUtf8) return utf8;
  if (encoding == PageEncoding::kShiftJis) return Utf8ToCp932(utf8);
  iconv_t cd = iconv_open(encoding == PageEncoding::kEucJp ? "EUC-JP-MS" : "ISO-2022-JP", "UTF-8");
  std::string out(utf8.size() * 4 + 8, '\0');
  char* in = const_cast<char*>(utf8.data());
  char* put = out.data();
  size_t in_left = utf8.size(), out_left = out.size();
  iconv(cd, &in, &in_left, &put, &out_left);
  iconv(cd, nullptr, nullptr, &put, &out_left);
  iconv_close(cd);
  out.resize(out.size() - out_left);
  return out;
}

PageStamp StampFile(DiskInterface& disk, const std::string& path) {
  std::string bytes;
  FileFacts facts;
  disk.ReadWholeFile(path, &bytes, nullptr);
  disk.FactsOf(path, &facts, nullptr);
  return StampOf(bytes, facts.modified);
}

struct Swap {
  const char* old;
  const char* address;            // the new address
  const char* expect;             // what the page then holds, before encoding
  const char* written = nullptr;  // what the run read, when not `old`
};

struct Form {
  const char* name;
  PageEncoding encoding;
  bool bom;
  bool crlf;
  const char* page;  // UTF-8, lines ended by "\n"
  std::vector<Swap> swaps;
};

// Each page is written to a real folder, planned, patched from the diff in a copy, applied and
// undone; every byte but the swapped addresses must stay.
TEST(PageMendTest, OnlyTheAddressBytesChangeInEveryForm) {
  const std::vector<Form> forms = {
      {"sjis-upper-crlf",
       PageEncoding::kShiftJis,
       false,
       true,
       "<HTML><BODY>\n<P>リンク</P>\n<A HREF=\"http://old.jp/a\">a</A>\n<a href=\"b.htm\">b</a>\n",
       {{"http://old.jp/a", "http://new.jp/ページ①😀", "http://new.jp/ページ①%F0%9F%98%80"},
        {"b.htm", "c.htm?x=1&y=2", "c.htm?x=1&amp;y=2"}}},
      {"euc-halfwidth-unquoted",
       PageEncoding::kEucJp,
       false,
       false,
       "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=EUC-JP\">\n"
       "<p>ｶﾀｶﾅ</p><a href=http://old.jp/ｶﾅ>k</a>\nend",
       {{"http://old.jp/ｶﾅ", "http://new.jp/ﾊﾝｶｸ?a=1&b=2", "http://new.jp/ﾊﾝｶｸ?a=1&amp;b=2",
         "http://old.jp/カナ"}}},
      {"iso2022-comment-crlf",
       PageEncoding::kIso2022Jp,
       false,
       true,
       "<meta charset=\"ISO-2022-JP\">\n<a href=\"http://old.jp/日本\">日本</a>"
       "<!-- <a href=\"http://old.jp/c\">c</a> -->\n",
       {{"http://old.jp/日本", "http://new.jp/新ｶﾅ", "http://new.jp/新%EF%BD%B6%EF%BE%85"},
        {"http://old.jp/c", "http://new.jp/c?x&y", "http://new.jp/c?x&amp;y"}}},
      {"utf8-bom-two-on-a-line",
       PageEncoding::kUtf8,
       true,
       false,
       "<p>日本語</p>\n<a href='http://old.jp/1'>1</a> <a "
       "href=\"http://old.jp/2?a=1&amp;b=2\">2</a>\n",
       {{"http://old.jp/1", "https://new.jp/日本 語", "https://new.jp/日本%20語"},
        {"http://old.jp/2?a=1&amp;b=2", "https://new.jp/2?a=1&b=2",
         "https://new.jp/2?a=1&amp;b=2"}}},
      {"utf8-broken-markup-crlf",
       PageEncoding::kUtf8,
       false,
       true,
       "<p>日本語\n<a href=\"http://old.jp/x\"<b>\n<A HREF=http://old.jp/y\n",
       {{"http://old.jp/x", "http://new.jp/x\"q", "http://new.jp/x%22q"},
        {"http://old.jp/y", "http://new.jp/y>", "http://new.jp/y%3E"}}},
  };
  PosixDisk disk;
  for (const Form& form : forms) {
    SCOPED_TRACE(form.name);
    test::TempDir dir;
    std::string text = form.page;
    if (form.crlf) {
      for (size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + 2)) {
        text.insert(at, "\r");
      }
    }
    const std::string old = (form.bom ? "\xEF\xBB\xBF" : "") + Encode(text, form.encoding);
    std::string expect = old;
    std::vector<Mend> mends;
    const std::string path = dir / "sub/p.htm";
    size_t from = 0;
    size_t shift = 0;  // where `expect` is ahead of `old`
    for (const Swap& swap : form.swaps) {
      const std::string old_bytes = Encode(swap.old, form.encoding);
      const size_t at = old.find(old_bytes, from);
      ASSERT_NE(at, std::string::npos) << swap.old;
      std::string written = swap.written ? swap.written : swap.old;
      if (form.encoding == PageEncoding::kShiftJis || form.encoding == PageEncoding::kEucJp) {
        written = Utf8ToCp932(written);
      }
      mends.push_back(
          {path, {0, at, static_cast<uint32_t>(old_bytes.size())}, written, swap.address});
      const std::string new_bytes = Encode(swap.expect, form.encoding);
      expect.replace(at + shift, old_bytes.size(), new_bytes);
      from = at + old_bytes.size();
      shift += new_bytes.size() - old_bytes.size();
    }
    test::WriteFile(path, old);
    test::WriteFile(dir / "copy/sub/p.htm", old);
    const MendPlan plan = PlanMends(disk, dir.path(), mends, {{path, StampFile(disk, path)}});
    ASSERT_EQ(plan.pages.size(), 1u);
    EXPECT_EQ(plan.pages[0].refused, "");
    EXPECT_EQ(plan.pages[0].encoding, form.encoding);
    EXPECT_EQ(plan.pages[0].new_bytes, expect);

    test::WriteFile(dir / "mend.diff", MendDiff(plan, DiffForm::kPageBytes));
    for (const Swap& swap : form.swaps) {
      EXPECT_NE(MendDiff(plan, DiffForm::kUtf8).find(swap.expect), std::string::npos);
    }
    const std::string patch = "cd '" + dir.path() + "/copy' && patch -s -p1 < ../mend.diff";
    EXPECT_EQ(std::system(patch.c_str()), 0);
    EXPECT_EQ(test::ReadFile(dir / "copy/sub/p.htm"), expect);

    const MendResult applied = ApplyMends(disk, plan, "20261208-061500");
    ASSERT_EQ(applied.pages.size(), 1u);
    EXPECT_TRUE(applied.pages[0].is_new) << applied.pages[0].why;
    EXPECT_EQ(test::ReadFile(path), expect);
    EXPECT_EQ(test::ReadFile(dir / ".voxtrel-backup/20261208-061500/sub/p.htm"), old);
    const MendResult undone = UndoLastMends(disk, dir.path());
    ASSERT_EQ(undone.pages.size(), 1u);
    EXPECT_FALSE(undone.pages[0].is_new) << undone.pages[0].why;
    EXPECT_EQ(test::ReadFile(path), old);
  }
}

// Pages: a.htm and e.htm go; b.htm changed after the run; c.htm's place holds another link;
// d.htm takes no writes; f.htm changes between the plan and its writing. After the change e.htm is
// edited by hand, so undo leaves it alone.
TEST(PageMendTest, RefusesChangedPagesKeepsOldOnesAndPutsThemBack) {
  FakeDisk disk;
  const std::string page = "<a href=\"http://old.jp/\">x</a>\r\n";
  const std::string mended = "<a href=\"http://new.jp/\">x</a>\r\n";
  std::map<std::string, PageStamp> stamps;
  std::vector<Mend> mends;
  for (const char* name : {"a", "b", "c", "d", "e", "f"}) {
    const std::string path = std::string("/s/") + name + ".htm";
    disk.AddFile(path, name == std::string("c") ? "<a href=\"http://odd.jp/\">x</a>\r\n" : page);
    stamps[path] = StampFile(disk, path);
    mends.push_back({path, {1, 9, 14}, "http://old.jp/", "http://new.jp/"});
  }
  disk.AddFile("/s/b.htm", page);  // the same bytes, written again after the run
  disk.Fail(test::DiskOp::kWrite, "/s/d.htm");
  const MendPlan plan = PlanMends(disk, "/s", mends, stamps);
  disk.AddFile("/s/f.htm", "changed");
  std::vector<std::string> seen;
  for (const PageOutcome& outcome : ApplyMends(disk, plan, "20261208-061500").pages) {
    seen.push_back(outcome.page + (outcome.is_new ? " new" : " old: " + outcome.why));
  }
  EXPECT_EQ(seen,
            (std::vector<std::string>{"/s/a.htm new", "/s/b.htm old: changed since the run",
                                      "/s/c.htm old: the link is not there: line 1, byte 9",
                                      "/s/d.htm old: cannot be written: Permission denied",
                                      "/s/e.htm new", "/s/f.htm old: changed since the run"}));
  EXPECT_EQ(disk.Contents("/s/a.htm"), mended);
  EXPECT_EQ(disk.Contents("/s/c.htm"), "<a href=\"http://odd.jp/\">x</a>\r\n");
  EXPECT_EQ(disk.Contents("/s/.voxtrel-backup/20261208-061500/a.htm"), page);
  EXPECT_EQ(disk.Contents("/s/.voxtrel-backup/20261208-061500/b.htm"), std::nullopt);
  disk.AddFile("/s/e.htm", mended + "edited");
  seen.clear();
  for (const PageOutcome& outcome : UndoLastMends(disk, "/s").pages) {
    seen.push_back(outcome.page + (outcome.is_new ? " kept: " : " back: ") + outcome.why);
  }
  EXPECT_EQ(seen, (std::vector<std::string>{"/s/a.htm back: ", "/s/d.htm back: already as it was",
                                            "/s/e.htm kept: changed since the change"}));
  EXPECT_EQ(disk.Contents("/s/a.htm"), page);
  EXPECT_EQ(disk.Contents("/s/e.htm"), mended + "edited");
}

}  // namespace
}  // namespace voxtrel
