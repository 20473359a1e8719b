#include "engine/sitemap_source.h"

#include <utility>

#include "web/page.h"
#include "web/url.h"

namespace voxtrel {

void SitemapSource::Ask(size_t index) {
  QueueAsk ask;
  ask.url = BrowserAddress(pages_[index].address);
  ask.keep_body = true;
  ask.body_cap = kPageCap;
  const Ticket ticket = queue_.Ask(std::move(ask), [this, index](Ticket done, QueueAnswer& got) {
    asked_.erase(done);
    fetched_[index] = FetchResultOf(pages_[index].address, got);
  });
  asked_.emplace(ticket, index);
}

PageFeed::Next SitemapSource::NextPage(PageToCheck* page, bool* cut) {
  Advance();
  if (handed_on_ == pages_.size()) return Next::kDone;
  std::optional<FetchResult>& fetched = fetched_[handed_on_];
  if (!fetched) return Next::kWait;
  const ListedPage& listed = pages_[handed_on_++];
  page->source = listed.address;
  *cut = fetched->cut;
  if (fetched->kind == FetchResult::Kind::kOk) {
    page->fetched = std::move(fetched->page);
    ended_.emplace_back();
  } else {
    PageSource empty;
    empty.source = listed.address;
    empty.origin = PageOrigin::kWeb;
    page->fetched = std::move(empty);
    CheckOutcome outcome = std::move(fetched->answer);
    // No request object: a failure all the same, though no answer says why.
    outcome.kind = CheckOutcome::Kind::kFailed;
    ended_.emplace_back(
        UnfetchedPage{listed.address, FoundLink(listed.address, "", listed.sitemap), outcome});
  }
  fetched.reset();
  return Next::kPage;
}

}  // namespace voxtrel
