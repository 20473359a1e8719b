#include "output/cells.h"

#include "platform/cp932.h"

namespace voxtrel {

std::string RowNumberText(int64_t row_no) {
  std::string text = "000000" + std::to_string(row_no);
  return text.substr(text.size() - 6);
}

std::string CellText(const ResultRow& row, int column) {
  switch (column) {
    case kColNo:
    case kColNo2: return RowNumberText(row.number);
    case kColMark: return MarkOf(row.outcome);
    case kColTarget: return row.link.target;
    case kColName: return row.link.name;
    // A page's path keeps the bytes the disk names it by; shown, it must be text. An address
    // is text already and passes through.
    case kColFile: return DisplayName(row.link.page);
    default: return "";
  }
}

}  // namespace voxtrel
