#pragma once

#include <cstddef>
#include <deque>
#include <map>
#include <string>
#include <unordered_set>
#include <vector>

#include "engine/check_loop.h"
#include "engine/crawl_frontier.h"
#include "engine/request_queue.h"
#include "engine/run_settings.h"

namespace voxtrel {

/// A crawl as the pages of a run: asks the queue for the pages and style sheets the frontier
/// finds, ahead of the scan as far as `ahead` pages, hands the answers to the frontier and its
/// pages on in crawl order. Every address of the site goes by its normalised form, so a page's
/// fetch and the links to it share one answer.
class CrawlSource : public PageFeed {
 public:
  /// `ahead`: pages asked for or fetched and not yet handed on, at most (the pages of the
  /// oldest page handed on are asked regardless, so no link is asked before its page).
  CrawlSource(CrawlFrontier& frontier, RequestQueue& queue, const RunSettings& settings,
              size_t ahead);
  ~CrawlSource() override;  // drops the answers still out
  CrawlSource(const CrawlSource&) = delete;
  CrawlSource& operator=(const CrawlSource&) = delete;

  void Advance() override;
  Next NextPage(PageToCheck* page, bool* cut) override;
  std::string KeyOf(const std::string& address) const override;
  bool Disallows(const std::string& key) override { return frontier_.Disallows(key); }
  bool RobotsAllow(const std::string& key) const override {
    return !frontier_.RobotsRefuse(key);
  }
  bool HasAnchor(const std::string& key, const std::string& anchor) const override {
    return frontier_.HasAnchor(key, anchor);
  }
  bool EndPage(std::vector<UnfetchedPage>* failed) override;
  size_t pages_known() const override { return frontier_.pages_known(); }
  void AddCounts(RunSummary* summary) const override;

  /// Fetches asked of the queue and not yet answered.
  size_t asking() const { return asked_.size(); }

 private:
  // What the pages of one page of the crawl (in crawl order) made it ask.
  struct PageAsks {
    size_t open = 0;                         // fetches not yet answered
    std::map<size_t, UnfetchedPage> failed;  // by candidate: listed in crawl order
  };
  void Settle();
  /// Asks the queue for the oldest fetch waiting, unless it is kept out.
  void AskNext();
  void Answered(Ticket ticket, QueueAnswer& answer);
  /// Where a fetch's redirects ended is a page known already: a fetch of it not yet started
  /// is not made.
  void KnownAt(const std::string& key);
  PageAsks& AsksOf(size_t page);

  CrawlFrontier& frontier_;
  RequestQueue& queue_;
  const RunSettings& settings_;
  const size_t ahead_;
  std::deque<CrawlFrontier::Fetch> to_ask_;
  struct Asked {
    CrawlFrontier::Fetch fetch;
    std::string key;
  };
  std::map<Ticket, Asked> asked_;
  size_t asked_through_ = 0;  // candidates up to this one asked or kept out
  /// From the oldest page not yet ended on, in crawl order.
  std::deque<PageAsks> pages_;
  size_t pages_ended_ = 0;
  size_t handed_on_ = 0;
  /// Where the redirects of a fetch ended: known, and not fetched again.
  std::unordered_set<std::string> page_ends_;
};

}  // namespace voxtrel
