#pragma once

#include <QCheckBox>
#include <QFileSystemModel>
#include <QLabel>
#include <QPainter>
#include <QScrollBar>
#include <QSortFilterProxyModel>
#include <QStyle>
#include <QTreeView>

// Pieces of Link_Main shared by its construction and its handlers.

namespace voxtrel {

// The designed client area, in twips.
inline constexpr int kClientWidth = 12630;
inline constexpr int kClientHeight = 6630;
// ListView1's designed width; the list takes whatever the window grows by.
inline constexpr int kListWidth = 9495;
// Command1's top, where start-up moves Command2.
inline constexpr int kCommand1Top = 4800;

/// A label for paths and addresses: when the text is wider than the label, the middle gives
/// way to an ellipsis and the whole text shows as a tool tip; text() always holds all of it.
class ElidingLabel : public QLabel {
 public:
  using QLabel::QLabel;

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    const QRect area = contentsRect();
    const QString shown = fontMetrics().elidedText(text(), Qt::ElideMiddle, area.width());
    setToolTip(shown == text() ? QString() : text());
    style()->drawItemText(&painter, area, static_cast<int>(alignment()), palette(), isEnabled(),
                          shown, foregroundRole());
  }
};

/// Dir1 shows one drive: its root folder as the only top item, with everything below it.
class DriveTreeFilter : public QSortFilterProxyModel {
 public:
  using QSortFilterProxyModel::QSortFilterProxyModel;

  void SetRoot(const QString& root) {
    root_ = root;
    invalidateFilter();
  }

 protected:
  bool filterAcceptsRow(int row, const QModelIndex& parent) const override {
    auto* model = static_cast<QFileSystemModel*>(sourceModel());
    const QString path = model->filePath(model->index(row, 0, parent));
    if (root_ == QLatin1String("/") || path == root_) return true;
    const QString root_slash = root_ + QLatin1Char('/');
    // Above the root only the root's own ancestors; below it everything.
    return path.startsWith(root_slash) || path == QLatin1String("/") ||
           root_.startsWith(path + QLatin1Char('/'));
  }

 private:
  QString root_ = QStringLiteral("/");
};

/// Dir1: a tree that scrolls itself up and down only. Scrolling a deep folder into view sideways
/// cut the start off the names of the folders above it; sideways belongs to the user alone.
class FolderTree : public QTreeView {
 public:
  using QTreeView::QTreeView;

  void scrollTo(const QModelIndex& index, ScrollHint hint = EnsureVisible) override {
    const int sideways = horizontalScrollBar()->value();
    QTreeView::scrollTo(index, hint);
    horizontalScrollBar()->setValue(sideways);
  }
};

// A check box's value as the system counts it: 0 cleared, 1 set, 2 greyed.
inline int CheckValue(const QCheckBox* box) {
  switch (box->checkState()) {
    case Qt::Checked: return 1;
    case Qt::PartiallyChecked: return 2;
    default: return 0;
  }
}

}  // namespace voxtrel
