#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QResizeEvent>
#include <QScreen>
#include <QScrollBar>
#include <QShowEvent>
#include <QTimer>
#include <QTreeView>

#include <numeric>

#include "app/captions.h"
#include "app/layout.h"
#include "app/link_main.h"
#include "app/link_main_parts.h"
#include "app/result_model.h"
#include "app/row_actions.h"

// Building and placing Link_Main's controls and fitting the window to its screen; their
// behaviour lives in the other link_main_*.cpp files.

namespace voxtrel {

namespace {

QLabel* MakeLabel(const char* name, const char* caption, QWidget* parent) {
  auto* label = new QLabel(QString::fromUtf8(caption), parent);
  label->setObjectName(QString::fromLatin1(name));
  return label;
}

QLabel* MakeElidingLabel(const char* name, QWidget* parent) {
  QLabel* label = new ElidingLabel(parent);
  label->setObjectName(QString::fromLatin1(name));
  return label;
}

}  // namespace

void Link_Main::BuildControls() {
  client_ = new QWidget(this);
  client_->setObjectName(QStringLiteral("client"));
  setCentralWidget(client_);

  frame2_ = new QFrame(client_);
  frame2_->setObjectName(QStringLiteral("Frame2"));
  frame2_->setFrameShape(QFrame::HLine);
  frame2_->setFrameShadow(QFrame::Sunken);

  command3_ = new QPushButton(QString::fromUtf8(kCommand3Caption), client_);
  command3_->setObjectName(QStringLiteral("Command3"));

  text1_ = new QLineEdit(QString::fromUtf8(kText1Text), client_);
  text1_->setObjectName(QStringLiteral("Text1"));
  // It takes no part in the window; the save command only moves the focus to it.
  text1_->setVisible(false);

  list1_ = new QListWidget(client_);
  list1_->setObjectName(QStringLiteral("List1"));
  list1_->setVisible(false);

  BuildFolderPanel();
  BuildRunPanel();
  BuildResultList();
  Connect();
}

// Frame1: the drive and folder pickers, the options and the start and abort buttons.
void Link_Main::BuildFolderPanel() {
  frame1_ = new QGroupBox(client_);
  frame1_->setObjectName(QStringLiteral("Frame1"));
  label6_[3] = MakeLabel("Label6_3", kLabel6_3Caption, frame1_);
  drive1_ = new QComboBox(frame1_);
  drive1_->setObjectName(QStringLiteral("Drive1"));
  drive1_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  drive1_->setMinimumContentsLength(8);
  label6_[2] = MakeLabel("Label6_2", kLabel6_2Caption, frame1_);
  label2_ = MakeLabel("Label2", "", frame1_);
  label2_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  dir1_ = new FolderTree(frame1_);
  dir1_->setObjectName(QStringLiteral("Dir1"));
  check1_ = new QCheckBox(QString::fromUtf8(kCheck1Caption), frame1_);
  check1_->setObjectName(QStringLiteral("Check1"));
  check2_ = new QCheckBox(QString::fromUtf8(kCheck2Caption), frame1_);
  check2_->setObjectName(QStringLiteral("Check2"));
  command1_ = new QPushButton(QString::fromUtf8(kCommand1Caption), frame1_);
  command1_->setObjectName(QStringLiteral("Command1"));
  command2_ = new QPushButton(QString::fromUtf8(kCommand2Caption), frame1_);
  command2_->setObjectName(QStringLiteral("Command2"));


  // Dir1: folders only, hidden ones left out, like the listing the check itself uses.
  dir1_model_ = new QFileSystemModel(this);
  dir1_model_->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot);
  dir1_model_->setRootPath(QStringLiteral("/"));
  dir1_filter_ = new DriveTreeFilter(this);
  dir1_filter_->setSourceModel(dir1_model_);
  dir1_->setModel(dir1_filter_);
  dir1_->setHeaderHidden(true);
  // Long folder names scroll sideways rather than being cut.
  dir1_->header()->setStretchLastSection(false);
  dir1_->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
  for (int column = 1; column < dir1_model_->columnCount(); ++column) dir1_->hideColumn(column);
  // The model reads folders in the background and sorts them late, which moves the rows under
  // the current folder; it is kept in view until the user takes the tree in hand.
  dir1_scroll_ = new QTimer(this);
  dir1_scroll_->setSingleShot(true);
  dir1_scroll_->setInterval(0);
  connect(dir1_scroll_, &QTimer::timeout, this, [this] {
    const QModelIndex current = dir1_->currentIndex();
    if (!dir1_follow_ || !current.isValid()) return;
    dir1_->scrollTo(current, QAbstractItemView::PositionAtCenter);
  });
  auto follow = [this] {
    if (dir1_follow_) dir1_scroll_->start();
  };
  connect(dir1_filter_, &QAbstractItemModel::layoutChanged, this, follow);
  connect(dir1_filter_, &QAbstractItemModel::rowsInserted, this, follow);
  dir1_->viewport()->installEventFilter(this);
  dir1_->verticalScrollBar()->installEventFilter(this);
  connect(dir1_->selectionModel(), &QItemSelectionModel::currentChanged, this,
          [this](const QModelIndex& current) {
            if (dir1_updating_ || !current.isValid()) return;
            dir1_path_ = dir1_model_->filePath(dir1_filter_->mapToSource(current));
            if (drive_index_ >= 0) drive_folders_[drives_[drive_index_].root] = dir1_path_;
            Dir1_Change();
          });

}

// The labels that show what the run is doing.
void Link_Main::BuildRunPanel() {
  list_view1_ = new QTreeView(client_);
  list_view1_->setObjectName(QStringLiteral("ListView1"));
  label6_[0] = MakeLabel("Label6_0", kLabel6_0Caption, client_);
  label1_ = MakeElidingLabel("Label1", client_);
  label6_[1] = MakeLabel("Label6_1", kLabel6_1Caption, client_);
  label3_ = MakeElidingLabel("Label3", client_);
  label4_ = MakeLabel("Label4", kLabel4Caption, client_);
  label5_ = MakeLabel("Label5", kLabel5Caption, client_);
  label7_ = MakeLabel("Label7", "", client_);
  label7_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  label8_ = MakeElidingLabel("Label8", client_);
  failed_only_ = new QCheckBox(QString::fromUtf8(kFailedOnlyCaption), client_);
  failed_only_->setObjectName(QStringLiteral("FailedOnly"));
  progress_bar_ = new QProgressBar(client_);
  progress_bar_->setObjectName(QStringLiteral("ProgressBar"));
  progress_bar_->setTextVisible(true);
  progress_bar_->setVisible(false);
}

void Link_Main::BuildResultList() {
  // ListView1: report view over the engine's rows; the header sorts through the core only.
  result_model_ = new ResultModel(results_, this);
  result_filter_ = new ResultFilter(results_, result_model_, this);
  list_view1_->setModel(result_filter_);
  list_view1_->setRootIsDecorated(false);
  list_view1_->setItemsExpandable(false);
  list_view1_->setUniformRowHeights(true);
  list_view1_->setSortingEnabled(false);
  list_view1_->setAllColumnsShowFocus(true);
  list_view1_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  QHeaderView* header = list_view1_->header();
  header->setSectionsClickable(true);
  header->setSectionsMovable(false);
  header->setStretchLastSection(false);
  header->setMinimumSectionSize(0);
  header->setSortIndicatorShown(false);
  connect(header, &QHeaderView::sectionClicked, this, &Link_Main::ListView1_ColumnClick);
  row_actions_ = new RowActions(
      list_view1_, results_, [this] { Recheck_Click(); },
      [this] { return !shutting_down_ && f000_ && f000_->isEnabled(); },
      [this](const QUrl& url) { ShowUnopened(url); }, this);
  row_actions_->SetMends(
      {[this] { return !mend_base_.root.empty(); },
       [this](const std::vector<size_t>& rows) { MendRows(rows, MendKind::kMoved); },
       [this](const std::vector<size_t>& rows) { IgnoreRows(rows); }});

  connect(failed_only_, &QCheckBox::toggled, this, [this](bool on) {
    result_model_->ShowNewRows();
    result_filter_->SetFailedOnly(on);
  });
}

void Link_Main::Connect() {
  connect(command1_, &QPushButton::clicked, this, &Link_Main::Command1_Click);
  connect(command2_, &QPushButton::clicked, this, &Link_Main::Command2_Click);
  connect(command3_, &QPushButton::clicked, this, &Link_Main::Command3_Click);
  connect(drive1_, &QComboBox::currentIndexChanged, this, [this] { Drive1_Change(); });
  auto sync_check = [](QCheckBox* box) {
    // The greyed state comes only from the settings file; a click never leads back into it.
    if (box->checkState() != Qt::PartiallyChecked) box->setTristate(false);
  };
  connect(check1_, &QCheckBox::stateChanged, this, [this, sync_check] { sync_check(check1_); });
  connect(check2_, &QCheckBox::stateChanged, this, [this, sync_check] {
    sync_check(check2_);
    settings_.show_all = CheckValue(check2_) == 1;
  });

}

void Link_Main::BuildMenu() {
  f000_ = menuBar()->addMenu(QString::fromUtf8(kMenuF000Caption));
  f000_->setObjectName(QStringLiteral("f000"));
  f000_->menuAction()->setObjectName(QStringLiteral("f000_action"));
  QAction* search = f000_->addAction(QString::fromUtf8(kMenuKkkSearchCaption));
  search->setObjectName(QStringLiteral("KKK_Search"));
  f000_->addSeparator();
  mend_moved_action_ = f000_->addAction(QString::fromUtf8(kMenuMendMovedCaption));
  mend_moved_action_->setObjectName(QStringLiteral("MendMoved"));
  mend_archived_action_ = f000_->addAction(QString::fromUtf8(kMenuMendArchivedCaption));
  mend_archived_action_->setObjectName(QStringLiteral("MendArchived"));
  undo_mends_action_ = f000_->addAction(QString::fromUtf8(kMenuUndoMendsCaption));
  undo_mends_action_->setObjectName(QStringLiteral("UndoMends"));
  connect(mend_moved_action_, &QAction::triggered, this,
          [this] { MendRows({}, MendKind::kMoved); });
  connect(mend_archived_action_, &QAction::triggered, this,
          [this] { MendRows({}, MendKind::kArchived); });
  connect(undo_mends_action_, &QAction::triggered, this, &Link_Main::UndoMends_Click);
  connect(f000_, &QMenu::aboutToShow, this, &Link_Main::SyncMendMenu);
  SyncMendMenu();
  QAction* separator = f000_->addSeparator();
  separator->setObjectName(QStringLiteral("f001"));
  QAction* exit = f000_->addAction(QString::fromUtf8(kMenuProExitCaption));
  exit->setObjectName(QStringLiteral("Pro_Exit"));
  connect(search, &QAction::triggered, this, &Link_Main::KKK_Search_Click);
  connect(exit, &QAction::triggered, this, &Link_Main::Pro_Exit_Click);

  options_menu_ = menuBar()->addMenu(QString::fromUtf8(kMenuOptionsCaption));
  options_menu_->setObjectName(QStringLiteral("OptionsMenu"));
  once_action_ = options_menu_->addAction(QString::fromUtf8(kMenuOnceCaption));
  once_action_->setObjectName(QStringLiteral("OnceOption"));
  once_action_->setCheckable(true);
  https_action_ = options_menu_->addAction(QString::fromUtf8(kMenuHttpsCaption));
  https_action_->setObjectName(QStringLiteral("HttpsOption"));
  https_action_->setCheckable(true);
  keep_query_action_ = options_menu_->addAction(QString::fromUtf8(kMenuKeepQueryCaption));
  keep_query_action_->setObjectName(QStringLiteral("KeepQueryOption"));
  keep_query_action_->setCheckable(true);
  connect(keep_query_action_, &QAction::toggled, this,
          [this](bool on) { settings_.keep_query = on; });
  all_links_action_ = options_menu_->addAction(QString::fromUtf8(kMenuAllLinksCaption));
  all_links_action_->setObjectName(QStringLiteral("AllLinksOption"));
  all_links_action_->setCheckable(true);
  connect(all_links_action_, &QAction::toggled, this,
          [this](bool on) { settings_.all_links = on; });
  suspect_action_ = options_menu_->addAction(QString::fromUtf8(kMenuSuspectCaption));
  suspect_action_->setObjectName(QStringLiteral("SuspectOption"));
  suspect_action_->setCheckable(true);
  // For this session only: the settings file keeps the old program's lines.
  archive_action_ = options_menu_->addAction(QString::fromUtf8(kMenuArchiveCaption));
  archive_action_->setObjectName(QStringLiteral("ArchiveOption"));
  archive_action_->setCheckable(true);
  connect(archive_action_, &QAction::toggled, this,
          [this](bool on) { settings_.archive.look_up = on; });
  options_menu_->addSeparator();
  timeout_action_ = options_menu_->addAction(QString::fromUtf8(kMenuTimeoutCaption));
  timeout_action_->setObjectName(QStringLiteral("TimeoutOption"));
  connect(timeout_action_, &QAction::triggered, this, &Link_Main::Timeout_Click);
  retries_action_ = options_menu_->addAction(QString::fromUtf8(kMenuRetriesCaption));
  retries_action_->setObjectName(QStringLiteral("RetriesOption"));
  connect(retries_action_, &QAction::triggered, this, &Link_Main::Retries_Click);
  rate_action_ = options_menu_->addAction(QString::fromUtf8(kMenuRateCaption));
  rate_action_->setObjectName(QStringLiteral("RateOption"));
  connect(rate_action_, &QAction::triggered, this, &Link_Main::Rate_Click);
  connect(once_action_, &QAction::toggled, this, [this](bool on) { settings_.once = on; });
  connect(https_action_, &QAction::toggled, this, [this](bool on) { settings_.https = on; });
}

void Link_Main::PlaceControls() {
  const int dx = Growth().width();
  const int dy = Growth().height();

  frame2_->setGeometry(QRect(Twips(-120), 0, Twips(22950) + dx, 2));
  command3_->setGeometry(TwipsRect(11040, 120, 1335, 255).translated(dx, 0));
  label4_->setGeometry(Fitted(label4_, TwipsRect(9840, 120, 1335, 225)).translated(dx, 0));
  label5_->setGeometry(Fitted(label5_, TwipsRect(11160, 120, 1215, 225)).translated(dx, 0));
  // The panel follows the right edge and takes the extra height into the folder tree.
  frame1_->setGeometry(TwipsRect(9840, 360, 2655, 6015).adjusted(dx, 0, dx, dy));
  label6_[3]->setGeometry(Fitted(label6_[3], TwipsRect(240, 120, 900, 180)));
  QRect drive1 = Fitted(drive1_, TwipsRect(240, 360, 2175, 300));
  drive1.setWidth(Twips(2175));  // long volume names are cut in the closed box, not the panel
  drive1_->setGeometry(drive1);
  label6_[2]->setGeometry(Fitted(label6_[2], TwipsRect(240, 720, 810, 180)));
  dir1_->setGeometry(TwipsRect(240, 960, 2175, 2820).adjusted(0, 0, 0, dy));
  check1_->setGeometry(Fitted(check1_, TwipsRect(360, 4080, 1815, 200)).translated(0, dy));
  check2_->setGeometry(Fitted(check2_, TwipsRect(360, 4440, 2055, 180)).translated(0, dy));
  command1_->setGeometry(TwipsRect(480, kCommand1Top, 1695, 975).translated(0, dy));
  command2_->setGeometry(command1_->geometry());
  FitLabel(label2_);

  list_view1_->setGeometry(TwipsRect(240, 600, kListWidth, 5775).adjusted(0, 0, dx, dy));
  const int list_right = list_view1_->geometry().right();
  label6_[0]->setGeometry(Fitted(label6_[0], TwipsRect(360, 120, 810, 180)));
  label6_[1]->setGeometry(Fitted(label6_[1], TwipsRect(360, 360, 810, 180)));
  FitLabel(label7_);
  QRect failed_only = Fitted(failed_only_, TwipsRect(0, 360, 1200, 195));
  failed_only.moveRight(label7_->geometry().left() - 8);
  failed_only_->setGeometry(failed_only);
  QRect label1 = Fitted(label1_, TwipsRect(1200, 120, 495, 180));
  label1.setRight(list_right);
  label1_->setGeometry(label1);
  QRect label3 = Fitted(label3_, TwipsRect(1200, 360, 495, 180));
  label3.setRight(std::max(label3.left() + Twips(495), failed_only.left() - 8));
  label3_->setGeometry(label3);
  PlaceRunLine(dy, list_right);
  FitColumns();
}

QSize Link_Main::LeastClientSize() const {
  // The list narrows until the line above it holds the start of the page's name, the × only
  // box and a count of six figures; everything right of it moves along.
  const QString count = QStringLiteral("000000") + QString::fromUtf8(kItemsSuffix);
  const int count_left = Twips(1200 + 495) + 8 + failed_only_->sizeHint().width() + 8;
  const int count_right = count_left + label7_->fontMetrics().horizontalAdvance(count);
  const int narrower = std::max(0, TwipsRect(8985, 360, 630, 195).right() - count_right);
  // The folder tree and the list shorten until the tree shows a few folders.
  const int least_tree = 5 * dir1_->fontMetrics().height() + 2 * dir1_->frameWidth();
  const int shorter = std::max(0, Twips(2820) - least_tree);
  return QSize(Twips(kClientWidth) - narrower, Twips(kClientHeight) - shorter);
}

QSize Link_Main::Growth() const {
  const QSize least = LeastClientSize();
  return QSize(std::max(client_->width(), least.width()) - Twips(kClientWidth),
               std::max(client_->height(), least.height()) - Twips(kClientHeight));
}

void Link_Main::PlaceRunLine(int dy, int list_right) {
  // Under the list: what the run waits for, and during a run the bar of how far it has come.
  QRect label8 = Fitted(label8_, TwipsRect(360, 6405, 540, 165)).translated(0, dy);
  label8.setRight(list_right);
  if (progress_bar_->isVisible()) {
    QRect bar(0, label8.top(), Twips(3600), label8.height());
    bar.moveRight(list_right);
    progress_bar_->setGeometry(bar);
    label8.setRight(bar.left() - 8);
  }
  label8_->setGeometry(label8);
}

namespace {

// Shares of the width the number and mark columns leave, in the order URL, name, page,
// reason: the reason column shows at the window's first size.
constexpr int kColumnShares[] = {4500, 2400, 4200, 2400};
constexpr int kSharedColumns[] = {kColTarget, kColName, kColFile, kReasonColumn};

// The width the longest reason takes in `list`, with the margins a cell keeps around its text.
int LongestReasonWidth(const QTreeView* list) {
  int widest = 0;
  for (int reason = 0; reason <= static_cast<int>(kLastFailureReason); ++reason) {
    CheckOutcome outcome;
    outcome.reason = static_cast<FailureReason>(reason);
    outcome.status = 404;
    const QString text = QString::fromStdString(ReasonText(outcome, Language::kJapanese));
    widest = std::max(widest, list->fontMetrics().horizontalAdvance(text));
  }
  return widest + 2 * (list->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, list) + 1);
}

}  // namespace

void Link_Main::FitColumns() {
  const int list_width = list_view1_->width();
  if (list_width == fitted_list_width_) return;
  QHeaderView* header = list_view1_->header();
  if (fitted_list_width_ == 0) {
    for (int column : {kColNo, kColMark, kColNo2})
      header->resizeSection(column, Twips(kResultColumns[column].width_twips));
  }
  // The columns fill the list, room for its scroll bar kept, and follow its width.
  const int room = list_width - 2 * list_view1_->frameWidth() -
                   list_view1_->style()->pixelMetric(QStyle::PM_ScrollBarExtent) -
                   header->sectionSize(kColNo) - header->sectionSize(kColMark) -
                   header->sectionSize(kColNo2);
  int shares[4];
  int total = 0;
  for (int i = 0; i < 4; ++i) {
    shares[i] = fitted_list_width_ == 0 ? kColumnShares[i] : header->sectionSize(kSharedColumns[i]);
    total += shares[i];
  }
  if (total <= 0) {
    std::copy(std::begin(kColumnShares), std::end(kColumnShares), shares);
    total = std::accumulate(std::begin(kColumnShares), std::end(kColumnShares), 0);
  }
  const int shared = std::max(room, 40);
  // The reason column opens wide enough for its longest words where the list leaves room; a
  // width the user gave it is kept.
  int reason = static_cast<int>(static_cast<long>(shares[3]) * shared / total);
  if (fitted_list_width_ == 0)
    reason = std::max(reason, std::min(LongestReasonWidth(list_view1_), shared * 2 / 5));
  header->resizeSection(kReasonColumn, std::max(reason, 10));
  const int rest = shared - reason;
  const int rest_total = std::max(1, total - shares[3]);
  int left = rest;
  for (int i = 0; i < 3; ++i) {
    // The page column takes what rounding left over, so the columns end at the list's edge.
    const int width =
        i == 2 ? left : static_cast<int>(static_cast<long>(shares[i]) * rest / rest_total);
    header->resizeSection(kSharedColumns[i], std::max(width, 10));
    left -= width;
  }
  fitted_list_width_ = list_width;
}

void Link_Main::FitLabel(QLabel* label) {
  // Counts keep their designed right edge and grow to the left as their text grows.
  QRect design;
  int dx = 0;
  if (label == label2_) {
    design = TwipsRect(1800, 720, 630, 195);
  } else {
    design = TwipsRect(8985, 360, 630, 195);
    dx = Growth().width();
  }
  QRect rect = Fitted(label, design);
  rect.moveRight(design.right());
  label->setGeometry(rect.translated(dx, 0));
}

bool Link_Main::eventFilter(QObject* watched, QEvent* event) {
  const QEvent::Type type = event->type();
  if ((watched == dir1_->viewport() || watched == dir1_->verticalScrollBar()) &&
      (type == QEvent::MouseButtonPress || type == QEvent::Wheel || type == QEvent::KeyPress))
    dir1_follow_ = false;
  return QMainWindow::eventFilter(watched, event);
}

void Link_Main::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  PlaceControls();
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

void Link_Main::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  // Once the system has framed the window, the frame itself must fit on the screen too; a
  // window the user has placed since is left where it is.
  if (framed_ || frameGeometry() == geometry()) return;
  framed_ = true;
  if (screen() && !screen()->availableGeometry().contains(frameGeometry())) FitToScreen();
}

}  // namespace voxtrel
