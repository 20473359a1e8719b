#include "engine/crawl_frontier.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace voxtrel {
namespace {

constexpr const char* kFolder = "http://s.jp/f/";

// A page of links, each written as given.
std::string Links(const std::vector<std::string>& targets) {
  std::string html = "<html><body>";
  for (const std::string& target : targets) html += "<a href=\"" + target + "\">x</a>";
  return html;
}

// What a crawl from index.html did: the pages handed on, relative to the folder and joined by
// blanks, and the counts of those left out and disallowed.
struct Walk {
  std::string pages;
  size_t left_out = 0, disallowed = 0;
  bool operator==(const Walk&) const = default;
};

void PrintTo(const Walk& walk, std::ostream* out) {
  *out << walk.pages << " | " << walk.left_out << " " << walk.disallowed;
}

std::string Short(const std::string& address) {
  return address.starts_with(kFolder) ? address.substr(std::string(kFolder).size()) : address;
}

// Crawls `site` (name → links; a name → "=>target" redirects there), answering the oldest fetch
// first or, with `last_first`, the newest: the order of the pages must not depend on it.
Walk Crawl(const std::map<std::string, std::vector<std::string>>& site, CrawlBounds bounds,
           bool last_first, const std::string& robots, std::string* fetched) {
  CrawlFrontier frontier(
      PageSource{
          std::string(kFolder) + "index.html", Links(site.at("index.html")), {}, PageOrigin::kWeb},
      "", RobotsRules(robots, "voxtrel"), bounds, false);
  Walk walk;
  std::vector<CrawlFrontier::Fetch> waiting;
  for (;;) {
    frontier.Settle(&waiting);
    PageToCheck page;
    bool cut = false;
    const CrawlFrontier::Next next = frontier.NextPage(&page, &cut);
    if (next == CrawlFrontier::Next::kPage) {
      walk.pages += Short(page.source) + " ";
      continue;
    }
    if (next == CrawlFrontier::Next::kDone || waiting.empty()) break;
    auto fetch = last_first ? waiting.end() - 1 : waiting.begin();
    const std::string name = Short(fetch->link.resolved);
    *fetched += name + " ";
    CrawlFrontier::Answer answer;
    auto found = site.find(name);
    if (found != site.end() && !found->second.empty() && found->second[0].starts_with("=>")) {
      answer.final_address = kFolder + found->second[0].substr(2);
      found = site.find(found->second[0].substr(2));
    }
    answer.ok = found != site.end();
    answer.content_type = "text/html";
    if (answer.ok) answer.body = Links(found->second);
    const size_t candidate = fetch->candidate;
    waiting.erase(fetch);
    frontier.Answered(candidate, std::move(answer));
  }
  walk.left_out = frontier.left_out();
  walk.disallowed = frontier.disallowed();
  return walk;
}

TEST(CrawlFrontierTest, PagesComeBreadthFirstWithinTheirBoundsWhateverOrderAnswersComeIn) {
  // index → b, a; b → c, a; a → d, ../up, other host; c → d#x
  const std::map<std::string, std::vector<std::string>> tree = {
      {"index.html", {"b.html", "a.html"}},
      {"b.html", {"c.html", "a.html"}},
      {"a.html", {"d.html", "../up.html", "http://t.jp/f/e.html"}},
      {"c.html", {"d.html#x"}},
      {"d.html", {}}};
  auto with = [&tree](const std::string& name, std::vector<std::string> links) {
    auto site = tree;
    site[name] = std::move(links);
    if (name == "c.html") site.erase(name);  // answers 404
    return site;
  };
  const struct {
    const char* what;
    std::map<std::string, std::vector<std::string>> site;
    CrawlBounds bounds;
    std::string robots;
    Walk walk;
  } cases[] = {
      {"all", tree, {}, "", {"index.html b.html a.html c.html d.html ", 0, 0}},
      {"pages", tree, {3, 50}, "", {"index.html b.html a.html ", 2, 0}},
      {"depth", tree, {100, 1}, "", {"index.html b.html a.html ", 2, 0}},
      {"robots",
       tree,
       {},
       "User-agent: *\nDisallow: /f/c\n",
       {"index.html b.html a.html d.html ", 0, 1}},
      // A page redirected to one met before is that page, checked where it was met first.
      {"redirect", with("b.html", {"=>a.html"}), {}, "", {"index.html a.html d.html ", 0, 0}},
      {"missing", with("c.html", {}), {}, "", {"index.html b.html a.html d.html ", 0, 0}},
  };
  for (const auto& c : cases) {
    for (const bool last_first : {false, true}) {
      SCOPED_TRACE(std::string(c.what) + (last_first ? " last first" : ""));
      std::string fetched;
      const Walk walk = Crawl(c.site, c.bounds, last_first, c.robots, &fetched);
      // Off the site (a folder above, another host) is never fetched, nor the start again.
      for (const char* never : {"up.html", "e.html", "index.html"})
        EXPECT_EQ(fetched.find(never), std::string::npos) << fetched;
      EXPECT_EQ(walk, c.walk);
    }
  }
}

}  // namespace
}  // namespace voxtrel
