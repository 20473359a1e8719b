#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "engine/link_scanner.h"
#include "engine/request_queue.h"
#include "engine/result_list.h"
#include "engine/run_settings.h"
#include "engine/run_view.h"
#include "platform/disk.h"

namespace voxtrel {

class QueueClock;

/// What a run works through, lent to it by the front end that starts it.
struct RunSeams {
  RunView& view;
  DiskInterface& disk;
  HttpPool& http;
  ResultList& results;
  const AbortSignal& abort;
  /// What the run's requests wait by; null: the system's steady clock.
  QueueClock* clock = nullptr;
};

/// A page a run's feed asked for that could not be fetched: it is listed at the end of the page
/// that first linked to it, unless a row of that page shows it.
struct UnfetchedPage {
  std::string key;
  FoundLink link;
  CheckOutcome outcome;
};

/// More pages for a run as the run finds them (a crawl's site): the check loop scans each page it
/// hands on, after the pages it was given, and asks it how to treat the links it finds.
class PageFeed {
 public:
  virtual ~PageFeed() = default;
  /// Asks the web for what it may ahead of the scan; called on every turn of the loop.
  virtual void Advance() = 0;
  enum class Next { kPage, kWait, kDone };
  /// The next page in order; kWait while it waits for answers. *cut: the page went on past the
  /// page size cap and was cut there.
  virtual Next NextPage(PageToCheck* page, bool* cut) = 0;
  /// What a link's address is known by, in the run's one cache of answers.
  virtual std::string KeyOf(const std::string& address) const = 0;
  /// Whether a link known by `key` is passed over unasked and unlisted.
  virtual bool Disallows(const std::string& key) = 0;
  /// Whether robots.txt lets a run ask `key` at all; nothing is counted (a judge's probe).
  virtual bool RobotsAllow(const std::string& key) const = 0;
  /// Whether the page known by `key` has the anchor `anchor`, or cannot tell.
  virtual bool HasAnchor(const std::string& key, const std::string& anchor) const = 0;
  /// Whether everything the oldest page handed on and not yet ended made it ask is settled;
  /// then that page is ended and *failed gets, in order, the pages it first linked to that could
  /// not be fetched.
  virtual bool EndPage(std::vector<UnfetchedPage>* failed) = 0;
  /// Pages handed on, and those it may still hand on as far as it knows.
  virtual size_t pages_known() const = 0;
  /// Adds its own counts to a run's summary at the end.
  virtual void AddCounts(RunSummary* summary) const = 0;
};

/// Checks every link of `pages` in order, asking `queue` for what needs the web, adding rows to
/// seams.results and telling seams.view as it goes; ends with the RunEnded notice. The outcome is
/// kAborted when the abort was raised before or during the run, or the view gave up waiting;
/// kDone otherwise. With `feed`, the pages it hands on follow `pages`.
RunSummary CheckLinks(std::vector<PageToCheck> pages, const RunSettings& settings,
                      const RunSeams& seams, RequestQueue& queue, PageFeed* feed = nullptr);

/// The notice that `page` was read only up to the cap on a page's length.
notice::PageCut PageCutOf(const std::string& page);

/// Ends a run the way every run ends: the view hears RunFinished, then the RunEnded notice with
/// the counts of each mark; after a crawl, the counts of its pages too.
void EndRun(const RunSettings& settings, const RunSeams& seams, const RunSummary& summary,
            bool crawled = false);

}  // namespace voxtrel
