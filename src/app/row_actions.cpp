#include "app/row_actions.h"

#include <QAbstractProxyModel>
#include <QAction>
#include <QClipboard>
#include <QDesktopServices>
#include <QFile>
#include <QGuiApplication>
#include <QMenu>
#include <QTreeView>
#include <algorithm>

#include "run/mend_run.h"

namespace voxtrel {
namespace {

// A path keeps the bytes the disk names it by; a URL wants them as the system decodes names.
QUrl FileUrl(const std::string& path) {
  return QUrl::fromLocalFile(QFile::decodeName(QByteArray::fromStdString(path)));
}

QUrl WebUrl(const std::string& address) {
  return QUrl(QString::fromStdString(address), QUrl::TolerantMode);
}

}  // namespace

Desktop SystemDesktop() {
  return Desktop{[](const QUrl& url) { return QDesktopServices::openUrl(url); },
                 [](const QString& text) { QGuiApplication::clipboard()->setText(text); }};
}

QUrl LinkUrlOf(const ResultRow& row) {
  if (!row.link.local) return WebUrl(AddressOf(row.link));
  QUrl url = FileUrl(row.link.resolved);
  if (!row.link.anchor.empty()) url.setFragment(QString::fromStdString(row.link.anchor));
  return url;
}

QUrl PageUrlOf(const ResultRow& row) {
  const std::string& page = row.link.page;
  return IsWebAddress(page) ? WebUrl(page) : FileUrl(page);
}

QString CsvLinesOf(const ResultList& results, const std::vector<size_t>& rows) {
  std::string text;
  for (size_t row : rows) text += CsvRowLine(results.Row(row)) + "\r\n";
  return QString::fromStdString(text);
}

RowActions::RowActions(QTreeView* list, const ResultList& results, std::function<void()> recheck,
                       std::function<bool()> idle, std::function<void(const QUrl&)> unopened,
                       QObject* parent)
    : QObject(parent),
      list_(list),
      results_(results),
      idle_(std::move(idle)),
      unopened_(std::move(unopened)),
      desktop_(SystemDesktop()),
      menu_(new QMenu(list)) {
  menu_->setObjectName(QStringLiteral("ListView1Menu"));
  open_link_ = AddAction("OpenLink", kOpenLinkCaption);
  open_page_ = AddAction("OpenPage", kOpenPageCaption);
  open_archive_ = AddAction("OpenArchive", kOpenArchiveCaption);
  menu_->addSeparator();
  copy_url_ = AddAction("CopyUrl", kCopyUrlCaption);
  copy_rows_ = AddAction("CopyRows", kCopyRowCaption);
  menu_->addSeparator();
  recheck_ = AddAction("RecheckFailed", kRecheckCaption);
  mend_rows_ = AddAction("MendRows", kMendRowsCaption);
  ignore_rows_ = AddAction("IgnoreRows", kIgnoreRowsCaption);

  // Ctrl+C belongs to the list alone, so the other controls keep their own copy.
  copy_rows_->setShortcut(QKeySequence::Copy);
  copy_rows_->setShortcutContext(Qt::WidgetWithChildrenShortcut);
  list_->addAction(copy_rows_);
  list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  list_->setContextMenuPolicy(Qt::CustomContextMenu);

  auto on_menu_row = [this](void (RowActions::*act)(size_t)) {
    return [this, act] {
      if (menu_row_ && *menu_row_ < results_.Count()) (this->*act)(*menu_row_);
    };
  };
  connect(open_link_, &QAction::triggered, this, on_menu_row(&RowActions::OpenLink));
  connect(open_page_, &QAction::triggered, this, on_menu_row(&RowActions::OpenPage));
  connect(copy_url_, &QAction::triggered, this, on_menu_row(&RowActions::CopyUrl));
  connect(open_archive_, &QAction::triggered, this, on_menu_row(&RowActions::OpenArchive));
  connect(mend_rows_, &QAction::triggered, this, [this] {
    if (mends_.mend && idle_()) mends_.mend(MenuRows());
  });
  connect(ignore_rows_, &QAction::triggered, this, [this] {
    if (mends_.ignore && idle_()) mends_.ignore(MenuRows());
  });
  connect(copy_rows_, &QAction::triggered, this, [this] { CopyRows(SelectedRows()); });
  connect(recheck_, &QAction::triggered, this, [this, recheck = std::move(recheck)] {
    if (idle_()) recheck();
  });
  connect(list_, &QWidget::customContextMenuRequested, this, &RowActions::ShowMenu);
  connect(list_, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& index) {
    if (const std::optional<size_t> row = ListRow(index)) OpenLink(*row);
  });
}

QAction* RowActions::AddAction(const char* name, const char* caption) {
  QAction* action = menu_->addAction(QString::fromUtf8(caption));
  action->setObjectName(QString::fromLatin1(name));
  return action;
}

std::optional<size_t> RowActions::ListRow(const QModelIndex& index) const {
  // Today the view's rows are the list's own; a filter or sort in between is looked through.
  QModelIndex source = index;
  while (const auto* proxy = qobject_cast<const QAbstractProxyModel*>(source.model()))
    source = proxy->mapToSource(source);
  if (!source.isValid() || source.row() < 0 ||
      static_cast<size_t>(source.row()) >= results_.Count())
    return std::nullopt;
  return static_cast<size_t>(source.row());
}

std::vector<size_t> RowActions::SelectedRows() const {
  QModelIndexList selected = list_->selectionModel()->selectedRows();
  std::sort(selected.begin(), selected.end(),
            [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
  std::vector<size_t> rows;
  for (const QModelIndex& index : selected)
    if (const std::optional<size_t> row = ListRow(index)) rows.push_back(*row);
  return rows;
}

void RowActions::ShowMenu(const QPoint& pos) {
  menu_row_ = ListRow(list_->indexAt(pos));
  bool any_failed = false;
  for (const ResultRow& row : results_.Rows())
    if ((any_failed = row.outcome.kind == CheckOutcome::Kind::kFailed)) break;
  for (QAction* action : {open_link_, open_page_, copy_url_})
    action->setEnabled(menu_row_.has_value());
  recheck_->setEnabled(any_failed && idle_());
  open_archive_->setEnabled(menu_row_ && !results_.Row(*menu_row_).outcome.archived.empty());
  const std::vector<size_t> rows = MenuRows();
  const bool local = mends_.local && mends_.local() && idle_() && !rows.empty();
  std::vector<ResultRow> picked;
  for (size_t row : rows) picked.push_back(results_.Row(row));
  mend_rows_->setEnabled(local && !MendsOf(picked, MendKind::kMoved).empty());
  ignore_rows_->setEnabled(local);
  menu_->popup(list_->viewport()->mapToGlobal(pos));
}

std::vector<size_t> RowActions::MenuRows() const {
  std::vector<size_t> rows = SelectedRows();
  if (menu_row_ && std::find(rows.begin(), rows.end(), *menu_row_) == rows.end())
    rows = {*menu_row_};
  return rows;
}

void RowActions::Open(const QUrl& url) {
  if (!desktop_.open_url(url) && unopened_) unopened_(url);
}

void RowActions::OpenLink(size_t row) { Open(LinkUrlOf(results_.Row(row))); }

void RowActions::OpenPage(size_t row) { Open(PageUrlOf(results_.Row(row))); }

void RowActions::OpenArchive(size_t row) {
  const std::string archived = results_.Row(row).outcome.archived;
  if (!archived.empty()) Open(WebUrl(archived));
}

void RowActions::CopyUrl(size_t row) {
  desktop_.copy_text(QString::fromStdString(results_.Row(row).link.target));
}

void RowActions::CopyRows(const std::vector<size_t>& rows) {
  if (!rows.empty()) desktop_.copy_text(CsvLinesOf(results_, rows));
}

}  // namespace voxtrel
