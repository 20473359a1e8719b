#include "run/single_page.h"

#include "engine/check_loop.h"
#include "platform/cp932.h"
#include "run/find_html_files.h"
#include "run/run_control.h"
#include "web/web_check.h"

namespace voxtrel {

bool IsLocalPagePath(const std::string& text) { return !text.empty() && text.front() == '/'; }

void KobetuLogic::Form_Load(KobetuView& view) {
  closed_ = false;
  view.SetText1(kNoTarget);
  if (ctx_.SinglePageTarget.empty()) ctx_.SinglePageTarget = kNoTarget;
  view.SetText1(ctx_.SinglePageTarget);
}

void KobetuLogic::Text1_GotFocus(KobetuView& view) { view.SelectAllText1(); }

void KobetuLogic::Text1_KeyDown(KobetuView& view, int key_code, int /*shift*/) {
  if (key_code == kKeyEnter) Command1_Click(view, 0);
}

void KobetuLogic::Command2_Click(KobetuView& view) {
  std::optional<std::string> chosen = view.ShowOpenDialog(kKobetuOpenFilter);
  if (chosen) view.SetText1(*chosen);
}

void KobetuLogic::Command1_Click(KobetuView& view, int index) {
  if (ctx_.SinglePageTarget.empty()) ctx_.SinglePageTarget = kNoTarget;
  if (index == 1) {
    ctx_.SinglePageMode = kModeNone;
    Close(view);
    return;
  }
  if (index != 0) return;

  const std::string text = TrimBlanks(view.Text1());
  view.SetText1(text);
  if (text.empty() || text == kNoTarget) {
    RejectInput(view);
    return;
  }
  if (!IsHtmlFileName(text)) {
    RejectInput(view);
    return;
  }
  ctx_.SinglePageTarget = text;
  if (text.compare(0, 7, "http://") == 0) {
    ctx_.SinglePageMode = kModeWebPage;
    Close(view);
  } else if (IsLocalPagePath(text)) {
    ctx_.SinglePageMode = kModeLocalFile;
    Close(view);
  } else {
    // The rejected text stays the target so the dialog offers it again next time.
    RejectInput(view);
    ctx_.SinglePageMode = kModeNone;
  }
}

void KobetuLogic::Form_CloseBox() {
  // Leaving by the close box is a cancel; otherwise an earlier target would be checked again.
  if (!closed_) ctx_.SinglePageMode = kModeNone;
  closed_ = true;
}

void KobetuLogic::Close(KobetuView& view) {
  closed_ = true;
  view.CloseDialog();
}

void KobetuLogic::RejectInput(KobetuView& view) {
  view.ShowMessage(kMessageTitle, kSpecifyHtmlMessage, MessageIcon::kWarning, MessageButtons::kOk);
  view.FocusText1();
}

void KKK_Search_Click(RunContext& ctx, MainView& view) {
  RunView& ui = ctx.view;
  KobetuLogic dialog(ctx);
  view.ShowSinglePageDialog(dialog);
  // However the dialog went away, only its buttons may choose a page.
  if (!dialog.closed()) dialog.Form_CloseBox();
  if (ctx.SinglePageMode == kModeNone) return;

  ctx.AbortFlag = 0;
  ctx.List1.clear();
  const MessageAnswer answer = ui.ShowMessage(kMessageTitle, StartConfirmationText(1),
                                              MessageIcon::kQuestion, MessageButtons::kOkCancel);
  if (answer == MessageAnswer::kCancel) {
    ctx.List1.clear();
    ctx.SinglePageMode = kModeNone;
    return;
  }

  ui.SetVisible(Control::kCommand3, false);
  ctx.results.Clear();
  ui.SetMenuEnabled(false);
  if (ctx.SinglePageMode == kModeLocalFile) {
    ctx.List1.push_back(ctx.SinglePageTarget);
  } else {
    ctx.List1.clear();
    ctx.List1.push_back(ctx.WebWorkFilePath());
    ctx.LinkUrl = ctx.SinglePageTarget;
    int16_t result = 0;
    FetchWebPage(ctx, result);
    if (result > 10) {
      ui.SetCaption(Control::kLabel3, ctx.SinglePageTarget);
      ui.SetBusyCursor(false);
      ui.ShowMessage(kMessageTitle, kFetchFailedMessage, MessageIcon::kWarning,
                     MessageButtons::kOk);
      ui.SetMenuEnabled(true);
      ctx.SinglePageMode = kModeNone;
      return;
    }
  }
  CheckLinks(ctx);
  ui.SetBusyCursor(false);
  ui.SetMenuEnabled(true);
}

}  // namespace voxtrel
