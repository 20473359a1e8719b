#include "app/link_main.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QTreeView>

#include <algorithm>
#include <iterator>

#include "app/captions.h"
#include "app/layout.h"
#include "app/link_main_parts.h"

// The settings file: applying what it holds to the controls and gathering what it keeps.

namespace voxtrel {

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
  QAction* const actions[] = {https_action_,     once_action_, keep_query_action_,
                              all_links_action_, nullptr,      suspect_action_};
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
  values.retries = settings_.retries;
  values.rate = static_cast<int>(settings_.rate);
  values.suspect = suspect_action_->isChecked();
  std::string err;
  return WriteSettingsFile(disk_, JoinPath(program_folder_, kSettingsFileName), values, &err);
}

void Link_Main::SetTimeout(int seconds) {
  timeout_s_ = std::clamp(seconds, kMinTimeoutS, kMaxTimeoutS);
  if (timeout_listener_) timeout_listener_(timeout_s_);
}

// The settings file keeps what the run takes; the two must not drift apart.
static_assert(kDefaultRetryCount == kDefaultRetries && kMaxRetryCount == kMaxRetries);

void Link_Main::SetRetries(int count) {
  settings_.retries = std::clamp(count, kMinRetryCount, kMaxRetryCount);
}

void Link_Main::SetRate(int per_second) {
  settings_.rate = std::clamp(per_second, 0, kMaxRatePerHost);
}

void Link_Main::SetTimeoutListener(std::function<void(int)> listener) {
  timeout_listener_ = std::move(listener);
  if (timeout_listener_) timeout_listener_(timeout_s_);
}

}  // namespace voxtrel
