#include <QApplication>
#include <QFont>
#include <QLibraryInfo>
#include <QLocale>
#include <QTimer>
#include <QTranslator>

#include <cstdlib>
#include <string>

#include "app/instance_lock.h"
#include "app/link_main.h"
#include "app/single_window.h"
#include "app/window_pool.h"
#include "platform/disk.h"

namespace {

// For the screenshot script only: grab the shown window into this PNG and end.
constexpr const char* kGrabVariable = "VOXTREL_GRAB_PNG";

}  // namespace

int main(int argc, char* argv[]) {
  const std::string program_folder = voxtrel::ProgramFolder();
  const QString window_name = voxtrel::SingleWindowName(program_folder);
  // A second instance brings the running window to the front and ends: nothing shown, nothing
  // read or written.
  voxtrel::InstanceLock lock;
  if (!lock.Acquire(program_folder)) {
    QCoreApplication caller(argc, argv);
    voxtrel::CallRunningWindow(window_name, 3000);
    return 0;
  }

  QApplication app(argc, argv);
  // The window is laid out in twips for a 9-point face at 96 dots per inch.
  QFont font(QStringLiteral("Noto Sans CJK JP"));
  font.setPixelSize(12);
  QApplication::setFont(font);
  // The window speaks Japanese whatever the user's locale, Qt's own dialogs and buttons too.
  QLocale::setDefault(QLocale(QLocale::Japanese, QLocale::Japan));
  QTranslator qt_texts;
  if (qt_texts.load(QLocale(QLocale::Japanese), QStringLiteral("qt"), QStringLiteral("_"),
                    QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
    QCoreApplication::installTranslator(&qt_texts);

  voxtrel::PosixDisk disk;
  voxtrel::WindowPool http;
  voxtrel::Link_Main window(program_folder, disk, http);
  window.SetInstanceLock(&lock);
  window.SetTimeoutListener([&http](int seconds) { http.SetTimeout(seconds); });
  voxtrel::SingleWindowServer later_starts;
  later_starts.Listen(window_name, [&window] { window.BringToFront(); });
  window.show();

  if (const char* grab = std::getenv(kGrabVariable); grab && *grab) {
    const QString path = QString::fromLocal8Bit(grab);
    QTimer::singleShot(1500, &window, [&window, path] {
      const bool saved = window.grab().save(path, "PNG");
      // Leaves without the shutdown: a picture must not change the program folder.
      std::_Exit(saved ? 0 : 1);
    });
  }
  return app.exec();
}
