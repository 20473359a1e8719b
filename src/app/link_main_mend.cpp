#include <QAction>
#include <QCoreApplication>
#include <QGuiApplication>
#include <chrono>
#include <ctime>
#include <future>
#include <memory>
#include <set>
#include <utility>

#include "app/captions.h"
#include "app/link_main.h"
#include "app/mend_dialog.h"
#include "app/notice_text.h"
#include "run/ignore_list.h"

// Rewriting the pages of a run, undoing it, and setting links aside.

namespace voxtrel {
namespace {

class WaitCursor {
 public:
  WaitCursor() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
  ~WaitCursor() { QGuiApplication::restoreOverrideCursor(); }
  WaitCursor(const WaitCursor&) = delete;
  WaitCursor& operator=(const WaitCursor&) = delete;
};

// A thousand pages take a second or so, and far longer on a slow disk, as each is synced when
// it is replaced: the work goes to a thread of its own while the window keeps drawing itself.
// The user's input waits until it is done, so nothing else touches the pages meanwhile.
template <typename Work>
auto AwayFromTheWindow(Work work) {
  const WaitCursor wait;
  auto done = std::async(std::launch::async, std::move(work));
  while (done.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready)
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  return done.get();
}

std::string LeftAloneLines(const MendPlan& plan) {
  std::string lines;
  for (const PagePlan& page : plan.pages)
    if (!page.refused.empty()) lines += page.page + ": " + page.refused + "\n";
  return lines;
}

MendPreview PreviewOf(const MendPlan& plan) {
  MendPreview preview;
  for (const PagePlan& page : plan.pages) {
    if (!page.refused.empty() || page.new_bytes == page.old_bytes) continue;
    ++preview.pages;
    preview.links += page.edits.size();
  }
  if (preview.pages > 0) preview.diff = MendDiff(plan, DiffForm::kUtf8);
  preview.left_alone = LeftAloneLines(plan);
  return preview;
}

// `prefix` and a "page" or "page: why" line for each outcome whose page is new, or old.
std::string OutcomeLines(const MendResult& result, const char* prefix, bool is_new) {
  std::string lines;
  for (const PageOutcome& page : result.pages)
    if (page.is_new == is_new)
      lines += "\n" + page.page + (page.why.empty() ? "" : ": " + page.why);
  return lines.empty() ? lines : prefix + lines;
}

size_t CountOf(const MendResult& result, bool is_new) {
  size_t count = 0;
  for (const PageOutcome& page : result.pages) count += page.is_new == is_new;
  return count;
}

}  // namespace

void Link_Main::TakeIgnoreList(const std::string& root) {
  settings_.ignored = nullptr;
  if (root.empty()) return;
  auto list = std::make_shared<IgnoreList>();
  std::string why;
  if (!ReadIgnoreFile(disk_, JoinPath(root, kIgnoreFileName), list.get(), &why)) {
    if (!shutting_down_)
      ShowMessageBox(kMessageTitle, kIgnoreUnreadText, why, MessageIcon::kWarning,
                     MessageButtons::kOk);
    return;
  }
  if (list->empty()) return;
  settings_.ignored = [list](const std::string& address) { return list->Matches(address); };
}

void Link_Main::KeepMendBase(const std::string& target, bool local, RunSummary& summary) {
  // A run that did not start left the last run's rows, and what they stand on, as they were.
  if (summary.outcome != RunOutcome::kDone && summary.outcome != RunOutcome::kAborted) return;
  mend_base_ = {};
  if (!local) return;
  mend_base_.root = MendRoot(disk_, target);
  mend_base_.stamps = std::move(summary.page_stamps);
}

void Link_Main::SyncMendMenu() {
  const bool local = !mend_base_.root.empty();
  mend_moved_action_->setEnabled(local);
  mend_archived_action_->setEnabled(local);
}

bool Link_Main::AskMend(const MendPreview& preview) {
  MendDialog dialog(preview, this);
  return dialog.exec() == QDialog::Accepted && !shutting_down_;
}

void Link_Main::MendRows(const std::vector<size_t>& rows, MendKind kind) {
  if (shutting_down_ || mend_base_.root.empty()) return;
  std::vector<ResultRow> picked;
  for (size_t row : rows) picked.push_back(results_.Row(row));
  const std::vector<Mend> mends =
      rows.empty() ? MendsOf(results_.Rows(), kind) : MendsOf(picked, kind);
  if (mends.empty()) {
    ShowMessageBox(kMessageTitle, kMendNothingText, "", MessageIcon::kInformation,
                   MessageButtons::kOk);
    return;
  }
  const MendPlan plan = AwayFromTheWindow(
      [this, &mends] { return PlanMends(disk_, mend_base_.root, mends, mend_base_.stamps); });
  const MendPreview preview = PreviewOf(plan);
  if (preview.pages == 0) {
    ShowMessageBox(kMessageTitle, kMendNonePossibleText, preview.left_alone, MessageIcon::kWarning,
                   MessageButtons::kOk);
    return;
  }
  if (!AskMend(preview)) return;
  const MendResult result = AwayFromTheWindow(
      [this, &plan] { return ApplyMends(disk_, plan, BackupFolderName(std::time(nullptr))); });
  std::string text = std::to_string(CountOf(result, true)) + kMendDoneText;
  if (!result.backup.empty()) text += "\r\r" + (kMendBackupPrefix + result.backup);
  ShowMessageBox(kMessageTitle, text, OutcomeLines(result, kMendNotWrittenPrefix, false),
                 MessageIcon::kInformation, MessageButtons::kOk);
}

void Link_Main::UndoMends_Click() {
  if (shutting_down_) return;
  const std::string root = mend_base_.root.empty() ? MendRoot(disk_, Dir1Path()) : mend_base_.root;
  if (ShowMessageBox(kMessageTitle, kUndoQuestion, root, MessageIcon::kQuestion,
                     MessageButtons::kOkCancel) != MessageAnswer::kOk)
    return;
  const MendResult result = AwayFromTheWindow([this, &root] { return UndoLastMends(disk_, root); });
  if (result.pages.empty()) {
    ShowMessageBox(kMessageTitle, kUndoNothingText, root, MessageIcon::kInformation,
                   MessageButtons::kOk);
    return;
  }
  // An undone page holds its old bytes again: is_new stays for the pages left as they were.
  std::string detail = OutcomeLines(result, kUndoPutBackPrefix, false);
  const std::string left = OutcomeLines(result, kUndoLeftPrefix, true);
  if (!left.empty()) detail += (detail.empty() ? "" : "\n") + left;
  ShowMessageBox(kMessageTitle, std::to_string(CountOf(result, false)) + kUndoDoneText, detail,
                 left.empty() ? MessageIcon::kInformation : MessageIcon::kWarning,
                 MessageButtons::kOk);
}

void Link_Main::IgnoreRows(const std::vector<size_t>& rows) {
  if (shutting_down_ || mend_base_.root.empty() || rows.empty()) return;
  const std::string path = JoinPath(mend_base_.root, kIgnoreFileName);
  IgnoreList listed;
  std::string why;
  ReadIgnoreFile(disk_, path, &listed, &why);  // unreadable: the write below says why
  std::set<std::string> addresses;
  for (size_t row : rows) {
    const std::string address = AddressOf(results_.Row(row).link);
    if (!addresses.insert(address).second || listed.Matches(address)) continue;
    if (!AddToIgnoreFile(disk_, path, address, &why)) {
      ShowMessageBox(kMessageTitle, kIgnoreFailedText + path, why, MessageIcon::kWarning,
                     MessageButtons::kOk);
      return;
    }
  }
  // The rows of a link set aside go, as the next run would leave them out.
  std::vector<ResultRow> kept;
  for (const ResultRow& row : results_.Rows())
    if (!addresses.count(AddressOf(row.link))) kept.push_back(row);
  results_.Restore(kept);
  ShowMessageBox(kMessageTitle, kIgnoreWrittenText, path, MessageIcon::kInformation,
                 MessageButtons::kOk);
}

}  // namespace voxtrel
