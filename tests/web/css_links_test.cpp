#include "web/css_links.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace voxtrel {
namespace {

TEST(CssLinksTest, FindsUrlsAndImportsAsABrowserReadsThem) {
  // Each link as "written|name", "+" after the name of an import, joined by "; ".
  const std::pair<std::string, std::string> cases[] = {
      {"body{background:url(a.png)}p{BACKGROUND-IMAGE: URL( 'b c.gif' )}",
       "a.png|background; b c.gif|background-image"},
      {"@font-face{font-family:F;src:url(\"f.woff2\") format(\"woff2\"),local('F'),url(f.ttf)}",
       "f.woff2|src; f.ttf|src"},
      {"@import \"i.css\";@IMPORT url(j.css) screen;@import 'k.css' print;",
       "i.css|@import+; j.css|@import+; k.css|@import+"},
      {"/* url(c.png) @import 'c.css'; */ p{content:\"url(s.png)\"} "
       "a:hover{cursor:url(h.cur),auto}",
       "h.cur|cursor"},
      {"i{x:u\\rl(\\31 .png) url(\"\\7AE0\r\n.png\") url(a\\)b)}", "1.png|x; 章.png|x; a)b|x"},
      {"i{x:url(a b) url(a\"b) url(ok) myurl(no) url() url(#svg) url(data:,x)}", "ok|x; data:,x|x"},
      {"@namespace svg url(http://www.w3.org/2000/svg); url(top.png)", "top.png|url"},
      {"background:url(s.png);color:red", "s.png|background"},
      {"p{background:url(end.png", "end.png|background"},
  };
  for (const auto& [css, expected] : cases) {
    SCOPED_TRACE(css);
    std::string found;
    for (const CssLink& link : FindCssLinks(css))
      found +=
          (found.empty() ? "" : "; ") + link.written + "|" + link.name + (link.import ? "+" : "");
    EXPECT_EQ(found, expected);
  }
}

TEST(CssLinksTest, ReadsASheetInItsOwnEncodingElseInItsPages) {
  EXPECT_EQ(StyleSheetText("\xEF\xBB\xBFu(\xE7\xAB\xA0)", PageEncoding::kShiftJis), "u(章)");
  EXPECT_EQ(StyleSheetText("@charset \"Shift_JIS\";u(\x8F\xCD)", PageEncoding::kUtf8),
            "@charset \"Shift_JIS\";u(章)");
  EXPECT_EQ(StyleSheetText("u(\xBE\xCF)", PageEncoding::kEucJp), "u(章)");
  EXPECT_EQ(StyleSheetText("u(\x8F\xCD)", PageEncoding::kShiftJis), "u(章)");
}

}  // namespace
}  // namespace voxtrel
