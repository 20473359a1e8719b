#include "app/link_main.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QGuiApplication>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QShowEvent>

#include <cstdio>
#include <cstdlib>
#include <utility>

#include "app/captions.h"
#include "app/instance_lock.h"
#include "app/layout.h"
#include "app/link_main_parts.h"
#include "app/result_model.h"
#include "version.h"

// The window's life: its start-up sequence, its title and its shutdown.

namespace voxtrel {
namespace {

// Work files that versions before pages were read in memory left in the program folder.
constexpr const char* kWebWorkFile = "WEB_Dummy.htm";
constexpr const char* kScanWorkFile = "Dummy_File_PC.htm";

}  // namespace

QString VersionTitle(int major, int minor, int patch) {
  return QString::fromUtf8(kTitlePrefix) + QString::number(major) + QLatin1Char('.') +
         QString::number(minor) + QString::number(patch) + QString(17, QLatin1Char(' ')) +
         QString::fromUtf8(kTitleNotice);
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
  // Any run's rows may be mended from the row menu afterwards.
  settings_.stamp_pages = true;
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

void Link_Main::BringToFront() {
  if (shutting_down_) return;
  if (isMinimized()) showNormal();
  show();
  raise();
  activateWindow();
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
