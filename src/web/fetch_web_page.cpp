#include <memory>
#include <optional>

#include "engine/messages.h"
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

void FetchWebPage(RunContext& ctx, int16_t& result) {
  const std::string url = ctx.LinkUrl;
  ctx.WebErrorFlag = 0;
  result = kFetchOk;
  std::unique_ptr<HttpRequest> request = ctx.http.Create(kPrimaryProgId);
  if (!request) request = ctx.http.Create(kFallbackProgId);
  if (!request) {
    ctx.view.ShowMessage(kMessageTitle, kMsgNoRequestObject, MessageIcon::kWarning,
                         MessageButtons::kOk);
    result = kFetchNoRequestObject;
    return;
  }

  bool sent = false;
  if (request->Open("GET", url)) {
    sent = request->Send([&ctx] { return ctx.view.KeepAlive(); });
  }
  ctx.view.Yield();
  const std::string& body = request->ResponseBody();
  std::optional<int> status = sent ? request->Status() : std::nullopt;
  if (!status) {
    result = kFetchEmptyOrFailed;
    return;
  }
  if (*status < 200 || *status >= 300) {
    result = kFetchBadStatus;
    return;
  }
  if (body.empty()) {
    result = kFetchEmptyOrFailed;
    return;
  }
  // The received bytes are stored as they came, line feeds expanded: a line feed is never part
  // of a double-byte character, and a decode/encode round trip would turn bytes the code page
  // does not know (an EUC-JP page, converted only later) into "?".
  std::string err;
  if (!ctx.disk.WriteWholeFile(ctx.WebWorkFilePath(), ExpandLineFeeds(body), &err)) {
    // Scanning whatever an earlier fetch left there would report another page's links.
    result = kFetchWriteFailed;
  }
}

}  // namespace voxtrel
