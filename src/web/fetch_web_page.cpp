#include <memory>
#include <optional>

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
  std::unique_ptr<HttpRequest> request = ctx.http.Create(kPrimaryProgId);
  if (!request) request = ctx.http.Create(kFallbackProgId);
  if (!request) {
    result.kind = FetchResult::Kind::kNoRequestObject;
    return result;
  }

  bool sent = false;
  if (request->Open("GET", url)) {
    sent = request->Send([&ctx] { return ctx.view.KeepAlive(); });
  }
  ctx.view.Yield();
  const std::string& body = request->ResponseBody();
  result.answer.status = sent ? request->Status() : std::nullopt;
  if (!result.answer.status) {
    result.answer.reason = FailureReason::kOther;
    return result;
  }
  if (*result.answer.status < 200 || *result.answer.status >= 300) {
    result.answer.reason = FailureReason::kHttpStatus;
    return result;
  }
  if (body.empty()) {
    result.answer.reason = FailureReason::kCutOff;
    return result;
  }
  // The received bytes are stored as they came, line feeds expanded: a line feed is never part
  // of a double-byte character, and a decode/encode round trip would turn bytes the code page
  // does not know (an EUC-JP page, converted only later) into "?".
  std::string err;
  if (!ctx.disk.WriteWholeFile(ctx.WebWorkFilePath(), ExpandLineFeeds(body), &err)) {
    // Scanning whatever an earlier fetch left there would report another page's links.
    result.kind = FetchResult::Kind::kWriteFailed;
    return result;
  }
  result.kind = FetchResult::Kind::kOk;
  result.answer.kind = CheckOutcome::Kind::kAnswered;
  return result;
}

}  // namespace voxtrel
