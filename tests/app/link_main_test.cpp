#include "app/link_main.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QHeaderView>
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

  window.findChild<QAction*>("HttpsOption")->trigger();
  QVERIFY(!window.findChild<QAction*>("OnceOption")->isChecked());
  window.findChild<QCheckBox*>("Check2")->setChecked(false);
  window.Pro_Exit_Click();
  QVERIFY(window.ended);
  const std::string settings = test::ReadFile(dir / "Voxtrel.DEF");
  const std::string folder_line = "\r\n" + (dir / "site") + "\r\n 1 \r\n 0 \r\n 1 \r\n\r\n\r\n";
  QVERIFY2(settings.find(folder_line) != std::string::npos, settings.c_str());
}

}  // namespace
}  // namespace voxtrel

QTEST_MAIN(voxtrel::LinkMainTest)
#include "link_main_test.moc"
