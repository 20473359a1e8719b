#include "engine/result_list.h"

#include <gtest/gtest.h>

#include <vector>

namespace voxtrel {
namespace {

class CountingObserver : public ResultListObserver {
 public:
  void RowsCleared() override { log.push_back("cleared"); }
  void RowAdded(size_t index) override { log.push_back("added " + std::to_string(index)); }
  void RowsReordered() override { log.push_back("reordered"); }
  std::vector<std::string> log;
};

TEST(ResultListTest, AddRowPutsTheNumberIntoFirstAndLastColumn) {
  ResultList list;
  list.AddRow("000001", kMarkFailed, "http://host/", "Top", "/site/index.htm");
  ASSERT_EQ(list.Count(), 1u);
  EXPECT_EQ(list.Row(0),
            (ResultRow{"000001", "×", "http://host/", "Top", "/site/index.htm", "000001"}));
}

TEST(ResultListTest, ClearAddAndReorderTellTheObserver) {
  ResultList list;
  CountingObserver observer;
  list.SetObserver(&observer);
  list.AddRow("000001", kMarkOk, "http://a/", "", "p");
  list.AddRow("000002", kMarkScript, "http://b/x.pl", "", "p");
  std::vector<ResultRow> reversed = {list.Row(1), list.Row(0)};
  list.Reorder(reversed);
  EXPECT_EQ(list.Row(0)[kColNo], "000002");
  list.Clear();
  EXPECT_EQ(list.Count(), 0u);
  EXPECT_EQ(observer.log, (std::vector<std::string>{"added 0", "added 1", "reordered", "cleared"}));
}

TEST(ResultListTest, RowNumberTextKeepsTheLastSixDigits) {
  struct Case {
    int32_t row_no;
    const char* text;
  };
  const Case cases[] = {
      {1, "000001"},       {42, "000042"},      {999999, "999999"},
      {1000000, "000000"}, {1234567, "234567"}, {2147483647, "483647"},
  };
  for (const Case& c : cases) EXPECT_EQ(RowNumberText(c.row_no), c.text) << c.row_no;
}

TEST(ResultListTest, MarksAreTheirSingleCharacters) {
  EXPECT_STREQ(kMarkOk, "\u25CE");
  EXPECT_STREQ(kMarkRefresh, "\u25B3");
  EXPECT_STREQ(kMarkFailed, "\u00D7");
  EXPECT_STREQ(kMarkScript, "\uFF30");
}

}  // namespace
}  // namespace voxtrel
