#include "output/result_sort.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace voxtrel {
namespace {

void AddRows(ResultList& list) {
  list.AddRow("000001", kMarkFailed, "http://b/", "beta", "/p1.htm");
  list.AddRow("000002", kMarkOk, "http://A/", "alpha", "/p1.htm");
  list.AddRow("000003", kMarkFailed, "http://a/", "Gamma", "/p2.htm");
  list.AddRow("000004", kMarkScript, "http://c/x.pl", "", "/p2.htm");
}

std::vector<std::string> Numbers(const ResultList& list) {
  std::vector<std::string> numbers;
  for (const ResultRow& row : list.Rows()) numbers.push_back(row[kColNo2]);
  return numbers;
}

using Order = std::vector<std::string>;

TEST(ResultSortTest, CaptionsSelectTheirColumnsExactly) {
  const struct {
    const char* caption;
    int column;
  } cases[] = {{"No", 0},           {"結果", 1}, {"リンク先 URL", 2}, {"リンク名", 3},
               {"ファイル名", 4},   {"No2", -1}, {"no", -1},          {"NO", -1},
               {"リンク先URL", -1}, {"", -1},    {" No", -1}};
  for (const auto& c : cases) EXPECT_EQ(SortColumnForCaption(c.caption), c.column) << c.caption;
}

TEST(ResultSortTest, ComparesIgnoringAsciiCaseThenByCodePoint) {
  const struct {
    const char* a;
    const char* b;
    int sign;
  } cases[] = {
      {"a", "B", -1}, {"B", "a", 1},     {"abc", "ABC", 0}, {"_", "a", -1},
      {"Z", "_", 1},  {"ab", "abc", -1}, {"", "a", -1},     {"", "", 0},
      {"×", "◎", -1}, {"◎", "Ｐ", -1},   {"ｱ", "ア", 1},    {"000010", "000009", 1},
      {"ﾃ", "テ", 1}, {"Ａ", "ａ", -1},  {"z", "Ａ", -1},
  };
  for (const auto& c : cases) {
    const int got = CompareSortText(c.a, c.b);
    EXPECT_EQ((got > 0) - (got < 0), c.sign) << c.a << " vs " << c.b;
  }
}

TEST(ResultSortTest, FollowsTheWorkedSequenceOfClicks) {
  ResultList list;
  AddRows(list);
  ResultSorter sorter;

  EXPECT_TRUE(sorter.ListView1_ColumnClick(list, "結果"));
  EXPECT_EQ(sorter.sort_column, 1);
  EXPECT_EQ(sorter.sort_direction, SortDirection::kDescending);
  EXPECT_EQ(Numbers(list), (Order{"000004", "000002", "000001", "000003"}));

  EXPECT_TRUE(sorter.ListView1_ColumnClick(list, "No"));
  EXPECT_EQ(sorter.sort_direction, SortDirection::kDescending);
  EXPECT_EQ(Numbers(list), (Order{"000004", "000003", "000002", "000001"}));

  // Equal marks keep the order they stood in.
  EXPECT_TRUE(sorter.ListView1_ColumnClick(list, "結果"));
  EXPECT_EQ(sorter.sort_direction, SortDirection::kAscending);
  EXPECT_EQ(Numbers(list), (Order{"000003", "000001", "000002", "000004"}));

  EXPECT_TRUE(sorter.ListView1_ColumnClick(list, "No"));
  EXPECT_EQ(sorter.sort_direction, SortDirection::kAscending);
  EXPECT_EQ(Numbers(list), (Order{"000001", "000002", "000003", "000004"}));

  EXPECT_EQ(sorter.SortClickCount, (std::array<int32_t, 8>{2, 2, 0, 0, 0, 0, 0, 0}));
}

TEST(ResultSortTest, SortsTextColumnsWithoutRegardToAsciiCase) {
  ResultList list;
  AddRows(list);
  ResultSorter sorter;
  sorter.ListView1_ColumnClick(list, "リンク名");  // descending
  EXPECT_EQ(Numbers(list), (Order{"000003", "000001", "000002", "000004"}));
  sorter.ListView1_ColumnClick(list, "リンク名");  // ascending
  EXPECT_EQ(Numbers(list), (Order{"000004", "000002", "000001", "000003"}));

  ResultList targets;
  AddRows(targets);
  ResultSorter other;
  other.SortClickCount[2] = 1;
  other.ListView1_ColumnClick(targets, "リンク先 URL");  // count 2: ascending; A and a tie
  EXPECT_EQ(Numbers(targets), (Order{"000002", "000003", "000001", "000004"}));
  other.ListView1_ColumnClick(targets, "ファイル名");
  EXPECT_EQ(Numbers(targets), (Order{"000003", "000004", "000002", "000001"}));
}

TEST(ResultSortTest, EachColumnKeepsItsOwnCount) {
  ResultList list;
  AddRows(list);
  ResultSorter sorter;
  sorter.ListView1_ColumnClick(list, "リンク名");
  sorter.ListView1_ColumnClick(list, "ファイル名");
  EXPECT_EQ(sorter.sort_direction, SortDirection::kDescending);
  sorter.ListView1_ColumnClick(list, "リンク名");
  EXPECT_EQ(sorter.sort_column, 3);
  EXPECT_EQ(sorter.sort_direction, SortDirection::kAscending);
}

TEST(ResultSortTest, No2AndUnknownCaptionsChangeNothing) {
  ResultList list;
  AddRows(list);
  ResultSorter sorter;
  sorter.ListView1_ColumnClick(list, "結果");
  const std::vector<ResultRow> before = list.Rows();
  for (const char* caption : {"No2", "no", "Result"}) {
    EXPECT_FALSE(sorter.ListView1_ColumnClick(list, caption));
    EXPECT_EQ(list.Rows(), before);
    EXPECT_EQ(sorter.sort_column, 1);
    EXPECT_EQ(sorter.sort_direction, SortDirection::kDescending);
    EXPECT_EQ(sorter.SortClickCount, (std::array<int32_t, 8>{0, 1, 0, 0, 0, 0, 0, 0}));
  }
}

TEST(ResultSortTest, CountsCarryOverIntoALaterRunAndNewRowsArriveAtTheEnd) {
  ResultList list;
  AddRows(list);
  ResultSorter sorter;
  for (int i = 0; i < 3; ++i) sorter.ListView1_ColumnClick(list, "No");
  EXPECT_EQ(Numbers(list), (Order{"000004", "000003", "000002", "000001"}));

  list.Clear();
  list.AddRow("000001", kMarkFailed, "http://z/", "", "/q.htm");
  list.AddRow("000002", kMarkFailed, "http://y/", "", "/q.htm");
  sorter.ListView1_ColumnClick(list, "リンク先 URL");  // descending: z before y
  list.AddRow("000003", kMarkFailed, "http://zz/", "", "/q.htm");
  EXPECT_EQ(Numbers(list), (Order{"000001", "000002", "000003"}));

  sorter.ListView1_ColumnClick(list, "No");  // its fourth click: ascending
  EXPECT_EQ(sorter.SortClickCount[0], 4);
  EXPECT_EQ(sorter.sort_direction, SortDirection::kAscending);
  EXPECT_EQ(Numbers(list), (Order{"000001", "000002", "000003"}));
}

class CountingObserver : public ResultListObserver {
 public:
  void RowsCleared() override {}
  void RowAdded(size_t) override {}
  void RowsReordered() override { ++reordered; }
  int reordered = 0;
};

TEST(ResultSortTest, ReordersThroughTheResultList) {
  ResultList list;
  AddRows(list);
  CountingObserver observer;
  list.SetObserver(&observer);
  ResultSorter sorter;
  sorter.ListView1_ColumnClick(list, "No");
  sorter.ListView1_ColumnClick(list, "No2");
  EXPECT_EQ(observer.reordered, 1);
  list.SetObserver(nullptr);
}

}  // namespace
}  // namespace voxtrel
