#include "app/link_main.h"

#include <QApplication>
#include <QCheckBox>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>

#include <algorithm>
#include <climits>
#include <utility>
#include <variant>

#include "app/captions.h"
#include "app/link_main_parts.h"
#include "app/result_model.h"

// What a run tells the window (RunView), shown on its controls a few times a second.

namespace voxtrel {

void Link_Main::SetLabel(QLabel* label, const std::string& text) {
  if (shutting_down_) return;
  label->setText(QString::fromStdString(text));
  if (label == label2_ || label == label7_) PlaceControls();
}

void Link_Main::SetShown(QWidget* widget, bool visible) {
  if (!shutting_down_) widget->setVisible(visible);
}

void Link_Main::RepaintNow(QWidget* widget) {
  if (!shutting_down_ && widget->isVisible()) widget->repaint();
}

void Link_Main::SetLabelColor(QLabel* label, bool pure_blue) {
  if (shutting_down_) return;
  QPalette palette = label->palette();
  palette.setColor(QPalette::WindowText, pure_blue
                                             ? QColor(0, 0, 255)
                                             : QApplication::palette().color(QPalette::ButtonText));
  label->setPalette(palette);
}

void Link_Main::SetMenuEnabled(bool enabled) {
  if (shutting_down_) return;
  for (QMenu* menu : {f000_, options_menu_}) {
    menu->menuAction()->setEnabled(enabled);
    menu->setEnabled(enabled);
  }
}

void Link_Main::SetBusyCursor(bool busy) {
  if (shutting_down_ || busy == busy_) return;
  busy_ = busy;
  if (busy)
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
  else
    QGuiApplication::restoreOverrideCursor();
}

void Link_Main::FocusOn(QWidget* widget) {
  if (!shutting_down_ && widget->isVisible()) widget->setFocus(Qt::OtherFocusReason);
}

void Link_Main::FolderRunRequested() {
  SetLabel(label1_, Dir1Path());
  SetLabel(label2_, "");
  SetLabel(label3_, "");
  SetShown(label4_, false);
  SetShown(label5_, false);
}

void Link_Main::SearchStarted() {
  SetLabel(label4_, kSearchingHtmlCaption);
  SetShown(label4_, true);
  RepaintNow(label4_);
  SetLabel(label8_, "");
  SetLabelColor(label8_, false);
  SetBusyCursor(true);
}

void Link_Main::SearchProgress(const std::string& text) { SetLabel(label8_, text); }

void Link_Main::SearchFinished(size_t pages) {
  SetBusyCursor(false);
  SetLabel(label8_, "");
  SetLabelColor(label8_, true);
  SetLabel(label2_, kFileCountPrefix + std::to_string(pages));
}

void Link_Main::SearchClosed() { SetShown(label4_, false); }

void Link_Main::RunPreparing(bool folder_run) {
  run_prepared_ = true;
  // A crawl checks no folder: its labels tell where it began and how many pages it found.
  if (!crawl_start_.empty()) {
    SetLabel(label1_, crawl_start_);
    SetLabel(label2_, kFileCountPrefix + std::string("0"));
  }
  RunRequest request{folder_run && CheckValue(check1_) == 1, timeout_s_ * 1000L, std::nullopt};
  if (!folder_run && CrawlChosen()) request.crawl = CrawlBounds();
  report_heading_ =
      HeadingForRun(folder_run ? Dir1Path() : single_page_.target, settings_, request);
  SetShown(command3_, false);
  if (folder_run) {
    SetLabel(label4_, kLabel4Caption);
    SetShown(label4_, true);
    RepaintNow(label4_);
  }
  SetMenuEnabled(false);
}

void Link_Main::RunStarted(size_t /*pages*/) {
  SetShown(label4_, true);
  RepaintNow(label4_);
  SetShown(label5_, false);
  SetShown(command2_, true);
  SetShown(command1_, false);
  SetShown(command3_, false);
  SetBusyCursor(true);
  next_page_.clear();
  next_link_.clear();
  row_count_told_ = false;
  run_on_show_ = true;
  progress_ = RunProgress();
  waiting_for_.clear();
  if (!shutting_down_) {
    progress_bar_->setRange(0, 1);
    progress_bar_->setValue(0);
    progress_bar_->setFormat(QString());
    progress_bar_->setVisible(true);
    PlaceControls();
  }
  // The first word of the run shows at once.
  shown_clock_.invalidate();
}

void Link_Main::PageStarted(const std::string& file_column) { next_page_ = file_column; }

void Link_Main::LinkStarted(const std::string& target) { next_link_ = target; }

void Link_Main::RowAdded(const ResultRow& /*row*/) {}

// A re-check announces only the rows it waits for; the labels end on the last row it asked.
void Link_Main::RowUpdated(const ResultRow& row) { next_page_ = row.link.page; }

void Link_Main::CountChanged(size_t rows) {
  row_count_ = rows;
  row_count_told_ = true;
}

void Link_Main::Progress(const RunProgress& progress) {
  progress_ = progress;
  waiting_for_.assign(progress.waiting_for);
  progress_.waiting_for = {};
  ShowRunIfDue();
}

void Link_Main::ShowRunIfDue() {
  // A few times a second is as often as anyone reads a count.
  constexpr qint64 kShowEveryMs = 200;
  if (!run_on_show_) return;
  if (shown_clock_.isValid() && shown_clock_.elapsed() < kShowEveryMs) return;
  ShowRun();
}

void Link_Main::ShowRun() {
  shown_clock_.start();
  if (shutting_down_) return;
  result_model_->ShowNewRows();
  if (!next_page_.empty() && label3_->text().toStdString() != next_page_)
    SetLabel(label3_, next_page_);
  std::string status;
  // A link that keeps the next row waiting says for how long, once that is worth saying.
  if (!waiting_for_.empty() && progress_.waiting_ms >= 1000)
    status = kConnectingPrefix + waiting_for_ + kWaitedOpen +
             std::to_string(progress_.waiting_ms / 1000) + kWaitedClose;
  else if (!next_link_.empty())
    status = kConnectingPrefix + next_link_;
  if (!status.empty()) label8_->setText(QString::fromStdString(status));
  if (!crawl_start_.empty())
    SetLabel(label2_, kFileCountPrefix + std::to_string(progress_.pages_found));
  if (row_count_told_) {
    const QString count = QString::number(row_count_) + QString::fromUtf8(kItemsSuffix);
    if (label7_->text() != count) SetLabel(label7_, count.toStdString());
  }
  if (progress_.pages_found > 0) {
    // Pages fill the bar; a run of one page fills it by its links instead.
    const bool by_links = progress_.pages_found == 1 && progress_.links_found > 0;
    const size_t done = by_links ? progress_.links_answered : progress_.pages_done;
    const size_t all = by_links ? progress_.links_found : progress_.pages_found;
    progress_bar_->setRange(0, static_cast<int>(std::min<size_t>(all, INT_MAX)));
    progress_bar_->setValue(static_cast<int>(std::min(done, all)));
    progress_bar_->setFormat(QString::fromUtf8(kProgressFormat)
                                 .arg(progress_.pages_done)
                                 .arg(progress_.pages_found)
                                 .arg(progress_.links_answered)
                                 .arg(progress_.links_found));
  }
}

void Link_Main::TakeInput() {
  // Often enough that a click is answered at once, seldom enough to cost nothing per row.
  constexpr qint64 kInputEveryMs = 15;
  if (input_clock_.isValid() && input_clock_.elapsed() < kInputEveryMs) return;
  input_clock_.start();
  SyncList1();
  QCoreApplication::processEvents();
}

void Link_Main::AbortRequested() {
  SetLabel(label5_, kAbortingCaption);
  SetShown(label5_, true);
}

void Link_Main::RunFinished(RunOutcome /*outcome*/, size_t rows) {
  if (run_on_show_) ShowRun();
  run_on_show_ = false;
  SetLabel(label7_, std::to_string(rows) + kItemsSuffix);
  SetBusyCursor(false);
  SetShown(label4_, false);
  SetLabel(label5_, kLabel5Caption);
  SetLabel(label8_, "");
  SetShown(command2_, false);
  SetShown(command1_, true);
  if (!shutting_down_ && progress_bar_->isVisible()) {
    progress_bar_->setVisible(false);
    PlaceControls();
  }
}

void Link_Main::RunClosed(RunOutcome outcome, size_t rows) {
  // A run that cleared the list and then could not start leaves no count of the old rows.
  if (run_prepared_) SetLabel(label7_, std::to_string(rows) + kItemsSuffix);
  run_prepared_ = false;
  if (outcome == RunOutcome::kDone || outcome == RunOutcome::kAborted) {
    SetShown(command3_, rows > 0);
    SetShown(label5_, false);
  }
  SetBusyCursor(false);
  SetMenuEnabled(true);
}

void Link_Main::Yield() {
  // Once the shutdown has begun no handler of the window may run again.
  if (shutting_down_) return;
  ShowRunIfDue();
  TakeInput();
}

bool Link_Main::KeepAlive() {
  if (shutting_down_) return false;
  ShowRunIfDue();
  TakeInput();
  return !shutting_down_;
}

MessageAnswer Link_Main::Notify(const Notice& notice) {
  if (shutting_down_) return MessageAnswer::kCancel;
  WindowMessage message = WindowMessageFor(notice);
  return ShowMessageBox(message.title, message.text, message.detail, message.icon, message.buttons);
}

MessageAnswer Link_Main::ShowMessage(const std::string& title, const std::string& text,
                                     MessageIcon icon, MessageButtons buttons) {
  if (shutting_down_) return MessageAnswer::kCancel;
  return ShowMessageBox(title, text, "", icon, buttons);
}

void Link_Main::SyncList1() {
  if (static_cast<size_t>(list1_->count()) == pages_.size()) return;
  list1_->clear();
  for (const std::string& path : pages_) list1_->addItem(QString::fromStdString(path));
}

}  // namespace voxtrel
