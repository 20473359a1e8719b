#include "app/result_model.h"

#include <QColor>

#include <cstdint>
#include <iterator>

#include "app/captions.h"

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
  // A row to look at by hand stands out from both the dead and the answered ones.
  if (role == Qt::ForegroundRole && row.outcome.kind == CheckOutcome::Kind::kSuspect)
    return QColor(kSuspectRowColor);
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
  // Announced with the next batch; a row that is no plain append means the list changed under
  // the views, which then start over.
  if (index < static_cast<size_t>(shown_rows_)) RowsCleared();
}

void ResultModel::RowsReordered() {
  // Re-orders this model makes itself announce their own changes.
  if (rearranging_) return;
  RowsCleared();
}

void ResultModel::ShowNewRows() {
  if (!HasNewRows()) return;
  // New rows wait at the end of the list; in a sorted list they then move to their place.
  if (resort_) {
    Rearrange(resort_);
    return;
  }
  AppendNewRows();
}

void ResultModel::AppendNewRows() {
  if (!HasNewRows()) return;
  beginInsertRows(QModelIndex(), shown_rows_, static_cast<int>(results_.Count()) - 1);
  shown_rows_ = static_cast<int>(results_.Count());
  endInsertRows();
}

void ResultModel::Rearrange(const std::function<void()>& reorder) {
  AppendNewRows();
  emit layoutAboutToBeChanged();
  const QModelIndexList before = persistentIndexList();
  std::vector<int64_t> numbers;
  for (const QModelIndex& index : before)
    numbers.push_back(results_.Row(static_cast<size_t>(index.row())).number);
  rearranging_ = true;
  reorder();
  rearranging_ = false;
  if (!before.isEmpty()) {
    // Numbers run from 1 to the row count, so they index where each row went.
    std::vector<int> where(results_.Count() + 1, -1);
    for (size_t i = 0; i < results_.Count(); ++i) {
      const auto number = static_cast<size_t>(results_.Row(i).number);
      if (number < where.size()) where[number] = static_cast<int>(i);
    }
    QModelIndexList after;
    for (qsizetype k = 0; k < before.size(); ++k) {
      const auto number = static_cast<size_t>(numbers[static_cast<size_t>(k)]);
      const int row = number < where.size() ? where[number] : -1;
      after.append(row < 0 ? QModelIndex() : index(row, before[k].column()));
    }
    changePersistentIndexList(before, after);
  }
  emit layoutChanged();
}

void ResultModel::RowChanged(size_t index) {
  const int row = static_cast<int>(index);
  if (row >= shown_rows_) return;  // not shown yet: it will be read as it is when it is
  emit dataChanged(this->index(row, 0), this->index(row, columnCount() - 1));
}

ResultFilter::ResultFilter(const ResultList& results, ResultModel* source, QObject* parent)
    : QSortFilterProxyModel(parent), results_(results) {
  setSourceModel(source);
}

void ResultFilter::SetFailedOnly(bool on) {
  if (on == failed_only_) return;
  failed_only_ = on;
  invalidateFilter();
}

size_t ResultFilter::ResultIndex(const QModelIndex& view_index) const {
  if (!view_index.isValid()) return SIZE_MAX;
  return static_cast<size_t>(mapToSource(view_index).row());
}

bool ResultFilter::filterAcceptsRow(int row, const QModelIndex& /*parent*/) const {
  if (!failed_only_) return true;
  const size_t index = static_cast<size_t>(row);
  return index < results_.Count() && MarkIndex(results_.Row(index).outcome) == 0;
}

}  // namespace voxtrel
