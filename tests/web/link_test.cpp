#include "web/link.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "platform/text.h"
#include "web/answer_outcome.h"

namespace voxtrel {
namespace {

TEST(ReasonTest, EveryFailureKindHasItsOwnTextInBothLanguages) {
  std::set<std::string> english;
  std::set<std::string> japanese;
  // Every kind but kNone and kOther, which fail without a word of their own.
  for (int k = 1; k <= static_cast<int>(kLastFailureReason); ++k) {
    CheckOutcome outcome;
    outcome.reason = static_cast<FailureReason>(k);
    outcome.status = 404;
    outcome.detail = "Photo.JPG";
    if (outcome.reason == FailureReason::kOther) continue;
    EXPECT_NE(ReasonText(outcome), ReasonText({}));
    english.insert(ReasonText(outcome));
    japanese.insert(ReasonText(outcome, Language::kJapanese));
  }
  EXPECT_EQ(english.size(), static_cast<size_t>(kLastFailureReason) - 1);
  EXPECT_EQ(japanese.size(), english.size());
  for (const char* text : {"HTTP 404", "ﾀｲﾑｱｳﾄ", "接続できません", "ﾎｽﾄが見つかりません",
                           "証明書を信頼できません", "ﾘﾀﾞｲﾚｸﾄが多すぎます", "応答が途中で切れました",
                           "ﾌｧｲﾙがありません", "ｱﾝｶｰがありません", "大文字小文字が違います： Photo.JPG"})
    EXPECT_TRUE(japanese.count(text)) << text;
}

TEST(ReasonTest, ADoubtSaysWhyInBothLanguagesAndAFailureOnAClosedServiceAddsIt) {
  const std::string service = "Yahoo!ジオシティーズ (2019-03-31)";
  const std::tuple<SuspectKind, std::string, std::string> cases[] = {
      {SuspectKind::kClosedService, "closed service: " + service, "閉鎖されたｻｰﾋﾞｽ: " + service},
      {SuspectKind::kParkedDomain, "parked domain", "駐車ﾄﾞﾒｲﾝ"},
      {SuspectKind::kSoft404, "soft 404", "ｿﾌﾄ404"},
      {SuspectKind::kTopPageRedirect, "redirected to the top page", "ﾄｯﾌﾟﾍﾟｰｼﾞへ転送"},
      {SuspectKind::kBotWall, "blocked by bot protection", "ﾎﾞｯﾄ対策で確認できません"},
      {SuspectKind::kMissingAnchor, "anchor not found on the page", "ｱﾝｶｰが見つかりません"}};
  CheckOutcome outcome{CheckOutcome::Kind::kSuspect, {}, 200, 0, 0, service, ""};
  for (const auto& [suspect, english, japanese] : cases) {
    outcome.suspect = suspect;
    EXPECT_EQ(ReasonText(outcome), english);
    EXPECT_EQ(ReasonColumnText(outcome), japanese);
  }
  outcome = {CheckOutcome::Kind::kFailed, FailureReason::kHttpStatus, 404, 0, 0, service, ""};
  outcome.suspect = SuspectKind::kClosedService;
  EXPECT_EQ(ReasonText(outcome), "HTTP 404 / closed service: " + service);
  EXPECT_EQ(ReasonColumnText(outcome), "HTTP 404 / 閉鎖されたｻｰﾋﾞｽ: " + service);
}

TEST(ReasonTest, APermanentRedirectSaysWhereTheLinkLeadsNow) {
  const std::tuple<int, bool, std::string> cases[] = {{200, true, "→ http://new/"},
                                                      {404, true, "HTTP 404 → http://new/"},
                                                      {200, false, ""},
                                                      {404, false, "HTTP 404"}};
  for (const auto& [status, moved, column] : cases) {
    HttpAnswer answer;
    answer.status = status;
    answer.final_url = "http://new/";
    answer.moved_permanently = moved;
    const CheckOutcome outcome = AnswerOutcome(answer, false);
    EXPECT_EQ(outcome.redirected_to, moved ? "http://new/" : "") << status;
    EXPECT_EQ(ReasonColumnText(outcome), column) << status << moved;
  }
}

// Each list of statuses with those it makes ◎ (+) or × (-); "refused" when it is no such list.
TEST(AcceptTest, AStatusIsAnsweredWhenTheSpecNamesItAndTheDefaultIsTwoHundreds) {
  const std::pair<std::string, std::string> cases[] = {
      {"", "100- 199- 200+ 299+ 300- 403- 999-"},
      {"200..299,403", "199- 200+ 299+ 300- 403+ 404-"},
      {"403", "200- 403+ 404-"},
      {"100..999", "100+ 999+"},
      {"301..302,500..503,200", "200+ 201- 301+ 302+ 303- 499- 500+ 503+ 504-"},
      {"99", "refused"},         {"1000", "refused"},   {"200..100", "refused"},
      {"200,", "refused"},       {",200", "refused"},   {"200..", "refused"},
      {" 200", "refused"},       {"2x0", "refused"},    {"200...299", "refused"},
      {"200-299", "refused"},    {"abc", "refused"},
  };
  for (const auto& [list, expected] : cases) {
    std::vector<std::pair<int, int>> accept = {{1, 1}};
    const bool read = list.empty() ? (accept.clear(), true) : ParseStatusRanges(list, &accept);
    if (!read) {
      EXPECT_EQ("refused", expected) << list;
      EXPECT_EQ(accept, (std::vector<std::pair<int, int>>{{1, 1}})) << list;
      continue;
    }
    std::string marks;
    for (size_t at = 0; at < expected.size(); at += 5) {
      HttpAnswer answer;
      answer.status = std::stoi(expected.substr(at, 3));
      const bool answered = AnswerOutcome(answer, false, accept).kind == CheckOutcome::Kind::kAnswered;
      marks += (marks.empty() ? "" : " ") + expected.substr(at, 3) + (answered ? "+" : "-");
    }
    EXPECT_EQ(marks, expected) << list;
  }
}

}  // namespace
}  // namespace voxtrel
