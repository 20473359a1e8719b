#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/link.h"

namespace voxtrel {

/// Column indexes of a result row.
enum ResultColumn : int {
  kColNo = 0,
  kColMark = 1,
  kColTarget = 2,
  kColName = 3,
  kColFile = 4,
  kColNo2 = 5,
};

inline constexpr const char* kMarkOk = "◎";
inline constexpr const char* kMarkRefresh = "△";
inline constexpr const char* kMarkFailed = "×";
inline constexpr const char* kMarkScript = "Ｐ";

/// One row: the six column strings as listed, and what the check came to (kept in memory only;
/// the reports show the columns).
struct ResultRow {
  std::array<std::string, 6> cells;
  CheckOutcome outcome;

  const std::string& operator[](size_t column) const { return cells[column]; }
};

/// Told about every change so a window can mirror the list.
class ResultListObserver {
 public:
  virtual ~ResultListObserver() = default;
  virtual void RowsCleared() = 0;
  virtual void RowAdded(size_t index) = 0;
  virtual void RowsReordered() = 0;
};

/// The result list: rows in their current order, numbered as they are added.
class ResultList {
 public:
  void Clear();
  /// Appends the row of a checked link under the next running number; returns it.
  const ResultRow& Add(const FoundLink& link, const std::string& file_column,
                       const CheckOutcome& outcome);
  size_t Count() const { return rows_.size(); }
  /// Row by index 0..Count()-1 in the current order.
  const ResultRow& Row(size_t index) const { return rows_[index]; }
  const std::vector<ResultRow>& Rows() const { return rows_; }
  /// Replaces the order of the rows (used by sorting); `rows` must be a permutation.
  void Reorder(std::vector<ResultRow> rows);
  void SetObserver(ResultListObserver* observer) { observer_ = observer; }

 private:
  std::vector<ResultRow> rows_;
  ResultListObserver* observer_ = nullptr;
};

/// The last six characters of "000000" followed by the decimal digits of `row_no`.
std::string RowNumberText(int64_t row_no);

}  // namespace voxtrel
