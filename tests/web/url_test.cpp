#include "web/url.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <utility>

namespace voxtrel {
namespace {

TEST(UrlTest, ReferencesResolveAsABrowserResolvesThem) {
  const std::string base = "http://H.jp:8/a/b/c.htm?q#f";
  const std::pair<std::string, std::string> cases[] = {
      {"d.htm", "http://h.jp:8/a/b/d.htm"},       {"../d/", "http://h.jp:8/a/d/"},
      {"../../../../d", "http://h.jp:8/d"},       {"/x/./y/..", "http://h.jp:8/x/"},
      {"//o.jp/p", "http://o.jp/p"},               {"?r", "http://h.jp:8/a/b/c.htm?r"},
      {"#g", "http://h.jp:8/a/b/c.htm?q#g"},      {"HTTPS://x.jp/", "HTTPS://x.jp/"},
      {"", "http://h.jp:8/a/b/c.htm?q"},          {"d e.htm#%41", "http://h.jp:8/a/b/d e.htm#%41"},
      // Escaped dots climb as written ones do, "\" is "/", an escaped "/" makes no segment.
      {"%2e%2E/.%2e/%2E./x", "http://h.jp:8/x"},  {"..\\d\\%2e/?\\", "http://h.jp:8/a/d/?\\"},
      {"\\\\o.jp\\a/%2e%2e/p", "http://o.jp/p"}, {"..%2f..%2fd", "http://h.jp:8/a/b/..%2f..%2fd"},
      {" \x01" "d\t.h\ntm\r ", "http://h.jp:8/a/b/d.htm"},
  };
  for (const auto& [reference, resolved] : cases)
    EXPECT_EQ(ResolveUrl(base, reference).value_or("none"), resolved) << reference;
  EXPECT_EQ(ResolveUrl("/local/a.htm", "b.htm"), std::nullopt);
  EXPECT_EQ(PercentDecode("%E7%AB%A0%2f%zz%4"), "章/%zz%4");
  EXPECT_EQ(SchemeOf("Mailto:a"), "mailto");
  EXPECT_EQ(SchemeOf("c:d/e:f"), "c");
  EXPECT_EQ(SchemeOf("a/b:c"), "");
  EXPECT_EQ(DecodeCharacterReferences("?a=1&amp;b=&#26085;&#x65E5;&no;&amp"), "?a=1&b=日日&no;&amp");
  for (const char* known : {"mailto", "tel", "javascript", "data", "ftp", "file", "urn", "c"})
    EXPECT_TRUE(IsKnownScheme(known)) << known;
  for (const char* mistyped : {"hhttps", "httpis", "htp"}) EXPECT_FALSE(IsKnownScheme(mistyped));
}

TEST(UrlTest, RequestsAreWhatABrowserSends) {
  const TextForm utf8 = TextForm::kUtf8;
  const std::tuple<std::string, TextForm, std::string> cases[] = {
      {" http://h.jp/日本/a b#f\n", utf8, "http://h.jp/%E6%97%A5%E6%9C%AC/a%20b"},
      {"http://h.jp/p?id=1&c=日 x", utf8, "http://h.jp/p?id=1&c=%E6%97%A5%20x"},
      {"http://h.jp/日?q=日", TextForm::kShiftJis, "http://h.jp/%E6%97%A5?q=%93%FA"},
      {"http://h.jp/a%20b/%2e%2e/%zz\"<{", utf8, "http://h.jp/%zz%22%3C%7B"},
      {"HTTP:\\\\h.jp\\a\\b?x\\y", utf8, "HTTP://h.jp/a/b?x\\y"},
      {"http://例え.テスト/", utf8, "http://xn--r8jz45g.xn--zckzah/"},
      {"https://u@ＡＢ.例え.jp:8080", utf8, "https://u@ab.xn--r8jz45g.jp:8080/"},
      {"http://h.jp/a/b.htm", utf8, "http://h.jp/a/b.htm"}, {"mailto:a@h.jp", utf8, "mailto:a@h.jp"},
  };
  for (const auto& [written, form, sent] : cases) EXPECT_EQ(BrowserAddress(written, form), sent) << written;
  const std::pair<std::string, std::string> paths[] = {
      {"/a%20b/c/", "/a b/c/"}, {"/..%2f..%2fetc/x", "none"}, {"/a%00b", "none"}, {"/%2e%2e", "none"}};
  for (const auto& [path, file] : paths) EXPECT_EQ(LocalPathOf(path).value_or("none"), file) << path;
}

TEST(UrlTest, AddressesOfOnePageNormaliseAlike) {
  const std::pair<std::string, std::string> cases[] = {
      {"HTTP://Ex.JP:80/a/./b/../c?q#f", "http://ex.jp/a/c?q"}, {"https://ex.jp:443", "https://ex.jp/"},
      {"http://ex.jp:8080/%7e%41%2f%e7", "http://ex.jp:8080/~A%2F%E7"}, {"ftp://ex.jp/", "none"},
      {"http://ex.jp/a/%2e%2E/b c", "http://ex.jp/b%20c"}, {"http://例え.テスト/a", "http://xn--r8jz45g.xn--zckzah/a"},
  };
  for (const auto& [url, normal] : cases) EXPECT_EQ(NormalizeUrl(url).value_or("none"), normal) << url;
}

}  // namespace
}  // namespace voxtrel
