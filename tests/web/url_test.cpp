#include "web/url.h"

#include <gtest/gtest.h>

#include <string>
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
  };
  for (const auto& [reference, resolved] : cases)
    EXPECT_EQ(ResolveUrl(base, reference).value_or("none"), resolved) << reference;
  EXPECT_EQ(ResolveUrl("/local/a.htm", "b.htm"), std::nullopt);
  EXPECT_EQ(PercentDecode("%E7%AB%A0%2f%zz%4"), "章/%zz%4");
  EXPECT_EQ(SchemeOf("Mailto:a"), "mailto");
  EXPECT_EQ(SchemeOf("c:d/e:f"), "c");
  EXPECT_EQ(SchemeOf("a/b:c"), "");
}

TEST(UrlTest, AddressesOfOnePageNormaliseAlike) {
  const std::pair<std::string, std::string> cases[] = {
      {"HTTP://Ex.JP:80/a/./b/../c?q#f", "http://ex.jp/a/c?q"}, {"https://ex.jp:443", "https://ex.jp/"},
      {"http://ex.jp:8080/%7e%41%2f%e7", "http://ex.jp:8080/~A%2F%E7"}, {"ftp://ex.jp/", "none"},
  };
  for (const auto& [url, normal] : cases) EXPECT_EQ(NormalizeUrl(url).value_or("none"), normal) << url;
}

}  // namespace
}  // namespace voxtrel
