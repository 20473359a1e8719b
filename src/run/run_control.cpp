#include "run/run_control.h"

#include "engine/check_loop.h"
#include "platform/cp932.h"
#include "run/find_html_files.h"

namespace voxtrel {

std::string StartConfirmationText(size_t file_count) {
  return "HTMLﾌｧｲﾙ数： " + std::to_string(file_count) + "     \r\rVoxtrelを開始しますか？   ";
}

bool IsCheckableFolder(const std::string& dir1_path) {
  const std::string trimmed = TrimBlanks(dir1_path);
  // "/" is the counterpart of a drive root; anything shorter than four characters is refused
  // as the drive root was.
  return Utf8Length(trimmed) >= 4 && trimmed != "/";
}

void Command1_Click(RunContext& ctx, MainView& view) {
  RunView& ui = ctx.view;
  ctx.List1.clear();
  ui.SetCaption(Control::kLabel2, "");
  ui.SetCaption(Control::kLabel3, "");
  ui.SetVisible(Control::kLabel4, false);
  ui.SetVisible(Control::kLabel5, false);
  ctx.SinglePageMode = kModeNone;

  const std::string folder = view.Dir1Path();
  if (!IsCheckableFolder(folder)) {
    ui.ShowMessage(kMessageTitle, kSelectFolderMessage, MessageIcon::kWarning, MessageButtons::kOk);
    ui.SetFocus(Control::kDir1);
    return;
  }

  ui.SetCaption(Control::kLabel4, kSearchingHtmlCaption);
  ui.SetVisible(Control::kLabel4, true);
  ui.Repaint(Control::kLabel4);
  ui.SetCaption(Control::kLabel8, "");
  ui.SetTextColor(Control::kLabel8, LabelColor::kButtonText);
  ui.SetBusyCursor(true);
  FindHtmlFiles(ctx, folder, view.Check1Value());
  // The walk does not yield; this lets the window show its last progress text.
  ui.Yield();
  ui.SetBusyCursor(false);
  ui.SetCaption(Control::kLabel8, "");
  ui.SetTextColor(Control::kLabel8, LabelColor::kPureBlue);

  const size_t count = ctx.List1.size();
  ui.SetCaption(Control::kLabel2, kFileCountPrefix + std::to_string(count));
  if (count < 1) {
    ui.SetVisible(Control::kLabel4, false);
    ui.ShowMessage(kMessageTitle, kNoHtmlFilesMessage, MessageIcon::kWarning, MessageButtons::kOk);
    ui.SetFocus(Control::kDir1);
    return;
  }

  const MessageAnswer answer = ui.ShowMessage(kMessageTitle, StartConfirmationText(count),
                                              MessageIcon::kQuestion, MessageButtons::kOkCancel);
  ui.SetVisible(Control::kLabel4, false);
  if (answer == MessageAnswer::kCancel) return;

  ctx.results.Clear();
  ui.SetVisible(Control::kCommand3, false);
  ui.SetCaption(Control::kLabel4, kSearchingCaption);
  ui.SetVisible(Control::kLabel4, true);
  ui.Repaint(Control::kLabel4);
  ui.SetMenuEnabled(false);
  ctx.AbortFlag = 0;
  CheckLinks(ctx);
  ui.SetMenuEnabled(true);
}

void Command2_Click(RunContext& ctx) {
  ctx.AbortFlag = kAbortRequested;
  ctx.view.SetCaption(Control::kLabel5, kAbortingCaption);
  ctx.view.SetVisible(Control::kLabel5, true);
}

}  // namespace voxtrel
