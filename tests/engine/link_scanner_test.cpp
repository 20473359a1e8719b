#include "engine/link_scanner.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/files.h"
#include "support/recording_view.h"
#include "support/temp_dir.h"

namespace voxtrel {
namespace {

TEST(CutLinkTest, CutsTargetAndNameAsTheLinkTextStepsSay) {
  const std::string long_name(1200 / 3 * 3, 'x');
  std::string kana;
  for (int i = 0; i < 400; ++i) kana += "あ";
  struct Case {
    std::string line;
    int32_t hit;
    std::string target;
    std::string name;
  };
  const Case cases[] = {
      {"<A HREF=\"http://a.jp/x\">Name</A>  ", 4, "http://a.jp/x", "Name"},
      {"<A HREF=\"http://a.jp/x#top\">T</A>  ", 4, "http://a.jp/x", "T"},
      {"<a href=\"HTTP://A.jp/cgi?q=1\">T</a>  ", 4, "HTTP://A.jp/cgi", "T"},
      {"<A HREF=\"http://a.jp/b c  ", 4, "http://a.jp/b c", ""},
      {"<A HREF=\"http://a.jp/\"><B>Bold</A>  ", 4, "http://a.jp/", "Bold"},
      {"<A HREF=\"http://a.jp/\"><B>Bold</B></A>  ", 4, "http://a.jp/", ""},
      {"<A HREF=\"http://a.jp/\">  two words  </A>  ", 4, "http://a.jp/", "two words"},
      {"<A HREF=\"http://a.jp/\">photo.JPG</A>  ", 4, "http://a.jp/", "画像"},
      {"<A HREF=\"http://a.jp/\"> a.gif </a>  ", 4, "http://a.jp/", "画像"},
      {"<A HREF=\"http://a.jp/\"><IMG SRC=\"a.gif\">pic</A>  ", 4, "http://a.jp/", "pic"},
      {"<A HREF=\"http://a.jp/\">rest of line  ", 4, "http://a.jp/", "rest of line"},
      {"<A HREF=\"http://a.jp/\"><IMG SRC=\"x\">  ", 4, "http://a.jp/", ""},
      {"<A HREF=\"http://a.jp/#a>text \"q\"  ", 4, "http://a.jp/", ""},
      {"HREF=\"http://a.jp/\" no tag  ", 1, "http://a.jp/", ""},
      {"<A HREF=\"http://a.jp/\">1<A HREF=\"http://b.jp/\">2</A>  ", 28, "http://b.jp/", "2"},
      {"<A HREF=\"http://a.jp/\">1<A HREF=\"http://b.jp/\">2</A>  ", 4, "http://a.jp/", "2"},
      {"<A HREF=\"http://a.jp/\">" + long_name + "</A>  ", 4, "http://a.jp/",
       long_name.substr(0, 1024)},
      {"<A HREF=\"http://a.jp/\">" + kana + "</A>  ", 4, "http://a.jp/", kana.substr(0, 1023)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line.substr(0, 60));
    const FoundLink link = CutLink(c.line, c.hit);
    EXPECT_EQ(link.target, c.target);
    EXPECT_EQ(link.name, c.name);
  }
}

class LinkScannerTest : public ::testing::Test {
 protected:
  /// Every scan item of `pages` (names in the temp folder) as "target [name] page" or "end page".
  std::vector<std::string> Scan(const std::vector<std::string>& pages, bool https) {
    for (const std::string& page : pages) ctx_.pages.push_back(dir_ / page);
    LinkScanner scanner(ctx_, https);
    std::vector<std::string> items;
    ScanItem item;
    while (scanner.Next(&item)) {
      if (item.kind == ScanItem::Kind::kHttpsSkipped) {
        items.push_back("https skipped");
        continue;
      }
      const std::string page = item.link.page.substr(dir_.path().size() + 1);
      items.push_back(item.kind == ScanItem::Kind::kPageEnd
                          ? "end " + page
                          : item.link.target + " [" + item.link.name + "] " + page);
    }
    return items;
  }
  void Page(const std::string& name, const std::string& bytes) { test::WriteFile(dir_ / name, bytes); }

  test::TempDir dir_;
  test::RecordingView view_;
  PosixDisk disk_;
  CurlPool http_;
  RunContext ctx_{view_, disk_, http_, dir_.path()};
};

TEST_F(LinkScannerTest, LinksComeInPageAndLineOrderSplitAtCrOrCrLfOnly) {
  Page("a.htm",
       "<A HREF=\"http://x.jp/1\">one</A> <a href=\"http://x.jp/2\">two</a>\r\n"
       "<A HREF=\"https://s.jp/\">s</A> <A HREF=\"http://x.jp/3\">three\r</A>\r"
       "<A HREF=\"http://x.jp/4\">four\n</A>\r\n");
  Page("b.htm", "<P>no links</P>\r\n  <A HREF=\"http://x.jp/5\">  five </A>  ");
  EXPECT_EQ(Scan({"a.htm", "missing.htm", "b.htm"}, false),
            (std::vector<std::string>{"http://x.jp/1 [one] a.htm", "http://x.jp/2 [two] a.htm",
                                      "https skipped", "http://x.jp/3 [three] a.htm",
                                      "http://x.jp/4 [four\n] a.htm", "end a.htm",
                                      "end missing.htm", "http://x.jp/5 [five] b.htm",
                                      "end b.htm"}));
}

TEST_F(LinkScannerTest, HttpsLinksComeOnlyWhenAskedFor) {
  Page("a.htm", "<A HREF=\"ftp://f.jp/\">f</A>\r<A HREF=\"HTTPS://s.jp/\">s</A><A HREF=\"ftp://f.jp/\">f</A>");
  EXPECT_EQ(Scan({"a.htm"}, true),
            (std::vector<std::string>{"HTTPS://s.jp/ [s] a.htm", "end a.htm"}));
}

TEST_F(LinkScannerTest, ShiftJisAndEucJpPagesAreDecoded) {
  // ォ is 83 48: its trail byte is the "H" of the first HREF, which is therefore no link.
  Page("sjis.htm",
       "<A \x83HREF=\"http://x.jp/no\">x</A><A HREF=\"http://x.jp/sj\">\x83\x65\x83\x58\x83\x67</A>");
  Page("euc.htm",
       "<META content=\"text/html; charset=EUC-JP\">\r\n"
       "<A HREF=\"http://x.jp/euc\">\xA5\xC6\xA5\xB9\xA5\xC8</A>\r\n");
  EXPECT_EQ(Scan({"sjis.htm", "euc.htm"}, false),
            (std::vector<std::string>{"http://x.jp/sj [テスト] sjis.htm", "end sjis.htm",
                                      "http://x.jp/euc [テスト] euc.htm", "end euc.htm"}));
}

TEST_F(LinkScannerTest, LineOfManyOpenAnchorsIsScannedWithShortNames) {
  // Each name would be the rest of the line; the cap keeps this 2 MB line from needing
  // memory and time growing with the square of its length.
  std::string line;
  while (line.size() < (2u << 20)) line += "<A HREF=\"http://x.jp/\">t ";
  Page("big.htm", line);
  ctx_.pages.push_back(dir_ / "big.htm");
  LinkScanner scanner(ctx_, false);
  ScanItem item;
  size_t links = 0;
  size_t longest = 0;
  while (scanner.Next(&item) && item.kind == ScanItem::Kind::kLink) {
    ++links;
    longest = std::max(longest, item.link.name.size());
  }
  EXPECT_EQ(links, line.size() / 25);
  EXPECT_EQ(longest, 1024u);
}

}  // namespace
}  // namespace voxtrel
