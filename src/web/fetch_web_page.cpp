#include "web/fetch_web_page.h"

#include <optional>
#include <utility>
#include <vector>

#include "web/answer_outcome.h"
#include "web/page_encoding.h"

namespace voxtrel {

FetchResult FetchWebPage(HttpPool& http, const std::string& url,
                         const std::function<bool()>& keep_waiting, int slice_ms) {
  FetchResult result;
  HttpRequest request;
  request.url = url;
  request.keep_body = true;
  request.body_cap = kPageCap;
  constexpr uint64_t kPageId = 0;
  if (!http.Start(kPageId, std::move(request))) {
    result.kind = FetchResult::Kind::kNoRequestObject;
    return result;
  }
  std::vector<std::pair<uint64_t, HttpAnswer>> finished;
  while (finished.empty()) {
    http.Wait(slice_ms, &finished);
    if (finished.empty() && !keep_waiting()) {
      http.CancelAll();
      result.kind = FetchResult::Kind::kAbandoned;
      return result;
    }
  }
  HttpAnswer& answer = finished.front().second;
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

}  // namespace voxtrel
