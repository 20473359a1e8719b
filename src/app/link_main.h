#pragma once

#include <QElapsedTimer>
#include <QMainWindow>
#include <QMap>
#include <QString>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "app/drive_list.h"
#include "app/link_kobetu.h"
#include "app/settings_file.h"
#include "output/report_writer.h"
#include "output/result_sort.h"
#include "run/mend_run.h"
#include "run/run.h"

class QCheckBox;
class QComboBox;
class QFileSystemModel;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QProgressBar;
class QPushButton;
class QSortFilterProxyModel;
class QTimer;
class QTreeView;
class QUrl;

namespace voxtrel {

class InstanceLock;
class ResultFilter;
class ResultModel;
class RowActions;
struct MendPreview;

/// What rewriting the last run's pages starts from.
struct MendBase {
  /// The folder the run's pages are named under (MendRoot); empty after a web page or a crawl,
  /// whose pages are never written.
  std::string root;
  /// What the run read of each page, by path.
  std::map<std::string, PageStamp> stamps;
};

/// The save dialog on QFileDialog.
class QtSaveDialog : public SaveDialog {
 public:
  explicit QtSaveDialog(QWidget* parent) : parent_(parent) {}
  std::optional<std::string> ShowSave(const std::string& proposed_name, const std::string& filter,
                                      int* chosen_filter) override;
  /// The folder the dialog opens in.
  void SetStartFolder(const std::string& folder) { start_folder_ = folder; }

 private:
  QWidget* parent_;
  std::string start_folder_;
};

/// A filter of "description|pattern|..." pairs as QFileDialog takes it.
QString QtFileFilter(const std::string& filter);

/// The window title for a version: "Voxtrel    Ver" 1.08, seventeen blanks and the notice.
QString VersionTitle(int major, int minor, int patch);

/// The main window. The constructor runs the start-up sequence after the single-instance check,
/// which the caller makes first (see main.cpp).
class Link_Main : public QMainWindow,
                  public RunView,
                  public KobetuOwner,
                  public SettingsTarget {
  Q_OBJECT

 public:
  /// `program_folder` holds Voxtrel.DEF and the work files, without a trailing separator.
  Link_Main(std::string program_folder, DiskInterface& disk, HttpPool& http,
            QWidget* parent = nullptr);
  ~Link_Main() override;

  // RunView: what the run tells the window, shown on its controls.
  void FolderRunRequested() override;
  void SearchStarted() override;
  void SearchProgress(const std::string& text) override;
  void SearchFinished(size_t pages) override;
  void SearchClosed() override;
  void RunPreparing(bool folder_run) override;
  void RunStarted(size_t pages) override;
  void PageStarted(const std::string& file_column) override;
  void LinkStarted(const std::string& target) override;
  void RowAdded(const ResultRow& row) override;
  void RowUpdated(const ResultRow& row) override;
  void CountChanged(size_t rows) override;
  void Progress(const RunProgress& progress) override;
  void AbortRequested() override;
  void RunFinished(RunOutcome outcome, size_t rows) override;
  void RunClosed(RunOutcome outcome, size_t rows) override;
  void Yield() override;
  bool KeepAlive() override;
  /// Every message box of the window and its dialog passes here; none once the shutdown began.
  /// A run's notices are worded from the window's captions.
  MessageAnswer Notify(const Notice& notice) final;
  MessageAnswer ShowMessage(const std::string& title, const std::string& text, MessageIcon icon,
                            MessageButtons buttons) final;

  /// Shows Link_Kobetu modally, driving `dialog`'s handlers, and returns once it has closed.
  void ShowSinglePageDialog(KobetuLogic& dialog);
  /// Dir1's current path, exactly as the picker reports it.
  std::string Dir1Path() const;

  /// Link_Kobetu's browse dialog; tests replace it.
  std::optional<std::string> ShowOpenDialog(const std::string& filter) override;

  // SettingsTarget: what the settings reader applies, each failing like the original controls.
  bool SelectDrive(const std::string& text) override;
  bool SetFolder(const std::string& path) override;
  bool SetCheckState(int which, int state) override;
  void SetSinglePageTarget(const std::string& text) override;
  void SetOption(SettingsOption option, bool on) override;
  void SetTimeout(int seconds) override;
  void SetWindowLayout(const WindowLayout& layout) override;
  void SetRetries(int count) override;
  void SetRate(int per_second) override;

  void ReadSettings();
  /// False when the file could not be written; the caller ends the program anyway.
  bool WriteSettings();

  /// The save button's dialog; the window's own QFileDialog one unless replaced.
  void SetSaveDialog(SaveDialog* dialog) { save_dialog_ = dialog; }
  /// The lock the window lets go of as the very last step of the shutdown.
  void SetInstanceLock(InstanceLock* lock) { instance_lock_ = lock; }
  /// Told the request time-out in seconds now and whenever the user changes it; the window's
  /// requests must then take at most that long.
  void SetTimeoutListener(std::function<void(int)> listener);
  int timeout_s() const { return timeout_s_; }
  /// The window's size and column widths as they are now.
  WindowLayout CurrentLayout() const;
  /// Shows the window in front of the others, also when minimised (a later start asked).
  void BringToFront();
  /// The result list index of a row of ListView1 (as its model numbers it); SIZE_MAX for none.
  size_t ResultIndexOfViewRow(const QModelIndex& view_index) const;

  SinglePageChoice& single_page() { return single_page_; }
  const ResultList& results() const { return results_; }
  const RunSettings& settings() const { return settings_; }
  ResultSorter& sorter() { return sorter_; }
  /// What ListView1's rows offer: open, copy, ask the × rows again.
  RowActions& row_actions() { return *row_actions_; }
  /// The last report name chosen, proposed by the next save. Empty at start-up.
  std::string& report_file_name() { return report_file_name_; }
  const std::string& program_folder() const { return program_folder_; }
  /// What rewriting the last run's pages starts from.
  MendBase& mend_base() { return mend_base_; }
  bool shutting_down() const { return shutting_down_; }

  // Handlers under their given names.
  void Form_Load();
  void Drive1_Change();
  void Dir1_Change();
  void Command1_Click();
  void Command2_Click();
  void Command3_Click();
  void KKK_Search_Click();
  void Pro_Exit_Click();
  void ListView1_ColumnClick(int section);
  /// Asks the × rows again, updating them in place; the abort button stops it.
  void Recheck_Click();
  /// The time-out dialog of the options menu.
  void Timeout_Click();
  /// The options menu's dialogs for how often a failing request is asked again and how many
  /// requests a second one host is sent; the run after takes them.
  void Retries_Click();
  void Rate_Click();
  /// Rewrites the links of `rows` (every row when empty) that call for a mend of `kind` in
  /// their pages, after showing the changes and asking; then tells what became of each page.
  void MendRows(const std::vector<size_t>& rows, MendKind kind);
  /// Puts back the pages of the last rewrite under the checked folder, asking first.
  void UndoMends_Click();
  /// Adds the addresses of `rows` to the checked folder's list of links set aside and takes
  /// the rows out of the list.
  void IgnoreRows(const std::vector<size_t>& rows);

 protected:
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  /// Shows one QMessageBox, `detail` (when not empty) as a selectable line under the text, and
  /// returns the button that closed it; tests replace it.
  virtual MessageAnswer ShowMessageBox(const std::string& title, const std::string& text,
                                       const std::string& detail, MessageIcon icon,
                                       MessageButtons buttons);
  /// Ends the process at once; tests replace it to stay alive.
  virtual void EndProgram();
  /// Asks for the time-out in seconds, from 5 to 300; nothing when cancelled. Tests replace it.
  virtual std::optional<int> AskTimeout(int current);
  /// Asks for a whole number from `least` to `most`; nothing when cancelled. Tests replace it.
  virtual std::optional<int> AskNumber(const char* prompt, int current, int least, int most);

 private:
  void BuildControls();
  void BuildFolderPanel();
  void BuildRunPanel();
  void BuildResultList();
  void BuildMenu();
  void Connect();
  void SetLabel(QLabel* label, const std::string& text);
  void SetShown(QWidget* widget, bool visible);
  void RepaintNow(QWidget* widget);
  void SetLabelColor(QLabel* label, bool pure_blue);
  void SetMenuEnabled(bool enabled);
  void SetBusyCursor(bool busy);
  void FocusOn(QWidget* widget);
  void PlaceControls();
  void FitLabel(QLabel* label);
  bool SetDir1Path(const QString& path);
  void ShowDrive(int index);
  void SyncList1();
  /// Gives the run about to start the links set aside in `root`'s list; none without the file.
  void TakeIgnoreList(const std::string& root);
  /// Keeps what a run on the local `target` read of its pages; nothing of a web run.
  void KeepMendBase(const std::string& target, bool local, RunSummary& summary);
  /// Shows the changes of a rewrite; whether the user chose to write them.
  bool AskMend(const MendPreview& preview);
  /// The ﾌｧｲﾙ(F) menu's rewrite commands: enabled after a run on local pages only.
  void SyncMendMenu();
  /// Gives the run about to start the rules of answers' judgement when the option is on (the
  /// shipped ones, the user's own, today's date), telling once what lines of them were passed
  /// over; the old rule otherwise.
  void TakeSuspectRules();
  /// Whether the single page chosen is a web page whose site is to be crawled.
  bool CrawlChosen() const {
    return single_page_.crawl && single_page_.mode == SinglePageMode::kWebPage;
  }
  // A run's progress reaches the screen a few times a second, and input is taken in between;
  // drawing every row as it came cost far more than checking it.
  void ShowRunIfDue();
  void ShowRun();
  void TakeInput();
  void PlaceRunLine(int dy, int list_right);
  void FitColumns();
  void KeepSortOrder();
  /// Tells the user that no program could be found to open `url`, showing it to be copied.
  void ShowUnopened(const QUrl& url);
  /// The least client size that shows every control, from what they must hold.
  QSize LeastClientSize() const;
  /// How much wider and higher than designed the client area is laid out; below the design
  /// only as far as LeastClientSize allows.
  QSize Growth() const;
  /// Fits the window to the free area of its screen and places it wholly on it.
  void FitToScreen();

  std::string program_folder_;
  DiskInterface& disk_;
  HttpPool& http_;
  ResultList results_;
  RunSettings settings_;
  /// Raised by the abort button and by closing; lowered by this window before each run.
  AbortSignal abort_;
  SinglePageChoice single_page_;
  /// The pages of the last run (List1).
  std::vector<std::string> pages_;
  ResultSorter sorter_;
  std::string report_file_name_;
  ReportHeading report_heading_;
  QtSaveDialog qt_save_dialog_;
  SaveDialog* save_dialog_;
  InstanceLock* instance_lock_ = nullptr;

  bool shutting_down_ = false;
  bool busy_ = false;
  bool dir1_updating_ = false;
  bool drive1_falling_back_ = false;
  QList<Drive> drives_;
  int drive_index_ = -1;
  /// Each drive's current folder, as a drive letter has one on the original platform.
  QMap<QString, QString> drive_folders_;
  QString dir1_path_;
  /// Whether Dir1 keeps scrolling its current folder into view as folders load.
  bool dir1_follow_ = true;
  QTimer* dir1_scroll_ = nullptr;

  QWidget* client_ = nullptr;
  QGroupBox* frame1_ = nullptr;
  QFrame* frame2_ = nullptr;
  QLabel* label1_ = nullptr;
  QLabel* label2_ = nullptr;
  QLabel* label3_ = nullptr;
  QLabel* label4_ = nullptr;
  QLabel* label5_ = nullptr;
  QLabel* label6_[4] = {};
  QLabel* label7_ = nullptr;
  QLabel* label8_ = nullptr;
  QPushButton* command1_ = nullptr;
  QPushButton* command2_ = nullptr;
  QPushButton* command3_ = nullptr;
  QCheckBox* check1_ = nullptr;
  QCheckBox* check2_ = nullptr;
  QComboBox* drive1_ = nullptr;
  QTreeView* dir1_ = nullptr;
  QFileSystemModel* dir1_model_ = nullptr;
  QSortFilterProxyModel* dir1_filter_ = nullptr;
  QTreeView* list_view1_ = nullptr;
  ResultModel* result_model_ = nullptr;
  RowActions* row_actions_ = nullptr;
  ResultFilter* result_filter_ = nullptr;
  QCheckBox* failed_only_ = nullptr;
  QProgressBar* progress_bar_ = nullptr;
  QLineEdit* text1_ = nullptr;
  QListWidget* list1_ = nullptr;
  QMenu* f000_ = nullptr;
  QMenu* options_menu_ = nullptr;
  QAction* once_action_ = nullptr;
  QAction* https_action_ = nullptr;
  QAction* keep_query_action_ = nullptr;
  QAction* all_links_action_ = nullptr;
  QAction* suspect_action_ = nullptr;
  QAction* timeout_action_ = nullptr;
  QAction* retries_action_ = nullptr;
  QAction* rate_action_ = nullptr;
  QAction* archive_action_ = nullptr;
  QAction* mend_moved_action_ = nullptr;
  QAction* mend_archived_action_ = nullptr;
  QAction* undo_mends_action_ = nullptr;
  MendBase mend_base_;

  int timeout_s_ = kDefaultTimeoutS;
  std::function<void(int)> timeout_listener_;
  WindowLayout default_layout_;
  // The list width the columns were last fitted to.
  int fitted_list_width_ = 0;

  // What the run has told and the screen does not show yet; only from the run's start to its end.
  bool run_on_show_ = false;
  QElapsedTimer input_clock_;
  QElapsedTimer shown_clock_;
  std::string next_page_;
  std::string next_link_;
  size_t row_count_ = 0;
  bool row_count_told_ = false;
  RunProgress progress_;
  std::string waiting_for_;
  /// Whether the list was cleared for the run going on, so its count must be told at the end.
  bool run_prepared_ = false;
  /// Whether the window was fitted to its screen with the frame the system gave it.
  bool framed_ = false;
  /// The start address while a crawl goes on, shown in place of the folder.
  std::string crawl_start_;
};

}  // namespace voxtrel
