#include "output/result_sort.h"

#include "output/cells.h"

#include <algorithm>
#include <iterator>
#include <vector>

namespace voxtrel {

namespace {

// The sort's own collation: letters fold to lower case, so "_" sorts before them.
unsigned char FoldAscii(char c) {
  unsigned char u = static_cast<unsigned char>(c);
  return (u >= 'A' && u <= 'Z') ? static_cast<unsigned char>(u - 'A' + 'a') : u;
}

// Sorted by mark, ？ stands next to ×: both are rows a reader must look at. The others keep the
// order of their text (× △ ◎ Ｐ), so a list without ？ sorts as it always did.
constexpr const char* kMarkSortOrder[] = {kMarkFailed, kMarkSuspect, kMarkRefresh, kMarkOk,
                                          kMarkScript};

std::string SortKey(const ResultRow& row, int column) {
  std::string cell = CellText(row, column);
  if (column != kColMark) return cell;
  const auto at = std::find(std::begin(kMarkSortOrder), std::end(kMarkSortOrder), cell);
  return std::string(1, static_cast<char>('0' + (at - std::begin(kMarkSortOrder))));
}

}  // namespace

int SortColumnForCaption(std::string_view caption) {
  static constexpr std::string_view kCaptions[] = {"No", "結果", "リンク先 URL", "リンク名",
                                                   "ファイル名"};
  for (int i = 0; i < 5; ++i)
    if (caption == kCaptions[i]) return i;
  return -1;
}

int CompareSortText(std::string_view a, std::string_view b) {
  // UTF-8 byte order is code point order, so bytes compare as characters would.
  const size_t common = std::min(a.size(), b.size());
  for (size_t i = 0; i < common; ++i) {
    const unsigned char x = FoldAscii(a[i]);
    const unsigned char y = FoldAscii(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

void SortResults(ResultList& results, int column, SortDirection direction) {
  if (column < 0 || column > kColNo2) return;
  // Sorted by what the column shows, each cell made once.
  std::vector<std::pair<std::string, size_t>> keyed;
  keyed.reserve(results.Count());
  for (size_t i = 0; i < results.Count(); ++i)
    keyed.emplace_back(SortKey(results.Row(i), column), i);
  const int sign = direction == SortDirection::kAscending ? 1 : -1;
  // Stable both ways: rows that compare equal keep the order in which they stand.
  std::stable_sort(keyed.begin(), keyed.end(), [sign](const auto& a, const auto& b) {
    return sign * CompareSortText(a.first, b.first) < 0;
  });
  std::vector<size_t> order;
  order.reserve(keyed.size());
  for (const auto& [key, index] : keyed) order.push_back(index);
  results.Reorder(order);
}

bool ResultSorter::SortByHeader(ResultList& results, const std::string& caption) {
  const int index = SortColumnForCaption(caption);
  if (index < 0) return false;
  const int32_t count = ++SortClickCount[static_cast<size_t>(index)];
  sort_column = index;
  sort_direction = (count % 2 != 0) ? SortDirection::kDescending : SortDirection::kAscending;
  SortResults(results, sort_column, sort_direction);
  return true;
}

}  // namespace voxtrel
