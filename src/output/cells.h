#pragma once

#include <cstdint>
#include <string>

#include "engine/result_list.h"

namespace voxtrel {

/// The last six characters of "000000" followed by the decimal digits of `row_no`.
std::string RowNumberText(int64_t row_no);

/// What column `column` (kColNo ... kColNo2) of `row` shows: the number as RowNumberText, the
/// mark, the target, the link name, the page; "" for any other column.
std::string CellText(const ResultRow& row, int column);

}  // namespace voxtrel
