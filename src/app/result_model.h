#pragma once

#include <QAbstractTableModel>

#include "engine/result_list.h"

namespace voxtrel {

/// ListView1's rows: a view onto the engine's result list, kept in step through its observer.
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

 private:
  ResultList& results_;
  // The row count the views know of; the list has already changed when the observer hears of it.
  int shown_rows_ = 0;
};

}  // namespace voxtrel
