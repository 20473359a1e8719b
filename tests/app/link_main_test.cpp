#include "app/link_main.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileSystemModel>
#include <QFile>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QProcess>
#include <QPushButton>
#include <QTimer>
#include <QTreeView>
#include <QtTest>

#include <chrono>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <optional>
#include <thread>

#include "app/captions.h"
#include "app/instance_lock.h"
#include "app/link_kobetu.h"
#include "app/settings_file.h"
#include "engine/messages.h"
#include "platform/cp932.h"
#include "run/run_control.h"
#include "run/single_page.h"
#include "support/local_server.h"
#include "support/temp_dir.h"
#include "version.h"

namespace voxtrel {
namespace {

struct Shown {
  std::string title;
  std::string text;
  MessageIcon icon;
  MessageButtons buttons;
};

/// The window with its message boxes, browse dialog and ending scripted.
class TestWindow : public Link_Main {
 public:
  using Link_Main::Link_Main;

  MessageAnswer ShowMessageBox(const std::string& title, const std::string& text,
                               MessageIcon icon, MessageButtons buttons) override {
    messages.push_back({title, text, icon, buttons});
    if (on_message) on_message(messages.back());
    if (answers.empty()) return MessageAnswer::kOk;
    MessageAnswer answer = answers.front();
    answers.pop_front();
    return answer;
  }
  std::optional<std::string> ShowOpenDialog(const std::string& filter) override {
    open_filters.push_back(filter);
    return open_answer;
  }
  void Yield() override {
    if (on_yield) on_yield();
    Link_Main::Yield();
  }
  void EndProgram() override { ++end_calls; }

  std::deque<MessageAnswer> answers;
  std::vector<Shown> messages;
  std::function<void(const Shown&)> on_message;
  std::function<void()> on_yield;
  std::optional<std::string> open_answer;
  std::vector<std::string> open_filters;
  int end_calls = 0;
};

class ScriptedSaveDialog : public SaveDialog {
 public:
  std::optional<std::string> ShowSave(const std::string& proposed_name,
                                      const std::string& filter) override {
    proposed.push_back(proposed_name);
    filters.push_back(filter);
    return answer;
  }
  std::optional<std::string> answer;
  std::vector<std::string> proposed;
  std::vector<std::string> filters;
};

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
}

bool Exists(const std::string& path) { return QFile::exists(QString::fromStdString(path)); }

template <typename T>
T* Find(QWidget* window, const char* name) {
  return window->findChild<T*>(QString::fromLatin1(name));
}

QString Text(QWidget* window, const char* name) { return Find<QLabel>(window, name)->text(); }

/// Runs `act` on the single page dialog once it is open.
void WhenDialogOpens(std::function<void(Link_Kobetu*)> act, int tries = 200) {
  QTimer::singleShot(10, [act, tries] {
    if (auto* dialog = qobject_cast<Link_Kobetu*>(QApplication::activeModalWidget())) {
      act(dialog);
      // A failed check inside `act` must not leave the modal dialog waiting for ever.
      if (dialog->isVisible()) dialog->reject();
    } else if (tries > 0) {
      WhenDialogOpens(act, tries - 1);
    }
  });
}

/// Whether process `pid` holds an flock, as /proc/locks lists it.
bool HoldsFlock(qint64 pid) {
  QFile locks(QStringLiteral("/proc/locks"));
  if (!locks.open(QIODevice::ReadOnly)) return false;
  const QByteArray needle = " " + QByteArray::number(pid) + " ";
  for (const QByteArray& line : locks.readAll().split('\n'))
    if (line.contains("FLOCK") && line.contains(needle)) return true;
  return false;
}

}  // namespace

class LinkMainTest : public QObject {
  Q_OBJECT

 private:
  /// A program folder, a site to check and the window on them, with short time-outs.
  struct Setup {
    Setup() : http(Options()) {
      std::filesystem::create_directories(site / "sub");
      start = QDir::currentPath();
      QDir::setCurrent(QString::fromStdString(site.path()));
    }
    ~Setup() { QDir::setCurrent(start); }
    static HttpOptions Options() {
      HttpOptions options;
      options.connect_timeout_ms = 2000;
      options.total_timeout_ms = 5000;
      options.keep_alive_interval_ms = 20;
      return options;
    }
    std::unique_ptr<TestWindow> Open() {
      auto window = std::make_unique<TestWindow>(folder.path(), disk, http);
      window->show();
      return window;
    }
    std::string Base() {
      if (base.empty()) {
        server.server().Get("/ok.html", [](const httplib::Request&, httplib::Response& res) {
          res.set_content("<html>ok</html>", "text/html");
        });
        server.server().Get("/missing.html", [](const httplib::Request&, httplib::Response& res) {
          res.status = 404;
        });
        server.server().Get(R"(/slow\d*)", [](const httplib::Request&, httplib::Response& res) {
          std::this_thread::sleep_for(std::chrono::milliseconds(700));
          res.set_content("slow", "text/plain");
        });
        server.server().Get("/page.html", [this](const httplib::Request&, httplib::Response& res) {
          res.set_content("<a href=\"" + base + "/missing.html\">Gone</a>\r\n", "text/html");
        });
        base = server.Start();
      }
      return base;
    }
    std::string SettingsPath() const { return folder / kSettingsFileName; }

    test::TempDir folder;
    test::TempDir site;
    QString start;
    PosixDisk disk;
    CurlRequestFactory http;
    test::LocalServer server;
    std::string base;
  };

 private slots:
  void initTestCase() {
    QFont font(QStringLiteral("Noto Sans CJK JP"));
    font.setPixelSize(12);
    QApplication::setFont(font);
  }

  void StartUpShowsTheDesignedWindow() {
    Setup setup;
    auto window = setup.Open();

    QCOMPARE(window->windowTitle(), VersionTitle(kVersionMajor, kVersionMinor, kVersionPatch));
    QVERIFY(window->windowTitle().startsWith(QStringLiteral("Voxtrel    Ver")));
    QCOMPARE(VersionTitle(1, 0, 8), QStringLiteral("Voxtrel    Ver1.08") + QString(17, ' ') +
                                        QString::fromUtf8(kTitleNotice));
    QVERIFY(VersionTitle(2, 3, 15).startsWith(QStringLiteral("Voxtrel    Ver2.315 ")));

    for (const char* name :
         {"Command1", "Command2", "Command3", "Label1", "Label2", "Label3", "Label4", "Label5",
          "Label6_0", "Label6_1", "Label6_2", "Label6_3", "Label7", "Label8", "Frame1", "Frame2",
          "Drive1", "Dir1", "Check1", "Check2", "ListView1", "Text1", "List1"})
      QVERIFY2(Find<QWidget>(window.get(), name), name);
    QVERIFY(Find<QPushButton>(window.get(), "Command1")->isVisible());
    for (const char* hidden : {"Command2", "Command3", "Label4", "Label5", "List1"})
      QVERIFY2(!Find<QWidget>(window.get(), hidden)->isVisible(), hidden);
    QCOMPARE(Find<QWidget>(window.get(), "Command2")->geometry(),
             Find<QWidget>(window.get(), "Command1")->geometry());
    QCOMPARE(Find<QPushButton>(window.get(), "Command1")->text(), QStringLiteral("ﾁｪｯｸ開始"));
    QCOMPARE(Find<QPushButton>(window.get(), "Command2")->text(), QStringLiteral("検索中止"));
    QCOMPARE(Find<QPushButton>(window.get(), "Command3")->text(), QStringLiteral("結果保存"));
    QCOMPARE(Text(window.get(), "Label6_0"), QStringLiteral("ﾌｫﾙﾀﾞ名："));
    QCOMPARE(Text(window.get(), "Label6_1"), QStringLiteral("検索名 ："));
    QCOMPARE(Text(window.get(), "Label6_3"), QStringLiteral("ﾄﾞﾗｲﾌﾞ名："));
    for (const char* empty : {"Label2", "Label3", "Label7", "Label8"})
      QVERIFY2(Text(window.get(), empty).isEmpty(), empty);
    QCOMPARE(Text(window.get(), "Label1"), QString::fromStdString(setup.site.path()));
    QCOMPARE(Find<QCheckBox>(window.get(), "Check1")->checkState(), Qt::Checked);
    QCOMPARE(Find<QCheckBox>(window.get(), "Check2")->checkState(), Qt::Checked);
    QCOMPARE(Find<QCheckBox>(window.get(), "Check1")->text(), QStringLiteral("ｻﾌﾞﾃﾞｨﾚｸﾄﾘを含む"));
    QCOMPARE(Find<QCheckBox>(window.get(), "Check2")->text(), QStringLiteral("ﾘﾝｸ結果すべて表示"));
    QCOMPARE(window->context().SinglePageTarget, std::string("http://"));
    QCOMPARE(window->context().SinglePageMode, kModeNone);
    QCOMPARE(Find<QComboBox>(window.get(), "Drive1")->itemText(0).section(' ', 0, 0),
             QStringLiteral("/"));
    // Geometry in pixels from twips at fifteen per pixel.
    QCOMPARE(window->centralWidget()->size(), QSize(842, 442));
    QCOMPARE(Find<QWidget>(window.get(), "ListView1")->geometry(), QRect(16, 40, 633, 385));
    QCOMPARE(Find<QWidget>(window.get(), "Frame1")->geometry(), QRect(656, 24, 177, 401));
    QCOMPARE(Find<QWidget>(window.get(), "Command1")->geometry(), QRect(32, 320, 113, 65));

    auto* list = Find<QTreeView>(window.get(), "ListView1");
    QAbstractItemModel* model = list->model();
    QCOMPARE(model->columnCount(), 6);
    QCOMPARE(model->rowCount(), 0);
    const QStringList captions{"No", "結果", "リンク先 URL", "リンク名", "ファイル名", "No2"};
    const int widths[] = {53, 40, 367, 200, 467, 0};
    for (int column = 0; column < 6; ++column) {
      QCOMPARE(model->headerData(column, Qt::Horizontal).toString(), captions[column]);
      QCOMPARE(list->header()->sectionSize(column), widths[column]);
      const auto alignment = model->headerData(column, Qt::Horizontal, Qt::TextAlignmentRole)
                                 .value<Qt::Alignment>();
      QCOMPARE(bool(alignment & Qt::AlignHCenter), column == 1);
    }

    auto* f000 = Find<QMenu>(window.get(), "f000");
    QCOMPARE(f000->title(), QStringLiteral("ﾌｧｲﾙ(&F)"));
    QVERIFY(f000->menuAction()->isEnabled());
    const QList<QAction*> items = f000->actions();
    QCOMPARE(items.size(), 3);
    QCOMPARE(items[0]->objectName(), QStringLiteral("KKK_Search"));
    QCOMPARE(items[0]->text(), QStringLiteral("個別ﾌｧｲﾙ検索(&K)"));
    QCOMPARE(items[1]->objectName(), QStringLiteral("f001"));
    QVERIFY(items[1]->isSeparator());
    QCOMPARE(items[2]->objectName(), QStringLiteral("Pro_Exit"));
    QCOMPARE(items[2]->text(), QStringLiteral("ﾌﾟﾛｸﾞﾗﾑを終了(&C)"));
    // Start-up never creates the settings file.
    QVERIFY(!Exists(setup.SettingsPath()));
  }

  void ResizingKeepsListAndPanelWithTheWindow() {
    Setup setup;
    auto window = setup.Open();
    auto* list = Find<QWidget>(window.get(), "ListView1");
    auto* frame = Find<QWidget>(window.get(), "Frame1");
    const QRect list_before = list->geometry();
    const QRect frame_before = frame->geometry();
    window->resize(window->width() + 100, window->height() + 60);
    QTRY_COMPARE(list->width(), list_before.width() + 100);
    QCOMPARE(list->height(), list_before.height() + 60);
    QCOMPARE(frame->x(), frame_before.x() + 100);
    QCOMPARE(frame->height(), frame_before.height() + 60);
    QCOMPARE(Find<QWidget>(window.get(), "Command2")->geometry(),
             Find<QWidget>(window.get(), "Command1")->geometry());
  }

  void FolderPickerKeepsLabel1InStep() {
    Setup setup;
    auto window = setup.Open();
    const QString sub = QString::fromStdString(setup.site / "sub");
    auto* dir1 = Find<QTreeView>(window.get(), "Dir1");
    auto* filter = qobject_cast<QSortFilterProxyModel*>(dir1->model());
    QVERIFY(filter);
    auto* files = qobject_cast<QFileSystemModel*>(filter->sourceModel());
    dir1->setCurrentIndex(filter->mapFromSource(files->index(sub)));
    QCOMPARE(Text(window.get(), "Label1"), sub);
    QCOMPARE(window->Dir1Path(), sub.toStdString());
    // A folder that is not there is refused and changes nothing.
    QVERIFY(!window->SetFolder(setup.site / "nowhere"));
    QCOMPARE(Text(window.get(), "Label1"), sub);
    // Drive "/" puts Dir1 on that drive's current folder; Label1 follows.
    QVERIFY(window->SelectDrive("/"));
    QVERIFY(!Text(window.get(), "Label1").isEmpty());
    QVERIFY(!window->SelectDrive("/no/such/volume"));
  }

  void FolderRunShowsRowsWhileItRunsAndEndsFinished() {
    Setup setup;
    const std::string base = setup.Base();
    WriteBytes(setup.site / "index.htm",
               "<a href=\"" + base + "/ok.html\">OK</a>\r\n<a href=\"" + base +
                   "/missing.html#top\">NG</a>\r\n<a href=\"" + base + "/find.pl?q=1\">s</a>\r\n");
    WriteBytes(setup.site / "sub/more.html", "<A HREF=\"" + base + "/missing.html\">x</A>\r\n");
    auto window = setup.Open();
    auto* list = Find<QTreeView>(window.get(), "ListView1");
    auto* command2 = Find<QPushButton>(window.get(), "Command2");
    int rows_seen_running = 0;
    bool menu_disabled_running = false;
    window->on_yield = [&] {
      if (command2->isVisible()) {
        rows_seen_running = std::max(rows_seen_running, list->model()->rowCount());
        menu_disabled_running = !Find<QMenu>(window.get(), "f000")->menuAction()->isEnabled();
      }
    };
    window->answers = {MessageAnswer::kOk};
    Find<QPushButton>(window.get(), "Command1")->click();

    QCOMPARE(window->messages.size(), size_t(2));
    QCOMPARE(window->messages[0].text, StartConfirmationText(2));
    QCOMPARE(window->messages[0].icon, MessageIcon::kQuestion);
    QCOMPARE(window->messages[1].title, std::string("Voxtrel"));
    QCOMPARE(window->messages[1].text, std::string(kMsgRunComplete));
    QCOMPARE(window->messages[1].icon, MessageIcon::kWarning);
    QVERIFY(rows_seen_running >= 1);
    QVERIFY(menu_disabled_running);

    QAbstractItemModel* model = list->model();
    QCOMPARE(model->rowCount(), 4);
    auto cell = [&](int row, int column) { return model->index(row, column).data().toString(); };
    QCOMPARE(cell(0, 0), QStringLiteral("000001"));
    QCOMPARE(cell(0, 1), QStringLiteral("◎"));
    QCOMPARE(cell(0, 2), QString::fromStdString(base + "/ok.html"));
    QCOMPARE(cell(0, 3), QStringLiteral("OK"));
    QCOMPARE(cell(0, 4), QString::fromStdString(setup.site / "index.htm"));
    QCOMPARE(cell(1, 1), QStringLiteral("×"));
    QCOMPARE(cell(1, 2), QString::fromStdString(base + "/missing.html"));
    QCOMPARE(cell(2, 1), QStringLiteral("Ｐ"));
    QCOMPARE(cell(3, 4), QString::fromStdString(setup.site / "sub/more.html"));
    QCOMPARE(cell(3, 5), QStringLiteral("000004"));

    // Finished: start button back, save button shown, status labels hidden, menu usable.
    QVERIFY(Find<QPushButton>(window.get(), "Command1")->isVisible());
    QVERIFY(!command2->isVisible());
    QVERIFY(Find<QPushButton>(window.get(), "Command3")->isVisible());
    QVERIFY(!Find<QLabel>(window.get(), "Label4")->isVisible());
    QVERIFY(!Find<QLabel>(window.get(), "Label5")->isVisible());
    QVERIFY(Find<QMenu>(window.get(), "f000")->menuAction()->isEnabled());
    QCOMPARE(Text(window.get(), "Label7"), QStringLiteral("4 件"));
    QCOMPARE(Text(window.get(), "Label2"), QStringLiteral("ﾌｧｲﾙ数：2"));
    QCOMPARE(Text(window.get(), "Label8"), QString());
    QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
    QCOMPARE(Find<QListWidget>(window.get(), "List1")->count(), 2);
  }

  void FolderRunWithoutSubfoldersOrPagesWarns() {
    Setup setup;
    auto window = setup.Open();
    Find<QCheckBox>(window.get(), "Check1")->setChecked(false);
    Find<QPushButton>(window.get(), "Command1")->click();
    QCOMPARE(window->messages.size(), size_t(1));
    QCOMPARE(window->messages[0].text, std::string(kNoHtmlFilesMessage));
    QCOMPARE(Text(window.get(), "Label2"), QStringLiteral("ﾌｧｲﾙ数：0"));

    QVERIFY(window->SelectDrive("/"));
    QVERIFY(window->SetFolder("/"));
    Find<QPushButton>(window.get(), "Command1")->click();
    QCOMPARE(window->messages.size(), size_t(2));
    QCOMPARE(window->messages[1].text, std::string(kSelectFolderMessage));
  }

  void AbortDuringARequestStopsAfterThatLink() {
    Setup setup;
    const std::string base = setup.Base();
    WriteBytes(setup.site / "index.htm", "<a href=\"" + base + "/slow1\">1</a><a href=\"" + base +
                                             "/slow2\">2</a><a href=\"" + base + "/slow3\">3</a>");
    auto window = setup.Open();
    auto* command2 = Find<QPushButton>(window.get(), "Command2");
    bool aborting_shown = false;
    window->on_message = [&](const Shown& shown) {
      if (shown.icon != MessageIcon::kQuestion) return;
      // Pressed while the first request is still waiting on the server.
      QTimer::singleShot(250, window.get(), [&] {
        QVERIFY(command2->isVisible());
        command2->click();
        command2->click();
        aborting_shown = Find<QLabel>(window.get(), "Label5")->isVisible() &&
                         Text(window.get(), "Label5") == QStringLiteral("中止処理中");
      });
    };
    Find<QPushButton>(window.get(), "Command1")->click();

    QVERIFY(aborting_shown);
    QCOMPARE(window->messages.size(), size_t(2));
    QCOMPARE(window->messages[1].text, std::string(kMsgRunAborted));
    QAbstractItemModel* model = Find<QTreeView>(window.get(), "ListView1")->model();
    QCOMPARE(model->rowCount(), 1);
    QCOMPARE(model->index(0, 2).data().toString(), QString::fromStdString(base + "/slow1"));
    QVERIFY(!command2->isVisible());
    QVERIFY(Find<QPushButton>(window.get(), "Command3")->isVisible());
    QVERIFY(!Find<QLabel>(window.get(), "Label5")->isVisible());
    QCOMPARE(window->context().AbortFlag, int16_t(0));
  }

  void SaveButtonWritesTheReport() {
    Setup setup;
    auto window = setup.Open();
    ScriptedSaveDialog dialog;
    window->SetSaveDialog(&dialog);
    window->context().results.AddRow("000001", "×", "http://h/a", "名前", "/site/i.htm");
    window->context().results.AddRow("000002", "Ｐ", "http://h/s.pl", "", "/site/i.htm");

    const std::string csv = setup.folder / "report.csv";
    dialog.answer = csv;
    Find<QPushButton>(window.get(), "Command3")->click();
    QCOMPARE(dialog.proposed.back(), std::string("Voxtrel.htm"));
    QCOMPARE(dialog.filters.back(), std::string(kReportFilter));
    QVERIFY(window->messages.empty());
    QCOMPARE(ReadBytes(csv), Utf8ToCp932("000001,×,http://h/a,名前,/site/i.htm\r\n"
                                         "000002,Ｐ,http://h/s.pl,,/site/i.htm\r\n"));

    // The same name again: the overwrite question first; Cancel leaves the file alone.
    WriteBytes(csv, "keep");
    window->answers = {MessageAnswer::kCancel};
    Find<QPushButton>(window.get(), "Command3")->click();
    QCOMPARE(dialog.proposed.back(), csv);
    QCOMPARE(window->messages.size(), size_t(1));
    QCOMPARE(window->messages[0].title, std::string(kSaveReportTitle));
    QCOMPARE(window->messages[0].text, OverwriteQuestionText(csv));
    QCOMPARE(ReadBytes(csv), std::string("keep"));

    const std::string html = setup.folder / "report.HTM";
    dialog.answer = html;
    Find<QPushButton>(window.get(), "Command3")->click();
    QVERIFY(ReadBytes(html).rfind("<HTML>\r\n", 0) == 0);

    // A cancelled dialog writes nothing and says nothing.
    dialog.answer.reset();
    const size_t shown = window->messages.size();
    Find<QPushButton>(window.get(), "Command3")->click();
    QCOMPARE(window->messages.size(), shown);
  }

  void HeaderClickSortsThroughTheCore() {
    Setup setup;
    auto window = setup.Open();
    ResultList& results = window->context().results;
    results.AddRow("000001", "×", "http://b/", "", "/p");
    results.AddRow("000002", "◎", "http://a/", "", "/p");
    results.AddRow("000003", "×", "http://c/", "", "/p");
    auto* list = Find<QTreeView>(window.get(), "ListView1");
    QAbstractItemModel* model = list->model();
    QCOMPARE(model->rowCount(), 3);
    QHeaderView* header = list->header();
    auto click = [&](int section) {
      const QPoint at(header->sectionViewportPosition(section) + 5, header->height() / 2);
      QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, at);
    };
    click(0);  // first click: descending
    QCOMPARE(model->index(0, 0).data().toString(), QStringLiteral("000003"));
    QCOMPARE(window->sorter().SortClickCount[0], 1);
    QCOMPARE(header->sortIndicatorOrder(), Qt::DescendingOrder);
    click(2);
    QCOMPARE(model->index(0, 2).data().toString(), QStringLiteral("http://c/"));
    click(0);  // second click on "No": ascending, the order of arrival
    QCOMPARE(model->index(0, 0).data().toString(), QStringLiteral("000001"));
    QCOMPARE(model->index(2, 0).data().toString(), QStringLiteral("000003"));
    QCOMPARE(header->sortIndicatorSection(), 0);
    QCOMPARE(header->sortIndicatorOrder(), Qt::AscendingOrder);
    // "No2" is no sort key.
    window->ListView1_ColumnClick(5);
    QCOMPARE(model->index(0, 0).data().toString(), QStringLiteral("000001"));
    QCOMPARE(header->sortIndicatorSection(), 0);
  }

  void SinglePageDialogRejectsAndAccepts() {
    Setup setup;
    auto window = setup.Open();
    bool dialog_checked = false;
    WhenDialogOpens([&](Link_Kobetu* dialog) {
      QCOMPARE(dialog->windowTitle(), QStringLiteral(" Voxtrel (個別ﾌｧｲﾙ)"));
      QCOMPARE(dialog->size(), QSize(463, 163));
      auto* text1 = Find<QLineEdit>(dialog, "Text1");
      QCOMPARE(text1->text(), QStringLiteral("http://"));
      QCOMPARE(Find<QPushButton>(dialog, "Command2")->text(), QStringLiteral("参照"));
      QCOMPARE(Find<QPushButton>(dialog, "Command1_1")->text(), QStringLiteral("ｷｬﾝｾﾙ"));
      QCOMPARE(Find<QLabel>(dialog, "Label3")->text(),
               QStringLiteral("WEBｻｰﾊﾞまたはﾊﾟｿｺﾝのHTMLﾌｧｲﾙ名を入力してください"));
      QVERIFY(Find<QGroupBox>(dialog, "Frame1"));
      for (const char* rejected : {"http://", "", "http://h/", "https://h/a.html",
                                   "HTTP://h/a.html", "index.htm", "http://h/a.php"}) {
        const size_t before = window->messages.size();
        text1->setText(QString::fromLatin1(rejected));
        Find<QPushButton>(dialog, "Command1_0")->click();
        QVERIFY2(dialog->isVisible(), rejected);
        QCOMPARE(window->messages.size(), before + 1);
        QCOMPARE(window->messages.back().text, std::string(kSpecifyHtmlMessage));
      }
      // Enter acts as OK.
      text1->setText(QStringLiteral("  http://h/top.HTML  "));
      QTest::keyClick(text1, Qt::Key_Return);
      QVERIFY(!dialog->isVisible());
      QCOMPARE(text1->text(), QStringLiteral("http://h/top.HTML"));
      dialog_checked = true;
    });
    window->answers = {MessageAnswer::kOk, MessageAnswer::kOk, MessageAnswer::kOk,
                       MessageAnswer::kOk, MessageAnswer::kOk, MessageAnswer::kOk,
                       MessageAnswer::kOk, MessageAnswer::kCancel};
    Find<QAction>(window.get(), "KKK_Search")->trigger();
    QVERIFY(dialog_checked);
    QCOMPARE(window->messages.back().text, StartConfirmationText(1));
    // Cancel to the confirmation: nothing runs, the target is kept for next time.
    QCOMPARE(window->context().SinglePageMode, kModeNone);
    QCOMPARE(window->context().SinglePageTarget, std::string("http://h/top.HTML"));

    // Cancel button and close box both leave without a page, whatever the mode was.
    const size_t shown = window->messages.size();
    window->context().SinglePageMode = kModeLocalFile;
    WhenDialogOpens([](Link_Kobetu* dialog) {
      QCOMPARE(Find<QLineEdit>(dialog, "Text1")->text(), QStringLiteral("http://h/top.HTML"));
      Find<QPushButton>(dialog, "Command1_1")->click();
    });
    Find<QAction>(window.get(), "KKK_Search")->trigger();
    QCOMPARE(window->context().SinglePageMode, kModeNone);
    window->context().SinglePageMode = kModeLocalFile;
    WhenDialogOpens([](Link_Kobetu* dialog) { dialog->close(); });
    Find<QAction>(window.get(), "KKK_Search")->trigger();
    QCOMPARE(window->context().SinglePageMode, kModeNone);
    QCOMPARE(window->messages.size(), shown);
  }

  void SinglePageDialogBrowsesAndChecksALocalFile() {
    Setup setup;
    const std::string base = setup.Base();
    const std::string page = setup.site / "one.shtml";
    WriteBytes(page, "<a href=\"" + base + "/missing.html\">gone</a>\r\n");
    auto window = setup.Open();
    window->open_answer = page;
    WhenDialogOpens([](Link_Kobetu* dialog) {
      Find<QPushButton>(dialog, "Command2")->click();
      Find<QPushButton>(dialog, "Command1_0")->click();
    });
    Find<QAction>(window.get(), "KKK_Search")->trigger();
    QCOMPARE(window->open_filters.size(), size_t(1));
    QCOMPARE(window->open_filters[0], std::string(kKobetuOpenFilter));
    QCOMPARE(window->context().SinglePageMode, kModeLocalFile);
    QAbstractItemModel* model = Find<QTreeView>(window.get(), "ListView1")->model();
    QCOMPARE(model->rowCount(), 1);
    QCOMPARE(model->index(0, 4).data().toString(), QString::fromStdString(page));
    QVERIFY(Find<QMenu>(window.get(), "f000")->menuAction()->isEnabled());
    QVERIFY(Find<QPushButton>(window.get(), "Command3")->isVisible());
  }

  void WebPageCheckThenExitCleansUpAndRemembersTheAddress() {
    Setup setup;
    const std::string url = setup.Base() + "/page.html";
    auto window = setup.Open();
    WhenDialogOpens([url](Link_Kobetu* dialog) {
      Find<QLineEdit>(dialog, "Text1")->setText(QString::fromStdString(url));
      Find<QPushButton>(dialog, "Command1_0")->click();
    });
    Find<QAction>(window.get(), "KKK_Search")->trigger();
    QCOMPARE(window->context().SinglePageMode, kModeWebPage);
    QAbstractItemModel* model = Find<QTreeView>(window.get(), "ListView1")->model();
    QCOMPARE(model->rowCount(), 1);
    QCOMPARE(model->index(0, 4).data().toString(), QString::fromStdString(url));
    QVERIFY(Exists(setup.folder / kWebWorkFile));

    Find<QAction>(window.get(), "Pro_Exit")->trigger();
    QCOMPARE(window->end_calls, 1);
    QVERIFY(!Exists(setup.folder / kWebWorkFile));
    QVERIFY(!Exists(setup.folder / kScanWorkFile));
    const std::string saved = ReadBytes(setup.SettingsPath());
    QVERIFY(saved.size() > url.size() + 2);
    QCOMPARE(saved.substr(saved.size() - url.size() - 2), url + "\r\n");
  }

  void ExitWritesSettingsAndTheNextStartReadsThem() {
    Setup setup;
    const std::string sub = setup.site / "sub";
    std::string drive;
    {
      auto window = setup.Open();
      QVERIFY(window->SetFolder(sub));
      Find<QCheckBox>(window.get(), "Check1")->click();
      drive = Find<QComboBox>(window.get(), "Drive1")->currentText().toStdString();
      WriteBytes(setup.folder / kScanWorkFile, "left over");
      window->close();
      QCOMPARE(window->end_calls, 1);
      QVERIFY(window->shutting_down());
    }
    QVERIFY(!Exists(setup.folder / kScanWorkFile));
    QCOMPARE(ReadBytes(setup.SettingsPath()),
             Utf8ToCp932(drive + "\r\n" + sub + "\r\n 0 \r\n 1 \r\n\r\n\r\n\r\nhttp://\r\n"));

    auto next = setup.Open();
    QCOMPARE(Text(next.get(), "Label1"), QString::fromStdString(sub));
    QCOMPARE(Find<QCheckBox>(next.get(), "Check1")->checkState(), Qt::Unchecked);
    QCOMPARE(Find<QCheckBox>(next.get(), "Check2")->checkState(), Qt::Checked);
  }

  void BadSettingsLinesStopTheReading() {
    Setup setup;
    const std::string sub = setup.site / "sub";
    {  // a word on line 3: drive and folder applied, options stay set, line 8 not applied
      WriteBytes(setup.SettingsPath(),
                 "/\r\n" + sub + "\r\nword\r\n 0 \r\n\r\n\r\n\r\nhttp://h/a.htm\r\n");
      auto window = setup.Open();
      QCOMPARE(Text(window.get(), "Label1"), QString::fromStdString(sub));
      QCOMPARE(Find<QCheckBox>(window.get(), "Check1")->checkState(), Qt::Checked);
      QCOMPARE(Find<QCheckBox>(window.get(), "Check2")->checkState(), Qt::Checked);
      QCOMPARE(window->context().SinglePageTarget, std::string("http://"));
    }
    {  // a drive that is not there: nothing applied
      WriteBytes(setup.SettingsPath(), "/no/such/volume [usb]\r\n" + sub +
                                           "\r\n 0 \r\n 0 \r\n\r\n\r\n\r\nhttp://h/a.htm\r\n");
      auto window = setup.Open();
      QCOMPARE(Text(window.get(), "Label1"), QString::fromStdString(setup.site.path()));
      QCOMPARE(Find<QCheckBox>(window.get(), "Check1")->checkState(), Qt::Checked);
      QCOMPARE(window->context().SinglePageTarget, std::string("http://"));
    }
    {  // everything good, greyed option included
      WriteBytes(setup.SettingsPath(),
                 "/\r\n" + sub + "\r\n2\r\n0\r\nx\r\n\r\n\r\nhttp://h/a.htm\r\nextra\r\n");
      auto window = setup.Open();
      QCOMPARE(Find<QCheckBox>(window.get(), "Check1")->checkState(), Qt::PartiallyChecked);
      QCOMPARE(window->Check1Value(), int16_t(2));
      QCOMPARE(Find<QCheckBox>(window.get(), "Check2")->checkState(), Qt::Unchecked);
      QCOMPARE(window->context().SinglePageTarget, std::string("http://h/a.htm"));
    }
  }

  void ClosingDuringARequestEndsWithoutResumingTheRun() {
    Setup setup;
    const std::string base = setup.Base();
    WriteBytes(setup.site / "index.htm", "<a href=\"" + base + "/slow1\">1</a><a href=\"" + base +
                                             "/slow2\">2</a>");
    auto window = setup.Open();
    window->on_message = [&](const Shown& shown) {
      if (shown.icon == MessageIcon::kQuestion)
        QTimer::singleShot(200, window.get(), [&] { window->close(); });
    };
    Find<QPushButton>(window.get(), "Command1")->click();
    QCOMPARE(window->end_calls, 1);
    // Only the confirmation was shown: the run's own end never reached the user.
    QCOMPARE(window->messages.size(), size_t(1));
    QVERIFY(!Exists(setup.folder / kScanWorkFile));
    QVERIFY(Exists(setup.SettingsPath()));
    QVERIFY(!window->KeepAlive());
  }

  void SecondInstanceEndsSilently() {
    test::TempDir dir;
    {
      InstanceLock first;
      QVERIFY(first.Acquire(dir.path()));
      InstanceLock second;
      QVERIFY(!second.Acquire(dir.path()));
    }
    // The lock file left by the first holder does not block the next one.
    QVERIFY(Exists(dir / kInstanceLockName));
    InstanceLock third;
    QVERIFY(third.Acquire(dir.path()));
    third.ReleaseAndRemove();
    QVERIFY(!Exists(dir / kInstanceLockName));
  }

  void RealSecondInstanceTouchesNothingAndAKilledOneBlocksNothing() {
    // A copy of the program in a fresh folder uses that folder as its program folder.
    test::TempDir dir;
    const QString program = QString::fromStdString(dir / "voxtrel");
    QVERIFY(QFile::copy(QStringLiteral(VOXTREL_APP_BINARY), program));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    {
      InstanceLock running;
      QVERIFY(running.Acquire(dir.path()));
      QProcess second;
      second.setProcessEnvironment(env);
      second.start(program, {});
      QVERIFY(second.waitForFinished(30000));
      QCOMPARE(second.exitStatus(), QProcess::NormalExit);
      QCOMPARE(second.exitCode(), 0);
      QVERIFY(!Exists(dir / kSettingsFileName));
    }
    QProcess first;
    first.setProcessEnvironment(env);
    first.start(program, {});
    QVERIFY(first.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(HoldsFlock(first.processId()), 30000);
    InstanceLock blocked;
    QVERIFY(!blocked.Acquire(dir.path()));
    first.kill();
    QVERIFY(first.waitForFinished(10000));
    InstanceLock after_kill;
    QVERIFY(after_kill.Acquire(dir.path()));
  }
};

}  // namespace voxtrel

QTEST_MAIN(voxtrel::LinkMainTest)
#include "link_main_test.moc"
