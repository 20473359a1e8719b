#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/http_pool.h"
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

/// The most bytes of a fetched page read for its links; a local page is read whole.
inline constexpr size_t kPageCap = size_t{64} << 20;

/// Fetches `url` through `http`, calling `keep_waiting` between waits of at most `slice_ms`;
/// when that says no, the request is abandoned (kAbandoned). A 2xx answer without a body is
/// kFailed.
FetchResult FetchWebPage(HttpPool& http, const std::string& url,
                         const std::function<bool()>& keep_waiting, int slice_ms = 50);

/// The same for several pages asked at once, their results in the order of `urls`; when
/// `keep_waiting` says no, every one is kAbandoned.
std::vector<FetchResult> FetchWebPages(HttpPool& http, const std::vector<std::string>& urls,
                                       const std::function<bool()>& keep_waiting,
                                       int slice_ms = 50);

}  // namespace voxtrel
