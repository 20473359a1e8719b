#include "app/link_main.h"

#include <QHeaderView>
#include <QTreeView>

#include "app/result_model.h"

// ListView1: sorting by a column and keeping the order as rows come in.

namespace voxtrel {

void Link_Main::ListView1_ColumnClick(int section) {
  if (shutting_down_) return;
  QHeaderView* header = list_view1_->header();
  const QString caption = result_model_->headerData(section, Qt::Horizontal).toString();
  // "No" brings back the order the rows came in; only a list already in that order turns round.
  const bool page_order =
      !header->isSortIndicatorShown() ||
      (sorter_.sort_column == kColNo && sorter_.sort_direction == SortDirection::kAscending);
  if (SortColumnForCaption(caption.toStdString()) == kColNo && !page_order &&
      sorter_.SortClickCount[kColNo] % 2 == 0)
    ++sorter_.SortClickCount[kColNo];
  bool sorted = false;
  result_model_->Rearrange([&] { sorted = sorter_.SortByHeader(results_, caption.toStdString()); });
  // The header flips its own arrow on a click; the core's sort state is what it must show.
  if (sorted) header->setSortIndicatorShown(true);
  if (header->isSortIndicatorShown())
    header->setSortIndicator(sorter_.sort_column, sorter_.sort_direction ==
                                                          SortDirection::kDescending
                                                      ? Qt::DescendingOrder
                                                      : Qt::AscendingOrder);
  if (sorted) KeepSortOrder();
}

void Link_Main::KeepSortOrder() {
  // Rows still to come go where the order in force puts them; in page order that is the end.
  if (sorter_.sort_column == kColNo && sorter_.sort_direction == SortDirection::kAscending) {
    result_model_->KeepSorted({});
    return;
  }
  result_model_->KeepSorted(
      [this] { SortResults(results_, sorter_.sort_column, sorter_.sort_direction); });
}

size_t Link_Main::ResultIndexOfViewRow(const QModelIndex& view_index) const {
  return result_filter_->ResultIndex(view_index);
}

}  // namespace voxtrel
