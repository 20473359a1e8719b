#include "engine/result_list.h"

#include <utility>

namespace voxtrel {

void ResultList::Clear() {
  rows_.clear();
  if (observer_) observer_->RowsCleared();
}

const ResultRow& ResultList::Add(const FoundLink& link, const std::string& file_column,
                                 const CheckOutcome& outcome) {
  // Rows are only ever added at the end and the list is cleared before each run, so the running
  // number is the row count; sorting reorders but never adds.
  std::string number = RowNumberText(static_cast<int64_t>(rows_.size()) + 1);
  rows_.push_back(
      ResultRow{{number, MarkOf(outcome), link.target, link.name, file_column, number}, outcome});
  if (observer_) observer_->RowAdded(rows_.size() - 1);
  return rows_.back();
}

void ResultList::Reorder(std::vector<ResultRow> rows) {
  rows_ = std::move(rows);
  if (observer_) observer_->RowsReordered();
}

std::string RowNumberText(int64_t row_no) {
  std::string text = "000000" + std::to_string(row_no);
  return text.substr(text.size() - 6);
}

}  // namespace voxtrel
