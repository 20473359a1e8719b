#include "engine/page_fetch.h"

#include <algorithm>
#include <optional>
#include <utility>
#include <vector>

#include "web/answer_outcome.h"
#include "web/page_encoding.h"
#include "web/robots.h"
#include "web/url.h"

namespace voxtrel {

FetchResult FetchResultOf(const std::string& url, QueueAnswer& asked) {
  HttpAnswer& answer = asked.answer;
  FetchResult result;
  if (asked.no_request) {
    result.kind = FetchResult::Kind::kNoRequestObject;
    return result;
  }
  result.answer = AnswerOutcome(answer, false);
  result.answer.tries = std::max(1, asked.tries);
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

std::vector<FetchResult> FetchWebPages(RequestQueue& queue, const std::vector<std::string>& urls,
                                       const std::function<bool()>& keep_waiting, int slice_ms) {
  std::vector<FetchResult> results(urls.size());
  std::vector<Ticket> tickets;
  size_t waiting = urls.size();
  for (size_t i = 0; i < urls.size(); ++i) {
    QueueAsk ask;
    ask.url = BrowserAddress(urls[i]);
    ask.keep_body = true;
    // Only the head of a robots.txt is ever read: a huge one costs no more than its cap.
    const std::optional<UrlParts> parts = SplitUrl(ask.url);
    ask.body_cap = parts && parts->path == "/robots.txt" ? kRobotsCap : kPageCap;
    tickets.push_back(queue.Ask(std::move(ask), [&, i](Ticket, QueueAnswer& answer) {
      results[i] = FetchResultOf(urls[i], answer);
      --waiting;
    }));
  }
  while (waiting > 0) {
    const size_t before = waiting;
    queue.Pump(slice_ms);
    if (waiting > 0 && waiting == before && !keep_waiting()) {
      for (Ticket ticket : tickets) queue.Drop(ticket);
      FetchResult abandoned;
      abandoned.kind = FetchResult::Kind::kAbandoned;
      return std::vector<FetchResult>(urls.size(), abandoned);
    }
  }
  return results;
}

}  // namespace voxtrel
