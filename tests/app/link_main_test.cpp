#include "app/link_main.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTimer>
#include <QPushButton>
#include <QTreeView>
#include <QtTest>

#include <string>
#include <vector>

#include "support/fake_save_dialog.h"
#include "support/files.h"
#include "support/temp_dir.h"

namespace voxtrel {
namespace {

/// The window with its message boxes answered OK and recorded, and a program end that returns.
class TestWindow : public Link_Main {
 public:
  using Link_Main::Link_Main;
  std::vector<std::string> messages;
  bool ended = false;
  /// What the controls showed as each row arrived.
  std::vector<std::string> during;

  void RowAdded(const ResultRow& row) override {
    Link_Main::RowAdded(row);
    during.push_back(Controls());
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
  MessageAnswer ShowMessageBox(const std::string&, const std::string& text, MessageIcon,
                               MessageButtons) override {
    messages.push_back(text);
    return MessageAnswer::kOk;
  }
  void EndProgram() override { ended = true; }
};

class LinkMainTest : public QObject {
  Q_OBJECT

 private slots:
  void FolderRunShowsRowsSortsSavesAndKeepsOptions();
  void RunShowsWhereItIsOnTheControls();
  void SettingsChooseFolderOptionsAndTarget();
  void SinglePageDialogAcceptsAddressesAndAbsolutePaths();
  void EnterInTheDialogChecksTheTypedPage();
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
  QCOMPARE(window.messages[0], StartConfirmationText(1));
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
  QCOMPARE(window.messages, std::vector<std::string>{OverwriteQuestionText(dir / "report.csv")});
  dialog.answer = dir / "detail.html";
  dialog.filter = kDetailedHtmlFilterIndex;
  window.Command3_Click();
  QVERIFY(test::ReadFile(dir / "detail.html").find("<dd>" + (dir / "site") + "</dd>") !=
          std::string::npos);

  window.findChild<QAction*>("HttpsOption")->trigger();
  window.findChild<QAction*>("AllLinksOption")->trigger();
  QVERIFY(!window.findChild<QAction*>("OnceOption")->isChecked());
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
  }
}

void LinkMainTest::SinglePageDialogAcceptsAddressesAndAbsolutePaths() {
  struct Case {
    std::string typed;
    int16_t mode;  // after OK
    std::string target;
    bool closed;
  };
  const Case cases[] = {
      {"  http://x.jp/a.htm ", kModeWebPage, "http://x.jp/a.htm", true},
      {"https://x.jp/a.SHTML", kModeWebPage, "https://x.jp/a.SHTML", true},
      {"/p/a.html", kModeLocalFile, "/p/a.html", true},
      {"p/a.htm", kModeNone, "p/a.htm", false},  // kept, so the dialog offers it again
      {"http://x.jp/a.txt", kModeLocalFile, "/old.htm", false},
      {"http://", kModeLocalFile, "/old.htm", false},
      {"", kModeLocalFile, "/old.htm", false},
  };
  for (const Case& c : cases) {
    test::TempDir dir;
    PosixDisk disk;
    CurlPool http;
    TestWindow window(dir.path(), disk, http);
    SinglePageChoice& choice = window.single_page();
    choice = SinglePageChoice{"/old.htm", kModeLocalFile};
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
    QCOMPARE(choice.mode, kModeNone);
  }
}

void LinkMainTest::EnterInTheDialogChecksTheTypedPage() {
  test::TempDir dir;
  test::WriteFile(dir / "p.htm", "<A HREF=\"http://127.0.0.1:9/a.pl\">a</A>");
  PosixDisk disk;
  CurlPool http;
  TestWindow window(dir.path(), disk, http);
  window.show();
  QTimer::singleShot(0, [&dir] {
    auto* text1 = QApplication::activeModalWidget()->findChild<QLineEdit*>("Text1");
    text1->clear();
    QTest::keyClicks(text1, QString::fromStdString(dir / "p.htm"));  // no key but Enter is OK
    QTest::keyClick(text1, Qt::Key_Return);
  });
  window.KKK_Search_Click();
  QCOMPARE(window.messages.front(), StartConfirmationText(1));
  auto* list = window.findChild<QTreeView*>("ListView1");
  QCOMPARE(list->model()->rowCount(), 1);
  QCOMPARE(Cell(list, 0, kColFile), QString::fromStdString(dir / "p.htm"));
}

}  // namespace
}  // namespace voxtrel

QTEST_MAIN(voxtrel::LinkMainTest)
#include "link_main_test.moc"
