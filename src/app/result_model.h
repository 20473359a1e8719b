#pragma once

#include <QAbstractTableModel>
#include <QSortFilterProxyModel>

#include <functional>
#include <vector>

#include "output/cells.h"

namespace voxtrel {

/// ListView1's rows: a view onto the engine's result list, kept in step through its observer.
/// Rows the run adds are announced in batches (ShowNewRows), so a fast run does not pay for a
/// view update per row; until then the views do not see them.
class ResultModel : public QAbstractTableModel, public ResultListObserver {
 public:
  explicit ResultModel(ResultList& results, QObject* parent = nullptr);
  ~ResultModel() override;

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;

  void RowsCleared() override;
  void RowAdded(size_t index) override;
  void RowsReordered() override;
  void RowChanged(size_t index) override;

  /// Announces the rows added since the last call. With a `resort` set, it then re-orders the
  /// whole list (stably, by the order in force), so the new rows stand where they belong;
  /// without one they are appended.
  void ShowNewRows();
  /// How new rows are placed from now on; empty: appended in arrival order.
  void KeepSorted(std::function<void()> resort) { resort_ = std::move(resort); }
  /// Runs `reorder`, which re-orders every row of the list, as one layout change: selected and
  /// current rows stay on the same result rows.
  void Rearrange(const std::function<void()>& reorder);
  /// Whether rows are waiting to be announced.
  bool HasNewRows() const { return static_cast<size_t>(shown_rows_) < results_.Count(); }

 private:
  void AppendNewRows();

  ResultList& results_;
  // The row count the views know of; the list has already changed when the observer hears of it.
  int shown_rows_ = 0;
  std::function<void()> resort_;
  bool rearranging_ = false;
};

/// What ListView1 shows of the model: every row, or only the × rows.
class ResultFilter : public QSortFilterProxyModel {
 public:
  /// Model rows are result list indexes.
  ResultFilter(const ResultList& results, ResultModel* source, QObject* parent);

  void SetFailedOnly(bool on);
  bool failed_only() const { return failed_only_; }
  /// The result list index of a row of the view; SIZE_MAX for no row.
  size_t ResultIndex(const QModelIndex& view_index) const;

 protected:
  bool filterAcceptsRow(int row, const QModelIndex& parent) const override;

 private:
  const ResultList& results_;
  bool failed_only_ = false;
};

}  // namespace voxtrel
