#include <memory>
#include <optional>

#include "web/page_encoding.h"
#include "web/web_check.h"

namespace voxtrel {
namespace {

// Each line feed is stored as two line breaks; the scanner reads the file by CR line ends and
// does not mind the blank lines this makes.
std::string ExpandLineFeeds(const std::string& text) {
  std::string out;
  out.reserve(text.size() + text.size() / 8);
  for (char c : text) {
    if (c == '\n') {
      out += "\r\n\r\n";
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace

FetchResult FetchWebPage(RunContext& ctx, const std::string& url) {
  FetchResult result;
  ctx.fetched_charset.reset();
  HttpRequest request;
  request.url = url;
  request.keep_body = true;
  constexpr uint64_t kPageId = 0;
  if (!ctx.http.Start(kPageId, std::move(request))) {
    result.kind = FetchResult::Kind::kNoRequestObject;
    return result;
  }
  std::vector<std::pair<uint64_t, HttpAnswer>> finished;
  // The wait lets the window repaint; closing it abandons the request.
  while (finished.empty()) {
    ctx.http.Wait(50, &finished);
    if (finished.empty() && !ctx.view.KeepAlive()) {
      ctx.http.CancelAll();
      return result;
    }
  }
  ctx.view.Yield();
  const HttpAnswer& answer = finished.front().second;
  result.answer = AnswerOutcome(answer, false);
  if (result.answer.kind == CheckOutcome::Kind::kFailed) return result;
  if (answer.body.empty()) {
    result.answer.kind = CheckOutcome::Kind::kFailed;
    return result;
  }
  if (std::optional<std::string> charset = CharsetOfContentType(answer.content_type))
    ctx.fetched_charset = std::move(charset);
  // The received bytes are stored as they came, line feeds expanded: a line feed is never part
  // of a multi-byte character, and the page is decoded only later, in its own encoding.
  std::string err;
  if (!ctx.disk.WriteWholeFile(ctx.WebWorkFilePath(), ExpandLineFeeds(answer.body), &err)) {
    // Scanning whatever an earlier fetch left there would report another page's links.
    result.kind = FetchResult::Kind::kWriteFailed;
    return result;
  }
  result.kind = FetchResult::Kind::kOk;
  return result;
}

}  // namespace voxtrel
