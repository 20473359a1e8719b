#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "engine/result_list.h"

namespace voxtrel {

enum class SortDirection { kAscending = 0, kDescending = 1 };

/// Column index a header caption selects ("No" 0 ... "ファイル名" 4); -1 for "No2" and others.
int SortColumnForCaption(std::string_view caption);

/// Text order used for sorting: ASCII letters compared without case, then by code point.
/// Negative, zero or positive like strcmp.
int CompareSortText(std::string_view a, std::string_view b);

/// Re-orders the rows of `results` by column `column`, stable, in `direction`: by the text each
/// cell shows, but marks in the order × ？ △ ◎ Ｐ.
void SortResults(ResultList& results, int column, SortDirection direction);

/// Header-click sorting of the result list; counts clicks per column for the program's life.
class ResultSorter {
 public:
  /// Looks the caption up exactly; an unknown caption ("No2") changes nothing and returns false.
  bool SortByHeader(ResultList& results, const std::string& caption);

  std::array<int32_t, 8> SortClickCount{};
  /// The list's sort column and direction after the last click.
  int sort_column = 0;
  SortDirection sort_direction = SortDirection::kAscending;
};

}  // namespace voxtrel
