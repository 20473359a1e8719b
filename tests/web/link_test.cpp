#include "web/link.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "web/answer_outcome.h"

namespace voxtrel {
namespace {

CheckOutcome Failed(FailureReason reason) {
  CheckOutcome outcome;
  outcome.reason = reason;
  outcome.status = reason == FailureReason::kHttpStatus ? std::optional<int>(404) : std::nullopt;
  outcome.detail = "Photo.JPG";
  return outcome;
}

TEST(ReasonTest, EveryFailureKindHasItsOwnTextInBothLanguages) {
  const std::set<std::string> japanese_wanted = {
      "HTTP 404", "ﾀｲﾑｱｳﾄ", "接続できません", "ﾎｽﾄが見つかりません", "証明書を信頼できません",
      "ﾘﾀﾞｲﾚｸﾄが多すぎます", "応答が途中で切れました", "ﾌｧｲﾙがありません", "ｱﾝｶｰがありません",
      "大文字小文字が違います： Photo.JPG"};
  std::set<std::string> english;
  std::set<std::string> japanese;
  const int last = static_cast<int>(kLastFailureReason);
  // kNone and kOther fail without a word of their own; every other kind needs one.
  for (int k = 1; k <= last; ++k) {
    const CheckOutcome outcome = Failed(static_cast<FailureReason>(k));
    if (outcome.reason == FailureReason::kOther) continue;
    english.insert(ReasonText(outcome));
    japanese.insert(ReasonText(outcome, Language::kJapanese));
  }
  EXPECT_EQ(english.size(), static_cast<size_t>(last - 1));
  EXPECT_EQ(japanese.size(), static_cast<size_t>(last - 1));
  for (const std::string& text : japanese_wanted) EXPECT_TRUE(japanese.count(text)) << text;
  for (const std::string& text : japanese)
    EXPECT_EQ(text.find("ﾘｸｴｽﾄに失敗"), std::string::npos) << "a kind without text";
  EXPECT_EQ(ReasonText(Failed(FailureReason::kTimeout)), "time-out");
}

TEST(ReasonTest, APermanentRedirectSaysWhereTheLinkLeadsNow) {
  const struct {
    int status;
    bool moved;
    const char* redirected_to;
    const char* column;
  } cases[] = {
      {200, true, "http://new/", "→ http://new/"},
      {404, true, "http://new/", "HTTP 404 → http://new/"},
      {200, false, "", ""},
      {404, false, "", "HTTP 404"},
  };
  for (const auto& c : cases) {
    HttpAnswer answer;
    answer.status = c.status;
    answer.redirects = 1;
    answer.final_url = "http://new/";
    answer.moved_permanently = c.moved;
    const CheckOutcome outcome = AnswerOutcome(answer, false);
    EXPECT_EQ(outcome.redirected_to, c.redirected_to) << c.status << c.moved;
    EXPECT_EQ(ReasonColumnText(outcome), c.column) << c.status << c.moved;
  }
}

}  // namespace
}  // namespace voxtrel
