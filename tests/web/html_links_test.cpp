#include "web/html_links.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace voxtrel {
namespace {

// The links as "written|name|element", joined by "; ".
std::string Links(std::string_view page, size_t segment_bytes = kHtmlSegmentBytes) {
  std::string found;
  for (const HtmlLink& link : FindHtmlLinks(page, segment_bytes).links)
    found += (found.empty() ? "" : "; ") + link.written + "|" + link.name + "|" + link.element;
  return found;
}

TEST(HtmlLinksTest, FindsTheLinksABrowserFollows) {
  const std::pair<std::string, std::string> cases[] = {
      {R"(<a href="d">D</a><a href='s'>S</a><a href=n>N</a>)", "d|D|a; s|S|a; n|N|a"},
      {"<A HREF=\" x?a=1&amp;b=2\n\">X</A><IMG SRC=i.png ALT=I>", "x?a=1&b=2|X|a; i.png|I|img"},
      {"<!-- <a href=c.htm>c</a> --><script>w('<a href=s.htm>s</a>')</script><p>", ""},
      {"<base href=b/><a href=\"//host/x\">h</a>", "//host/x|h|a"},
      {"<img src=a alt=A srcset=\" a 1x,b,c 2x,d,, e (1x, 2x), f\">",
       "a|A|img; a|A|img; b,c|A|img; d|A|img; e|A|img; f|A|img"},
      {"<div><a href=u1 download>one<p><a href=u2 title=\"a>b\">two", "u1|one|a; u2|two|a"},
      {"<p><a href=u3><b>x</p>y<a href=u4><p>z</a>", "u3|x|a; u4|z|a"},
      {"<a href>e</a><a href=' '>b</a><a href=javascript:x()>j</a><a href=MAILTO:a@b>m</a>"
       "<a href=tel:1>t</a><a href=\"Data:,x\">d</a><area href=\" java&#10;script:x\">",
       ""},
      {"<link rel=\" icon \" href=f.ico><script src=j.js></script><iframe src=f.htm></iframe>"
       "<video src=v.mp4 poster=p.jpg><source src=s.webm srcset=t.webm></video><audio src=a.ogg>"
       "</audio><object data=o.swf></object><embed src=e.swf><map><area href=m.htm></map>",
       "f.ico|icon|link; j.js|script|script; f.htm|iframe|iframe; v.mp4|video|video; "
       "p.jpg|video|video; s.webm|source|source; t.webm|source|source; a.ogg|audio|audio; "
       "o.swf|object|object; e.swf|embed|embed; m.htm||area"},
      {"<frameset><frame src=f.htm></frameset>", "f.htm|frame|frame"},
      {"<style>@import 'i.css';p{background:url(b.png)}</style><a href=x style=\"background:"
       "url(&quot;q.png&quot;)\">X</a><p><b style=x:url(c.png)>1<p>2<i style=y:url(data:,x)>",
       "i.css|@import|style; b.png|background|style; x|X|a; q.png|background|style; c.png|x|style"},
      {"<template><a href=t>t</a></template><noscript><a href=n>n</a></noscript>", "n|n|a"},
      {"<a href=\"\xE7\xAB\xA0\xFF.htm\">\xC0</a>", "章\uFFFD.htm|\uFFFD|a"},
  };
  for (const auto& [page, expected] : cases) {
    SCOPED_TRACE(page);
    EXPECT_EQ(Links(page), expected);
  }
}

TEST(HtmlLinksTest, NamesLinksByTheirTextAltRelOrTag) {
  std::string kana;
  for (int i = 0; i < 400; ++i) kana += "あ";
  const std::pair<std::string, std::string> cases[] = {
      {"<a href=x> <b>Bold</b> &amp;\n\t<i>it</i>\r\n </a>", "Bold & it"},
      {"<a href=x>t<script>var s;</script><style>p{}</style></a>", "t"},
      {"<a href=x><img src=i alt=\"\"><img src=j alt=\" Top\n page \"></a>", "Top page"},
      {"<a href=x><span><img src=i></span></a>", "画像"},
      {"<a href=x></a>", ""},
      {"<a href=x>" + kana, kana.substr(0, 1023)},
      {"<img src=i alt=\" a \n b \">", "a b"},
      {"<img src=i alt=\"  \">", "画像"},
      {"<link href=s rel=\" Style Sheet \">", "Style Sheet"},
      {"<embed src=e>", "embed"},
  };
  for (const auto& [page, name] : cases) {
    SCOPED_TRACE(page);
    const std::vector<HtmlLink> found = FindHtmlLinks(page).links;
    ASSERT_FALSE(found.empty());
    EXPECT_EQ(found[0].name, name);
  }
}

TEST(HtmlLinksTest, KeepsAnchorsAndTheFirstBase) {
  using Anchors = std::vector<std::string>;
  const std::tuple<std::string, Anchors, std::optional<std::string>> cases[] = {
      {"<div id=top><a name=n1 href=#top>x</a><SPAN ID=\"章\"></span></div>",
       {"top", "n1", "章"},
       {}},
      {"<p id=\"\"><a name=''></a><h1 id=a></h1><svg><g id=a /></svg>", {"a", "a"}, {}},
      {"<base target=_top><base href=\" /r/ \"><base href=o/>", {}, "/r/"},
      {"<base href=\"\">", {}, ""},
  };
  for (const auto& [page, anchors, base] : cases) {
    SCOPED_TRACE(page);
    const HtmlLinks found = FindHtmlLinks(page);
    EXPECT_EQ(found.anchors, anchors);
    EXPECT_EQ(found.base, base);
  }
}

TEST(HtmlLinksTest, LongAndDeepPagesGiveEveryLinkOnceInOrder) {
  std::string page = "<base href=/b/>";
  std::string expected;
  for (int i = 0; i < 2000; ++i) {
    const std::string n = std::to_string(i);
    page += "<div><a href=/p" + n + ">" + n + "</a>";  // divs left open: 2,000 deep
    expected += (i == 0 ? "" : "; ") + ("/p" + n + "|" + n + "|a");
  }
  for (size_t segment : {size_t{64}, size_t{5000}, kHtmlSegmentBytes}) {
    SCOPED_TRACE(segment);
    EXPECT_EQ(Links(page, segment), expected);
    EXPECT_EQ(FindHtmlLinks(page, segment).base, "/b/");
  }
  std::string cells;
  for (int i = 0; i < 100000; ++i) cells += "<table><td>";
  EXPECT_EQ(Links(cells + "<a href=x>x</a>"), "x|x|a");
}

}  // namespace
}  // namespace voxtrel
