#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

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

/// One row: the six column strings, column 0 the row's own text.
using ResultRow = std::array<std::string, 6>;

/// Told about every change so a window can mirror the list.
class ResultListObserver {
 public:
  virtual ~ResultListObserver() = default;
  virtual void RowsCleared() = 0;
  virtual void RowAdded(size_t index) = 0;
  virtual void RowsReordered() = 0;
};

/// The result list: rows in their current order.
class ResultList {
 public:
  void Clear();
  /// Appends mark/target/name/file under the number text (columns 0 and 5).
  void AddRow(const std::string& number, const std::string& mark, const std::string& target,
              const std::string& name, const std::string& file);
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
std::string RowNumberText(int32_t row_no);

}  // namespace voxtrel
