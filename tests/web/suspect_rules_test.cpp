#include "web/suspect_rules.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace voxtrel {
namespace {

constexpr char kToday[] = "2026-12-08";

// One address a test knows for every closed service and parking host, and the name it is
// recognised by ("" for one no rule may take).
struct Sample {
  const char* url;
  const char* name;
};

constexpr Sample kClosedSamples[] = {
    {"http://www.geocities.jp/user/", "Yahoo!ジオシティーズ"},
    {"http://GEOCITIES.JP/user/", "Yahoo!ジオシティーズ"},
    {"http://www.geocities.co.jp/Hollywood/1234/", "Yahoo!ジオシティーズ"},
    {"http://geocities.co.jp/x", "Yahoo!ジオシティーズ"},
    {"http://homepage1.nifty.com/user/", "@nifty @homepage"},
    {"http://homepage2.nifty.com/user/", "@nifty @homepage"},
    {"http://homepage3.nifty.com/user/a.htm", "@nifty @homepage"},
    {"http://isweb12.infoseek.co.jp/art/user/", "Infoseek isweb ライト"},
    {"http://user.hp.infoseek.co.jp/", "Infoseek isweb ライト"},
    {"http://www12.ocn.ne.jp/~user/", "OCN Page ON"},
    {"http://www.ocn.ne.jp/%7Euser/", "OCN Page ON"},
    {"http://user.blog.ocn.ne.jp/blog/", "OCN ブログ人"},
    {"http://www3.teacup.com/user/bbs", "teacup."},
    {"http://a.b.teacup.com/x", "teacup."},
    {"https://blogs.yahoo.co.jp/user/123.html", "Yahoo!ブログ"},
    {"http://d.hatena.ne.jp/user/20080101", "はてなダイアリー"},
    {"http://user.at.webry.info/200801/article_1.html", "ウェブリブログ"},
    {"http://user.blog.so-net.ne.jp/", "So-netブログ / SSブログ"},
    {"https://user.blog.ss-blog.jp/2020-01-01", "So-netブログ / SSブログ"},
    {"https://blog.goo.ne.jp/user", "gooブログ"},
    {"http://teacup.com.evil.example/", ""},
    {"http://teacup.com/", ""},
    {"http://dd.hatena.ne.jp/user/", ""},
    {"https://user.hatenablog.com/", ""},
    {"http://www.ocn.ne.jp/index.html", ""},
    {"http://geocities.jp.example/", ""},
    {"mailto:user@geocities.jp", ""},
};

constexpr Sample kParkingSamples[] = {
    {"http://ww1.sedoparking.com/example.com", "Sedo"},
    {"http://sedoparking.com/", "Sedo"},
    {"http://www.parkingcrew.net/x", "ParkingCrew"},
    {"http://parkingcrew.net/", "ParkingCrew"},
    {"https://www.hugedomains.com/domain_profile.cfm?d=example", "HugeDomains"},
    {"https://hugedomains.com/domain_profile.cfm?d=example", "HugeDomains"},
    {"https://www.afternic.com/forsale/example.com", "Afternic"},
    {"https://afternic.com/forsale/example.com", "Afternic"},
    {"https://dan.com/buy-domain/example.com", "Dan.com"},
    {"https://www.dan.com/buy-domain/example.com", "Dan.com"},
    {"https://www.hugedomains.com/", ""},
    {"http://sedoparking.com.example/", ""},
};

// Each closed or parking-host line of the shipped file, cut to one pattern, for the samples.
std::vector<std::string> ShippedEntriesOnePatternEach() {
  std::vector<std::string> entries;
  std::string_view text = SuspectRules::ShippedText();
  while (!text.empty()) {
    const std::string line(text.substr(0, text.find('\n')));
    text.remove_prefix(std::min(text.size(), line.size() + 1));
    const bool closed = line.starts_with("closed\t");
    if (!closed && !line.starts_with("parking-host\t")) continue;
    size_t at = 0;
    for (int tabs = closed ? 4 : 2; tabs > 0; --tabs)
      at = line.find_first_not_of('\t', line.find('\t', at));
    std::string_view patterns = std::string_view(line).substr(at);
    while (!patterns.empty()) {
      const std::string_view pattern = patterns.substr(0, patterns.find(' '));
      entries.push_back(line.substr(0, at) + std::string(pattern));
      patterns.remove_prefix(std::min(patterns.size(), pattern.size() + 1));
    }
  }
  return entries;
}

TEST(SuspectRulesTest, EveryShippedServiceAndParkingHostKnowsItsSamples) {
  const SuspectRules rules = SuspectRules::Shipped();
  for (const auto& [url, name] : kClosedSamples) {
    const ClosedService* service = rules.ClosedServiceOf(url, kToday);
    EXPECT_EQ(service ? service->name : "", name) << url;
  }
  for (const auto& [url, name] : kParkingSamples)
    EXPECT_EQ(rules.ParkingServiceOfHost(url), name) << url;
  // A sample for every pattern, so a new entry without one fails here.
  for (const std::string& entry : ShippedEntriesOnePatternEach()) {
    SuspectRules one;
    one.Add(entry, "entry", nullptr);
    bool sampled = false;
    for (const auto& [url, name] : kClosedSamples)
      sampled |= *name && one.ClosedServiceOf(url, kToday) != nullptr;
    for (const auto& [url, name] : kParkingSamples)
      sampled |= *name && !one.ParkingServiceOfHost(url).empty();
    EXPECT_TRUE(sampled) << "no sample address for " << entry;
  }
  // Before its closing day a service is alive; a forwarding one only on its own hosts.
  EXPECT_EQ(rules.ClosedServiceOf("https://blog.goo.ne.jp/user", "2025-11-17"), nullptr);
  EXPECT_NE(rules.ClosedServiceOf("https://blog.goo.ne.jp/user", "2025-11-18"), nullptr);
  const ClosedService* diary = rules.ClosedServiceOf("http://d.hatena.ne.jp/u/", kToday);
  ASSERT_NE(diary, nullptr);
  EXPECT_EQ(diary->fate, ServiceFate::kForwards);
  EXPECT_EQ(diary->closed, "2019-02-28");
  EXPECT_TRUE(rules.OnServiceHost(*diary, "https://D.hatena.ne.jp:443/elsewhere"));
  EXPECT_FALSE(rules.OnServiceHost(*diary, "https://u.hatenablog.com/"));
  EXPECT_EQ(rules.ParkingServiceMarkedIn("<script src=\"//img1.wsimg.com/parking-lander/x.js\">"),
            "GoDaddy");
  EXPECT_EQ(rules.ParkingServiceMarkedIn("<p>Sedo</p>"), "");
}

TEST(SuspectRulesTest, ShippedRulesReadWithoutProblem) {
  SuspectRules rules;
  std::vector<RulesProblem> problems;
  rules.Add(SuspectRules::ShippedText(), "suspect-rules.txt", &problems);
  for (const RulesProblem& problem : problems) ADD_FAILURE() << problem.line << ": " << problem.why;
}

TEST(SuspectRulesTest, AnUnreadableLineIsToldAndPassedOver) {
  const std::pair<const char*, const char*> cases[] = {
      {"closd\tX\t2019-03-31\tdeleted\ta.example", "unknown kind \"closd\""},
      {"closed\tX\t2019-03-31\tdeleted",
       "closed takes a name, a date, a fate and a pattern, 3 "
       "fields given"},
      {"closed\tX\t2019-3-31\tdeleted\ta.example", "bad date \"2019-3-31\""},
      {"closed\tX\t2019-13-01\tdeleted\ta.example", "bad date \"2019-13-01\""},
      {"closed\tX\t2019-03-31\tgone\ta.example", "bad fate \"gone\""},
      {"parking-host\tX\ta.example /path", "bad pattern \"/path\""},
      {"parking-mark\tX", "parking-mark takes a name and a text, 1 fields given"},
      {"bot-text\tX\ta\tb", "bot-text takes a name and a text, 3 fields given"},
      {"bot-status\tX\t99x", "bad status \"99x\""},
  };
  for (const auto& [broken, why] : cases) {
    SuspectRules rules;
    std::vector<RulesProblem> problems;
    rules.Add(std::string("# rules\n\nnot-found-title\tgone away\n") + broken +
                  "\n\t\tnot-found-title\t\tno more\r\n",
              "mine.txt", &problems);
    ASSERT_EQ(problems.size(), 1u) << broken;
    EXPECT_EQ(problems[0].file, "mine.txt");
    EXPECT_EQ(problems[0].line, 4u) << broken;
    EXPECT_EQ(problems[0].why, why);
    EXPECT_TRUE(rules.TitleSaysNotFound("Gone Away") && rules.TitleSaysNotFound("no more"));
    EXPECT_EQ(rules.ClosedServiceOf("http://a.example/", kToday), nullptr) << broken;
    EXPECT_EQ(rules.ParkingServiceOfHost("http://a.example/"), "") << broken;
  }
}

TEST(SuspectRulesTest, BotWallsAndNotFoundTitles) {
  struct Answer {
    int status;
    HeaderFields headers;
    const char* title;
    const char* body;
    const char* wall;
  };
  const Answer answers[] = {
      {403, {{"cf-mitigated", "challenge"}}, "", "", "Cloudflare"},
      {503, {{"server", "cloudflare"}}, "Just a moment...", "", "Cloudflare"},
      {403, {}, "Attention Required! | Cloudflare", "", "Cloudflare"},
      {429, {}, "", "<script src=\"/cdn-cgi/challenge-platform/h/b/orchestrate/x\">", "Cloudflare"},
      {403, {{"X-Amzn-Waf-Action", "captcha"}}, "", "", "AWS WAF"},
      {403, {{"x-datadome", "protected"}}, "", "", "DataDome"},
      {403, {}, "", "<script src=\"https://ct.CAPTCHA-DELIVERY.com/c.js\">", "DataDome"},
      {403, {}, "", "<div id=\"px-captcha\"></div>", "HUMAN (PerimeterX)"},
      {403, {}, "", "Request unsuccessful. Incapsula incident ID: 1-2", "Imperva Incapsula"},
      {403, {}, "Sucuri WebSite Firewall - Access Denied", "", "Sucuri"},
      {403, {}, "Access Denied", "Reference #18.1 https://errors.edgesuite.net/18.1", "Akamai"},
      {403, {{"server", "ddos-guard"}}, "", "", "DDoS-Guard"},
      {999, {}, "", "", "LinkedIn"},
      // False friends: a CDN's name alone, a plain refusal, a challenge that let the page by.
      {403, {{"server", "cloudflare"}}, "403 Forbidden", "<h1>Forbidden</h1>", ""},
      {403, {}, "Access Denied", "You don't have permission to access this resource.", ""},
      {200, {{"cf-mitigated", "challenge"}}, "Just a moment...", "", ""},
      {404, {}, "Attention Required! | Cloudflare", "", ""},
  };
  const SuspectRules rules = SuspectRules::Shipped();
  for (const auto& [status, headers, title, body, wall] : answers)
    EXPECT_EQ(rules.BotWallOf(status, headers, title, body), wall) << status << " " << title;

  // Only a title test: a page about 404 errors says it too, and the judge decides whether its
  // folder's probe lets that count.
  const std::pair<const char*, bool> titles[] = {
      {"404 Not Found", true},
      {"Error 404", true},
      {"エラー404", true},
      {"page not found", true},
      {"HTTP 404エラーとは", true},
      {"14040 items", false},
      {"Route 4040", false},
      {"ページが見つかりません｜例", true},
      {"お探しのページは見つかりませんでした", true},
      {"ページが存在しません", true},
      {"この記事は削除されました", true},
      {"サービスを終了しました", true},
      {"トップページ", false},
      {"", false},
  };
  for (const auto& [title, says] : titles) EXPECT_EQ(rules.TitleSaysNotFound(title), says) << title;
}

}  // namespace
}  // namespace voxtrel
