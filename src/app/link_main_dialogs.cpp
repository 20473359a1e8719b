#include "app/link_main.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>
#include <QScreen>
#include <QUrl>

#include "app/captions.h"
#include "app/link_kobetu.h"

// The window's own dialogs: messages, the save and open pickers and the single page dialog.

namespace voxtrel {
namespace {

QMessageBox::Icon ToQtIcon(MessageIcon icon) {
  switch (icon) {
    case MessageIcon::kQuestion: return QMessageBox::Question;
    case MessageIcon::kInformation: return QMessageBox::Information;
    case MessageIcon::kWarning: break;
  }
  return QMessageBox::Warning;
}

}  // namespace

QString QtFileFilter(const std::string& filter) {
  const QStringList parts = QString::fromStdString(filter).split(QLatin1Char('|'));
  QStringList entries;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    const QString& description = parts[i];
    QString patterns = parts[i + 1];
    patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
    // QFileDialog takes the patterns from the last parentheses of an entry.
    if (description.endsWith(QLatin1Char('(') + parts[i + 1] + QLatin1Char(')')))
      entries.append(description);
    else
      entries.append(description + QStringLiteral(" (") + patterns + QLatin1Char(')'));
  }
  return entries.join(QStringLiteral(";;"));
}

std::optional<std::string> QtSaveDialog::ShowSave(const std::string& proposed_name,
                                                   const std::string& filter, int* chosen_filter) {
  const QString filters = QtFileFilter(filter);
  // A bare name opens in the start folder; a remembered path keeps its own folder.
  QString proposed = QString::fromStdString(proposed_name);
  if (!proposed.contains(QLatin1Char('/')) && !start_folder_.empty())
    proposed = QDir(QString::fromStdString(start_folder_)).filePath(proposed);
  QString selected;
  // The overwrite question belongs to the save command, so the dialog must not ask it too.
  const QString chosen = QFileDialog::getSaveFileName(parent_, QString(), proposed, filters,
                                                      &selected, QFileDialog::DontConfirmOverwrite);
  if (chosen.isEmpty()) return std::nullopt;
  *chosen_filter = static_cast<int>(filters.split(QStringLiteral(";;")).indexOf(selected));
  return chosen.toStdString();
}

MessageAnswer Link_Main::ShowMessageBox(const std::string& title, const std::string& text,
                                        const std::string& detail, MessageIcon icon,
                                        MessageButtons buttons) {
  QMessageBox box(ToQtIcon(icon), QString::fromStdString(title), QString::fromStdString(text),
                  buttons == MessageButtons::kOkCancel ? QMessageBox::Ok | QMessageBox::Cancel
                                                       : QMessageBox::Ok,
                  QApplication::activeModalWidget() ? QApplication::activeModalWidget() : this);
  box.setDefaultButton(QMessageBox::Ok);
  if (!detail.empty()) {
    box.setInformativeText(QString::fromStdString(detail));
    // The detail is an address or a reason the user may want to paste elsewhere.
    if (auto* label = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel")))
      label->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  }
  // The busy cursor must not hide that the box is waiting for the user.
  const bool was_busy = busy_;
  if (was_busy) QGuiApplication::setOverrideCursor(Qt::ArrowCursor);
  const int answer = box.exec();
  if (was_busy) QGuiApplication::restoreOverrideCursor();
  return answer == QMessageBox::Ok ? MessageAnswer::kOk : MessageAnswer::kCancel;
}

void Link_Main::ShowSinglePageDialog(KobetuLogic& dialog) {
  Link_Kobetu window(dialog, *this, this);
  if (QScreen* screen = QGuiApplication::primaryScreen())
    window.move(screen->availableGeometry().center() - window.rect().center());
  window.exec();
}

std::optional<std::string> Link_Main::ShowOpenDialog(const std::string& filter) {
  const QString chosen = QFileDialog::getOpenFileName(QApplication::activeModalWidget(), QString(),
                                                      QString(), QtFileFilter(filter));
  if (chosen.isEmpty()) return std::nullopt;
  return chosen.toStdString();
}

void Link_Main::ShowUnopened(const QUrl& url) {
  if (shutting_down_) return;
  ShowMessageBox(kMessageTitle, kOpenFailedMessage,
                 url.toDisplayString(QUrl::PreferLocalFile).toStdString(), MessageIcon::kWarning,
                 MessageButtons::kOk);
}

}  // namespace voxtrel
