#include "app/link_main.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QShowEvent>
#include <QStandardPaths>
#include <QTimer>
#include <QTreeView>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "app/captions.h"
#include "app/instance_lock.h"
#include "app/layout.h"
#include "app/link_kobetu.h"
#include "app/link_main_parts.h"
#include "app/result_model.h"
#include "run/recheck.h"
#include "version.h"
#include "web/link.h"

namespace voxtrel {
namespace {

// Work files that versions before pages were read in memory left in the program folder.
constexpr const char* kWebWorkFile = "WEB_Dummy.htm";
constexpr const char* kScanWorkFile = "Dummy_File_PC.htm";

QMessageBox::Icon ToQtIcon(MessageIcon icon) {
  switch (icon) {
    case MessageIcon::kQuestion: return QMessageBox::Question;
    case MessageIcon::kInformation: return QMessageBox::Information;
    case MessageIcon::kWarning: break;
  }
  return QMessageBox::Warning;
}

}  // namespace

QString QtFileFilter(const std::string& filter) {
  const QStringList parts = QString::fromStdString(filter).split(QLatin1Char('|'));
  QStringList entries;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    const QString& description = parts[i];
    QString patterns = parts[i + 1];
    patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
    // QFileDialog takes the patterns from the last parentheses of an entry.
    if (description.endsWith(QLatin1Char('(') + parts[i + 1] + QLatin1Char(')')))
      entries.append(description);
    else
      entries.append(description + QStringLiteral(" (") + patterns + QLatin1Char(')'));
  }
  return entries.join(QStringLiteral(";;"));
}

QString VersionTitle(int major, int minor, int patch) {
  return QString::fromUtf8(kTitlePrefix) + QString::number(major) + QLatin1Char('.') +
         QString::number(minor) + QString::number(patch) + QString(17, QLatin1Char(' ')) +
         QString::fromUtf8(kTitleNotice);
}

std::optional<std::string> QtSaveDialog::ShowSave(const std::string& proposed_name,
                                                   const std::string& filter, int* chosen_filter) {
  const QString filters = QtFileFilter(filter);
  // A bare name opens in the start folder; a remembered path keeps its own folder.
  QString proposed = QString::fromStdString(proposed_name);
  if (!proposed.contains(QLatin1Char('/')) && !start_folder_.empty())
    proposed = QDir(QString::fromStdString(start_folder_)).filePath(proposed);
  QString selected;
  // The overwrite question belongs to the save command, so the dialog must not ask it too.
  const QString chosen = QFileDialog::getSaveFileName(parent_, QString(), proposed, filters,
                                                      &selected, QFileDialog::DontConfirmOverwrite);
  if (chosen.isEmpty()) return std::nullopt;
  *chosen_filter = static_cast<int>(filters.split(QStringLiteral(";;")).indexOf(selected));
  return chosen.toStdString();
}

Link_Main::Link_Main(std::string program_folder, DiskInterface& disk, HttpPool& http,
                     QWidget* parent)
    : QMainWindow(parent),
      program_folder_(std::move(program_folder)),
      disk_(disk),
      http_(http),
      qt_save_dialog_(this),
      save_dialog_(&qt_save_dialog_) {
  setObjectName(QStringLiteral("Link_Main"));
  setWindowTitle(QString::fromUtf8(kDesignTitle));
  BuildControls();
  BuildMenu();
  Form_Load();
}

Link_Main::~Link_Main() {
  if (busy_) QGuiApplication::restoreOverrideCursor();
  // The widgets outlive this class's members by a little; none may read the rows meanwhile.
  hide();
  list_view1_->setModel(nullptr);
  delete result_model_;
  result_model_ = nullptr;
}

void Link_Main::Form_Load() {
  // Step 1, the single-instance check, has been made by the caller before the window exists.
  setWindowTitle(VersionTitle(kVersionMajor, kVersionMinor, kVersionPatch));
  label4_->setVisible(false);
  label5_->setVisible(false);
  for (QLabel* label : {label1_, label2_, label3_, label7_, label8_}) label->setText(QString());
  command2_->setVisible(false);
  command3_->setVisible(false);
  check1_->setCheckState(Qt::Checked);
  check2_->setCheckState(Qt::Checked);
  settings_.show_all = true;
  report_file_name_.clear();
  single_page_ = SinglePageChoice();

  results_.Clear();

  // The start folder is the process's current folder, on its drive.
  drives_ = MountedDrives();
  {
    const QSignalBlocker block(drive1_);
    drive1_->clear();
    for (const Drive& drive : drives_) drive1_->addItem(drive.text);
  }
  const QString start = QDir::currentPath();
  const int start_drive = std::max(0, DriveIndexOfPath(drives_, start));
  drive_folders_[drives_[start_drive].root] = start;
  ShowDrive(start_drive);

  resize(Twips(kClientWidth), Twips(kClientHeight) + menuBar()->sizeHint().height());
  client_->resize(Twips(kClientWidth), Twips(kClientHeight));
  fitted_list_width_ = 0;
  PlaceControls();
  client_->setMinimumSize(LeastClientSize());
  setMinimumSize(client_->minimumSize() + QSize(0, menuBar()->sizeHint().height()));
  default_layout_ = CurrentLayout();

  ReadSettings();
  FitToScreen();
  label1_->setText(QString::fromStdString(Dir1Path()));
}

void Link_Main::ShowDrive(int index) {
  // Selects the drive without a change event, then moves Dir1 as Drive1_Change would.
  {
    const QSignalBlocker block(drive1_);
    drive1_->setCurrentIndex(index);
  }
  Drive1_Change();
}

void Link_Main::Drive1_Change() {
  const int index = drive1_->currentIndex();
  if (index < 0 || index >= drives_.size()) return;
  drive_index_ = index;
  const QString root = drives_[index].root;
  const QString folder = drive_folders_.value(root, root);
  if (SetDir1Path(folder)) return;
  // A remembered folder that has gone: the drive's root, as the system falls back there.
  if (folder != root && SetDir1Path(root)) return;
  if (index == 0 || drive1_falling_back_) return;  // "/" itself failed: nothing left to try
  drive1_falling_back_ = true;
  drive1_->setCurrentIndex(0);
  drive1_falling_back_ = false;
}

bool Link_Main::SetDir1Path(const QString& path) {
  if (path.isEmpty() || !QDir::isAbsolutePath(path)) return false;
  const QString clean = QDir::cleanPath(path);
  const QFileInfo info(clean);
  if (!info.isDir() || !info.isExecutable()) return false;

  int drive = drive_index_ >= 0 ? drive_index_ : 0;
  if (DriveIndexOfPath(drives_, clean) != drive &&
      !(clean == drives_[drive].root || clean.startsWith(drives_[drive].root + QLatin1Char('/'))))
    drive = std::max(0, DriveIndexOfPath(drives_, clean));
  const QString root = drives_.isEmpty() ? QStringLiteral("/") : drives_[drive].root;

  dir1_updating_ = true;
  static_cast<DriveTreeFilter*>(dir1_filter_)->SetRoot(root);
  const QModelIndex root_index = dir1_filter_->mapFromSource(dir1_model_->index(root));
  dir1_->setRootIndex(root_index.parent());
  const QModelIndex current = dir1_filter_->mapFromSource(dir1_model_->index(clean));
  if (current.isValid()) {
    dir1_->setCurrentIndex(current);
    dir1_->expand(current);
    dir1_->scrollTo(current);
  }
  dir1_updating_ = false;
  dir1_follow_ = true;
  dir1_scroll_->start();

  dir1_path_ = clean;
  if (drive_index_ >= 0 && drive_index_ < drives_.size())
    drive_folders_[drives_[drive_index_].root] = clean;
  Dir1_Change();
  return true;
}

void Link_Main::Dir1_Change() { label1_->setText(dir1_path_); }

// ----- settings -----

bool Link_Main::SelectDrive(const std::string& text) {
  const QString root = DriveRootOfText(QString::fromStdString(text));
  for (int i = 0; i < drives_.size(); ++i) {
    if (drives_[i].root != root) continue;
    drive1_->setCurrentIndex(i);  // runs Drive1_Change when the drive changes
    return true;
  }
  return false;
}

bool Link_Main::SetFolder(const std::string& path) {
  return SetDir1Path(QString::fromStdString(path));
}

bool Link_Main::SetCheckState(int which, int state) {
  QCheckBox* box = which == 1 ? check1_ : check2_;
  switch (state) {
    case 0: box->setCheckState(Qt::Unchecked); return true;
    case 1: box->setCheckState(Qt::Checked); return true;
    case 2: box->setCheckState(Qt::PartiallyChecked); return true;
    default: return false;
  }
}

void Link_Main::SetSinglePageTarget(const std::string& text) { single_page_.target = text; }

void Link_Main::SetOption(SettingsOption option, bool on) {
  if (option == SettingsOption::kCrawl) {
    single_page_.crawl = on;
    return;
  }
  QAction* const actions[] = {https_action_, once_action_, keep_query_action_, all_links_action_};
  actions[static_cast<int>(option)]->setChecked(on);
}

void Link_Main::SetWindowLayout(const WindowLayout& layout) {
  resize(QSize(layout.width, layout.height).expandedTo(minimumSize()));
  if (layout.columns.size() != std::size(kResultColumns)) return;
  QHeaderView* header = list_view1_->header();
  for (int column = 0; column < static_cast<int>(layout.columns.size()); ++column)
    header->resizeSection(column, layout.columns[static_cast<size_t>(column)]);
  // The widths were those of the list at this size; the first placing must keep them.
  fitted_list_width_ =
      Twips(kListWidth) + std::max(width(), LeastClientSize().width()) - Twips(kClientWidth);
}

WindowLayout Link_Main::CurrentLayout() const {
  const QSize size = isMaximized() || isFullScreen() ? normalGeometry().size() : this->size();
  WindowLayout layout{size.width(), size.height(), {}};
  for (int column = 0; column < static_cast<int>(std::size(kResultColumns)); ++column)
    layout.columns.push_back(list_view1_->header()->sectionSize(column));
  return layout;
}

void Link_Main::ReadSettings() {
  ReadSettingsFile(disk_, JoinPath(program_folder_, kSettingsFileName), *this);
  if (single_page_.target.empty()) single_page_.target = kNoTarget;
}

bool Link_Main::WriteSettings() {
  if (single_page_.target.empty()) single_page_.target = kNoTarget;
  SettingsValues values;
  values.drive = drive1_->currentText().toStdString();
  values.folder = dir1_path_.toStdString();
  values.check1 = CheckValue(check1_);
  values.check2 = CheckValue(check2_);
  values.https = https_action_->isChecked();
  values.once = once_action_->isChecked();
  values.keep_query = keep_query_action_->isChecked();
  values.all_links = all_links_action_->isChecked();
  values.crawl = single_page_.crawl;
  values.single_page_target = single_page_.target;
  values.timeout_s = timeout_s_;
  values.layout = CurrentLayout();
  values.default_layout = default_layout_;
  std::string err;
  return WriteSettingsFile(disk_, JoinPath(program_folder_, kSettingsFileName), values, &err);
}

// ----- the run, shown on the controls -----

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
  const WindowMessage message = WindowMessageFor(notice);
  return ShowMessageBox(message.title, message.text, message.detail, message.icon, message.buttons);
}

MessageAnswer Link_Main::ShowMessage(const std::string& title, const std::string& text,
                                     MessageIcon icon, MessageButtons buttons) {
  if (shutting_down_) return MessageAnswer::kCancel;
  return ShowMessageBox(title, text, "", icon, buttons);
}

MessageAnswer Link_Main::ShowMessageBox(const std::string& title, const std::string& text,
                                        const std::string& detail, MessageIcon icon,
                                        MessageButtons buttons) {
  QMessageBox box(ToQtIcon(icon), QString::fromStdString(title), QString::fromStdString(text),
                  buttons == MessageButtons::kOkCancel ? QMessageBox::Ok | QMessageBox::Cancel
                                                       : QMessageBox::Ok,
                  QApplication::activeModalWidget() ? QApplication::activeModalWidget() : this);
  box.setDefaultButton(QMessageBox::Ok);
  if (!detail.empty()) {
    box.setInformativeText(QString::fromStdString(detail));
    // The detail is an address or a reason the user may want to paste elsewhere.
    if (auto* label = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel")))
      label->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  }
  // The busy cursor must not hide that the box is waiting for the user.
  const bool was_busy = busy_;
  if (was_busy) QGuiApplication::setOverrideCursor(Qt::ArrowCursor);
  const int answer = box.exec();
  if (was_busy) QGuiApplication::restoreOverrideCursor();
  return answer == QMessageBox::Ok ? MessageAnswer::kOk : MessageAnswer::kCancel;
}

std::string Link_Main::Dir1Path() const { return dir1_path_.toStdString(); }

void Link_Main::ShowSinglePageDialog(KobetuLogic& dialog) {
  Link_Kobetu window(dialog, *this, this);
  if (QScreen* screen = QGuiApplication::primaryScreen())
    window.move(screen->availableGeometry().center() - window.rect().center());
  window.exec();
}

std::optional<std::string> Link_Main::ShowOpenDialog(const std::string& filter) {
  const QString chosen = QFileDialog::getOpenFileName(QApplication::activeModalWidget(), QString(),
                                                      QString(), QtFileFilter(filter));
  if (chosen.isEmpty()) return std::nullopt;
  return chosen.toStdString();
}

void Link_Main::SyncList1() {
  if (static_cast<size_t>(list1_->count()) == pages_.size()) return;
  list1_->clear();
  for (const std::string& path : pages_) list1_->addItem(QString::fromStdString(path));
}

// ----- commands -----

void Link_Main::Command1_Click() {
  if (shutting_down_) return;
  abort_.Lower();
  RunSummary summary =
      RunFolder(RunSeams{*this, disk_, http_, results_, abort_}, settings_, Dir1Path(),
                CheckValue(check1_) == 1);
  if (shutting_down_) return;
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
  if (shutting_down_ || single_page_.mode == kModeNone) return;
  abort_.Lower();
  const RunSeams seams{*this, disk_, http_, results_, abort_};
  const bool crawl = CrawlChosen();
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
  pages_ = std::move(summary.pages);
  SyncList1();
}

void Link_Main::ListView1_ColumnClick(int section) {
  if (shutting_down_) return;
  QHeaderView* header = list_view1_->header();
  const QString caption = result_model_->headerData(section, Qt::Horizontal).toString();
  // "No" brings back the order the rows came in; only a list already in that order turns round.
  const bool page_order =
      !header->isSortIndicatorShown() ||
      (sorter_.sort_column == kColNo && sorter_.sort_direction == SortDirection::kAscending);
  if (SortColumnForCaption(caption.toStdString()) == kColNo && !page_order &&
      sorter_.SortClickCount[kColNo] % 2 == 0)
    ++sorter_.SortClickCount[kColNo];
  bool sorted = false;
  result_model_->Rearrange([&] { sorted = sorter_.SortByHeader(results_, caption.toStdString()); });
  // The header flips its own arrow on a click; the core's sort state is what it must show.
  if (sorted) header->setSortIndicatorShown(true);
  if (header->isSortIndicatorShown())
    header->setSortIndicator(sorter_.sort_column, sorter_.sort_direction ==
                                                          SortDirection::kDescending
                                                      ? Qt::DescendingOrder
                                                      : Qt::AscendingOrder);
  if (sorted) KeepSortOrder();
}

void Link_Main::KeepSortOrder() {
  // Rows still to come go where the order in force puts them; in page order that is the end.
  if (sorter_.sort_column == kColNo && sorter_.sort_direction == SortDirection::kAscending) {
    result_model_->KeepSorted({});
    return;
  }
  result_model_->KeepSorted(
      [this] { SortResults(results_, sorter_.sort_column, sorter_.sort_direction); });
}

size_t Link_Main::ResultIndexOfViewRow(const QModelIndex& view_index) const {
  return result_filter_->ResultIndex(view_index);
}

void Link_Main::ShowUnopened(const QUrl& url) {
  if (shutting_down_) return;
  ShowMessageBox(kMessageTitle, kOpenFailedMessage,
                 url.toDisplayString(QUrl::PreferLocalFile).toStdString(), MessageIcon::kWarning,
                 MessageButtons::kOk);
}

void Link_Main::FitToScreen() {
  QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
  if (!screen) return;
  const QRect frame = frameGeometry();
  const QRect inner = geometry();
  // Until the window is shown its frame is unknown: a common title bar and border are assumed.
  const QMargins margins =
      frame == inner ? QMargins(4, 32, 4, 4)
                     : QMargins(inner.left() - frame.left(), inner.top() - frame.top(),
                                frame.right() - inner.right(), frame.bottom() - inner.bottom());
  const QRect placed =
      FitWindowToScreen(size(), minimumSize(), margins, screen->availableGeometry());
  resize(placed.size());
  move(placed.topLeft());
}

void Link_Main::Timeout_Click() {
  if (shutting_down_) return;
  if (const std::optional<int> seconds = AskTimeout(timeout_s_)) SetTimeout(*seconds);
}

std::optional<int> Link_Main::AskTimeout(int current) {
  bool ok = false;
  const int seconds =
      QInputDialog::getInt(this, QString::fromUtf8(kDesignTitle), QString::fromUtf8(kTimeoutPrompt),
                           current, kMinTimeoutS, kMaxTimeoutS, 1, &ok);
  if (!ok) return std::nullopt;
  return seconds;
}

void Link_Main::SetTimeout(int seconds) {
  timeout_s_ = std::clamp(seconds, kMinTimeoutS, kMaxTimeoutS);
  if (timeout_listener_) timeout_listener_(timeout_s_);
}

void Link_Main::SetTimeoutListener(std::function<void(int)> listener) {
  timeout_listener_ = std::move(listener);
  if (timeout_listener_) timeout_listener_(timeout_s_);
}

void Link_Main::BringToFront() {
  if (shutting_down_) return;
  if (isMinimized()) showNormal();
  show();
  raise();
  activateWindow();
}

void Link_Main::Recheck_Click() {
  if (shutting_down_) return;
  abort_.Lower();
  // The rows asked again are still the rows of the run the heading tells of.
  const ReportHeading heading = report_heading_;
  RecheckFailed(RunSeams{*this, disk_, http_, results_, abort_}, settings_);
  report_heading_ = heading;
}

void Link_Main::Pro_Exit_Click() {
  if (shutting_down_) return;
  // From here on the run's loop finds every request abandoned and every yield empty, and no
  // handler of this window acts again.
  shutting_down_ = true;
  abort_.Raise();
  if (single_page_.target.empty()) single_page_.target = kNoTarget;
  // No run writes work files any more; older versions left these in the program folder.
  for (const char* name : {kWebWorkFile, kScanWorkFile}) {
    const std::string path = JoinPath(program_folder_, name);
    std::string err;
    if (disk_.FileExists(path) && !disk_.DeleteFile(path, &err)) {
      // A work file that stays: the rest of the sequence is skipped and the settings not saved.
      EndProgram();
      return;
    }
  }
  WriteSettings();  // a failure is silent; the program ends either way
  EndProgram();
}

void Link_Main::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  // Once the system has framed the window, the frame itself must fit on the screen too; a
  // window the user has placed since is left where it is.
  if (framed_ || frameGeometry() == geometry()) return;
  framed_ = true;
  if (screen() && !screen()->availableGeometry().contains(frameGeometry())) FitToScreen();
}

void Link_Main::closeEvent(QCloseEvent* event) {
  Pro_Exit_Click();
  event->accept();
}

void Link_Main::EndProgram() {
  if (busy_) {
    busy_ = false;
    QGuiApplication::restoreOverrideCursor();
  }
  if (instance_lock_) instance_lock_->ReleaseAndRemove();
  std::fflush(nullptr);
  // Ending here, possibly deep inside a run's yield, is what keeps the run from resuming.
  std::_Exit(0);
}

}  // namespace voxtrel
