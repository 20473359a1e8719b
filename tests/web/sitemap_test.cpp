#include "web/sitemap.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/gzip.h"

namespace voxtrel {
namespace {

TEST(SitemapTest, AddressesInDocumentOrderOrWhyTheBytesAreNoSitemap) {
  const std::string pages =
      "<?xml version=\"1.0\"?>\n<urlset xmlns=\"http://www.sitemaps.org/schemas/sitemap/0.9\">"
      "<url><loc>\n  http://h/a?x=1&amp;y=&#x3042;\t</loc><lastmod>2026</lastmod></url>"
      "<loc>http://h/not-in-url</loc><url><image><loc>http://h/img</loc></image></url>"
      "<url><loc>http://h/b</loc></url></urlset>";
  const std::string laughs =
      "<!DOCTYPE urlset [<!ENTITY a \"aaaaaaaaaaaaaaaa\">"
      "<!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\">"
      "<!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\">"
      "<!ENTITY d \"&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;\">"
      "<!ENTITY e \"&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;\">"
      "<!ENTITY f \"&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;\">"
      "<!ENTITY x SYSTEM \"file:///etc/passwd\">]>"
      "<urlset><url><loc>&f;&f;&f;&f;&f;&f;&f;&f;&f;&f;&f;&f;&f;&f;&f;&f;</loc></url></urlset>";
  const std::vector<std::string> ab = {"http://h/a?x=1&y=あ", "http://h/b"};
  const struct {
    std::string bytes;
    Sitemap::Kind kind;
    std::vector<std::string> addresses;
    std::string err;
  } cases[] = {
      {pages, Sitemap::Kind::kPages, ab, ""},
      {test::Gzip(pages), Sitemap::Kind::kPages, ab, ""},
      {"<s:urlset xmlns:s='x'><s:url><s:loc>http://h/c</s:loc></s:url></s:urlset>",
       Sitemap::Kind::kPages,
       {"http://h/c"},
       ""},
      {"<sitemapindex><sitemap><loc>http://h/1.xml.gz</loc></sitemap><url><loc>http://h/u</loc>"
       "</url><sitemap><loc> </loc></sitemap></sitemapindex>",
       Sitemap::Kind::kIndex,
       {"http://h/1.xml.gz"},
       ""},
      {"<urlset/>", Sitemap::Kind::kPages, {}, ""},
      // An external entity is never fetched, its reference passed over.
      {"<!DOCTYPE u [<!ENTITY x SYSTEM \"file:///etc/passwd\">]><urlset><url><loc>a&x;</loc>"
       "</url></urlset>",
       Sitemap::Kind::kPages,
       {"a"},
       ""},
      {"", {}, {}, "no element found at line 1"},
      {"<urlset>\n<url>\n<loc>http://h/<</loc>",
       {},
       {},
       "not well-formed (invalid token) at line 3"},
      {"<html><url><loc>http://h/a</loc></url></html>",
       {},
       {},
       "the root element is <html>, not <urlset> or <sitemapindex>"},
      {laughs,
       {},
       {},
       "limit on input amplification factor (from DTD and entities) breached at line 1"},
      {"\x1f\x8bnot gzip", {}, {}, "not a valid gzip stream (unknown compression method)"},
      {test::Gzip(pages).substr(0, 40), {}, {}, "the gzip stream is cut short"},
      {test::Gzip(std::string(kSitemapCap + 1, ' ')), {}, {}, "more than 50 MiB once inflated"},
      {std::string(kSitemapCap + 1, ' '), {}, {}, "larger than 50 MiB"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bytes.substr(0, 80));
    Sitemap sitemap;
    std::string err;
    EXPECT_EQ(ReadSitemap(c.bytes, &sitemap, &err), c.err.empty());
    EXPECT_EQ(err, c.err);
    EXPECT_EQ(sitemap.addresses, c.addresses);
    if (c.err.empty()) {
      EXPECT_EQ(sitemap.kind, c.kind);
    }
  }
}

}  // namespace
}  // namespace voxtrel
