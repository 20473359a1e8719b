#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "web/link.h"

namespace voxtrel {

/// Column indexes of a result row as it is shown.
enum ResultColumn : int {
  kColNo = 0,
  kColMark = 1,
  kColTarget = 2,
  kColName = 3,
  kColFile = 4,
  kColNo2 = 5,
};

/// One row: its running number from 1, the link as found (its page is what the file column
/// shows) and what the check came to.
struct ResultRow {
  int64_t number = 0;
  FoundLink link;
  CheckOutcome outcome;
};

/// Told about every change so a window can mirror the list.
class ResultListObserver {
 public:
  virtual ~ResultListObserver() = default;
  virtual void RowsCleared() = 0;
  virtual void RowAdded(size_t index) = 0;
  virtual void RowsReordered() = 0;
  /// The row at `index` has a new outcome; its number and place stayed.
  virtual void RowChanged(size_t index) = 0;
};

/// The result list: rows in their current order, numbered as they are added.
class ResultList {
 public:
  void Clear();
  /// Appends the row of a checked link under the next running number; returns it.
  const ResultRow& Add(const FoundLink& link, const CheckOutcome& outcome);
  size_t Count() const { return rows_.size(); }
  /// Row by index 0..Count()-1 in the current order.
  const ResultRow& Row(size_t index) const { return rows_[index]; }
  const std::vector<ResultRow>& Rows() const { return rows_; }
  /// Replaces the order of the rows (used by sorting); `rows` must be a permutation.
  void Reorder(std::vector<ResultRow> rows);
  /// Gives the row numbered `number` a new outcome, in its place; nullptr when no row has that
  /// number.
  const ResultRow* ReplaceOutcome(int64_t number, const CheckOutcome& outcome);
  /// Replaces every row by `rows`, numbers and order as they come (rows read back from a
  /// report); observers hear of it as of a clearing.
  void Restore(std::vector<ResultRow> rows);
  void SetObserver(ResultListObserver* observer) { observer_ = observer; }

 private:
  std::vector<ResultRow> rows_;
  ResultListObserver* observer_ = nullptr;
  /// Where the search for the next row to replace begins.
  size_t replaced_ = 0;
};

}  // namespace voxtrel
