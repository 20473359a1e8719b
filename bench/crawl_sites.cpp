#include "crawl_sites.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace voxtrel::bench {
namespace {

constexpr int kPages = 500;
constexpr int kPageLinks = 3;
constexpr int kOtherLinks = 5;
constexpr int kOtherAddresses = 1500;  // distinct pages on the other hosts; some are linked twice
constexpr int kTreeImages = 49;        // with 500 pages and robots.txt: 550 site addresses
constexpr int kFlatPhotos = 10;

// A 1 x 1 transparent PNG.
constexpr unsigned char kPng[] = {
    0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a, 0x00, 0x00, 0x00, 0x0d, 0x49, 0x48,
    0x44, 0x52, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x08, 0x06, 0x00, 0x00,
    0x00, 0x1f, 0x15, 0xc4, 0x89, 0x00, 0x00, 0x00, 0x0d, 0x49, 0x44, 0x41, 0x54, 0x78,
    0x9c, 0x63, 0x00, 0x01, 0x00, 0x00, 0x05, 0x00, 0x01, 0x0d, 0x0a, 0x2d, 0xb4, 0x00,
    0x00, 0x00, 0x00, 0x49, 0x45, 0x4e, 0x44, 0xae, 0x42, 0x60, 0x82};

const Resource& Png() {
  static const Resource png{"image/png",
                            std::string(reinterpret_cast<const char*>(kPng), sizeof kPng)};
  return png;
}

/// One page's HTML as it is written, counting its links in the site.
class PageWriter {
 public:
  PageWriter(Site& site, const std::string& title, const std::string& heading) : site_(site) {
    html_ << "<!DOCTYPE html>\n<html lang=\"ja\"><head><meta charset=\"utf-8\"><title>" << title
          << "</title></head><body>\n<h1>" << heading << "</h1>\n";
  }
  void Write(const std::string& text) { html_ << text; }
  void Link(const std::string& href, const std::string& text) {
    html_ << "<li><a href=\"" << href << "\">" << text << "</a></li>\n";
    ++site_.links;
  }
  void Image(const std::string& src, const std::string& alt) {
    html_ << "<img src=\"" << src << "\" alt=\"" << alt << "\">";
    ++site_.links;
  }
  /// Ends the page and serves it at `path` of the crawled host.
  void Serve(const std::string& path) {
    html_ << "</body></html>\n";
    site_.files[0][path] = {"text/html; charset=utf-8", html_.str()};
  }

 private:
  Site& site_;
  std::ostringstream html_;
};

/// A site with nothing but robots.txt on its hosts yet, started at `start_path`.
Site NewSite(const std::vector<int>& ports, const std::string& start_path) {
  Site site;
  for (int port : ports) site.bases.push_back("http://127.0.0.1:" + std::to_string(port));
  site.files.resize(ports.size());
  site.start = site.bases[0] + start_path;
  for (auto& files : site.files)
    files["/robots.txt"] = {"text/plain", "User-agent: *\nDisallow:\n"};
  return site;
}

int DepthOf(const std::vector<std::vector<int>>& graph) {
  std::vector<int> depth(graph.size(), -1);
  std::vector<int> queue = {0};
  depth[0] = 0;
  for (size_t next = 0; next < queue.size(); ++next)
    for (int target : graph[queue[next]])
      if (depth[target] < 0) {
        depth[target] = depth[queue[next]] + 1;
        queue.push_back(target);
      }
  if (std::find(depth.begin(), depth.end(), -1) != depth.end()) {
    std::fprintf(stderr, "a page of the generated site cannot be reached\n");
    std::exit(1);
  }
  return *std::max_element(depth.begin(), depth.end());
}

/// The figures of a site whose pages are all written; `graph` holds the page links, the start
/// page first.
void Finish(Site& site, const std::vector<std::vector<int>>& graph, const std::string& folder) {
  site.depth = DepthOf(graph);
  site.site_addresses = static_cast<long>(site.files[0].size());
  for (const std::string& url : site.expected_broken)
    if (url.starts_with(site.bases[0] + "/")) ++site.site_addresses;
  // A checker that crawls only below the address it was given needs the folder as its start.
  site.folder = site.bases[0] + folder;
  site.files[0][folder] = site.files[0][site.start.substr(site.bases[0].size())];
}

/// A link to a page of another host, which answers.
void OtherHostLink(Site& site, PageWriter& page, int id, const std::string& path) {
  const int host = 1 + id % kOtherHosts;
  site.files[host][path] = {"text/html", "<html><body>ok</body></html>"};
  page.Link(site.bases[host] + path, "外部 " + std::to_string(id));
}

// ---- a binary tree whose cross links go no deeper than a page's children --------------------

int Level(int page) {
  int level = 0;
  for (; page > 0; page = (page - 1) / 2) ++level;
  return level;
}

std::string Folder(int page) {
  return page == 0 ? "/start/" : "/start/l" + std::to_string(Level(page)) + "/";
}

std::string PagePath(int page) {
  return page == 0 ? "/start/index.html" : Folder(page) + "p" + std::to_string(page) + ".html";
}

/// How `from` writes a path under /start/ relative to its own folder.
std::string Relative(int from, const std::string& path) {
  return (from == 0 ? "" : "../") + path.substr(std::string("/start/").size());
}

/// The pages `page` links to: its children in a binary tree, then cross links to pages no deeper
/// than its children, so the tree's depth stays the crawl's depth. The start page, whose
/// children are all such pages, reaches one level further.
std::vector<int> PageTargets(int page) {
  std::vector<int> targets;
  for (int child : {2 * page + 1, 2 * page + 2})
    if (child < kPages) targets.push_back(child);
  const int levels = Level(page) + (page == 0 ? 3 : 2);
  const int shallow = std::min(kPages, (1 << levels) - 1);
  uint32_t state = static_cast<uint32_t>(page) * 2654435761u + 12345u;
  while (static_cast<int>(targets.size()) < kPageLinks) {
    state = state * 1664525u + 1013904223u;
    const int target = static_cast<int>((state >> 8) % static_cast<uint32_t>(shallow));
    if (target != page && std::find(targets.begin(), targets.end(), target) == targets.end())
      targets.push_back(target);
  }
  return targets;
}

/// Serves `path` of the crawled host as a picture, or records it as broken when it is missing.
void SiteImage(Site& site, const std::string& path, bool exists) {
  if (exists)
    site.files[0][path] = Png();
  else
    site.expected_broken.insert(Normalise(site.bases[0] + path));
}

void WriteBoundedPageLinks(Site& site, PageWriter& html, int page,
                           const std::vector<int>& targets) {
  for (int target : targets) {
    const bool child = target == 2 * page + 1 || target == 2 * page + 2;
    const std::string path = PagePath(target);
    // Written three ways, as hand-made sites mix them.
    std::string href = child ? Relative(page, path) : page % 5 == 0 ? site.bases[0] + path : path;
    html.Link(href, "ページ " + std::to_string(target));
  }
  if (page % 50 == 17) {
    html.Link("gone" + std::to_string(page) + ".html", "消えたページ");
    site.expected_broken.insert(
        Normalise(site.bases[0] + Folder(page) + "gone" + std::to_string(page) + ".html"));
  }
}

void WriteBoundedImages(Site& site, PageWriter& html, int page) {
  const std::string pic = "/start/img/pic" + std::to_string(page * 7 % 60) + ".png";
  const std::string photo = "/start/img/photo" + std::to_string(page % 25) + ".png";
  html.Image(pic, "写真");
  html.Image(Relative(page, photo), "写真");
  SiteImage(site, pic, true);
  SiteImage(site, photo, true);
  if (page % 60 == 23) {
    const std::string missing = "/start/img/missing" + std::to_string(page / 60 % 4) + ".png";
    html.Image(missing, "図");
    SiteImage(site, missing, false);
  }
}

void WriteBoundedOtherLinks(Site& site, PageWriter& html, int page, int refused_port) {
  for (int k = 0; k < kOtherLinks; ++k) {
    const int id = (page * kOtherLinks + k) * 37 % kOtherAddresses;
    OtherHostLink(site, html, id,
                  "/ja/" + std::to_string(id / 100) + "/doc" + std::to_string(id) + ".html");
  }
  auto broken = [&](const std::string& url, const std::string& text) {
    html.Link(url, text);
    site.expected_broken.insert(Normalise(url));
  };
  if (page % 40 == 5)
    broken(site.bases[1 + page / 40 % kOtherHosts] + "/removed/" + std::to_string(page) + ".html",
           "移転したサイト");
  if (page % 100 == 99)
    broken("http://127.0.0.1:" + std::to_string(refused_port) + "/old/" +
               std::to_string(page / 100 % 3) + ".html",
           "閉鎖したサイト");
}

/// Broken links to missing pages and images, to missing pages of other hosts and to a port where
/// nobody listens.
Site MakeBoundedTree(const std::vector<int>& ports, int refused_port) {
  Site site = NewSite(ports, PagePath(0));
  site.summary =
      "a binary tree, cross links no deeper than a page's children, 2 images of 85 "
      "and 5 links to other hosts a page, and broken links of every kind";
  std::vector<std::vector<int>> graph(kPages);
  for (int page = 0; page < kPages; ++page) {
    PageWriter html(site, "ページ " + std::to_string(page),
                    "第" + std::to_string(Level(page)) + "階層のページ " + std::to_string(page));
    html.Write("<ul>\n");
    graph[page] = PageTargets(page);
    WriteBoundedPageLinks(site, html, page, graph[page]);
    html.Write("</ul>\n<p>");
    WriteBoundedImages(site, html, page);
    html.Write("</p>\n<h2>リンク集</h2>\n<ul>\n");
    WriteBoundedOtherLinks(site, html, page, refused_port);
    html.Write("</ul>\n");
    html.Serve(PagePath(page));
  }
  Finish(site, graph, Folder(0));
  return site;
}

// ---- a binary tree with a cross link anywhere -----------------------------------------------

std::string TreeName(int page) {
  return page == 0 ? "index.html" : "p" + std::to_string(page) + ".html";
}

/// A page of the whole tree, neither `page` nor one of its children.
int CrossTarget(int page) {
  uint32_t state = static_cast<uint32_t>(page) * 2654435761u + 777u;
  for (;;) {
    state = state * 1664525u + 1013904223u;
    const int target = static_cast<int>((state >> 8) % kPages);
    if (target != page && target != 2 * page + 1 && target != 2 * page + 2) return target;
  }
}

/// Every page in one folder: its two children, a cross link, two of kTreeImages pictures and
/// five links to other hosts, none broken.
Site MakeBinaryTree(const std::vector<int>& ports, int) {
  Site site = NewSite(ports, "/tree/index.html");
  site.summary =
      "a binary tree, a cross link anywhere, 2 images of 49 and 5 links to other "
      "hosts a page, nothing broken";
  std::vector<std::vector<int>> graph(kPages);
  for (int page = 0; page < kPages; ++page) {
    PageWriter html(site, "ページ " + std::to_string(page), "ページ " + std::to_string(page));
    html.Write("<ul>\n");
    for (int child : {2 * page + 1, 2 * page + 2})
      if (child < kPages) graph[page].push_back(child);
    graph[page].push_back(CrossTarget(page));
    for (int target : graph[page]) html.Link(TreeName(target), "ページ " + std::to_string(target));
    html.Write("</ul>\n<p>");
    // Two different pictures, every one of the pool used.
    const int first = page % kTreeImages;
    for (int image : {first, (first + 1 + page % (kTreeImages - 1)) % kTreeImages}) {
      site.files[0]["/tree/img/" + std::to_string(image) + ".png"] = Png();
      html.Image("img/" + std::to_string(image) + ".png", "写真");
    }
    html.Write("</p>\n<ul>\n");
    for (int k = 0; k < kOtherLinks; ++k) {
      const int id = page * kOtherLinks + k;
      OtherHostLink(site, html, id, "/doc/" + std::to_string(id) + ".html");
    }
    html.Write("</ul>\n");
    html.Serve("/tree/" + TreeName(page));
  }
  Finish(site, graph, "/tree/");
  return site;
}

// ---- one index page over all the others ----------------------------------------------------

void WriteFlatIndex(Site& site) {
  PageWriter html(site, "目次", "目次");
  html.Image("logo.png", "ロゴ");
  html.Write("\n<ul>\n");
  for (int page = 0; page <= kPages; ++page)
    html.Link("p" + std::to_string(page) + ".html", "ページ " + std::to_string(page));
  // The last one was never written.
  site.expected_broken.insert(
      Normalise(site.bases[0] + "/flat/p" + std::to_string(kPages) + ".html"));
  html.Write("</ul>\n");
  html.Serve("/flat/index.html");
}

void WriteFlatPage(Site& site, int page) {
  PageWriter html(site, "ページ " + std::to_string(page), "ページ " + std::to_string(page));
  html.Image("logo.png", "ロゴ");
  const std::string photo = "photo" + std::to_string(page % kFlatPhotos) + ".png";
  html.Image(photo, "写真");
  site.files[0]["/flat/" + photo] = Png();
  if (page % 100 == 50) {
    const std::string missing = "none" + std::to_string(page / 100) + ".png";
    html.Image(missing, "図");
    site.expected_broken.insert(Normalise(site.bases[0] + "/flat/" + missing));
  }
  html.Write("\n<ul>\n");
  html.Link("index.html", "目次");
  html.Link("p" + std::to_string((page + 1) % kPages) + ".html", "次のページ");
  for (int k = 0; k < 2; ++k) {
    const int id = page * 2 + k;
    OtherHostLink(site, html, id, "/ref/" + std::to_string(id % 300) + ".html");
  }
  html.Write("</ul>\n");
  html.Serve("/flat/p" + std::to_string(page) + ".html");
}

/// An index linking every page at once; each page links back, to its next sibling, to a logo
/// and a photo all pages share and to two pages of other hosts that other pages link as well.
Site MakeFlat(const std::vector<int>& ports, int) {
  Site site = NewSite(ports, "/flat/index.html");
  site.summary =
      "one index linking every page; each links back, to the next page, to 2 shared "
      "images and to 2 of 300 pages of other hosts";
  site.files[0]["/flat/logo.png"] = Png();
  WriteFlatIndex(site);
  std::vector<std::vector<int>> graph(kPages + 1);  // the index, then the pages
  for (int page = 0; page < kPages; ++page) {
    WriteFlatPage(site, page);
    graph[0].push_back(page + 1);
    graph[page + 1] = {0, (page + 1) % kPages + 1};
  }
  Finish(site, graph, "/flat/");
  return site;
}

}  // namespace

const std::vector<SiteShape>& SiteShapes() {
  static const std::vector<SiteShape> shapes = {
      {"bounded", MakeBoundedTree}, {"tree", MakeBinaryTree}, {"flat", MakeFlat}};
  return shapes;
}

std::string Normalise(std::string url) {
  if (auto hash = url.find('#'); hash != std::string::npos) url.erase(hash);
  auto scheme_end = url.find("://");
  if (scheme_end == std::string::npos) return url;
  auto host_end = url.find_first_of("/?", scheme_end + 3);
  if (host_end == std::string::npos) {
    url += '/';
    host_end = url.size() - 1;
  } else if (url[host_end] == '?') {
    url.insert(host_end, "/");
  }
  std::string head = url.substr(0, host_end);
  std::transform(head.begin(), head.end(), head.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (head.compare(0, 7, "http://") == 0 && head.size() > 3 && head.ends_with(":80"))
    head.resize(head.size() - 3);
  return head + url.substr(host_end);
}

}  // namespace voxtrel::bench
