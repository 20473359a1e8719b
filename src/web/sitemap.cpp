#include "web/sitemap.h"

#include <expat.h>
#include <zlib.h>

#include <memory>

namespace voxtrel {
namespace {

std::string MibText(size_t bytes) { return std::to_string(bytes >> 20) + " MiB"; }

// What the parser's handlers build: where in the tree the parse is, and the address being read.
struct SitemapParse {
  XML_Parser parser = nullptr;
  Sitemap* sitemap = nullptr;
  int depth = 0;
  bool in_entry = false;  // inside a <url> of a urlset, or a <sitemap> of an index
  bool in_loc = false;
  std::string loc;
  std::string wrong_root;  // the root's name when it is neither urlset nor sitemapindex
};

// A name's local part: a prefix ("sm:loc") or a namespace declared by default makes no
// difference, as sitemaps are written both ways.
std::string_view LocalName(const XML_Char* name) {
  const std::string_view whole(name);
  const size_t colon = whole.rfind(':');
  return colon == std::string_view::npos ? whole : whole.substr(colon + 1);
}

void XMLCALL ElementStarted(void* data, const XML_Char* name, const XML_Char**) {
  SitemapParse& parse = *static_cast<SitemapParse*>(data);
  const std::string_view local = LocalName(name);
  switch (++parse.depth) {
    case 1:
      if (local == "urlset" || local == "sitemapindex") {
        parse.sitemap->kind = local == "urlset" ? Sitemap::Kind::kPages : Sitemap::Kind::kIndex;
        return;
      }
      parse.wrong_root = name;
      XML_StopParser(parse.parser, XML_FALSE);
      return;
    case 2:
      parse.in_entry = local == (parse.sitemap->kind == Sitemap::Kind::kPages ? "url" : "sitemap");
      return;
    case 3:
      parse.in_loc = parse.in_entry && local == "loc";
      parse.loc.clear();
      return;
    default:
      return;
  }
}

void XMLCALL TextRead(void* data, const XML_Char* text, int length) {
  SitemapParse& parse = *static_cast<SitemapParse*>(data);
  if (parse.in_loc && parse.depth == 3) parse.loc.append(text, static_cast<size_t>(length));
}

void XMLCALL ElementEnded(void* data, const XML_Char*) {
  SitemapParse& parse = *static_cast<SitemapParse*>(data);
  if (parse.depth == 3 && parse.in_loc) {
    parse.in_loc = false;
    // XML's white space only: an address never holds any of it.
    const size_t first = parse.loc.find_first_not_of(" \t\r\n");
    if (first != std::string::npos) {
      const size_t last = parse.loc.find_last_not_of(" \t\r\n");
      Sitemap& sitemap = *parse.sitemap;
      if (sitemap.addresses.size() < kSitemapMaxAddresses)
        sitemap.addresses.push_back(parse.loc.substr(first, last - first + 1));
      else
        ++sitemap.passed_over;
    }
  }
  if (parse.depth == 2) parse.in_entry = false;
  --parse.depth;
}

bool ParseSitemap(std::string_view xml, Sitemap* sitemap, std::string* err) {
  // Expat fetches no DTD and no external entity unless given a handler for them, which it is
  // not; since 2.4 it also refuses entities that expand past a bounded factor of the input.
  const std::unique_ptr<XML_ParserStruct, decltype(&XML_ParserFree)> parser(
      XML_ParserCreate(nullptr), XML_ParserFree);
  if (!parser) {
    *err = "out of memory";
    return false;
  }
  SitemapParse parse;
  parse.parser = parser.get();
  parse.sitemap = sitemap;
  XML_SetUserData(parser.get(), &parse);
  XML_SetElementHandler(parser.get(), ElementStarted, ElementEnded);
  XML_SetCharacterDataHandler(parser.get(), TextRead);
  if (XML_Parse(parser.get(), xml.data(), static_cast<int>(xml.size()), XML_TRUE) == XML_STATUS_OK)
    return true;
  if (!parse.wrong_root.empty()) {
    *err = "the root element is <" + parse.wrong_root + ">, not <urlset> or <sitemapindex>";
  } else {
    *err = std::string(XML_ErrorString(XML_GetErrorCode(parser.get()))) + " at line " +
           std::to_string(XML_GetCurrentLineNumber(parser.get()));
  }
  return false;
}

}  // namespace

bool Gunzip(std::string_view bytes, size_t cap, std::string* out, std::string* err) {
  z_stream z{};
  // 16 + the largest window: gzip's header and trailer, not zlib's.
  if (inflateInit2(&z, 16 + MAX_WBITS) != Z_OK) {
    *err = "out of memory";
    return false;
  }
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
  z.avail_in = static_cast<uInt>(bytes.size());
  out->clear();
  err->clear();
  char chunk[1 << 16];
  int status = Z_OK;
  // Inflated a chunk at a time, so a small bomb stops at the cap instead of filling the memory.
  while (status == Z_OK && err->empty()) {
    z.next_out = reinterpret_cast<Bytef*>(chunk);
    z.avail_out = sizeof chunk;
    status = inflate(&z, Z_NO_FLUSH);
    out->append(chunk, sizeof chunk - z.avail_out);
    if (out->size() > cap) *err = "more than " + MibText(cap) + " once inflated";
  }
  if (err->empty() && status == Z_BUF_ERROR) *err = "the gzip stream is cut short";
  if (err->empty() && status != Z_STREAM_END)
    *err = std::string("not a valid gzip stream (") + (z.msg ? z.msg : "inflate failed") + ")";
  inflateEnd(&z);
  if (err->empty()) return true;
  out->clear();
  return false;
}

bool ReadSitemap(std::string_view bytes, Sitemap* sitemap, std::string* err) {
  *sitemap = Sitemap();
  err->clear();
  if (bytes.size() >= 2 && bytes[0] == '\x1f' && bytes[1] == '\x8b') {
    std::string inflated;
    return Gunzip(bytes, kSitemapCap, &inflated, err) && ParseSitemap(inflated, sitemap, err);
  }
  if (bytes.size() > kSitemapCap) {
    *err = "larger than " + MibText(kSitemapCap);
    return false;
  }
  return ParseSitemap(bytes, sitemap, err);
}

}  // namespace voxtrel
