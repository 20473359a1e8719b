#include "engine/result_list.h"

#include <utility>

namespace voxtrel {

void ResultList::Clear() {
  rows_.clear();
  if (observer_) observer_->RowsCleared();
}

void ResultList::AddRow(const std::string& number, const std::string& mark,
                        const std::string& target, const std::string& name,
                        const std::string& file) {
  rows_.push_back(ResultRow{number, mark, target, name, file, number});
  if (observer_) observer_->RowAdded(rows_.size() - 1);
}

void ResultList::Reorder(std::vector<ResultRow> rows) {
  rows_ = std::move(rows);
  if (observer_) observer_->RowsReordered();
}

std::string RowNumberText(int32_t row_no) {
  std::string text = "000000" + std::to_string(row_no);
  return text.substr(text.size() - 6);
}

}  // namespace voxtrel
