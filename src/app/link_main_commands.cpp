#include "app/link_main.h"

#include <QDir>
#include <QLineEdit>
#include <QMenu>
#include <QStandardPaths>
#include <QTreeView>

#include <cstdlib>
#include <ctime>
#include <utility>

#include "app/link_kobetu.h"
#include "app/link_main_parts.h"
#include "app/notice_text.h"
#include "run/recheck.h"
#include "run/suspect_setup.h"

// The buttons and menu commands that start, stop and save a run.

namespace voxtrel {

void Link_Main::TakeSuspectRules() {
  settings_.suspect = {};
  if (!suspect_action_->isChecked()) return;
  SuspectSetup setup;
  std::string err;  // only a file named by the user can fail, and the window names none
  SetUpSuspect(disk_, UserRulesPath(std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME")), {},
               LocalDate(std::time(nullptr)), &setup, &err);
  if (!setup.problems.empty() && !shutting_down_) {
    const WindowMessage message = RulesProblemsMessage(setup.problems);
    ShowMessageBox(message.title, message.text, message.detail, message.icon, message.buttons);
  }
  settings_.suspect = std::move(setup.settings);
}

void Link_Main::Command1_Click() {
  if (shutting_down_) return;
  abort_.Lower();
  TakeSuspectRules();
  const std::string folder = Dir1Path();
  TakeIgnoreList(MendRoot(disk_, folder));
  RunSummary summary = RunFolder(RunSeams{*this, disk_, http_, results_, abort_}, settings_, folder,
                                 CheckValue(check1_) == 1);
  if (shutting_down_) return;
  KeepMendBase(folder, true, summary);
  pages_ = std::move(summary.pages);
  const RunOutcome outcome = summary.outcome;
  if (outcome == RunOutcome::kFolderRefused || outcome == RunOutcome::kNoPages) FocusOn(dir1_);
  SyncList1();
}

void Link_Main::Command2_Click() {
  if (shutting_down_) return;
  abort_.Raise();
  AbortRequested();
}

void Link_Main::Command3_Click() {
  if (shutting_down_) return;
  // Never the checked folder: a report saved there would be one of its pages next time.
  QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
  if (folder.isEmpty() || !QDir(folder).exists()) folder = QDir::homePath();
  qt_save_dialog_.SetStartFolder(folder.toStdString());
  if (SaveReport(results_, disk_, *this, *save_dialog_, &report_file_name_, report_heading_) ==
      SaveOutcome::kNothingToSave)
    FocusOn(text1_);
}

void Link_Main::KKK_Search_Click() {
  if (shutting_down_ || !f000_->menuAction()->isEnabled()) return;
  KobetuLogic dialog(single_page_);
  ShowSinglePageDialog(dialog);
  // However the dialog went away, only its buttons may choose a page.
  if (!dialog.closed()) dialog.Form_CloseBox();
  if (shutting_down_ || single_page_.mode == SinglePageMode::kNone) return;
  abort_.Lower();
  TakeSuspectRules();
  const RunSeams seams{*this, disk_, http_, results_, abort_};
  const bool crawl = CrawlChosen();
  const bool local = single_page_.mode == SinglePageMode::kLocalFile;
  const std::string target = single_page_.target;
  TakeIgnoreList(local ? MendRoot(disk_, target) : "");
  // A single page is checked as always, with the folder shown; a crawl shows its start.
  if (crawl)
    crawl_start_ = single_page_.target;
  else
    SetLabel(label1_, Dir1Path());
  RunSummary summary =
      crawl ? RunCrawl(seams, settings_, single_page_.target, CrawlBounds())
            : RunSinglePage(seams, settings_, single_page_.target, single_page_.mode);
  crawl_start_.clear();
  if (shutting_down_) return;
  // A cancelled crawl leaves the last run's list, and its heading, as they were.
  if (crawl && summary.outcome != RunOutcome::kCancelled)
    report_heading_.crawl = CrawlCountsOf(summary);
  KeepMendBase(target, local, summary);
  pages_ = std::move(summary.pages);
  SyncList1();
}

void Link_Main::Recheck_Click() {
  if (shutting_down_) return;
  abort_.Lower();
  TakeSuspectRules();
  // The rows asked again are still the rows of the run the heading tells of.
  const ReportHeading heading = report_heading_;
  RecheckFailed(RunSeams{*this, disk_, http_, results_, abort_}, settings_);
  report_heading_ = heading;
}

}  // namespace voxtrel
