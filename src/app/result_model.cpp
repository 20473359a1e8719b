#include "app/result_model.h"

#include <iterator>

#include "app/captions.h"
#include "output/cells.h"

namespace voxtrel {

ResultModel::ResultModel(ResultList& results, QObject* parent)
    : QAbstractTableModel(parent), results_(results) {
  shown_rows_ = static_cast<int>(results_.Count());
  results_.SetObserver(this);
}

ResultModel::~ResultModel() { results_.SetObserver(nullptr); }

int ResultModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : shown_rows_;
}

int ResultModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(std::size(kResultColumns));
}

QVariant ResultModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= shown_rows_ ||
      static_cast<size_t>(index.row()) >= results_.Count())
    return {};
  const ResultRow& row = results_.Row(static_cast<size_t>(index.row()));
  const std::string reason = ReasonColumnText(row.outcome);
  // A failed row says why wherever the pointer rests on it.
  if (role == Qt::ToolTipRole && !reason.empty()) return QString::fromStdString(reason);
  if (role == Qt::DisplayRole || role == Qt::ToolTipRole) {
    if (index.column() == kReasonColumn) return QString::fromStdString(reason);
    return QString::fromStdString(CellText(row, index.column()));
  }
  if (role == Qt::TextAlignmentRole) {
    const bool centred = kResultColumns[index.column()].centred;
    return QVariant::fromValue(Qt::Alignment((centred ? Qt::AlignHCenter : Qt::AlignLeft) |
                                             Qt::AlignVCenter));
  }
  return {};
}

QVariant ResultModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= columnCount()) return {};
  if (role == Qt::DisplayRole) return QString::fromUtf8(kResultColumns[section].caption);
  if (role == Qt::TextAlignmentRole) {
    const bool centred = kResultColumns[section].centred;
    return QVariant::fromValue(Qt::Alignment((centred ? Qt::AlignHCenter : Qt::AlignLeft) |
                                             Qt::AlignVCenter));
  }
  return {};
}

void ResultModel::RowsCleared() {
  beginResetModel();
  shown_rows_ = static_cast<int>(results_.Count());
  endResetModel();
}

void ResultModel::RowAdded(size_t index) {
  const int row = static_cast<int>(index);
  if (row != shown_rows_) {
    // Not a plain append: start over rather than announce rows the views cannot place.
    RowsCleared();
    return;
  }
  beginInsertRows(QModelIndex(), row, row);
  shown_rows_ = row + 1;
  endInsertRows();
}

void ResultModel::RowsReordered() {
  emit layoutAboutToBeChanged();
  shown_rows_ = static_cast<int>(results_.Count());
  emit layoutChanged();
}

}  // namespace voxtrel
