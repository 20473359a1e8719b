#include <memory>
#include <optional>

#include "engine/messages.h"
#include "platform/cp932.h"
#include "web/web_check.h"

namespace voxtrel {
namespace {

// "REFRESH", a double quote and " CONTENT=": the usual meta refresh declaration.
constexpr std::string_view kRefreshText = "REFRESH\" CONTENT=";
// A match in the first ten characters does not count.
constexpr size_t kRefreshFirstPosition = 11;

}  // namespace

bool IsRefreshPage(std::string_view page_text) {
  std::string upper = AsciiUpper(page_text);
  size_t found = upper.find(kRefreshText);
  if (found == std::string::npos) return false;
  return Utf8Length(page_text.substr(0, found)) + 1 >= kRefreshFirstPosition;
}

void CheckWebLink(RunContext& ctx, const std::string& page) {
  const std::string url = ctx.LinkUrl;
  ctx.WebErrorFlag = 0;
  std::unique_ptr<HttpRequest> request = ctx.http.Create(kPrimaryProgId);
  if (!request) request = ctx.http.Create(kFallbackProgId);
  if (!request) {
    ctx.view.ShowMessage(kMessageTitle, kMsgNoRequestObject, MessageIcon::kWarning,
                         MessageButtons::kOk);
    ctx.WebErrorFlag = kWebError;
    ctx.view.SetBusyCursor(false);
    return;
  }

  bool sent = false;
  if (request->Open("GET", url)) {
    // The wait lets the window repaint and take the abort click; the abort itself is only
    // looked at by the check loop, after this link.
    sent = request->Send([&ctx] { return ctx.view.KeepAlive(); });
  }
  ctx.view.Yield();
  std::optional<int> status = sent ? request->Status() : std::nullopt;
  bool answered = status && *status >= 200 && *status < 300;

  bool row_added = false;
  const std::string& file = ctx.SinglePageMode == kModeWebPage ? ctx.SinglePageTarget : page;
  if (answered) {
    if (ctx.Check2 == 1) {
      // Only a listed answer needs its text, for the refresh test; a body can be megabytes.
      std::string page_text = Cp932ToUtf8(request->ResponseBody());
      ++ctx.RowNo;
      ctx.results.AddRow(RowNumberText(ctx.RowNo),
                         IsRefreshPage(page_text) ? kMarkRefresh : kMarkOk, url, ctx.LinkName,
                         file);
      row_added = true;
    }
  } else {
    ++ctx.RowNo;
    ctx.results.AddRow(RowNumberText(ctx.RowNo), kMarkFailed, url, ctx.LinkName, file);
    row_added = true;
  }
  if (row_added) ctx.view.RefreshResults();
  ctx.view.SetCaption(Control::kLabel7, std::to_string(ctx.results.Count()) + kItemsSuffix);
  ctx.view.Repaint(Control::kLabel7);
}

}  // namespace voxtrel
