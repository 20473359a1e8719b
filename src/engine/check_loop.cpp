#include "engine/check_loop.h"

#include "engine/link_scanner.h"
#include "engine/messages.h"
#include "web/web_check.h"

namespace voxtrel {
namespace {

bool AbortRequested(RunContext& ctx) {
  ctx.view.Yield();
  return ctx.AbortFlag == kAbortRequested;
}

void Commit(RunContext& ctx, const FoundLink& link, const CheckOutcome& outcome) {
  if (!IsListed(outcome, ctx.settings.show_all)) return;
  ctx.view.RowAdded(ctx.results.Add(link, ctx.FileColumn(link.page), outcome));
}

RunOutcome EndRun(RunContext& ctx, RunOutcome outcome) {
  ctx.view.Yield();
  const size_t rows = ctx.results.Count();
  ctx.view.RunFinished(outcome, rows);
  ctx.view.ShowMessage(kMessageTitle, outcome == RunOutcome::kAborted ? kMsgRunAborted : kMsgRunComplete,
                       MessageIcon::kWarning, MessageButtons::kOk);
  ctx.AbortFlag = 0;
  return outcome;
}

}  // namespace

RunOutcome CheckLinks(RunContext& ctx) {
  ctx.AbortFlag = 0;
  ctx.view.RunStarted();
  LinkScanner scanner(ctx, false);
  ScanItem item;
  while (scanner.Next(&item)) {
    const FoundLink& link = item.link;
    if (item.kind == ScanItem::Kind::kPageEnd) {
      if (AbortRequested(ctx)) return EndRun(ctx, RunOutcome::kAborted);
      continue;
    }
    if (IsScriptLink(link)) {
      CheckOutcome script;
      script.kind = CheckOutcome::Kind::kScript;
      Commit(ctx, link, script);
    } else {
      ctx.view.PageStarted(ctx.FileColumn(link.page));
      ctx.view.LinkStarted(link.target);
      std::optional<CheckOutcome> outcome = CheckWebLink(ctx, link);
      if (!outcome) {
        // Without a request object no link of this page can be checked: say so once, go on
        // with the next page.
        ctx.view.ShowMessage(kMessageTitle, kMsgNoRequestObject, MessageIcon::kWarning,
                             MessageButtons::kOk);
        scanner.SkipRestOfPage();
        continue;
      }
      Commit(ctx, link, *outcome);
      ctx.view.CountChanged(ctx.results.Count());
    }
    if (AbortRequested(ctx)) return EndRun(ctx, RunOutcome::kAborted);
  }
  return EndRun(ctx, RunOutcome::kDone);
}

}  // namespace voxtrel
