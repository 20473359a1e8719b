#pragma once

#include <functional>
#include <string>
#include <vector>

#include "engine/request_queue.h"
#include "web/link.h"
#include "web/page.h"

namespace voxtrel {

/// What fetching a web page came to.
struct FetchResult {
  enum class Kind { kOk, kNoRequestObject, kFailed, kAbandoned };
  Kind kind = Kind::kFailed;
  /// The answer as a link check would judge it; why it failed when it did.
  CheckOutcome answer;
  /// With kOk: the page, its address as the source.
  PageSource page;
  /// The page went on past kPageCap and was cut there.
  bool cut = false;
  /// Where the redirects ended; "" when none was followed.
  std::string final_url;
};

/// What the queue's answer to a page's fetch (an ask with keep_body) of `url` comes to; the body
/// is moved into the page.
FetchResult FetchResultOf(const std::string& url, QueueAnswer& asked);

/// Fetches each of `urls` through `queue` (a robots.txt only up to kRobotsCap, a page up to
/// kPageCap), their results in the order of `urls`. Calls `keep_waiting` whenever a pump of at
/// most `slice_ms` brought no answer; when that says no, every one is kAbandoned. A 2xx answer
/// without a body is kFailed.
std::vector<FetchResult> FetchWebPages(RequestQueue& queue, const std::vector<std::string>& urls,
                                       const std::function<bool()>& keep_waiting,
                                       int slice_ms = 50);

}  // namespace voxtrel
