#include "app/link_main.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QTreeView>
#include <QtTest>

#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "app/captions.h"
#include "app/layout.h"
#include "app/notice_text.h"
#include "app/row_actions.h"
#include "app/single_window.h"
#include "support/fake_pool.h"
#include "support/fake_save_dialog.h"
#include "support/files.h"
#include "support/local_server.h"
#include "support/temp_dir.h"

namespace voxtrel {
namespace {

/// The window with its message boxes answered OK and recorded, and a program end that returns.
class TestWindow : public Link_Main {
 public:
  using Link_Main::Link_Main;
  /// Each message's text, and on a line of its own what was shown under it, if anything.
  std::vector<std::string> messages;
  bool ended = false;
  /// What the controls showed as each row arrived.
  std::vector<std::string> during;

  /// Runs as each row arrives, with its number.
  std::function<void(int64_t)> on_row;
  /// The answers of the number dialogs in turn (none: cancelled), and "prompt current" of each.
  std::vector<std::optional<int>> numbers;
  std::vector<std::string> asked;

  void RowAdded(const ResultRow& row) override {
    Link_Main::RowAdded(row);
    during.push_back(Controls());
    if (on_row) on_row(row.number);
  }
  /// The run's labels and buttons as "name=caption+" (shown) or "name-" (hidden), menus last.
  std::string Controls() {
    std::string text;
    for (const char* name : {"Label2", "Label3", "Label4", "Label7", "Label8"}) {
      auto* label = findChild<QLabel*>(name);
      text += std::string(name) + "=" + label->text().toStdString() + (label->isVisible() ? "+ " : "- ");
    }
    for (const char* name : {"Command1", "Command2", "Command3"})
      text += std::string(name) + (findChild<QWidget*>(name)->isVisible() ? "+ " : "- ");
    return text + (findChild<QMenu*>("f000")->isEnabled() ? "menus" : "no menus");
  }

 protected:
  MessageAnswer ShowMessageBox(const std::string&, const std::string& text,
                               const std::string& detail, MessageIcon, MessageButtons) override {
    messages.push_back(detail.empty() ? text : text + "\n" + detail);
    return MessageAnswer::kOk;
  }
  void EndProgram() override { ended = true; }
  std::optional<int> AskNumber(const char* prompt, int current, int, int) override {
    asked.push_back(std::string(prompt) + " " + std::to_string(current));
    const std::optional<int> number = numbers.front();
    numbers.erase(numbers.begin());
    return number;
  }
};

class LinkMainTest : public QObject {
  Q_OBJECT

 private slots:
  void FolderRunShowsRowsSortsSavesAndKeepsOptions();
  void RunShowsWhereItIsOnTheControls();
  void SettingsChooseFolderOptionsAndTarget();
  void SinglePageDialogAcceptsAddressesAndAbsolutePaths();
  void EnterInTheDialogChecksTheTypedPage();
  void RowsArrivingAfterAHeaderClickTakeTheirSortedPlace();
  void ProgressShowsCountsAndTheAddressWaitedFor();
  void SingleWindowAnswersALaterStart();
  void ColumnsLayoutAndTimeOutAreKeptWithinTheScreen();
  void RowsOpenCopyAndAreAskedAgainInPlace();
  void RetriesAndRateAreAskedKeptAndTakenByTheRun();
  void MovedRowsAreRewrittenPutBackAndSetAside();
};

/// The dialog's controls as its logic sees them, with the messages it showed.
class FakeKobetuView : public KobetuView {
 public:
  std::string Text1() override { return text; }
  void SetText1(const std::string& value) override { text = value; }
  void SelectAllText1() override {}
  void FocusText1() override {}
  void CloseDialog() override { closed = true; }
  MessageAnswer ShowMessage(const std::string&, const std::string& message, MessageIcon,
                            MessageButtons) override {
    messages.push_back(message);
    return MessageAnswer::kOk;
  }
  std::optional<std::string> ShowOpenDialog(const std::string&) override { return chosen; }

  std::string text;
  bool closed = false;
  std::vector<std::string> messages;
  std::optional<std::string> chosen;
};

QString Cell(QTreeView* list, int row, int column) {
  return list->model()->index(row, column).data().toString();
}

void LinkMainTest::FolderRunShowsRowsSortsSavesAndKeepsOptions() {
  test::TempDir dir;
  test::WriteFile(dir / "site/a.htm",
                  "<A HREF=\"http://127.0.0.1:9/b.pl\">b</A><A HREF=\"http://127.0.0.1:9/a.pl\">a</A>");
  PosixDisk disk;
  CurlPool http;
  TestWindow window(dir.path(), disk, http);
  window.show();
  QVERIFY(window.SetFolder(dir / "site"));

  window.findChild<QPushButton*>("Command1")->click();
  QCOMPARE(window.messages.size(), size_t{2});
  QCOMPARE(window.messages[0], WindowMessageFor(notice::StartQuestion{1}).text);
  auto* list = window.findChild<QTreeView*>("ListView1");
  QCOMPARE(list->model()->rowCount(), 2);
  QCOMPARE(Cell(list, 0, kColName), QString("b"));
  QCOMPARE(Cell(list, 0, kColMark), QString("Ｐ"));
  QCOMPARE(Cell(list, 1, kColFile), QString::fromStdString(dir / "site/a.htm"));

  // Two clicks on the name header: descending, then ascending.
  QHeaderView* header = list->header();
  const QPoint name_header(header->sectionViewportPosition(kColName) + 5, header->height() / 2);
  QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, name_header);
  QCOMPARE(Cell(list, 0, kColName), QString("b"));
  QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, name_header);
  QCOMPARE(Cell(list, 0, kColName), QString("a"));

  test::FakeSaveDialog dialog;
  dialog.answer = dir / "report.csv";
  window.SetSaveDialog(&dialog);
  window.Command3_Click();
  QCOMPARE(dialog.proposed, std::vector<std::string>{kDefaultReportName});
  const std::string pl = ",\x82\x6F,http://127.0.0.1:9/";
  QCOMPARE(test::ReadFile(dir / "report.csv"),
           "000002" + pl + "a.pl,a," + (dir / "site/a.htm") + "\r\n000001" + pl + "b.pl,b," +
               (dir / "site/a.htm") + "\r\n");

  window.messages.clear();
  window.Command3_Click();  // the same name again: asked before it is replaced
  QCOMPARE(dialog.proposed.back(), dir / "report.csv");
  QCOMPARE(window.messages,
           std::vector<std::string>{
               WindowMessageFor(notice::OverwriteQuestion{dir / "report.csv"}).text});
  dialog.answer = dir / "detail.html";
  dialog.filter = kDetailedHtmlFilterIndex;
  window.Command3_Click();
  const std::string detail = test::ReadFile(dir / "detail.html");
  QVERIFY(detail.find("<dd>" + (dir / "site") + "</dd>") != std::string::npos);
  QVERIFY(detail.find("、ﾀｲﾑｱｳﾄ 60 秒</dd>") != std::string::npos);

  window.findChild<QAction*>("HttpsOption")->trigger();
  window.findChild<QAction*>("AllLinksOption")->trigger();
  QVERIFY(!window.findChild<QAction*>("OnceOption")->isChecked());
  QAction* suspect = window.findChild<QAction*>("SuspectOption");
  QVERIFY(suspect && suspect->isCheckable() && !suspect->isChecked());
  window.findChild<QCheckBox*>("Check2")->setChecked(false);
  window.Pro_Exit_Click();
  QVERIFY(window.ended);
  const std::string settings = test::ReadFile(dir / "Voxtrel.DEF");
  const std::string folder_line = "\r\n" + (dir / "site") + "\r\n 1 \r\n 0 \r\n 1 \r\n\r\n\r\n";
  QVERIFY2(settings.find(folder_line) != std::string::npos, settings.c_str());
  QVERIFY2(settings.ends_with("\r\n\r\n 1 \r\n"), settings.c_str());  // line 9 off, line 10 on
}

void LinkMainTest::RunShowsWhereItIsOnTheControls() {
  test::TempDir dir;
  test::WriteFile(dir / "site/a.htm", "<A HREF=\"http://127.0.0.1:9/a.pl\">a</A>");
  PosixDisk disk;
  CurlPool http;
  TestWindow window(dir.path(), disk, http);
  window.show();
  QVERIFY(window.SetFolder(dir / "site"));
  window.Command1_Click();
  QCOMPARE(window.during, std::vector<std::string>{"Label2=ﾌｧｲﾙ数：1+ Label3=+ Label4=検索中+ "
                                                    "Label7=+ Label8=+ Command1- Command2+ "
                                                    "Command3- no menus"});
  QCOMPARE(window.Controls(), std::string("Label2=ﾌｧｲﾙ数：1+ Label3=+ Label4=検索中- Label7=1 件+ "
                                          "Label8=+ Command1+ Command2- Command3+ menus"));
}

void LinkMainTest::SettingsChooseFolderOptionsAndTarget() {
  test::TempDir dir;
  test::WriteFile(dir / "site/a.htm", "");
  struct Case {
    std::string file;
    std::string folder;
    Qt::CheckState check1;
    Qt::CheckState check2;
    bool https;
    bool once;
  };
  const Case cases[] = {
      {"/\r\n" + (dir / "site") + "\r\n 0 \r\n 2 \r\n 1 \r\n 1 \r\n\r\nhttp://x.jp/a.htm\r\n",
       dir / "site", Qt::Unchecked, Qt::PartiallyChecked, true, true},
      // Only " 1 " itself turns an option on.
      {"/\r\n" + (dir / "site") + "\r\n 1 \r\n 0 \r\n1\r\n 1  \r\n", dir / "site", Qt::Checked,
       Qt::Unchecked, false, false},
      // A folder given relative to somewhere, or a drive that is not there, is refused; the
      // lines after it still apply.
      {"/\r\n.\r\n 0 \r\n", QDir::currentPath().toStdString(), Qt::Unchecked, Qt::Checked,
       false, false},
      {"no such drive\r\n" + (dir / "site") + "\r\n 0 \r\n", dir / "site", Qt::Unchecked,
       Qt::Checked, false, false},
      {"/\r\n" + (dir / "site") +
           "\r\n 1 \r\n 1 \r\n\r\n\r\n\r\n\r\n\r\n\r\n\r\n\r\n\r\n\r\n\r\n 1 \r\n",
       dir / "site", Qt::Checked, Qt::Checked, false, false},
  };
  for (const Case& c : cases) {
    test::WriteFile(dir / "Voxtrel.DEF", c.file);
    PosixDisk disk;
    CurlPool http;
    TestWindow window(dir.path(), disk, http);
    QCOMPARE(window.Dir1Path(), c.folder);
    QCOMPARE(window.findChild<QLabel*>("Label1")->text().toStdString(), c.folder);
    QCOMPARE(window.findChild<QCheckBox*>("Check1")->checkState(), c.check1);
    QCOMPARE(window.findChild<QCheckBox*>("Check2")->checkState(), c.check2);
    QCOMPARE(window.findChild<QAction*>("HttpsOption")->isChecked(), c.https);
    QCOMPARE(window.findChild<QAction*>("OnceOption")->isChecked(), c.once);
    // Line 16 turns on the judgement of answers.
    QCOMPARE(window.findChild<QAction*>("SuspectOption")->isChecked(), c.file.ends_with(" 1 \r\n"));
  }
}

void LinkMainTest::SinglePageDialogAcceptsAddressesAndAbsolutePaths() {
  struct Case {
    std::string typed;
    SinglePageMode mode;  // after OK
    std::string target;
    bool closed;
  };
  const Case cases[] = {
      {"  http://x.jp/a.htm ", SinglePageMode::kWebPage, "http://x.jp/a.htm", true},
      {"https://x.jp/a.SHTML", SinglePageMode::kWebPage, "https://x.jp/a.SHTML", true},
      {"/p/a.html", SinglePageMode::kLocalFile, "/p/a.html", true},
      {"p/a.htm", SinglePageMode::kNone, "p/a.htm", false},  // kept, so the dialog offers it again
      {"http://x.jp/a.txt", SinglePageMode::kLocalFile, "/old.htm", false},
      {"http://", SinglePageMode::kLocalFile, "/old.htm", false},
      {"", SinglePageMode::kLocalFile, "/old.htm", false},
  };
  for (const Case& c : cases) {
    test::TempDir dir;
    PosixDisk disk;
    CurlPool http;
    TestWindow window(dir.path(), disk, http);
    SinglePageChoice& choice = window.single_page();
    choice = SinglePageChoice{"/old.htm", SinglePageMode::kLocalFile};
    KobetuLogic logic(choice);
    FakeKobetuView view;
    logic.Form_Load(view);
    QCOMPARE(view.text, std::string("/old.htm"));
    view.text = c.typed;
    logic.Command1_Click(view, 0);
    QCOMPARE(choice.mode, c.mode);
    QCOMPARE(choice.target, c.target);
    QCOMPARE(view.closed, c.closed);
    QCOMPARE(view.messages.size(), size_t{c.closed ? 0u : 1u});
    logic.Command1_Click(view, 1);  // cancel
    QCOMPARE(choice.mode, SinglePageMode::kNone);
  }
}

void LinkMainTest::EnterInTheDialogChecksTheTypedPage() {
  test::TempDir dir;
  test::WriteFile(dir / "p.htm", "<A HREF=\"http://h.jp/a.pl\">a</A>");
  PosixDisk disk;
  test::FakePool http;
  http.script = [](const std::string& url, int) {
    test::FakeAnswer answer;
    if (url.ends_with("gone.htm") || url.starts_with("http://o.jp")) answer.status = 404;
    answer.body = "<A HREF=\"b.htm\">b</A><A HREF=\"http://o.jp/x\">x</A>";
    return answer;
  };
  TestWindow window(dir.path(), disk, http);
  window.show();
  auto check_page = [&window](const std::string& target) {
    QTimer::singleShot(0, [target] {
      auto* text1 = QApplication::activeModalWidget()->findChild<QLineEdit*>("Text1");
      text1->clear();
      QTest::keyClicks(text1, QString::fromStdString(target));  // no key but Enter is OK
      QTest::keyClick(text1, Qt::Key_Return);
    });
    window.KKK_Search_Click();
  };
  check_page(dir / "p.htm");
  QCOMPARE(window.messages.front(), WindowMessageFor(notice::StartQuestion{1}).text);
  auto* list = window.findChild<QTreeView*>("ListView1");
  QCOMPARE(list->model()->rowCount(), 1);
  QCOMPARE(Cell(list, 0, kColFile), QString::fromStdString(dir / "p.htm"));

  // A page that cannot be fetched says why and leaves no count of the rows before it.
  auto label = [&window](const char* name) { return window.findChild<QLabel*>(name)->text(); };
  check_page("http://h.jp/gone.htm");
  QCOMPARE(window.messages.back(),
           std::string("WEBｻｰﾊﾞｰからHTMLを取得できません。     \nHTTP 404"));
  QCOMPARE(label("Label7"), QString("0 件"));
  // A crawl's labels name where it began and the pages it found, not the folder; asked again,
  // its × rows leave the last one's page shown.
  window.single_page().crawl = true;
  check_page("http://h.jp/top.htm");
  QCOMPARE(label("Label1") + label("Label2"), QString("http://h.jp/top.htmﾌｧｲﾙ数：2"));
  window.Recheck_Click();
  QCOMPARE(label("Label3"), QString("http://h.jp/b.htm"));
}

QStringList Column(QTreeView* list, int column) {
  QStringList cells;
  for (int row = 0; row < list->model()->rowCount(); ++row) cells << Cell(list, row, column);
  return cells;
}

void LinkMainTest::RowsArrivingAfterAHeaderClickTakeTheirSortedPlace() {
  test::TempDir dir;
  std::string page;
  for (const char* name : {"b", "d", "a", "c", "e"})
    page += std::string("<A HREF=\"http://h.jp/") + name + "\">" + name + "</A>\r\n";
  test::WriteFile(dir / "site/a.htm", page);
  PosixDisk disk;
  test::FakePool http;
  http.script = [](const std::string& url, int) {
    test::FakeAnswer answer;
    if (url.ends_with("a") || url.ends_with("c")) answer.status = 404;
    return answer;
  };
  TestWindow window(dir.path(), disk, http);
  window.show();
  QVERIFY(window.SetFolder(dir / "site"));
  auto* list = window.findChild<QTreeView*>("ListView1");
  // The first click on a column sorts it descending; the rows still to come join in order.
  window.on_row = [&](int64_t number) {
    if (number == 2) window.ListView1_ColumnClick(kColName);
  };
  window.Command1_Click();
  QCOMPARE(Column(list, kColName), QStringList({"e", "d", "c", "b", "a"}));
  list->setCurrentIndex(list->model()->index(0, kColName));
  window.ListView1_ColumnClick(kColNo);  // page order; the current row stays on its link
  QCOMPARE(Column(list, kColName), QStringList({"b", "d", "a", "c", "e"}));
  QCOMPARE(list->currentIndex().row(), 4);
  list->setCurrentIndex(list->model()->index(1, kColName));
  window.ListView1_ColumnClick(kColNo);
  QCOMPARE(Column(list, kColName), QStringList({"e", "c", "a", "d", "b"}));
  QCOMPARE(list->currentIndex().row(), 3);

  // × only: the view filters, the rows stay whole and map back to their result rows.
  window.findChild<QCheckBox*>("FailedOnly")->setChecked(true);
  QCOMPARE(Column(list, kColName), QStringList({"c", "a"}));
  QCOMPARE(window.results().Count(), size_t{5});
  const size_t index = window.ResultIndexOfViewRow(list->model()->index(1, 0));
  QCOMPARE(window.results().Row(index).link.name, std::string("a"));
  window.findChild<QCheckBox*>("FailedOnly")->setChecked(false);
  QCOMPARE(list->model()->rowCount(), 5);
}

void LinkMainTest::ProgressShowsCountsAndTheAddressWaitedFor() {
  test::TempDir dir;
  PosixDisk disk;
  CurlPool http;
  TestWindow window(dir.path(), disk, http);
  window.show();
  auto* label8 = window.findChild<QLabel*>("Label8");
  auto* bar = window.findChild<QProgressBar*>("ProgressBar");
  window.RunStarted(3);
  window.LinkStarted("http://a.jp/");
  const std::string slow = "http://slow.jp/x";
  window.Progress(RunProgress{1, 3, 40, 120, slow, 12400});
  QVERIFY(bar->isVisible());
  QCOMPARE(bar->value(), 1);
  QCOMPARE(bar->maximum(), 3);
  QCOMPARE(bar->text(), QString("ﾍﾟｰｼﾞ 1 / 3    ﾘﾝｸ 40 / 120"));
  QCOMPARE(label8->text(), QString("接続中 ： http://slow.jp/x （12秒）"));
  window.RunFinished(RunOutcome::kDone, 0);
  QVERIFY(!bar->isVisible());
}

void LinkMainTest::SingleWindowAnswersALaterStart() {
  test::TempDir dir;
  const QString name = SingleWindowName(dir.path());
  QVERIFY(!CallRunningWindow(name, 200));
  SingleWindowServer server;
  int calls = 0;
  QVERIFY(server.Listen(name, [&calls] { ++calls; }));
  bool answered = false;
  std::thread later([&] { answered = CallRunningWindow(name, 5000); });
  QTRY_COMPARE(calls, 1);
  later.join();
  QVERIFY(answered);
}

void LinkMainTest::ColumnsLayoutAndTimeOutAreKeptWithinTheScreen() {
  test::TempDir dir;
  PosixDisk disk;
  CurlPool http;
  WindowLayout layout;
  {
    TestWindow window(dir.path(), disk, http);
    window.show();
    QHeaderView* header = window.findChild<QTreeView*>("ListView1")->header();
    const int view_width = header->viewport()->width();
    QVERIFY(
        header->sectionSize(kReasonColumn) >
        header->fontMetrics().horizontalAdvance("ﾘﾀﾞｲﾚｸﾄ先のｱﾄﾞﾚｽが使えません"));  // the longest
    QVERIFY(header->sectionViewportPosition(kReasonColumn) + header->sectionSize(kReasonColumn) <=
            view_width);
    window.resize(window.width() + 150, window.height() + 100);
    QApplication::processEvents();
    QVERIFY(header->sectionViewportPosition(kReasonColumn) + header->sectionSize(kReasonColumn) >
            view_width + 120);
    window.SetTimeout(120);
    layout = window.CurrentLayout();
    window.Pro_Exit_Click();
  }
  QVERIFY(test::ReadFile(dir / "Voxtrel.DEF")
              .ends_with("\r\n\r\n\r\n\r\n 120 \r\n" + FormatWindowLayout(layout) + "\r\n"));
  TestWindow window(dir.path(), disk, http);
  int timeout = 0;
  window.SetTimeoutListener([&timeout](int seconds) { timeout = seconds; });
  QCOMPARE(timeout, 120);
  window.show();
  QApplication::processEvents();
  QCOMPARE(FormatWindowLayout(window.CurrentLayout()), FormatWindowLayout(layout));

  // Kept wider than the screen: fitted to it, and never so small that a control is cut off.
  const struct {
    QSize kept;
    QMargins frame;
    QRect available, placed;
  } cases[] = {
      {{1100, 600}, {}, {0, 0, 1024, 768}, {0, 84, 1024, 600}},
      {{900, 500}, {}, {0, 0, 1920, 1080}, {510, 290, 900, 500}},
      {{1300, 900}, {4, 30, 4, 4}, {1920, 24, 1280, 776}, {1920, 24, 1272, 742}},
      {{700, 300}, {}, {0, 0, 640, 400}, {0, 0, 842, 464}},  // only the least size, at its start
  };
  for (const auto& c : cases)
    QCOMPARE(FitWindowToScreen(c.kept, {842, 464}, c.frame, c.available), c.placed);
  window.resize(1100, 700);
  window.Pro_Exit_Click();
  TestWindow fitted(dir.path(), disk, http);
  fitted.show();
  QVERIFY(fitted.screen()->availableGeometry().contains(fitted.frameGeometry()));
  fitted.resize(640, 400);
  QCOMPARE(fitted.size(), QSize(640, 400));
  for (auto* parent : {fitted.findChild<QWidget*>("client"), fitted.findChild<QWidget*>("Frame1")})
    for (QWidget* control : parent->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
      if (control->isVisible() && control->objectName() != "Frame2")
        QVERIFY2(parent->rect().contains(control->geometry()), qPrintable(control->objectName()));
}

void LinkMainTest::RetriesAndRateAreAskedKeptAndTakenByTheRun() {
  test::TempDir dir;
  PosixDisk disk;
  CurlPool http;
  {
    TestWindow window(dir.path(), disk, http);
    window.numbers = {3, std::nullopt, 2, 0};
    for (const char* name : {"RetriesOption", "RetriesOption", "RateOption", "RetriesOption"})
      window.findChild<QAction*>(name)->trigger();
    QCOMPARE(window.asked,
             (std::vector<std::string>{
                 kRetriesPrompt + std::string(" 1"), kRetriesPrompt + std::string(" 3"),
                 kRatePrompt + std::string(" 0"), kRetriesPrompt + std::string(" 3")}));
    window.Pro_Exit_Click();
  }
  QVERIFY(test::ReadFile(dir / "Voxtrel.DEF")
              .ends_with("http://\r\n\r\n\r\n\r\n\r\n\r\n 0 \r\n 2 \r\n"));
  TestWindow window(dir.path(), disk, http);
  QCOMPARE(window.settings().retries, 0);
  QCOMPARE(window.settings().rate, 2.0);
}

}  // namespace
void LinkMainTest::RowsOpenCopyAndAreAskedAgainInPlace() {
  test::TempDir dir;
  const std::string page = dir / "site/a.htm";
  test::WriteFile(page,
                  "<A HREF=\"http://a.jp/ok\">ok</A>\r\n<A HREF=\"http://a.jp/gone\">g</A>\r\n"
                  "<A HREF=\"http://a.jp/dead\">d</A>\r\n");
  PosixDisk disk;
  test::FakePool http;
  http.script = [](const std::string& url, int n) {  // /gone answers when asked again
    test::FakeAnswer answer;
    if (url.ends_with("dead") || (url.ends_with("gone") && n == 1)) answer.status = 404;
    return answer;
  };
  TestWindow window(dir.path(), disk, http);
  window.show();
  window.activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(&window));
  QVERIFY(window.SetFolder(dir / "site"));
  window.findChild<QPushButton*>("Command1")->click();
  auto* list = window.findChild<QTreeView*>("ListView1");
  QCOMPARE(list->model()->rowCount(), 3);
  std::vector<std::string> calls;
  window.row_actions().SetDesktop(
      {[&calls](const QUrl& url) {
         calls.push_back("open " + url.toString().toStdString());
         return !url.isLocalFile();  // no program takes files
       },
       [&calls](const QString& text) { calls.push_back("copy " + text.toStdString()); }});
  auto centre = [list](int row) { return list->visualRect(list->model()->index(row, 2)).center(); };
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, centre(0));
  QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, centre(0));
  QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::ControlModifier, centre(2));
  QTest::keyClick(list, Qt::Key_C, Qt::ControlModifier);
  window.row_actions().ShowMenu(centre(1));
  for (const char* name : {"OpenLink", "OpenPage", "CopyUrl", "CopyRows"})
    window.findChild<QAction*>(name)->trigger();
  window.row_actions().menu()->close();
  const std::string csv = "copy 000001,◎,http://a.jp/ok,ok," + page +
                          "\r\n000003,×,http://a.jp/dead,d," + page + "\r\n";
  QCOMPARE(calls, (std::vector<std::string>{"open http://a.jp/ok", csv, "open http://a.jp/gone",
                                            "open file://" + page, "copy http://a.jp/gone", csv}));
  QCOMPARE(window.messages.back(), kOpenFailedMessage + ("\n" + page));

  window.ListView1_ColumnClick(kColNo);  // sorted since: rows are updated where they stand
  window.messages.clear();
  window.row_actions().ShowMenu(centre(0));
  QAction* recheck = window.findChild<QAction*>("RecheckFailed");
  QVERIFY(recheck->isEnabled());
  recheck->trigger();
  window.row_actions().menu()->close();
  QString marks;
  for (int row = 0; row < 3; ++row)
    marks += Cell(list, row, kColNo) + Cell(list, row, kColMark) + " ";
  QCOMPARE(marks, QString("000003× 000002◎ 000001◎ "));
  QCOMPARE(http.asked,
           (std::map<std::string, int>{
               {"http://a.jp/dead", 2}, {"http://a.jp/gone", 2}, {"http://a.jp/ok", 1}}));
  QCOMPARE(window.messages, std::vector<std::string>{"Voxtrelが完了しました。    "
                                                     "\r\r× 1 件 / ◎ 2 件 / △ 0 件 / Ｐ 0 件"});
}

void LinkMainTest::MovedRowsAreRewrittenPutBackAndSetAside() {
  test::LocalServer server;
  server.server().Get("/old", [](const httplib::Request&, httplib::Response& res) {
    res.status = 301;
    res.set_header("Location", "/new");
  });
  server.server().Get("/new", [](const httplib::Request&, httplib::Response& res) {
    res.set_content("fine", "text/html");
  });
  const std::string base = server.Start();  // any other address answers 404
  test::TempDir dir;
  const std::string page = dir / "site/a.htm";
  const std::string line2 = "\r\n<A HREF=\"" + base + "/dead\">d</A>\r\n";
  const std::string before = "<A HREF=\"" + base + "/old\">o</A>" + line2;
  const std::string after = "<A HREF=\"" + base + "/new\">o</A>" + line2;
  test::WriteFile(page, before);
  PosixDisk disk;
  CurlPool http;
  TestWindow window(dir.path(), disk, http);
  window.show();
  QVERIFY(window.SetFolder(dir / "site"));
  window.findChild<QPushButton*>("Command1")->click();
  auto* list = window.findChild<QTreeView*>("ListView1");
  QCOMPARE(list->model()->rowCount(), 2);
  FileFacts facts;
  std::string err;
  QVERIFY(disk.FactsOf(page, &facts, &err));
  const PageStamp stamp = StampOf(before, facts.modified);
  auto centre = [list](int row) { return list->visualRect(list->model()->index(row, 2)).center(); };

  struct Case {
    bool stamped;        // false: rows whose pages the run did not stamp, as a report's
    const char* button;  // pressed in the changes dialog; none when it must not open
    std::string bytes;   // the page afterwards
    size_t backups;
  };
  const Case cases[] = {
      {false, nullptr, before, 0},
      {true, "MendCancel", before, 0},
      {true, "MendApply", after, 1},
  };
  const std::string backups = dir / "site/.voxtrel-backup";
  for (const Case& c : cases) {
    window.mend_base().stamps.clear();
    if (c.stamped) window.mend_base().stamps[page] = stamp;
    QString diff;
    QTimer::singleShot(0, [&diff, &c] {
      QWidget* dialog = QApplication::activeModalWidget();
      if (!dialog || dialog->objectName() != "MendDialog") return;
      diff = dialog->findChild<QPlainTextEdit*>("MendDiff")->toPlainText();
      if (c.button) dialog->findChild<QPushButton*>(c.button)->click();
    });
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, centre(0));
    window.row_actions().ShowMenu(centre(0));
    QAction* mend = window.findChild<QAction*>("MendRows");
    QVERIFY(mend->isEnabled());
    mend->trigger();
    window.row_actions().menu()->close();
    QCOMPARE(diff.contains(QString::fromStdString("+<A HREF=\"" + base + "/new\">o</A>")),
             c.button != nullptr);
    QCOMPARE(test::ReadFile(page), c.bytes);
    size_t kept = 0;
    std::error_code none;  // no folder: no backup
    for (const auto& entry : std::filesystem::directory_iterator(backups, none)) {
      QCOMPARE(test::ReadFile(entry.path().string() + "/a.htm"), before);
      ++kept;
    }
    QCOMPARE(kept, c.backups);
  }
  QVERIFY2(window.messages.back().find("1 ﾍﾟｰｼﾞを書き換えました。") == 0,
           window.messages.back().c_str());
  window.findChild<QAction*>("UndoMends")->trigger();
  QCOMPARE(test::ReadFile(page), before);
  QCOMPARE(window.messages.back(), "1 ﾍﾟｰｼﾞを元に戻しました。    \n元に戻したﾍﾟｰｼﾞ：\n" + page);

  window.row_actions().ShowMenu(centre(1));
  window.findChild<QAction*>("IgnoreRows")->trigger();
  window.row_actions().menu()->close();
  QCOMPARE(test::ReadFile(dir / "site/.voxtrelignore"), base + "/dead\n");
  QCOMPARE(list->model()->rowCount(), 1);
  window.findChild<QPushButton*>("Command1")->click();  // the next run leaves it out
  QCOMPARE(list->model()->rowCount(), 1);
  QVERIFY2(window.messages.back().ends_with("\r無視したﾘﾝｸ 1 件"), window.messages.back().c_str());
}

}  // namespace voxtrel

QTEST_MAIN(voxtrel::LinkMainTest)
#include "link_main_test.moc"
