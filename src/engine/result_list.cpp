#include "engine/result_list.h"

namespace voxtrel {

void ResultList::Clear() {
  rows_.clear();
  if (observer_) observer_->RowsCleared();
}

const ResultRow& ResultList::Add(const FoundLink& link, const CheckOutcome& outcome) {
  // Rows are only ever added at the end and the list is cleared before each run, so the running
  // number is the row count; sorting reorders but never adds.
  rows_.push_back(ResultRow{static_cast<int64_t>(rows_.size()) + 1, link, outcome});
  if (observer_) observer_->RowAdded(rows_.size() - 1);
  return rows_.back();
}

void ResultList::Reorder(std::vector<ResultRow> rows) {
  rows_ = std::move(rows);
  if (observer_) observer_->RowsReordered();
}

const ResultRow* ResultList::ReplaceOutcome(int64_t number, const CheckOutcome& outcome) {
  // Sorting moves rows but never renumbers them; the number is how a row is found again. Rows
  // are mostly replaced in list order, so the search starts after the last one replaced.
  for (size_t step = 0; step < rows_.size(); ++step) {
    const size_t index = (replaced_ + step) % rows_.size();
    if (rows_[index].number != number) continue;
    rows_[index].outcome = outcome;
    replaced_ = index + 1;
    if (observer_) observer_->RowChanged(index);
    return &rows_[index];
  }
  return nullptr;
}

void ResultList::Restore(std::vector<ResultRow> rows) {
  rows_ = std::move(rows);
  if (observer_) observer_->RowsCleared();
}

}  // namespace voxtrel
