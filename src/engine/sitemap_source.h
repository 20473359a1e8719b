#pragma once

#include <cstddef>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "engine/check_loop.h"
#include "engine/page_fetch.h"
#include "engine/request_queue.h"
#include "web/sitemap.h"

namespace voxtrel {

/// A page to check and the sitemap that listed it, the page of its row when it cannot be fetched.
struct ListedPage {
  std::string address;
  std::string sitemap;
};

/// A sitemap's pages as the pages of a run: fetched through the queue ahead of the scan, as far
/// as `ahead` pages, and handed on in the sitemap's order. A page that could not be fetched is
/// handed on empty, and its end lists it as a × row.
class SitemapSource : public PageFeed {
 public:
  SitemapSource(std::vector<ListedPage> pages, RequestQueue& queue, size_t ahead)
      : pages_(std::move(pages)), fetched_(pages_.size()), queue_(queue), ahead_(ahead) {}
  ~SitemapSource() override {
    for (const auto& [ticket, index] : asked_) queue_.Drop(ticket);
  }
  SitemapSource(const SitemapSource&) = delete;
  SitemapSource& operator=(const SitemapSource&) = delete;

  void Advance() override {
    while (next_ask_ < pages_.size() && next_ask_ < handed_on_ + ahead_) Ask(next_ask_++);
  }
  Next NextPage(PageToCheck* page, bool* cut) override;
  // Each page is checked as its own single page run would check it: no address is known by
  // another, nothing is kept from the run, no anchor is judged across pages.
  std::string KeyOf(const std::string& address) const override { return address; }
  bool Disallows(const std::string&) override { return false; }
  bool RobotsAllow(const std::string&) const override { return true; }
  bool HasAnchor(const std::string&, const std::string&) const override { return true; }
  bool EndPage(std::vector<UnfetchedPage>* failed) override {
    failed->clear();
    if (ended_.front()) failed->push_back(std::move(*ended_.front()));
    ended_.pop_front();
    return true;
  }
  size_t pages_known() const override { return pages_.size(); }
  void AddCounts(RunSummary*) const override {}

 private:
  void Ask(size_t index);

  const std::vector<ListedPage> pages_;
  std::vector<std::optional<FetchResult>> fetched_;
  RequestQueue& queue_;
  const size_t ahead_;
  std::map<Ticket, size_t> asked_;
  size_t next_ask_ = 0;
  size_t handed_on_ = 0;
  /// For each page handed on and not yet ended: its row when it could not be fetched.
  std::deque<std::optional<UnfetchedPage>> ended_;
};

}  // namespace voxtrel
