#include "engine/crawl_frontier.h"

#include <utility>

#include "web/html_links.h"
#include "web/page_encoding.h"
#include "web/url.h"

namespace voxtrel {
namespace {

// The elements whose links lead to other pages, as a browser shows them.
bool LeadsToPage(const std::string& element) {
  return element == "a" || element == "area" || element == "frame" || element == "iframe";
}

}  // namespace

CrawlFrontier::CrawlFrontier(PageSource start, const std::string& final_address,
                             CheckOutcome start_outcome, RobotsRules robots, CrawlBounds bounds,
                             bool keep_query)
    : start_outcome_(std::move(start_outcome)),
      robots_(std::move(robots)),
      bounds_(bounds),
      keep_query_(keep_query) {
  const std::string address = final_address.empty() ? start.source : final_address;
  const std::string key = KeyOf(address);
  if (const std::optional<UrlParts> parts = SplitUrl(key)) {
    scheme_authority_ = parts->scheme + "://" + parts->authority;
    folder_ = parts->path.substr(0, parts->path.rfind('/') + 1);
  }
  start_keys_ = {KeyOf(start.source)};
  if (start_keys_.front() != key) start_keys_.push_back(key);
  for (const std::string& start_key : start_keys_) known_.insert(start_key);
  page_keys_.insert(key);
  start.source = address;
  Candidate& first = candidates_.emplace_back();
  first.address = address;
  first.state = State::kPage;
  first.page = std::move(start);
  resolved_ = 1;
  pages_ = 1;
}

std::string CrawlFrontier::KeyOf(std::string_view address) {
  return NormalizeUrl(address).value_or(std::string());
}

bool CrawlFrontier::OnSite(const std::string& key) const {
  if (scheme_authority_.empty() || key.compare(0, scheme_authority_.size(), scheme_authority_))
    return false;
  const std::string_view path = std::string_view(key).substr(scheme_authority_.size());
  return path.starts_with(folder_);
}

bool CrawlFrontier::Disallows(const std::string& key) {
  if (scheme_authority_.empty() || key.compare(0, scheme_authority_.size(), scheme_authority_) ||
      (key.size() > scheme_authority_.size() && key[scheme_authority_.size()] != '/'))
    return false;
  if (robots_.Allows(std::string_view(key).substr(scheme_authority_.size()))) return false;
  disallowed_keys_.insert(key);
  return true;
}

bool CrawlFrontier::Settle(std::vector<Fetch>* to_fetch) {
  Resolve();
  while (!found_.empty()) {
    const auto& [address, depth] = found_.front();
    const std::string key = KeyOf(address);
    if (!key.empty() && OnSite(key) && !known_.count(key) && !Disallows(key)) {
      if (depth > bounds_.max_depth || pages_ >= bounds_.max_pages) {
        ++left_out_;
      } else if (pages_ + (candidates_.size() - resolved_) >= bounds_.max_pages) {
        // Whether it fits depends on how many of the pages before it turn out to be pages.
        return false;
      } else {
        Candidate& candidate = candidates_.emplace_back();
        candidate.address = address;
        candidate.depth = depth;
        to_fetch->push_back(Fetch{candidates_.size() - 1, address});
      }
      known_.insert(key);
    }
    found_.pop_front();
  }
  return true;
}

void CrawlFrontier::Answered(size_t index, HttpAnswer& answer) {
  Candidate& candidate = candidates_[index];
  candidate.state = State::kNotPage;
  const std::string& final_address = answer.final_url.empty() ? candidate.address : answer.final_url;
  if (answer.status && *answer.status / 100 == 2 && IsHtmlContentType(answer.content_type) &&
      OnSite(KeyOf(final_address))) {
    candidate.state = State::kPage;
    candidate.address = final_address;
    candidate.page = PageSource{final_address, std::move(answer.body),
                                CharsetOfContentType(answer.content_type), PageOrigin::kWeb};
    candidate.cut = answer.body_cut;
  }
  Resolve();
}

void CrawlFrontier::Unanswered(size_t index) {
  candidates_[index].state = State::kNotPage;
  Resolve();
}

void CrawlFrontier::Resolve() {
  while (resolved_ < candidates_.size() && candidates_[resolved_].state != State::kAsked) {
    Candidate& candidate = candidates_[resolved_++];
    if (candidate.state != State::kPage) continue;
    if (page_keys_.insert(KeyOf(candidate.address)).second) {
      ++pages_;
    } else {
      // Reached again through a redirect: the page is checked where it was met first.
      candidate.state = State::kNotPage;
      candidate.page.reset();
    }
  }
}

CrawlFrontier::Next CrawlFrontier::NextPage(PageToCheck* page, bool* cut) {
  Resolve();
  while (next_ < resolved_) {
    Candidate& candidate = candidates_[next_++];
    if (candidate.state != State::kPage) continue;
    FindLinksToFollow(*candidate.page, candidate.depth);
    page->source = std::move(candidate.address);
    page->fetched = std::move(candidate.page);
    candidate.page.reset();
    *cut = candidate.cut;
    ++handed_on_;
    return Next::kPage;
  }
  return next_ == candidates_.size() && found_.empty() ? Next::kDone : Next::kWait;
}

void CrawlFrontier::FindLinksToFollow(const PageSource& page, size_t depth) {
  const std::string text = Utf8Text(DecodePage(page));
  std::string base = page.source;
  HtmlLinkReader reader(text);
  HtmlLinks found;
  size_t links = 0;
  while (reader.Next(&found)) {
    if (found.base)
      if (std::optional<std::string> resolved = ResolveUrl(base, *found.base)) base = *resolved;
    for (const HtmlLink& link : found.links) {
      if (links++ == bounds_.max_links_per_page) {
        links_cut_.push_back(page.source);
        return;
      }
      if (!LeadsToPage(link.element)) continue;
      const std::optional<std::string> resolved = ResolveUrl(base, link.written);
      if (!resolved) continue;
      const std::string scheme = SchemeOf(*resolved);
      if (scheme == "http" || scheme == "https")
        found_.emplace_back(RequestAddress(*resolved, keep_query_), depth + 1);
    }
  }
}

}  // namespace voxtrel
