#include "web/fetch_web_page.h"

#include <optional>
#include <utility>
#include <vector>

#include "web/answer_outcome.h"
#include "web/page_encoding.h"
#include "web/robots.h"
#include "web/url.h"

namespace voxtrel {

namespace {

FetchResult Judged(const std::string& url, HttpAnswer& answer) {
  FetchResult result;
  result.answer = AnswerOutcome(answer, false);
  result.final_url = answer.final_url;
  if (result.answer.kind == CheckOutcome::Kind::kFailed) return result;
  if (answer.body.empty()) {
    result.answer.kind = CheckOutcome::Kind::kFailed;
    return result;
  }
  result.page.source = url;
  result.page.bytes = std::move(answer.body);
  result.page.charset = CharsetOfContentType(answer.content_type);
  result.page.origin = PageOrigin::kWeb;
  result.cut = answer.body_cut;
  result.kind = FetchResult::Kind::kOk;
  return result;
}

}  // namespace

std::vector<FetchResult> FetchWebPages(HttpPool& http, const std::vector<std::string>& urls,
                                       const std::function<bool()>& keep_waiting, int slice_ms) {
  std::vector<FetchResult> results(urls.size());
  size_t waiting = 0;
  for (size_t i = 0; i < urls.size(); ++i) {
    HttpRequest request;
    request.url = BrowserAddress(urls[i]);
    request.keep_body = true;
    // Only the head of a robots.txt is ever read: a huge one costs no more than its cap.
    const std::optional<UrlParts> parts = SplitUrl(request.url);
    request.body_cap = parts && parts->path == "/robots.txt" ? kRobotsCap : kPageCap;
    if (http.Start(i, std::move(request)))
      ++waiting;
    else
      results[i].kind = FetchResult::Kind::kNoRequestObject;
  }
  std::vector<std::pair<uint64_t, HttpAnswer>> finished;
  while (waiting > 0) {
    finished.clear();
    http.Wait(slice_ms, &finished);
    for (auto& [id, answer] : finished) {
      results[id] = Judged(urls[id], answer);
      --waiting;
    }
    if (waiting > 0 && finished.empty() && !keep_waiting()) {
      http.CancelAll();
      FetchResult abandoned;
      abandoned.kind = FetchResult::Kind::kAbandoned;
      return std::vector<FetchResult>(urls.size(), abandoned);
    }
  }
  return results;
}

FetchResult FetchWebPage(HttpPool& http, const std::string& url,
                         const std::function<bool()>& keep_waiting, int slice_ms) {
  return std::move(FetchWebPages(http, {url}, keep_waiting, slice_ms).front());
}

}  // namespace voxtrel
