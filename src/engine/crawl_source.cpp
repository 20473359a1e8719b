#include "engine/crawl_source.h"

#include <algorithm>
#include <utility>

#include "web/page.h"

namespace voxtrel {

CrawlSource::CrawlSource(CrawlFrontier& frontier, RequestQueue& queue, const RunSettings& settings,
                         size_t ahead)
    : frontier_(frontier), queue_(queue), settings_(settings), ahead_(std::max<size_t>(1, ahead)) {}

CrawlSource::~CrawlSource() {
  for (const auto& [ticket, asked] : asked_) queue_.Drop(ticket);
}

std::string CrawlSource::KeyOf(const std::string& address) const {
  std::string key = CrawlFrontier::KeyOf(address);
  return key.empty() ? address : key;
}

void CrawlSource::Settle() {
  std::vector<CrawlFrontier::Fetch> fetches;
  frontier_.Settle(&fetches);
  for (CrawlFrontier::Fetch& fetch : fetches) to_ask_.push_back(std::move(fetch));
}

void CrawlSource::Advance() {
  Settle();
  // Pages are asked for ahead of the scan, not behind the links waiting for their rows, so
  // every slot the site allows stays busy while pages are left to ask for.
  while (!to_ask_.empty() && asked_through_ - frontier_.candidates_passed() < ahead_) AskNext();
}

PageFeed::Next CrawlSource::NextPage(PageToCheck* page, bool* cut) {
  Advance();
  const CrawlFrontier::Next next = frontier_.NextPage(page, cut);
  if (next != CrawlFrontier::Next::kPage)
    return next == CrawlFrontier::Next::kDone ? Next::kDone : Next::kWait;
  // The pages it links to are asked for before any of its links, whatever the bound: a link
  // then shares its page's answer instead of asking the address a second time.
  while (!to_ask_.empty() && to_ask_.front().from <= handed_on_) AskNext();
  ++handed_on_;
  return Next::kPage;
}

void CrawlSource::AskNext() {
  CrawlFrontier::Fetch fetch = std::move(to_ask_.front());
  to_ask_.pop_front();
  asked_through_ = fetch.candidate + 1;
  const std::string& address = AddressOf(fetch.link);
  const std::string key = KeyOf(address);
  // What the user keeps out of the run is not fetched for the crawl either; a page another
  // fetch was redirected to is known already.
  if ((settings_.excluded && settings_.excluded(fetch.link.resolved)) || page_ends_.count(key)) {
    frontier_.Unanswered(fetch.candidate);
    return;
  }
  QueueAsk ask;
  ask.url = address;
  ask.key = key;
  ask.keep_body = true;
  ask.keep_pages_only = true;
  ask.body_cap = kPageCap;
  ++AsksOf(fetch.from).open;
  const Ticket ticket = queue_.Ask(
      std::move(ask), [this](Ticket answered, QueueAnswer& answer) { Answered(answered, answer); });
  asked_.emplace(ticket, Asked{std::move(fetch), key});
}

void CrawlSource::Answered(Ticket ticket, QueueAnswer& answer) {
  const auto found = asked_.find(ticket);
  if (found == asked_.end()) return;
  CrawlFrontier::Fetch fetch = std::move(found->second.fetch);
  const std::string key = std::move(found->second.key);
  asked_.erase(found);
  PageAsks& asks = AsksOf(fetch.from);
  --asks.open;
  if (answer.no_request) {
    frontier_.Unanswered(fetch.candidate);
    return;
  }
  HttpAnswer& http = answer.answer;
  const bool ok = http.status && *http.status / 100 == 2;
  if (ok && !http.final_url.empty()) {
    // Where the redirects ended answered without any: a later link there is not asked.
    QueueAnswer direct;
    direct.answer.status = http.status;
    direct.answer.content_type = http.content_type;
    direct.refresh = answer.refresh;
    const std::string end = KeyOf(http.final_url);
    queue_.Remember(end, direct);
    page_ends_.insert(end);
    KnownAt(end);
  }
  CheckOutcome outcome = OutcomeOf(answer, settings_.accept);
  if (outcome.kind == CheckOutcome::Kind::kFailed) {
    asks.failed.emplace(fetch.candidate,
                        UnfetchedPage{key, std::move(fetch.link), std::move(outcome)});
  }
  frontier_.Answered(fetch.candidate, CrawlFrontier::Answer{ok, std::move(http.final_url),
                                                            std::move(http.content_type),
                                                            std::move(http.body), http.body_cut});
}

void CrawlSource::KnownAt(const std::string& key) {
  for (auto it = asked_.begin(); it != asked_.end(); ++it) {
    if (it->second.key != key || queue_.StartedAt(it->first)) continue;
    queue_.Drop(it->first);
    --AsksOf(it->second.fetch.from).open;
    frontier_.Unanswered(it->second.fetch.candidate);
    asked_.erase(it);
    return;
  }
}

CrawlSource::PageAsks& CrawlSource::AsksOf(size_t page) {
  // A page's fetches are asked before it is handed on and answered before its end.
  while (pages_.size() <= page - pages_ended_) pages_.emplace_back();
  return pages_[page - pages_ended_];
}

bool CrawlSource::EndPage(std::vector<UnfetchedPage>* failed) {
  PageAsks& asks = AsksOf(pages_ended_);
  if (asks.open > 0) return false;
  failed->clear();
  for (auto& [candidate, page] : asks.failed) failed->push_back(std::move(page));
  pages_.pop_front();
  ++pages_ended_;
  return true;
}

void CrawlSource::AddCounts(RunSummary* summary) const {
  summary->pages_left_out = frontier_.left_out();
  summary->pages_disallowed = frontier_.disallowed();
  for (const std::string& page : frontier_.links_cut())
    if (std::find(summary->pages_links_cut.begin(), summary->pages_links_cut.end(), page) ==
        summary->pages_links_cut.end())
      summary->pages_links_cut.push_back(page);
}

}  // namespace voxtrel
