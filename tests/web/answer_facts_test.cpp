#include "web/answer_facts.h"

#include <gtest/gtest.h>

#include <string>

namespace voxtrel {
namespace {

AnswerFacts Facts(const std::string& url, const std::string& body,
                  const std::string& type = "text/html") {
  HttpAnswer answer;
  answer.status = 200;
  answer.content_type = type;
  answer.body = body;
  return FactsOf(url, answer, true);
}

std::string Words(int count, int seed) {
  std::string text;
  for (int i = 0; i < count; ++i)
    text += " w" + std::to_string((i * 7919 + seed * 104729) % 100003);
  return text;
}

std::string Page(const std::string& title, const std::string& text) {
  return "<html><head><title>" + title + "</title><style>p{}</style></head><body>" + text +
         "<script>var x = 1;</script></body></html>";
}

TEST(AnswerFactsTest, PagesAreNearlyTheSameOnlyWhenAReaderCouldNotTellThemApart) {
  const std::string menu = "<ul><li>ホーム<li>日記<li>写真<li>掲示板</ul>" + Words(60, 7);
  struct Case {
    std::string a_url, a_body, b_url, b_body;
    bool same;
  } cases[] = {
      // One error template that repeats the address asked.
      {"http://h.jp/d/a.html", Page("Error", "<p>/d/a.html は見つかりません" + Words(5, 1)),
       "http://h.jp/d/zq81x.html", Page("Error", "<p>/d/zq81x.html は見つかりません" + Words(5, 1)),
       true},
      // Markup and blanks a reader does not see.
      {"http://h.jp/a", Page("T", "<p>本文　です" + Words(50, 2)), "http://h.jp/b",
       Page("T", "<div class=x>本文 <!-- note --> です</div>\n" + Words(50, 2)), true},
      // One title for every page of a templated site: their own texts differ.
      {"http://h.jp/a", Page("My Site", menu + Words(80, 3)), "http://h.jp/b",
       Page("My Site", menu + Words(80, 4)), false},
      {"http://h.jp/a", Page("A", Words(50, 5)), "http://h.jp/b", Page("B", Words(50, 5)), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.a_body);
    EXPECT_EQ(NearlySame(Facts(c.a_url, c.a_body), Facts(c.b_url, c.b_body)), c.same);
  }
}

TEST(AnswerFactsTest, FactsOfAPage) {
  const AnswerFacts sjis = Facts("http://h.jp/a", "<title lang=ja>\x83\x79\x81\x5B\x83\x57 &amp; 1</title>",
                                 "text/html; charset=Shift_JIS");
  EXPECT_EQ(sjis.title, "ページ & 1");
  EXPECT_FALSE(sjis.app_shell);
  const AnswerFacts shell =
      Facts("http://h.jp/a", "<title>App</title><script src=a.js></script><div id=\"app\"> </div>");
  EXPECT_TRUE(shell.app_shell);
  EXPECT_TRUE(Facts("http://h.jp/a", "<app-root></app-root><script src=a.js></script>").app_shell);
  EXPECT_FALSE(Facts("http://h.jp/a", "<div id=\"app\"></div><p>" + Words(100, 1)).app_shell);
  EXPECT_EQ(Facts("http://h.jp/a", "<a id=x></a><a name=y>").anchors,
            (std::vector<std::string>{"x", "y"}));
  EXPECT_TRUE(Facts("http://h.jp/a", "<title>x</title>", "image/png").title.empty());
  EXPECT_EQ(VisibleText("<p>x</p>\n 1 < 2 <!-- c --><SCRIPT>s</SCRIPT><P>y&amp;z</P>"),
            "x 1 < 2 y&z");
}

TEST(AnswerFactsTest, TopPagesFoldersAndProbes) {
  struct Case {
    std::string url;
    bool top;
    std::string folder, probe;
  } cases[] = {
      {"http://h.jp/", true, "http://h.jp:80/", "http://h.jp/NAME"},
      {"https://H.jp/index.html?x=1", true, "https://h.jp:443/", "https://h.jp/NAME.html"},
      {"http://h.jp/Default.aspx", true, "http://h.jp:80/", "http://h.jp/NAME.aspx"},
      {"http://h.jp/~user/", true, "http://h.jp:80/~user/", "http://h.jp/~user/NAME"},
      {"http://h.jp/~user/top.htm", true, "http://h.jp:80/~user/", "http://h.jp/~user/NAME.html"},
      {"http://h.jp/~user/diary/a.SHTML", false, "http://h.jp:80/~user/diary/",
       "http://h.jp/~user/diary/NAME.html"},
      {"http://h.jp:8080/a/index.php", false, "http://h.jp:8080/a/", "http://h.jp:8080/a/NAME.php"},
      {"http://h.jp/blog/", false, "http://h.jp:80/blog/", "http://h.jp/blog/NAME"},
      {"http://h.jp/item/42", false, "http://h.jp:80/item/", "http://h.jp/item/NAME"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.url);
    EXPECT_EQ(IsTopPage(c.url), c.top);
    EXPECT_EQ(FolderKeyOf(c.url), c.folder);
    EXPECT_EQ(ProbeAddressOf(c.url, "NAME"), c.probe);
  }
}

}  // namespace
}  // namespace voxtrel
