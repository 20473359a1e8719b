#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "run/run.h"
#include "support/fake_pool.h"
#include "support/fake_run.h"

namespace voxtrel {
namespace {

using Events = std::vector<std::string>;
using Pages = std::vector<std::string>;

constexpr const char* kStart = "http://s.jp/a/index.html";

// A page whose links are `targets`, each an <a> unless it names its element ("iframe:x").
std::string Html(const std::vector<std::string>& targets) {
  std::string body = "<html><body>";
  for (const std::string& target : targets) {
    const size_t colon = target.find(':');
    if (colon != std::string::npos && target.find("://") == std::string::npos &&
        !target.starts_with("mailto:"))
      body += "<" + target.substr(0, colon) + " src=\"" + target.substr(colon + 1) + "\"></" +
              target.substr(0, colon) + ">";
    else
      body += "<a href=\"" + target + "\">" + target + "</a>";
  }
  return body + "</body></html>";
}

class CrawlTest : public test::FakeRunTest {
 protected:
  CrawlTest() {
    settings_.all_links = true;
    pool_.script = [this](const std::string& url, int) {
      auto found = site_.find(url);
      test::FakeAnswer answer;
      if (found == site_.end())
        answer.status = 404;
      else
        answer = found->second;
      if (max_delay_ms_ > 0) answer.delay_ms = static_cast<long>(random_() % max_delay_ms_);
      return answer;
    };
  }

  void Page(const std::string& url, const std::vector<std::string>& targets) {
    site_[url].body = Html(targets);
  }
  void File(const std::string& url, const std::string& type = "image/png") {
    site_[url].content_type = type;
  }

  RunSummary Crawl(CrawlBounds bounds = {}) {
    view_.events.clear();
    pool_.asked.clear();
    return RunCrawl(seams_, settings_, kStart, bounds);
  }

  std::map<std::string, test::FakeAnswer> site_;
  std::mt19937 random_;
  unsigned max_delay_ms_ = 0;
};

TEST_F(CrawlTest, PagesOfTheSiteBreadthFirstInDocumentOrderEachAskedOnce) {
  Page(kStart, {"p1.html", "sub/p2.html#top", "img.png", "../up.html", "http://t.jp/a/x.html",
                "http://s.jp:8080/a/y.html", "gone.html", "away.html", "p1.html", "P1.html"});
  Page("http://s.jp/a/p1.html", {"p3.html", "sub/p2.html", "index.html", "../a/./p1.html"});
  Page("http://s.jp/a/sub/p2.html", {"iframe:../p4.html", "mailto:x@s.jp"});
  Page("http://s.jp/a/p3.html", {"text.html"});
  Page("http://s.jp/a/p4.html", {});
  Page("http://s.jp/a/P1.html", {});
  File("http://s.jp/a/img.png");
  File("http://s.jp/a/text.html", "text/plain");
  // Off the site: another folder above, host, port, and a redirect leaving it.
  for (const char* off : {"http://s.jp/up.html", "http://t.jp/a/x.html", "http://s.jp:8080/a/y.html"})
    Page(off, {"http://s.jp/a/never.html"});
  Page("http://s.jp/a/away.html", {"never.html"});
  site_["http://s.jp/a/away.html"].final_url = "http://t.jp/a/away.html";
  site_["http://s.jp/a/away.html"].redirects = 1;

  settings_.excluded = [](const std::string& url) { return url.ends_with("/p4.html"); };
  const RunSummary summary = Crawl();
  EXPECT_EQ(summary.pages, (Pages{kStart, "http://s.jp/a/p1.html", "http://s.jp/a/sub/p2.html",
                                  "http://s.jp/a/P1.html", "http://s.jp/a/p3.html"}));
  for (const auto& [url, times] : pool_.asked) EXPECT_EQ(times, 1) << url;
  EXPECT_EQ(pool_.asked.count("http://s.jp/a/never.html"), 0u);
  EXPECT_EQ(pool_.asked.size(), site_.size() + 1);  // robots.txt and gone.html, not p4.html
  // Every occurrence keeps its row, named by the page that has it.
  EXPECT_EQ(view_.events[1], "row 000001 ◎ p1.html [p1.html] " + std::string(kStart));
  EXPECT_EQ(view_.events[11], "row 000011 ◎ p3.html [p3.html] http://s.jp/a/p1.html");
  EXPECT_EQ(summary.rows_by_mark[0], 1u);  // gone.html
  // The pages' own fetches are no links: the counts end even.
  EXPECT_FALSE(view_.progress_ran_ahead);
  EXPECT_EQ(view_.last_progress.links_answered, view_.last_progress.links_found);
  EXPECT_EQ(view_.last_progress.links_found, summary.links_checked + summary.excluded);
  EXPECT_EQ(view_.last_progress.pages_done, summary.pages.size());
  EXPECT_LT(view_.longest_wait_ms, 60000);  // measured from the request, not from any epoch
}

TEST_F(CrawlTest, APageThatCannotBeAskedIsPassedOverAndTheCrawlGoesOn) {
  Page(kStart, {"a.html", "b.html"});
  Page("http://s.jp/a/a.html", {"c.html"});
  Page("http://s.jp/a/b.html", {"d.html"});
  Page("http://s.jp/a/c.html", {});
  Page("http://s.jp/a/d.html", {});
  pool_.cannot_start = [](const std::string& url) { return url.ends_with("/a.html"); };
  EXPECT_EQ(Crawl().pages, (Pages{kStart, "http://s.jp/a/b.html", "http://s.jp/a/d.html"}));
}

TEST_F(CrawlTest, PagesThatCannotBeFetchedAreFailedRowsOfThePageFirstLinkingThemInEveryMode) {
  Page(kStart, {"p1.html", "gone.html", "http://s.jp/a/err.html", "ok.html#there"});
  Page("http://s.jp/a/p1.html", {"slow.html", "reset.html", "gone.html", "ok.html#nope"});
  Page("http://s.jp/a/ok.html", {"#there", "#%E7%AB%A0", "#top", "#", "#nope", "p1.html#x"});
  site_["http://s.jp/a/ok.html"].body += "<p id=there><h2 id=\"章\">";
  site_["http://s.jp/a/err.html"].status = 500;
  site_["http://s.jp/a/slow.html"].failure = HttpFailure::kTimeout;
  site_["http://s.jp/a/reset.html"].failure = HttpFailure::kCutOff;
  const std::string err = "× http://s.jp/a/err.html [http://s.jp/a/err.html] index.html: HTTP 500";
  const std::vector<std::string> failed[] = {
      // Classic mode lists the absolute link; the crawl adds what it asked for and no row shows.
      {err, "× gone.html [gone.html] index.html: HTTP 404",
       "× slow.html [slow.html] p1.html: time-out",
       "× reset.html [reset.html] p1.html: answer cut off"},
      // Every link has its own row, and that row is the failed page's; anchors are looked up.
      {"× gone.html [gone.html] index.html: HTTP 404", err,
       "× slow.html [slow.html] p1.html: time-out",
       "× reset.html [reset.html] p1.html: answer cut off",
       "× gone.html [gone.html] p1.html: HTTP 404",
       "× ok.html#nope [ok.html#nope] p1.html: anchor not found",
       "× #nope [#nope] ok.html: anchor not found",
       "× p1.html#x [p1.html#x] ok.html: anchor not found"}};
  settings_.show_all = false;
  for (const bool all : {false, true}) {
    for (const int jobs : {1, 128}) {
      SCOPED_TRACE(std::to_string(all) + " " + std::to_string(jobs));
      settings_.all_links = all;
      settings_.jobs = jobs;
      max_delay_ms_ = jobs == 1 ? 0 : 40;
      const RunSummary summary = Crawl();
      std::vector<std::string> rows;  // "mark target [name] page: reason", from the folder on
      for (const ResultRow& r : results_.Rows())
        rows.push_back(std::string(MarkOf(r.outcome)) + " " + r.link.target + " [" + r.link.name +
                       "] " + r.link.page.substr(14) + ": " + ReasonText(r.outcome));
      EXPECT_EQ(rows, failed[all]);
      EXPECT_EQ(summary.pages_failed, 4u);
      EXPECT_EQ(summary.rows_by_mark[0], failed[all].size());
      EXPECT_EQ(view_.last_progress.links_answered, summary.links_checked);
      EXPECT_TRUE(view_.events.end()[-2].ends_with(" pages 3/0/0/4")) << view_.events.end()[-2];
    }
  }
}

TEST_F(CrawlTest, APageIsKnownByWhereItsRedirectsEndAndByItsNormalForm) {
  Page(kStart, {"old.html", "HTTP://S.JP:80/a/%70%31.html", "new.html", "./p1.html"});
  Page("http://s.jp/a/old.html", {});
  site_["http://s.jp/a/old.html"].final_url = "http://s.jp/a/new.html";
  site_["http://s.jp/a/old.html"].redirects = 1;
  Page("HTTP://S.JP:80/a/%70%31.html", {"index.html"});
  // One at a time, the redirect's answer is in before the page it leads to would be asked.
  settings_.jobs = 1;
  const RunSummary summary = Crawl();
  EXPECT_EQ(summary.pages, (Pages{kStart, "http://s.jp/a/new.html", "HTTP://S.JP:80/a/%70%31.html"}));
  EXPECT_EQ(pool_.asked.count("http://s.jp/a/new.html"), 0u);
  EXPECT_EQ(pool_.asked.count("http://s.jp/a/p1.html"), 0u);
  EXPECT_EQ(pool_.asked.count(kStart), 1u);  // the start page, never again for a link to it
}

TEST_F(CrawlTest, RobotsTxtKeepsPagesUnaskedAndUnlisted) {
  Page(kStart, {"open/a.html", "shut/b.html", "shut/ok/c.html"});
  for (const char* page : {"open/a.html", "shut/b.html", "shut/ok/c.html"})
    Page("http://s.jp/a/" + std::string(page), {});
  const struct {
    std::optional<std::string> robots;
    Pages crawled;
    size_t disallowed;
  } cases[] = {
      {std::nullopt, {"open/a.html", "shut/b.html", "shut/ok/c.html"}, 0},
      {"User-agent: *\nDisallow: /a/shut/\n", {"open/a.html"}, 2},
      {"User-agent: *\nDisallow: /a/shut/\nAllow: /a/shut/ok/\n", {"open/a.html", "shut/ok/c.html"}, 1},
      {"User-agent: voxtrel\nDisallow: /a/open\nUser-agent: *\nDisallow: /\n", {"shut/b.html", "shut/ok/c.html"}, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.robots.value_or("(none)"));
    site_.erase("http://s.jp/robots.txt");
    if (c.robots) {
      site_["http://s.jp/robots.txt"].body = *c.robots;
      File("http://s.jp/robots.txt", "text/plain");
    }
    const RunSummary summary = Crawl();
    Pages crawled;
    for (size_t i = 1; i < summary.pages.size(); ++i) crawled.push_back(summary.pages[i].substr(14));
    EXPECT_EQ(crawled, c.crawled);
    EXPECT_EQ(summary.pages_disallowed, c.disallowed);
    EXPECT_EQ(pool_.asked.size(), 2 + c.crawled.size());
    EXPECT_EQ(summary.links_checked, c.crawled.size());
  }
}

TEST_F(CrawlTest, BoundsLeaveOutWhatLiesBeyondThem) {
  // A chain three deep with a non-page at its front: it must not use up a page.
  Page(kStart, {"data.html", "b1.html", "b2.html"});
  File("http://s.jp/a/data.html", "application/pdf");
  Page("http://s.jp/a/b1.html", {"c1.html"});
  Page("http://s.jp/a/b2.html", {"c2.html"});
  Page("http://s.jp/a/c1.html", {"d1.html"});
  Page("http://s.jp/a/c2.html", {});
  Page("http://s.jp/a/d1.html", {});
  const struct {
    CrawlBounds bounds;
    size_t crawled;
    size_t left_out;
    size_t links_cut = 0;
  } cases[] = {{{10000, 50}, 6, 0},       {{3, 50}, 3, 2},          {{1, 50}, 1, 3},
               {{10000, 1}, 3, 2},        {{10000, 0}, 1, 3},       {{4, 1}, 3, 2},
               {{10000, 50, 2}, 4, 0, 1}, {{10000, 50, 3}, 6, 0, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.bounds.max_pages) + " " + std::to_string(c.bounds.max_depth) +
                 " " + std::to_string(c.bounds.max_links_per_page));
    settings_.max_links_per_page = c.bounds.max_links_per_page;
    const RunSummary summary = Crawl(c.bounds);
    EXPECT_EQ(summary.pages.size(), c.crawled);
    EXPECT_EQ(summary.pages_left_out, c.left_out);
    EXPECT_EQ(summary.pages_links_cut.size(), c.links_cut);
    // Cut after two links: the start page's data.html and b1.html, then c1.html and d1.html.
    if (c.links_cut) {
      EXPECT_EQ(summary.links_checked, 4u);
    }
  }
}

TEST_F(CrawlTest, StyleSheetsOfTheSiteAreFetchedAndTheirUrlsAreRowsOfTheirOwn) {
  site_[kStart].body =
      "<link rel=stylesheet href=css/s.css><link rel=stylesheet "
      "href=http://t.jp/o.css><a href=p.html>p</a>";
  Page("http://s.jp/a/p.html", {});
  for (const char* sheet :
       {"http://s.jp/a/css/s.css", "http://s.jp/a/css/t.css", "http://t.jp/o.css"})
    File(sheet, "text/css");
  site_["http://s.jp/a/css/s.css"].body = "@import 't.css';b{background:url(../bg.png)}";
  site_["http://s.jp/a/css/t.css"].body = "u{src:url(f.woff)}";
  site_["http://t.jp/o.css"].body = "x{y:url(never.png)}";
  EXPECT_EQ(Crawl().pages, (Pages{kStart, "http://s.jp/a/css/s.css", "http://s.jp/a/p.html",
                                  "http://s.jp/a/css/t.css"}));
  Events rows;
  for (const std::string& event : view_.events)
    if (event.starts_with("row")) rows.push_back(event);
  EXPECT_EQ(rows, (Events{"row 000001 ◎ css/s.css [stylesheet] " + std::string(kStart),
                          "row 000002 ◎ http://t.jp/o.css [stylesheet] " + std::string(kStart),
                          "row 000003 ◎ p.html [p] " + std::string(kStart),
                          "row 000004 ◎ t.css [@import] http://s.jp/a/css/s.css",
                          "row 000005 × ../bg.png [background] http://s.jp/a/css/s.css",
                          "row 000006 × f.woff [src] http://s.jp/a/css/t.css"}));
  for (const auto& [url, times] : pool_.asked) EXPECT_EQ(times, 1) << url;
  EXPECT_EQ(pool_.asked.count("http://t.jp/never.png"), 0u);
}

TEST_F(CrawlTest, ManyInFlightGiveTheRowsOfOneAtATimeAndAnAbortKeepsThoseBefore) {
  std::mt19937 shape(7);
  for (int page = 0; page < 30; ++page) {
    std::vector<std::string> targets;
    for (int n = static_cast<int>(shape() % 6); n > 0; --n) {
      const unsigned pick = shape() % 40;
      targets.push_back(pick < 30 ? "p" + std::to_string(pick) + ".html"
                                  : "http://x" + std::to_string(pick % 3) + ".jp/" + std::to_string(pick));
    }
    Page(page == 0 ? kStart : "http://s.jp/a/p" + std::to_string(page) + ".html", targets);
  }
  // Passing failures asked again, a 429 waited out, and a rate, all on the fake clock.
  auto site = pool_.script;
  pool_.script = [site](const std::string& url, int n) {
    test::FakeAnswer answer = site(url, n);
    if (n == 1 && url.ends_with("1.html")) answer.failure = HttpFailure::kCutOff;
    if (n <= 2 && url.starts_with("http://x1")) answer.status = 503;
    if (n == 1 && url.starts_with("http://x2")) answer.status = 429;
    return answer;
  };
  settings_.retries = 2;
  settings_.rate = 20;
  settings_.show_all = true;
  max_delay_ms_ = 40;
  settings_.jobs = 1;
  const Events one = (Crawl(), view_.events);
  ASSERT_GT(one.size(), 20u);
  settings_.jobs = 128;
  for (unsigned seed = 1; seed <= 4; ++seed) {
    random_.seed(seed);
    EXPECT_EQ((Crawl(), view_.events), one) << seed;
  }
  std::set<int> times;  // each address asked once, twice or thrice
  for (const auto& [url, n] : pool_.asked) times.insert(n);
  EXPECT_EQ(times, (std::set<int>{1, 2, 3}));
  for (size_t k : {1, 5, 17}) {
    abort_.Lower();
    view_ = test::RecordingView();
    view_.abort = &abort_;
    view_.abort_at_row = k;
    Crawl();
    ASSERT_GT(view_.events.size(), k + 1);
    EXPECT_EQ(Events(view_.events.begin(), view_.events.begin() + 1 + static_cast<long>(k)),
              Events(one.begin(), one.begin() + 1 + static_cast<long>(k)));
    EXPECT_EQ(view_.events.back(), "closed 1 " + std::to_string(k));
  }
}

TEST_F(CrawlTest, AStopDuringTheScanOfAPageEndsItAtTheNextLink) {
  Page(kStart, std::vector<std::string>(2000, "http://t.jp/x.html"));
  size_t asked = 0;
  settings_.excluded = [this, &asked](const std::string&) { return abort_.Raise(), ++asked; };
  EXPECT_EQ(Crawl().outcome, RunOutcome::kAborted);
  EXPECT_EQ(asked, 1u);
}

}  // namespace
}  // namespace voxtrel
