#include "web/refresh_detector.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <utility>
#include <vector>

#include "platform/cp932.h"
#include "platform/text.h"
#include "web/answer_outcome.h"

namespace voxtrel {
namespace {

/// Feeds `body` cut at `cuts` (ascending) and checks the answer against the whole-body test.
void ExpectAgrees(const std::string& body, const std::vector<size_t>& cuts) {
  RefreshDetector detector;
  size_t from = 0;
  for (size_t cut : cuts) {
    detector.Feed(std::string_view(body).substr(from, cut - from));
    from = cut;
  }
  detector.Feed(std::string_view(body).substr(from));
  std::string text = Cp932ToUtf8(body);
  EXPECT_EQ(detector.IsRefresh(), IsRefreshPage(text));
  EXPECT_EQ(detector.Decided(), AsciiUpper(text).find(kRefreshText) != std::string::npos);
}

void ExpectAgreesInAnyCut(const std::string& body, std::mt19937& random) {
  ExpectAgrees(body, {});
  std::vector<size_t> every_byte;
  for (size_t i = 1; i < body.size(); ++i) every_byte.push_back(i);
  ExpectAgrees(body, every_byte);
  for (int round = 0; round < 20; ++round) {
    std::vector<size_t> cuts;
    for (size_t i = 1; i < body.size(); ++i) {
      if (random() % 4 == 0) cuts.push_back(i);
    }
    ExpectAgrees(body, cuts);
  }
}

TEST(RefreshDetectorTest, AgreesWithTheWholeBodyTestInEveryCut) {
  const std::vector<std::string> bodies = {
      "",
      "<meta http-equiv=\"Refresh\" content=\"0;url=next.htm\">",
      "123456789REFRESH\" CONTENT=",                                        // at character 10
      "1234567890refresh\" content=",                                       // at character 11
      "0123456789\x82REFRESH\" CONTENT=1 and later <a refresh\" content=",  // 'R' ends a pair
      "012345678\x85REFRESH\" CONTENT=",  // unmapped pair: U+FFFD, then the ASCII byte itself
      "\x80\xA0\xFD\xFE\xFF\x81\xFFxy\xB1REFRESH\" CONTENT=",  // bytes that stand for U+FFFD
      "REFRESH\" CONTENT= first, then <meta http-equiv=\"refresh\" content=\"5\">",
      "\x82\xa0\x82\xa0\x82\xa0\x82\xa0\x82\xa0\x82\xa0\x82\xa0\x82\xa0\x82\xa0refresh\" content=",
      "<html>no refresh here \x82",  // lone lead byte at the end
  };
  std::mt19937 random(7);
  for (const std::string& body : bodies) {
    SCOPED_TRACE(body);
    ExpectAgreesInAnyCut(body, random);
  }
  // Bodies built at random from the pieces that make cutting hard.
  const std::vector<std::string> pieces = {
      "refresh\" content=", "REFRESH\"", " CONTENT=", "\x82", "\x85",
      "\x82\xa0",           "\xb1",      "\x80",      "x",    "R"};
  for (int round = 0; round < 100; ++round) {
    std::string body;
    for (size_t n = random() % 16; n > 0; --n) body += pieces[random() % pieces.size()];
    SCOPED_TRACE(body);
    ExpectAgreesInAnyCut(body, random);
  }
}

TEST(IsRefreshPageTest, DeclarationCountsFromTheEleventhCharacter) {
  const std::string decl = "REFRESH\" CONTENT=\"0\">";
  const std::pair<std::string, bool> cases[] = {
      {"0123456789" + decl, true},   {"012345678" + decl, false},
      {"ああああああああああ" + decl, true}, {"あああああああああ" + decl, false},
      {"<meta http-equiv=\"refresh\" content=\"0\">", true},
      {"<meta http-equiv=\"refresh\"  content=\"0\">", false}, {"", false},
  };
  for (const auto& [text, refresh] : cases) EXPECT_EQ(IsRefreshPage(text), refresh) << text;
}

}  // namespace
}  // namespace voxtrel
