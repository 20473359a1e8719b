#include <memory>
#include <optional>

#include "platform/cp932.h"
#include "platform/text.h"
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

std::optional<CheckOutcome> CheckWebLink(RunContext& ctx, const FoundLink& link) {
  std::unique_ptr<HttpRequest> request = ctx.http.Create(kPrimaryProgId);
  if (!request) request = ctx.http.Create(kFallbackProgId);
  if (!request) return std::nullopt;

  bool sent = false;
  if (request->Open("GET", link.target)) {
    // The wait lets the window repaint and take the abort click; the abort itself is only
    // looked at by the check loop, after this link.
    sent = request->Send([&ctx] { return ctx.view.KeepAlive(); });
  }
  ctx.view.Yield();
  CheckOutcome outcome;
  outcome.status = sent ? request->Status() : std::nullopt;
  if (!outcome.status) {
    outcome.reason = FailureReason::kOther;
  } else if (*outcome.status < 200 || *outcome.status >= 300) {
    outcome.reason = FailureReason::kHttpStatus;
  } else {
    // Only a listed answer needs its text, for the refresh test; a body can be megabytes.
    const bool refresh =
        ctx.settings.show_all && IsRefreshPage(Cp932ToUtf8(request->ResponseBody()));
    outcome.kind = refresh ? CheckOutcome::Kind::kRefresh : CheckOutcome::Kind::kAnswered;
  }
  return outcome;
}

}  // namespace voxtrel
