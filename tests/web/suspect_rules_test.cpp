#include "web/suspect_rules.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace voxtrel {
namespace {

constexpr char kToday[] = "2026-12-08";

std::vector<std::string> Split(std::string_view text, char at) {
  std::vector<std::string> parts;
  while (!text.empty()) {
    const std::string_view part = text.substr(0, text.find(at));
    if (!part.empty()) parts.emplace_back(part);
    text.remove_prefix(std::min(text.size(), part.size() + 1));
  }
  return parts;
}

// Sample addresses (after "http://") of every closed service and parking host, by the name each
// is known by; under "" those no rule may take.
const std::pair<const char*, const char*> kSamples[] = {
    {"Yahoo!ジオシティーズ", "GEOCITIES.JP u.geocities.jp geocities.co.jp www.geocities.co.jp/H/1"},
    {"@nifty @homepage", "homepage1.nifty.com/u homepage2.nifty.com/u homepage3.nifty.com/u/"},
    {"Infoseek isweb ライト", "isweb12.infoseek.co.jp/art/u/ u.hp.infoseek.co.jp"},
    {"OCN Page ON", "www12.ocn.ne.jp/~u/ www.ocn.ne.jp:80/%7Eu/"},
    {"OCN ブログ人", "u.blog.ocn.ne.jp"},
    {"teacup.", "www3.teacup.com/u/bbs a.b.teacup.com"},
    {"Yahoo!ブログ", "blogs.yahoo.co.jp/u/1.html"},
    {"はてなダイアリー", "d.hatena.ne.jp/u/20080101"},
    {"ウェブリブログ", "u.at.webry.info/200801/article_1.html"},
    {"So-netブログ / SSブログ", "u.blog.so-net.ne.jp u.blog.ss-blog.jp"},
    {"gooブログ", "blog.goo.ne.jp/u"},
    {"Sedo", "ww1.sedoparking.com sedoparking.com www.sedo.com/search/details/?domain=x"},
    {"Sedo", "sedo.com/search/details/?domain=x"},
    {"ParkingCrew", "www.parkingcrew.net/x parkingcrew.net"},
    {"HugeDomains",
     "www.hugedomains.com/domain_profile.cfm?d=x hugedomains.com/domain_profile.cfm"},
    {"Afternic", "www.afternic.com/forsale/x.com afternic.com/forsale/x.com"},
    {"Afternic", "afternic.com/domain/x.com www.afternic.com/domain/x.com"},
    {"Dan.com", "dan.com/buy-domain/x.com www.dan.com/buy-domain/x.com"},
    {"Namecheap", "parkingpage.namecheap.com"},
    {"", "teacup.com.evil.example teacup.com dd.hatena.ne.jp/u u.hatenablog.com sedo.com"},
    {"",
     "www.ocn.ne.jp/index.html geocities.jp.example www.hugedomains.com sedoparking.com.example"},
};

std::string NameOf(const SuspectRules& rules, const std::string& address) {
  const std::string url = "http://" + address;
  const ClosedService* service = rules.ClosedServiceOf(url, kToday);
  return service ? service->name : rules.ParkingServiceOfHost(url);
}

TEST(SuspectRulesTest, EveryShippedServiceAndParkingHostKnowsItsSamples) {
  const SuspectRules rules = SuspectRules::Shipped();
  for (const auto& [name, urls] : kSamples)
    for (const std::string& url : Split(urls, ' ')) EXPECT_EQ(NameOf(rules, url), name) << url;
  // Every pattern of the file on its own takes a sample, so a new entry without one fails here.
  for (const std::string& line : Split(SuspectRules::ShippedText(), '\n')) {
    const std::vector<std::string> fields = Split(line, '\t');
    const size_t first = line.starts_with("closed\t") ? 4 : 2;
    if (first == 2 && !line.starts_with("parking-host\t")) continue;
    for (const std::string& pattern : Split(fields[first], ' ')) {
      SuspectRules one;
      fields[0] == "closed" ? one.Add("closed\tX\t2000-01-01\tdeleted\t" + pattern, "", nullptr)
                            : one.Add("parking-host\tX\t" + pattern, "", nullptr);
      bool sampled = false;
      for (const auto& [name, urls] : kSamples)
        for (const std::string& url : Split(urls, ' ')) sampled |= *name && NameOf(one, url) == "X";
      EXPECT_TRUE(sampled) << "no sample address for " << pattern;
    }
  }
  // Before its closing day a service is alive; one that forwards is known by its own hosts.
  EXPECT_EQ(rules.ClosedServiceOf("https://blog.goo.ne.jp/u", "2025-11-17"), nullptr);
  EXPECT_NE(rules.ClosedServiceOf("https://blog.goo.ne.jp/u", "2025-11-18"), nullptr);
  const ClosedService* diary = rules.ClosedServiceOf("http://d.hatena.ne.jp/u/", kToday);
  ASSERT_NE(diary, nullptr);
  EXPECT_EQ(diary->fate, ServiceFate::kForwards);
  EXPECT_TRUE(rules.OnServiceHost(*diary, "https://D.hatena.ne.jp:443/elsewhere"));
  EXPECT_FALSE(rules.OnServiceHost(*diary, "https://u.hatenablog.com/"));
  EXPECT_EQ(rules.ParkingServiceMarkedIn("<script src=\"//img1.wsimg.com/parking-lander/m.js\">"),
            "GoDaddy");
  EXPECT_EQ(rules.ParkingServiceMarkedIn("<p>sedo parking: THIS DOMAIN MAY BE FOR SALE</p>"), "");
}

TEST(SuspectRulesTest, ShippedRulesReadWithoutProblem) {
  std::vector<RulesProblem> problems;
  SuspectRules().Add(SuspectRules::ShippedText(), "suspect-rules.txt", &problems);
  for (const RulesProblem& problem : problems) ADD_FAILURE() << problem.line << ": " << problem.why;
}

TEST(SuspectRulesTest, AnUnreadableLineIsToldAndPassedOver) {
  const std::pair<const char*, const char*> cases[] = {
      {"closd\tX\t2019-03-31\tdeleted\ta.example", "unknown kind \"closd\""},
      {"closed\tX\t2019-03-31\tdeleted",
       "missing field (closed takes a name, a date, a fate and a pattern)"},
      {"closed\tX\t2019-3-31\tdeleted\ta.example", "bad date \"2019-3-31\""},
      {"closed\tX\t2019-03-31\tgone\ta.example", "bad fate \"gone\""},
      {"parking-host\tX\ta.example /path", "bad pattern \"/path\""},
      {"parking-mark\tX", "missing field (parking-mark takes a name and a text)"},
      {"bot-text\tX\ta\tb", "extra field (bot-text takes a name and a text)"},
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
    EXPECT_EQ(NameOf(rules, "a.example/"), "") << broken;
  }
}

TEST(SuspectRulesTest, BotWallsAndNotFoundTitles) {
  const std::tuple<int, HeaderFields, const char*, const char*, const char*> answers[] = {
      {403, {{"cf-mitigated", "challenge"}}, "", "", "Cloudflare"},
      {503, {{"server", "cloudflare"}}, "Just a moment...", "", "Cloudflare"},
      {403, {}, "Attention Required! | Cloudflare", "", "Cloudflare"},
      {429, {}, "", "<script src=\"/cdn-cgi/challenge-platform/h/g/orchestrate/x\">", "Cloudflare"},
      {429, {{"X-Vercel-Mitigated", "challenge"}}, "", "", "Vercel"},
      {403, {{"x-dd-b", "1"}}, "", "", "DataDome"},
      {403, {}, "", "<script src=\"https://ct.CAPTCHA-DELIVERY.com/c.js\">", "DataDome"},
      {403, {}, "", "<div id=\"px-captcha\"></div>", "HUMAN (PerimeterX)"},
      {403, {}, "", "Request unsuccessful. Incapsula incident ID: 1-2", "Imperva Incapsula"},
      {403, {}, "Sucuri WebSite Firewall - Access Denied", "", "Sucuri"},
      {403, {}, "Access Denied", "Reference #18.1 https://errors.edgesuite.net/18.1", "Akamai"},
      {503, {}, "", "<script src=\"https://check.ddos-guard.net/check.js\">", "DDoS-Guard"},
      {999, {}, "", "", "LinkedIn"},
      // False friends: a protection's presence alone, a plain refusal, a challenge passed by.
      {403, {{"server", "cloudflare"}}, "403 Forbidden", "<h1>Forbidden</h1>", ""},
      {403, {}, "", "<script src=\"/cdn-cgi/challenge-platform/scripts/jsd/main.js\">", ""},
      {403, {{"server", "ddos-guard"}, {"x-datadome", "protected"}}, "Forbidden", "", ""},
      {403, {}, "Access Denied", "You don't have permission to access this resource.", ""},
      {200, {{"cf-mitigated", "challenge"}}, "Just a moment...", "", ""},
  };
  const SuspectRules rules = SuspectRules::Shipped();
  for (const auto& [status, headers, title, body, wall] : answers)
    EXPECT_EQ(rules.BotWallOf(status, headers, title, body), wall) << status << " " << title;
  // Only a title test: a page about 404 errors says it too; the judge decides when it counts.
  for (const char* title :
       {"404 Not Found", "Error 404", "エラー404", "page not found", "HTTP 404エラーとは",
        "ページが見つかりません｜例", "この記事は削除されました",
        "お探しのページは見つかりませんでした", "サービスを終了しました"})
    EXPECT_TRUE(rules.TitleSaysNotFound(title)) << title;
  for (const char* title : {"14040 items", "Route 4040", "Room 1404", "トップページ", ""})
    EXPECT_FALSE(rules.TitleSaysNotFound(title)) << title;
}

}  // namespace
}  // namespace voxtrel
