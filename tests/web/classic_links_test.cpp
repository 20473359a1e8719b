#include "web/classic_links.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>


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

TEST(ScanClassicLineTest, QueryIsKeptOnlyWhenAskedAndHttpsOnlyWhenChecked) {
  const std::string line = "<A HREF=\"http://a.jp/c?q=1#f\">c</A><A HREF=\"https://s.jp/?x\">s</A>";
  const std::pair<ClassicRule, std::vector<std::string>> cases[] = {
      {{false, false}, {"http://a.jp/c", "passed over"}},
      {{false, true}, {"http://a.jp/c?q=1", "passed over"}},
      {{true, true}, {"http://a.jp/c?q=1", "https://s.jp/?x"}},
  };
  for (const auto& [rule, expected] : cases) {
    std::vector<ClassicLink> links;
    ScanClassicLine(line, TextForm::kUtf8, rule, &links);
    std::vector<std::string> found;
    for (const ClassicLink& link : links) found.push_back(link.passed_over ? "passed over" : link.target);
    EXPECT_EQ(found, expected);
  }
}

}  // namespace
}  // namespace voxtrel
