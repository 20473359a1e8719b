#pragma once

#include <QObject>
#include <QString>
#include <QUrl>
#include <cstddef>
#include <functional>
#include <optional>
#include <vector>

#include "output/report_writer.h"

class QAction;
class QMenu;
class QModelIndex;
class QPoint;
class QTreeView;

namespace voxtrel {

inline constexpr const char* kOpenLinkCaption = "ﾘﾝｸ先を開く";
inline constexpr const char* kOpenPageCaption = "ﾍﾟｰｼﾞを開く";
inline constexpr const char* kCopyUrlCaption = "URLをｺﾋﾟｰ";
inline constexpr const char* kCopyRowCaption = "行をｺﾋﾟｰ";
inline constexpr const char* kRecheckCaption = "×の行を再検査";
inline constexpr const char* kOpenArchiveCaption = "ｱｰｶｲﾌﾞを開く";
inline constexpr const char* kMendRowsCaption = "新しいｱﾄﾞﾚｽに書き換える";
inline constexpr const char* kIgnoreRowsCaption = "ﾘﾝｸを無視する";

/// What the rows hand to the desktop: a browser and the clipboard. Tests replace both.
struct Desktop {
  std::function<bool(const QUrl&)> open_url;
  std::function<void(const QString&)> copy_text;
};
/// The user's browser (QDesktopServices) and the system clipboard.
Desktop SystemDesktop();

/// What the rows of a local run offer besides: rewriting their pages and setting links aside.
struct RowMends {
  /// Whether the rows are those of a run on local pages, with a folder to write to.
  std::function<bool()> local;
  /// Rewrites the pages of these rows' moved links, asking first.
  std::function<void(const std::vector<size_t>&)> mend;
  /// Sets these rows' links aside.
  std::function<void(const std::vector<size_t>&)> ignore;
};

/// Where a row's link leads: a web address as asked, or a file of the disk (with its anchor).
QUrl LinkUrlOf(const ResultRow& row);
/// The page a row was found in: its web address, or its file.
QUrl PageUrlOf(const ResultRow& row);
/// The rows as the CSV report writes them, each line ending in CR LF.
QString CsvLinesOf(const ResultList& results, const std::vector<size_t>& rows);

/// ListView1's actions on its rows: a double click opens the link, the right button opens a
/// menu (open link or page, copy the address or the rows, ask the × rows again) and Ctrl+C
/// copies the selected rows.
class RowActions : public QObject {
 public:
  /// `recheck` asks the × rows again; `idle` says whether no run is going on; `unopened` tells
  /// the user that the desktop could not open an address.
  RowActions(QTreeView* list, const ResultList& results, std::function<void()> recheck,
             std::function<bool()> idle, std::function<void(const QUrl&)> unopened,
             QObject* parent);

  /// The row of the result list that a row of the view shows, whatever proxies stand between;
  /// nothing for a row that shows none.
  std::optional<size_t> ListRow(const QModelIndex& index) const;
  /// The list rows selected in the view, in the view's order.
  std::vector<size_t> SelectedRows() const;

  void SetDesktop(Desktop desktop) { desktop_ = std::move(desktop); }
  void SetMends(RowMends mends) { mends_ = std::move(mends); }
  /// Opens the menu for the view row at `pos` (viewport coordinates) without waiting on it.
  void ShowMenu(const QPoint& pos);
  QMenu* menu() const { return menu_; }

  void OpenLink(size_t row);
  void OpenPage(size_t row);
  void CopyUrl(size_t row);
  void CopyRows(const std::vector<size_t>& rows);
  /// Opens the archived copy of the row's link.
  void OpenArchive(size_t row);
  /// The rows the menu acts on: the selected ones, or the row it was opened on when that one
  /// is not selected.
  std::vector<size_t> MenuRows() const;

 private:
  QAction* AddAction(const char* name, const char* caption);
  void Open(const QUrl& url);

  QTreeView* list_;
  const ResultList& results_;
  std::function<bool()> idle_;
  std::function<void(const QUrl&)> unopened_;
  Desktop desktop_;
  QMenu* menu_;
  QAction* open_link_;
  QAction* open_page_;
  QAction* copy_url_;
  QAction* copy_rows_;
  QAction* recheck_;
  QAction* open_archive_;
  QAction* mend_rows_;
  QAction* ignore_rows_;
  RowMends mends_;
  /// The row the menu was opened on.
  std::optional<size_t> menu_row_;
};

}  // namespace voxtrel
