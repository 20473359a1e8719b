#include "engine/link_scanner.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/fake_disk.h"

namespace voxtrel {
namespace {

class LinkScannerTest : public ::testing::Test {
 protected:
  /// Every scan item of `pages` (names in the temp folder) as "target [name] page" or "end page".
  std::vector<std::string> Scan(std::vector<PageToCheck> pages, bool https) {
    LinkScanner scanner(std::move(pages), disk_, ScanRule{{https, false}, false, ""});
    std::vector<std::string> items;
    ScanItem item;
    while (scanner.Next(&item)) {
      if (item.kind == ScanItem::Kind::kHttpsSkipped) {
        items.push_back("https skipped");
        continue;
      }
      const std::string& page = item.link.page;
      items.push_back(item.kind == ScanItem::Kind::kPageEnd
                          ? "end " + page
                          : item.link.target + " [" + item.link.name + "] " + page);
    }
    return items;
  }
  void Page(const std::string& name, const std::string& bytes) { disk_.AddFile(name, bytes); }

  test::FakeDisk disk_;
};

TEST_F(LinkScannerTest, LinksComeInPageAndLineOrderSplitAtCrOrCrLfOnly) {
  Page("a.htm",
       "<A HREF=\"http://x.jp/1\">one</A> <a href=\"http://x.jp/2\">two</a>\r\n"
       "<A HREF=\"https://s.jp/\">s</A> <A HREF=\"http://x.jp/3\">three\r</A>\r"
       "<A HREF=\"http://x.jp/4\">four\n</A>\r\n");
  Page("b.htm", "<P>no links</P>\r\n  <A HREF=\"http://x.jp/5\">  five </A>  ");
  EXPECT_EQ(Scan({{"a.htm", {}}, {"missing.htm", {}}, {"b.htm", {}}}, false),
            (std::vector<std::string>{"http://x.jp/1 [one] a.htm", "http://x.jp/2 [two] a.htm",
                                      "https skipped", "http://x.jp/3 [three] a.htm",
                                      "http://x.jp/4 [four\n] a.htm", "end a.htm",
                                      "end missing.htm", "http://x.jp/5 [five] b.htm",
                                      "end b.htm"}));
  // Pages are read, never written: no work file stands between the disk and the scanner.
  EXPECT_EQ(disk_.log, (std::vector<std::string>{"read a.htm", "read missing.htm", "read b.htm"}));
}

TEST_F(LinkScannerTest, FetchedPageIsScannedAsItCameWithLineFeedsEndingLines) {
  PageSource fetched{"http://w.jp/p.htm",
                     "<A HREF=\"http://x.jp/1\">one\n</A><meta charset=\"x\">\n<A HREF=\"http://x.jp/2\">\x83\x65",
                     "shift_jis", PageOrigin::kWeb};
  EXPECT_EQ(Scan({{"http://w.jp/p.htm", fetched}}, false),
            (std::vector<std::string>{"http://x.jp/1 [one] http://w.jp/p.htm",
                                      "http://x.jp/2 [テ] http://w.jp/p.htm", "end http://w.jp/p.htm"}));
  EXPECT_TRUE(disk_.log.empty());
}

TEST_F(LinkScannerTest, ShiftJisAndEucJpPagesAreDecoded) {
  // ォ is 83 48: its trail byte is the "H" of the first HREF, which is therefore no link.
  Page("sjis.htm",
       "<A \x83HREF=\"http://x.jp/no\">x</A><A HREF=\"http://x.jp/sj\">\x83\x65\x83\x58\x83\x67</A>");
  Page("euc.htm",
       "<META content=\"text/html; charset=EUC-JP\">\r\n"
       "<A HREF=\"http://x.jp/euc\">\xA5\xC6\xA5\xB9\xA5\xC8</A>\r\n");
  EXPECT_EQ(Scan({{"sjis.htm", {}}, {"euc.htm", {}}}, false),
            (std::vector<std::string>{"http://x.jp/sj [テスト] sjis.htm", "end sjis.htm",
                                      "http://x.jp/euc [テスト] euc.htm", "end euc.htm"}));
}

TEST_F(LinkScannerTest, LineOfManyOpenAnchorsIsScannedWithShortNames) {
  // Each name would be the rest of the line; the cap keeps this 2 MB line from needing
  // memory and time growing with the square of its length.
  std::string line;
  while (line.size() < (2u << 20)) line += "<A HREF=\"http://x.jp/\">t ";
  Page("big.htm", line);
  LinkScanner scanner({{"big.htm", {}}}, disk_, ScanRule{});
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

TEST_F(LinkScannerTest, EveryLinkIsFoundInDocumentOrderAndResolvedAsABrowserWould) {
  // Each link as "written -> resolved[#anchor] kind", local lookups marked "file".
  auto scan = [this](const std::string& page, const std::string& root, bool https) {
    LinkScanner scanner({{page, {}}}, disk_, ScanRule{{https, false}, true, root});
    std::vector<std::string> found;
    for (ScanItem item; scanner.Next(&item) && item.kind != ScanItem::Kind::kPageEnd;) {
      const FoundLink& l = item.link;
      found.push_back(item.kind == ScanItem::Kind::kHttpsSkipped
                          ? "passed over"
                          : l.target + " -> " + l.resolved + (l.anchor.empty() ? "" : "#" + l.anchor) +
                                " " + KindName(KindOf(l)) + (l.local ? " file" : ""));
    }
    return found;
  };
  Page("/s/sub/a.htm",
       "<a href=\"b.htm#%E7%AB%A0\">b</a><img src=\"../img/My%20Photo.JPG\"><a href=\"../../../up.htm\">u</a>"
       "<link rel=stylesheet href=\"/css/x.css?v=2\"><a href=\"//cdn.jp/j.js#f\">c</a>"
       "<a href=\"http://x.jp/p?q=1#f\">x</a><a href=\"https://s.jp/\">s</a><a href=\"#top\">t</a>"
       "<a href=\"ftp://f.jp/\">f</a><a href=\"count.pl\">p</a>");
  EXPECT_EQ(scan("/s/sub/a.htm", "/s", false),
            (std::vector<std::string>{
                "b.htm#%E7%AB%A0 -> /s/sub/b.htm#章 internal file",
                "../img/My%20Photo.JPG -> /s/img/My Photo.JPG internal file",
                "../../../up.htm -> /s/up.htm internal file", "/css/x.css?v=2 -> /s/css/x.css internal file",
                "//cdn.jp/j.js#f -> http://cdn.jp/j.js#f http", "http://x.jp/p?q=1#f -> http://x.jp/p#f http",
                "passed over", "#top -> /s/sub/a.htm#top internal file",
                "count.pl -> /s/sub/count.pl script file"}));
  // A page's <base href> moves its relative links, onto a server too.
  Page("/s/b.htm", "<base href=\"http://w.jp/d/\"><a href=\"../e.htm\">e</a><a href=\"f/\">f</a>");
  EXPECT_EQ(scan("/s/b.htm", "", true),
            (std::vector<std::string>{"../e.htm -> http://w.jp/e.htm internal", "f/ -> http://w.jp/d/f/ internal"}));
  // A page whose path holds what ends an address's path still resolves within its folder.
  Page("/s/50%/c?#.htm", "<a href=\"e.htm\">e</a>");
  EXPECT_EQ(scan("/s/50%/c?#.htm", "/s", false), (std::vector<std::string>{"e.htm -> /s/50%/e.htm internal file"}));
  // A page named without a folder lies in the current one.
  Page("c.htm", "<a href=\"../d.htm#x\">d</a>");
  EXPECT_EQ(scan("c.htm", "", false), (std::vector<std::string>{"../d.htm#x -> ./d.htm#x internal file"}));
}

TEST_F(LinkScannerTest, LocalStyleSheetsAreReadOnceRightAfterTheirFirstPageAgainstTheirFolder) {
  Page("/s/a.htm",
       "<link rel=\"alternate StyleSheet\" href=css/m.css><a href=b.htm>b</a>"
       "<style>@import 'css/m.css';</style>");
  Page("/s/b.htm", "<link rel=stylesheet href=css/m.css><link rel=icon href=x/i.css>");
  Page("/s/css/m.css", "@import url(../x/i.css);p{background:url(../../../up.png)}");
  Page("/s/x/i.css", "q{src:url(\x8F\xCD.woff)}");  // Shift_JIS, as its page
  LinkScanner scanner({{"/s/a.htm", {}}, {"/s/b.htm", {}}}, disk_, ScanRule{{}, true, "/s"});
  std::vector<std::string> found;
  for (ScanItem item; scanner.Next(&item);)
    found.push_back(item.link.target + " -> " + item.link.resolved + " [" + item.link.name + "] " +
                    item.link.page);
  EXPECT_EQ(found,
            (std::vector<std::string>{
                "css/m.css -> /s/css/m.css [alternate StyleSheet] /s/a.htm",
                "b.htm -> /s/b.htm [b] /s/a.htm", "css/m.css -> /s/css/m.css [@import] /s/a.htm",
                "../x/i.css -> /s/x/i.css [@import] /s/css/m.css",
                "../../../up.png -> /s/up.png [background] /s/css/m.css",
                "章.woff -> /s/x/章.woff [src] /s/x/i.css", " ->  [] /s/a.htm",
                "css/m.css -> /s/css/m.css [stylesheet] /s/b.htm",
                "x/i.css -> /s/x/i.css [icon] /s/b.htm", " ->  [] /s/b.htm"}));
}

TEST_F(LinkScannerTest, EachLinkKnowsItsLineAndTheBytesOfItsAddressInTheFile) {
  // {T} is テ and {K} half-width カ in each encoding; ISO-2022-JP has no plain half-width kana.
  struct Encoding {
    const char *name, *bom, *t, *k;
  };
  const Encoding encodings[] = {{"Shift_JIS", "", "\x83\x65", "\xB6"},
                                {"EUC-JP", "", "\xA5\xC6", "\x8E\xB6"},
                                {"ISO-2022-JP", "", "\x1B$B%F\x1B(B", "\x1B$B%F\x1B(B"},
                                {"UTF-8", "", "\xE3\x83\x86", "\xEF\xBD\xB6"},
                                {"UTF-8", "\xEF\xBB\xBF", "\xE3\x83\x86", "\xEF\xBD\xB6"}};
  const std::string lines[] = {"<META content=\"text/html; charset={C}\">",
                               "<A HREF=\"http://x.jp/{T}\">{T}</A><a href=\"http://x.jp/2\">2</a>",
                               "<!-- <A HREF=\"http://x.jp/c\">c</A> -->",
                               "<a href=http://x.jp/u>u</a> <a href='http://x.jp/c' >c</a>",
                               "<a href=\"http://x.jp/q?a=1&amp;b={K}\">q</a>",
                               "<p style=\"background: url( http://x.jp/s.png )\">"};
  // The address each link's span holds, and its line: the old rule cuts at "?" and sees the
  // comment; the HTML5 parse does not.
  const std::vector<std::pair<std::string, uint32_t>> classic = {
      {"http://x.jp/{T}", 2}, {"http://x.jp/2", 2}, {"http://x.jp/c", 3}, {"http://x.jp/q", 5}};
  const std::vector<std::pair<std::string, uint32_t>> every = {{"http://x.jp/{T}", 2},
                                                               {"http://x.jp/2", 2},
                                                               {"http://x.jp/u", 4},
                                                               {"http://x.jp/c", 4},
                                                               {"http://x.jp/q?a=1&amp;b={K}", 5},
                                                               {"http://x.jp/s.png", 6}};
  for (const Encoding& e : encodings) {
    const auto put = [&e](std::string text) {
      for (const auto& [mark, bytes] : {std::pair{"{T}", e.t}, {"{K}", e.k}, {"{C}", e.name}})
        for (size_t at; (at = text.find(mark)) != std::string::npos;) text.replace(at, 3, bytes);
      return text;
    };
    for (const char* end : {"\r\n", "\n", "\r"}) {
      std::string page = e.bom;
      for (const std::string& line : lines) page += put(line) + end;
      Page("p.htm", page);
      for (const bool all : {false, true}) {
        SCOPED_TRACE(std::string(e.name) + e.bom + (end[0] == '\n' ? " LF" : " CR") +
                     (all ? " every link" : " classic"));
        LinkScanner scanner({{"p.htm", {}}}, disk_, ScanRule{{}, all, ""});
        std::vector<std::pair<std::string, uint32_t>> found;
        for (ScanItem item; scanner.Next(&item) && item.kind == ScanItem::Kind::kLink;) {
          const LinkPlace& at = item.link.place;
          found.emplace_back(page.substr(at.offset, at.length), at.line);
        }
        std::vector<std::pair<std::string, uint32_t>> want = all ? every : classic;
        for (auto& [address, line] : want) address = put(address);
        EXPECT_EQ(found, want);
      }
    }
  }
}

}  // namespace
}  // namespace voxtrel
