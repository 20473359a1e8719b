#pragma once

#include <string>
#include <chrono>
#include <vector>

#include "engine/crawl_frontier.h"
#include "engine/link_scanner.h"
#include "engine/result_list.h"
#include "engine/run_settings.h"
#include "engine/run_view.h"
#include "platform/disk.h"
#include "platform/http_pool.h"

namespace voxtrel {

class QueueClock;

/// What a run works through, lent to it by the front end that starts it.
struct RunSeams {
  RunView& view;
  DiskInterface& disk;
  HttpPool& http;
  ResultList& results;
  const AbortSignal& abort;
  QueueClock* clock = nullptr;
};

/// Checks every link of `pages` in order, adding rows to seams.results and telling seams.view as
/// it goes; ends with the end message. The outcome is kAborted when the abort was raised before
/// or during the run, or the view gave up waiting; kDone otherwise.
/// With `crawl`, the pages are those it hands on as the run finds them, after `pages`.
RunSummary CheckLinks(std::vector<PageToCheck> pages, const RunSettings& settings,
                      const RunSeams& seams, CrawlFrontier* crawl = nullptr);

/// "ﾍﾟｰｼﾞが大きすぎるため、先頭の 64 MiB だけを検査しました： " + the page + five blanks.
std::string PageCutText(const std::string& page);

/// How long to wait before asking again after a 429 answer: its Retry-After, else the run's
/// default, at most the run's cap.
std::chrono::milliseconds RetryAfter(const HttpAnswer& answer, const RunSettings& settings);

/// Scheme, host and port of an address, upper-cased, the port filled in: what the per-host
/// limit counts by.
std::string HostKey(const std::string& url);

/// Ends a run the way every run ends: the view hears RunFinished, then the end message with the
/// counts of each mark, an information icon when no row is ×, a warning icon otherwise; after a
/// crawl, the counts of its pages too.
void EndRun(const RunSettings& settings, const RunSeams& seams, const RunSummary& summary,
            bool crawled = false);

}  // namespace voxtrel
