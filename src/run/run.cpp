#include "run/run.h"

#include "engine/check_loop.h"
#include "engine/messages.h"
#include "engine/text_utils.h"
#include "platform/text.h"
#include "run/find_html_files.h"
#include "web/web_check.h"

namespace voxtrel {
namespace {

bool Confirmed(RunContext& ctx, size_t pages) {
  return ctx.view.ShowMessage(kMessageTitle, StartConfirmationText(pages), MessageIcon::kQuestion,
                              MessageButtons::kOkCancel) == MessageAnswer::kOk;
}

RunOutcome Refuse(RunContext& ctx, RunOutcome outcome, const char* message) {
  ctx.view.ShowMessage(kMessageTitle, message, MessageIcon::kWarning, MessageButtons::kOk);
  ctx.view.RunClosed(outcome, ctx.results.Count());
  return outcome;
}

RunOutcome Check(RunContext& ctx) {
  const RunOutcome outcome = CheckLinks(ctx);
  ctx.view.RunClosed(outcome, ctx.results.Count());
  return outcome;
}

}  // namespace

std::string StartConfirmationText(size_t file_count) {
  return "HTMLﾌｧｲﾙ数： " + std::to_string(file_count) + "     \r\rVoxtrelを開始しますか？   ";
}

bool IsCheckableFolder(const std::string& folder) {
  const std::string_view trimmed = TrimBlanks(folder);
  // "/" is the counterpart of a drive root; anything shorter than four characters is refused
  // as the drive root was.
  return Utf8Length(trimmed) >= 4 && trimmed != "/";
}

RunOutcome RunFolder(RunContext& ctx, const std::string& folder, bool include_subfolders) {
  RunView& view = ctx.view;
  ctx.pages.clear();
  ctx.SinglePageMode = kModeNone;
  view.FolderRunRequested();
  if (!IsCheckableFolder(folder)) return Refuse(ctx, RunOutcome::kFolderRefused, kSelectFolderMessage);

  view.SearchStarted();
  FindHtmlFiles(
      ctx.disk, folder, include_subfolders,
      [&ctx](const std::string& path) { ctx.pages.push_back(path); },
      [&view](const std::string& text) { view.SearchProgress(text); });
  // The walk does not yield; this lets the window show its last progress text.
  view.Yield();
  const size_t count = ctx.pages.size();
  view.SearchFinished(count);
  if (count < 1) {
    view.SearchClosed();
    return Refuse(ctx, RunOutcome::kNoPages, kNoHtmlFilesMessage);
  }
  const bool go = Confirmed(ctx, count);
  view.SearchClosed();
  if (!go) {
    view.RunClosed(RunOutcome::kCancelled, ctx.results.Count());
    return RunOutcome::kCancelled;
  }
  ctx.results.Clear();
  view.RunPreparing(true);
  return Check(ctx);
}

std::optional<int16_t> SinglePageModeFor(const std::string& target) {
  if (target.empty() || target == kNoTarget || !IsHtmlFileName(target)) return std::nullopt;
  if (target.compare(0, 7, "http://") == 0 || target.compare(0, 8, "https://") == 0)
    return kModeWebPage;
  if (target.front() == '/') return kModeLocalFile;
  return std::nullopt;
}

RunOutcome RunSinglePage(RunContext& ctx, const std::string& target, CheckOutcome* fetch_answer) {
  const bool web = StartsWithNoCase(target, "HTTP://") || StartsWithNoCase(target, "HTTPS://");
  ctx.SinglePageTarget = target;
  ctx.SinglePageMode = web ? kModeWebPage : kModeLocalFile;
  ctx.AbortFlag = 0;
  ctx.pages.clear();
  if (!Confirmed(ctx, 1)) {
    ctx.SinglePageMode = kModeNone;
    ctx.view.RunClosed(RunOutcome::kCancelled, ctx.results.Count());
    return RunOutcome::kCancelled;
  }
  ctx.results.Clear();
  ctx.view.RunPreparing(false);
  if (!web) {
    ctx.pages.push_back(target);
    return Check(ctx);
  }
  ctx.pages.push_back(ctx.WebWorkFilePath());
  const FetchResult fetched = FetchWebPage(ctx, target);
  if (fetched.kind == FetchResult::Kind::kOk) return Check(ctx);
  if (fetch_answer) *fetch_answer = fetched.answer;
  if (fetched.kind == FetchResult::Kind::kNoRequestObject) {
    ctx.view.ShowMessage(kMessageTitle, kMsgNoRequestObject, MessageIcon::kWarning,
                         MessageButtons::kOk);
  }
  ctx.view.PageStarted(target);
  ctx.SinglePageMode = kModeNone;
  return Refuse(ctx, RunOutcome::kTargetUnreadable, kFetchFailedMessage);
}

void RequestAbort(RunContext& ctx) {
  ctx.AbortFlag = kAbortRequested;
  ctx.view.AbortRequested();
}

SaveOutcome SaveReport(RunContext& ctx, SaveDialog& dialog, std::string* last_name) {
  if (ctx.results.Count() == 0) return SaveOutcome::kNothingToSave;
  const std::string_view remembered = TrimBlanks(*last_name);
  const std::string proposed = remembered.empty() ? kDefaultReportName : std::string(remembered);
  int filter = 0;
  const std::optional<std::string> chosen = dialog.ShowSave(proposed, kReportFilter, &filter);
  if (!chosen) return SaveOutcome::kCancelled;

  const std::string& path = *chosen;
  *last_name = std::string(TrimBlanks(path));
  if (FileExists(ctx.disk, path) &&
      ctx.view.ShowMessage(kSaveReportTitle, OverwriteQuestionText(path), MessageIcon::kQuestion,
                           MessageButtons::kOkCancel) == MessageAnswer::kCancel)
    return SaveOutcome::kCancelled;

  std::string err;
  ReportFormat format = ReportFormatForName(path);
  if (filter == kUtf8CsvFilterIndex) format.encoding = ReportEncoding::kUtf8;
  if (!WriteReport(ctx.disk, ctx.results.Rows(), path, format, &err)) {
    ctx.view.ShowMessage(kMessageTitle, SaveErrorText(err), MessageIcon::kWarning,
                         MessageButtons::kOk);
    return SaveOutcome::kFailed;
  }
  return SaveOutcome::kSaved;
}

bool SaveReport(RunContext& ctx, const std::string& path, const ReportFormat& format,
                std::string* err) {
  return WriteReport(ctx.disk, ctx.results.Rows(), path, format, err);
}

}  // namespace voxtrel
