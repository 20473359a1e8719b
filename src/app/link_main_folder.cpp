#include "app/link_main.h"

#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QLabel>
#include <QTimer>
#include <QTreeView>

#include "app/link_main_parts.h"

// The drive and folder pickers: which folder a folder run checks.

namespace voxtrel {

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

std::string Link_Main::Dir1Path() const { return dir1_path_.toStdString(); }

}  // namespace voxtrel
