// The judgement of answers beyond their status (--suspect) as a reader would judge it: a corpus
// of links served under many host names by one local HTTP proxy (libcurl sends every request
// of the checker to `http_proxy`), each with the verdict a reader would give, checked with and
// without --suspect; then the requests and probes it costs on a 10-host site, and whether -j 1
// and -j 128 give the same rows.

#include <fcntl.h>
#include <httplib.h>
#include <iconv.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;

constexpr const char* kOk = "◎";
constexpr const char* kFailed = "×";
constexpr const char* kSuspect = "？";
// Connections the checker keeps open through the proxy hold a server thread each.
constexpr int kServerThreads = 256;

struct Answer {
  int status = 200;
  std::string body;
  std::vector<std::pair<std::string, std::string>> headers;
  std::string type = "text/html; charset=UTF-8";
};

// What a host answers for the addresses it has no page for.
using Other = std::function<Answer(const std::string& host, const std::string& path)>;
struct Site {
  std::map<std::string, Answer> pages;  // by path
  Other other;
};
using Web = std::map<std::string, Site>;  // by host

Answer Raw(int status, std::string body) {
  Answer answer;
  answer.status = status;
  answer.body = std::move(body);
  return answer;
}
Answer Html(const std::string& title, const std::string& text, const std::string& head = "") {
  return Raw(200, "<!DOCTYPE html>\n<html lang=\"ja\"><head><meta charset=\"UTF-8\"><title>" +
                      title + "</title>" + head + "</head>\n<body><h1>" + title + "</h1>\n<p>" +
                      text + "</p>\n</body></html>\n");
}
Answer With(int status, Answer answer,
            std::vector<std::pair<std::string, std::string>> headers = {}) {
  answer.status = status;
  answer.headers = std::move(headers);
  return answer;
}
Answer MovedTo(int status, const std::string& to) {
  return With(status, Raw(200, "<html><body><a href=\"" + to + "\">moved</a></body></html>\n"),
              {{"Location", to}});
}
Other Always(const Answer& answer) {
  return [answer](const std::string&, const std::string&) { return answer; };
}
const Other kHonest = Always(With(404, Html("404 Not Found", "The requested URL was not found.")));

std::string ToShiftJis(std::string utf8) {
  iconv_t cd = iconv_open("SHIFT_JIS", "UTF-8");
  std::string out(utf8.size() * 2 + 16, '\0');
  char* in = utf8.data();
  char* to = out.data();
  size_t in_left = utf8.size(), out_left = out.size();
  iconv(cd, &in, &in_left, &to, &out_left);
  iconv_close(cd);
  out.resize(out.size() - out_left);
  return out;
}
Answer ShiftJisPage(const std::string& title, const std::string& text) {
  Answer page = Html(title, text);
  page.body.replace(page.body.find("UTF-8"), 5, "Shift_JIS");
  page.body = ToShiftJis(page.body);
  page.type = "text/html";
  return page;
}

// Running text so that pages of one site differ in length as real ones do.
std::string Words(const std::string& seed, int sentences) {
  std::string text;
  for (int i = 0; i < sentences; ++i)
    text += seed + "について、" + std::to_string(i + 1) + "つ目の記録です。";
  return text;
}

/// A link of the corpus and the verdict a reader would give it: its mark and, for dead links
/// that answer, the kind of the judgement's reason.
struct Expected {
  std::string url, mark, kind, what;
  bool dead() const { return mark != kOk; }
};

// The kinds of the judgement's reasons, as JSON rows name them.
constexpr const char* kClosed = "closed-service";
constexpr const char* kParked = "parked-domain";
constexpr const char* kSoft404 = "soft-404";
constexpr const char* kToTop = "top-page-redirect";
constexpr const char* kBotWall = "bot-wall";
constexpr const char* kNoAnchor = "missing-anchor";

struct Corpus {
  Web web;
  std::vector<Expected> links;
  void Host(const std::string& host, std::map<std::string, Answer> pages, Other other) {
    web[host] = Site{std::move(pages), std::move(other)};
  }
  void Links(const char* mark, const char* kind, const char* what,
             std::initializer_list<const char*> urls) {
    for (const char* url : urls) links.push_back({url, mark, kind, what});
  }
};

void AddClosedServices(Corpus& c) {
  const Answer geocities =
      Html("Yahoo!ジオシティーズ",
           "Yahoo!ジオシティーズは、2019年3月31日をもちましてサービス提供を終了いたしました。"
           "長らくのご愛顧、誠にありがとうございました。");
  for (const char* host : {"www.geocities.jp", "geocities.jp", "www.geocities.co.jp"})
    c.Host(host, {}, Always(geocities));
  c.Host("geocities.yahoo.co.jp", {{"/", geocities}}, kHonest);
  c.web["www.geocities.co.jp"].pages["/Playtown/5678/game.htm"] =
      MovedTo(302, "http://geocities.yahoo.co.jp/");
  c.Links(
      kSuspect, kClosed, "geocities notice",
      {"http://www.geocities.jp/sakura_garden/", "http://www.geocities.jp/hobby_rail/train.html",
       "http://geocities.jp/animalworld/dog/index.html",
       "http://www.geocities.co.jp/HeartLand-Sakura/1234/",
       "http://www.geocities.co.jp/Playtown/5678/game.htm"});
  for (const char* host : {"homepage2.nifty.com", "homepage3.nifty.com"}) c.Host(host, {}, kHonest);
  c.Links(
      kFailed, kClosed, "@nifty 404",
      {"http://homepage2.nifty.com/tanaka-k/", "http://homepage3.nifty.com/hoshizora/links.html"});
  const Answer teacup = Html("teacup. サービス終了のお知らせ",
                             "teacup.は2022年8月1日13時をもちましてサービスを終了いたしました。");
  for (const char* host : {"8418.teacup.com", "6305.teacup.com"}) c.Host(host, {}, Always(teacup));
  c.Links(kSuspect, kClosed, "teacup notice",
          {"http://8418.teacup.com/tsuribito/bbs", "http://6305.teacup.com/kaiga/bbs?page=2"});
  c.Host("fujisan.at.webry.info", {},
         Always(Html("ウェブリブログ",
                     "ウェブリブログは2023年1月31日をもってサービスを終了しました。")));
  c.Links(kSuspect, kClosed, "webry notice",
          {"http://fujisan.at.webry.info/201005/article_3.html"});
  c.Host("blog.goo.ne.jp", {},
         Always(Html("gooブログ",
                     "gooブログは2025年11月18日をもちましてサービスを終了いたしました。")));
  c.Links(kSuspect, kClosed, "goo notice", {"http://blog.goo.ne.jp/nekonote2005/e/3f2a9b"});
  c.Host(
      "blogs.yahoo.co.jp", {},
      Always(Html("Yahoo!ブログ", "Yahoo!ブログは2019年12月15日をもってサービスを終了しました。")));
  c.Links(kSuspect, kClosed, "Yahoo!ブログ notice",
          {"http://blogs.yahoo.co.jp/tabibito_2007/12345.html"});
  c.Host("www5.ocn.ne.jp", {{"/~yamane/", Html("山根の山歩き", Words("丹沢", 12))}}, kHonest);
  c.Links(kSuspect, kClosed, "OCN Page ON, frozen page", {"http://www5.ocn.ne.jp/~yamane/"});
  c.Host("isweb37.infoseek.co.jp", {}, kHonest);
  c.Links(kFailed, kClosed, "isweb 404", {"http://isweb37.infoseek.co.jp/art/mori-gallery/"});
}

void AddParkedDomains(Corpus& c) {
  c.Host("www.kobayashi-iin.jp", {},
         Always(MovedTo(302, "http://www.sedoparking.com/kobayashi-iin.jp")));
  c.Host("www.sedoparking.com", {},
         Always(Html("kobayashi-iin.jp",
                     "This domain may be for sale! Buy this domain. "
                     "Related searches: 内科 クリニック")));
  c.Links(kSuspect, kParked, "redirect to sedoparking",
          {"http://www.kobayashi-iin.jp/", "http://www.kobayashi-iin.jp/access.html"});
  c.Host("www.hanamizuki-design.com", {},
         Always(Raw(200,
                    "<!DOCTYPE html><html><head><title>hanamizuki-design.com</title>"
                    "<script>window.park = \"eyJ1dWlkIjoiOWMzZiJ9\";</script>"
                    "<script src=\"/bKjRzPqN.js\"></script></head><body></body></html>\n")));
  c.Links(kSuspect, kParked, "parking script",
          {"http://www.hanamizuki-design.com/", "http://www.hanamizuki-design.com/works/"});
  c.Host("www.oldtown-cafe.net", {},
         Always(Html("oldtown-cafe.net", "Related Links: Coffee Beans, Cafe Franchise",
                     "<script src=\"http://www.google.com/adsense/domains/caf.js\"></script>")));
  c.Links(kSuspect, kParked, "parking ads (caf.js)", {"http://www.oldtown-cafe.net/menu.html"});
  c.Host("www.yamada-koumuten.com", {},
         Always(Html("yamada-koumuten.com",
                     "このドメインはお名前.comで取得されています。"
                     "<a href=\"http://www.onamae.com/\">お名前.com</a>")));
  c.Links(kSuspect, kParked, "お名前.com parked", {"http://www.yamada-koumuten.com/"});
  c.Host("www.sakura-piano.net", {},
         Always(Html("sakura-piano.net", "このドメインは、ムームードメインで取得されています。")));
  c.Links(kSuspect, kParked, "ムームー parked", {"http://www.sakura-piano.net/lesson.html"});
}

void AddSoftNotFound(Corpus& c) {
  c.Host(
      "www.tsuri-no-tomo.net",
      {{"/report/2010/0805.html", Html("2010年8月 相模湾 | 釣りの友", Words("相模湾のアジ", 30))},
       {"/tackle/rod.html", Html("竿の選び方 | 釣りの友", Words("磯竿", 18))}},
      Always(
          Html("ページが見つかりません | 釣りの友", "お探しのページは移動または削除されました。")));
  c.Links(kSuspect, kSoft404, "200 not-found page",
          {"http://www.tsuri-no-tomo.net/report/2008/1120.html",
           "http://www.tsuri-no-tomo.net/bbs/log/0042.html"});
  c.Links(kOk, "", "real page, lying site",
          {"http://www.tsuri-no-tomo.net/report/2010/0805.html",
           "http://www.tsuri-no-tomo.net/tackle/rod.html"});
  c.Host("www.machiya-kyoto.jp",
         {{"/guide/nishijin.html", Html("西陣を歩く | 京町家", Words("西陣織", 25))}},
         [](const std::string& host, const std::string& path) {
           return Html("ページが見つかりません",
                       "お探しのページ（http://" + host + path + "）は見つかりませんでした。");
         });
  c.Links(kSuspect, kSoft404, "URL echoed",
          {"http://www.machiya-kyoto.jp/event/2007/gion-matsuri.html",
           "http://www.machiya-kyoto.jp/shop/list.php"});
  c.Links(kOk, "", "real page, echoing site", {"http://www.machiya-kyoto.jp/guide/nishijin.html"});
  c.Host("www.onsen-meguri.jp",
         {{"/kusatsu.html", ShiftJisPage("草津温泉 | 温泉めぐり", Words("湯畑", 20))}},
         Always(ShiftJisPage("お探しのページは見つかりません | 温泉めぐり",
                             "トップページからお探しください。")));
  c.Links(
      kSuspect, kSoft404, "Shift_JIS not-found",
      {"http://www.onsen-meguri.jp/hakone/yumoto.html", "http://www.onsen-meguri.jp/beppu.html"});
  c.Links(kOk, "", "real Shift_JIS page, lying site", {"http://www.onsen-meguri.jp/kusatsu.html"});
  const Answer bonsai_top = Html("盆栽園 松風", Words("松風の盆栽", 12));
  c.Host(
      "www.bonsai-en.com",
      {{"/", bonsai_top}, {"/matsu/kuromatsu.html", Html("黒松 | 盆栽園 松風", Words("黒松", 16))}},
      Always(bonsai_top));
  c.Links(kSuspect, kSoft404, "top page served for unknown",
          {"http://www.bonsai-en.com/sale/2011.html"});
  c.Links(kOk, "", "real page, site serving its top",
          {"http://www.bonsai-en.com/matsu/kuromatsu.html"});
  c.Host("www.kagu-ya.co.jp",
         {{"/", Html("家具屋 | トップ", Words("家具", 10))},
          {"/products/sofa.html", Html("ソファ | 家具屋", Words("ソファ", 14))}},
         Always(MovedTo(302, "http://www.kagu-ya.co.jp/")));
  c.Links(kSuspect, kToTop, "deep link to /",
          {"http://www.kagu-ya.co.jp/products/old/chair.html",
           "http://www.kagu-ya.co.jp/campaign/2012/summer.html"});
  c.Links(kOk, "", "real page, redirecting site", {"http://www.kagu-ya.co.jp/products/sofa.html"});
  c.Links(kOk, "", "top page itself", {"http://www.kagu-ya.co.jp/"});
}

void AddBotWalls(Corpus& c) {
  const std::string ray = "8e1b2c3d4f5a6789-NRT";
  const Answer challenge =
      Html("Just a moment...", "Enable JavaScript and cookies to continue",
           "<script src=\"/cdn-cgi/challenge-platform/h/g/orchestrate/chl_page/v1\"></script>");
  c.Host("www.shogi-fan.com", {},
         Always(With(403, challenge,
                     {{"Server", "cloudflare"}, {"CF-RAY", ray}, {"cf-mitigated", "challenge"}})));
  c.Links(kSuspect, kBotWall, "403 cf challenge",
          {"http://www.shogi-fan.com/kifu/2023/meijin-1.html", "http://www.shogi-fan.com/"});
  c.Host(
      "www.kabuka-board.jp", {},
      Always(With(
          503, Html("Just a moment...", "Checking your browser before accessing kabuka-board.jp."),
          {{"Server", "cloudflare"}, {"CF-RAY", ray}})));
  c.Links(kSuspect, kBotWall, "503 cf challenge", {"http://www.kabuka-board.jp/thread/7203.html"});
  c.Host("www.furima-market.jp", {},
         Always(With(
             429,
             Raw(429,
                 "<html><head><title>furima-market.jp</title></head><body><script>var dd={"
                 "'rt':'c','cid':'AHrlqAAAAAMA','host':'geo.captcha-delivery.com'}</script>"
                 "<script src=\"https://ct.captcha-delivery.com/c.js\"></script></body></html>\n"),
             {{"X-DataDome", "protected"}, {"Set-Cookie", "datadome=4f2a; Path=/"}})));
  c.Links(kSuspect, kBotWall, "429 DataDome", {"http://www.furima-market.jp/item/m12345678"});
  c.Host("www.linkedin.com", {},
         Always(Raw(999,
                    "<html><head><script>window.location.href=\"https://www.linkedin.com/authwall"
                    "?trk=gf\";</script></head></html>\n")));
  c.Links(kSuspect, kBotWall, "999", {"http://www.linkedin.com/in/taro-yamada-123"});
}

void AddHonestSites(Corpus& c) {
  c.Host("www.sanpo-club.jp",
         {{"/", Html("散歩クラブ", Words("散歩", 8))},
          {"/walk/2008/kamakura.html", Html("鎌倉の寺を歩く | 散歩クラブ", Words("鎌倉", 22))},
          {"/walk/2009/nikko.html", Html("日光街道 | 散歩クラブ", Words("日光", 19))},
          {"/about.html", Html("このサイトについて | 散歩クラブ", Words("会員", 5))}},
         kHonest);
  c.Links(kOk, "", "top page itself", {"http://www.sanpo-club.jp/"});
  c.Host("www.kouen-annai.org",
         {{"/park/ueno.html", Html("上野恩賜公園", Words("上野", 15))},
          {"/park/shinjuku.html", Html("新宿御苑", Words("御苑", 17))},
          {"/link.html", Html("リンク集", Words("公園のサイト", 9))}},
         kHonest);
  c.Links(
      kOk, "", "honest site",
      {"http://www.sanpo-club.jp/walk/2008/kamakura.html",
       "http://www.sanpo-club.jp/walk/2009/nikko.html", "http://www.sanpo-club.jp/about.html",
       "http://www.kouen-annai.org/park/ueno.html", "http://www.kouen-annai.org/park/shinjuku.html",
       "http://www.kouen-annai.org/link.html"});
  c.Host("www.web-shiori.net",
         {{"/http/404.html",
           Html("HTTP 404 エラーとは | Webしおり",
                "「404 Not Found」「ページが見つかりません」と出る理由。" + Words("404", 10))},
          {"/http/soft404.html",
           Html("Not Found なのに 200 を返すソフト404 | Webしおり", Words("ソフト404", 12))}},
         kHonest);
  c.Links(
      kOk, "", "page about 404 errors",
      {"http://www.web-shiori.net/http/404.html", "http://www.web-shiori.net/http/soft404.html"});
  c.Host("www.it-kiji.jp",
         {{"/news/2019/geocities.html",
           Html("Yahoo!ジオシティーズがサービスを終了 | ITキジ", Words("ジオシティーズ", 14))}},
         kHonest);
  c.Links(kOk, "", "news of a closure", {"http://www.it-kiji.jp/news/2019/geocities.html"});
  c.Host("www.geocities.ws", {{"/kenji_page/", Html("Kenji's page", Words("Kenji", 9))}}, kHonest);
  c.Links(kOk, "", "a live look-alike of geocities", {"http://www.geocities.ws/kenji_page/"});
  c.Host("blog.livedoor.jp",
         {{"/gunma_ramen/archives/51234567.html",
           Html("高崎のラーメン : 群馬ラーメン日記", Words("ラーメン", 17))}},
         kHonest);
  c.Links(kOk, "", "livedoor Blog, still running",
          {"http://blog.livedoor.jp/gunma_ramen/archives/51234567.html"});
  c.Host("www.ocn.ne.jp", {{"/business/", Html("法人のお客さま | OCN", Words("法人向け", 9))}},
         kHonest);
  c.Links(kOk, "", "live pages of the same provider", {"http://www.ocn.ne.jp/business/"});
  c.Host("www.drive-kiroku.net",
         {{"/route/404.html", Html("国道404号を走る | ドライブ記録", Words("国道404号", 15))}},
         kHonest);
  c.Links(kOk, "", "404 in a live page's title", {"http://www.drive-kiroku.net/route/404.html"});
  c.Host("d.hatena.ne.jp", {}, [](const std::string&, const std::string& path) {
    const std::string rest = path.substr(std::min(path.size(), path.find('/', 1)));
    return MovedTo(301,
                   "http://kazu-memo.hatenablog.com" + (rest.size() > 1 ? "/entry" + rest : "/"));
  });
  c.Host("kazu-memo.hatenablog.com",
         {{"/", Html("かずメモ", Words("日記", 11))},
          {"/entry/20080512/1210567890", Html("引っ越し - かずメモ", Words("引っ越し", 13))}},
         kHonest);
  c.Links(
      kOk, "", "hatena diary moved",
      {"http://d.hatena.ne.jp/kazu_memo/", "http://d.hatena.ne.jp/kazu_memo/20080512/1210567890"});
  c.Host(
      "www.wiki-memo.net",
      {{"/kanji.html", Html("漢字のメモ", "<h2 id=\"bushu\">部首</h2><a name=\"on\"></a>音読み。" +
                                              Words("漢字", 8))},
       {"/kana.html", Html("かなのメモ", "<h2 id=\"hiragana\">ひらがな</h2>" + Words("かな", 8))}},
      kHonest);
  c.Links(kOk, "", "anchor present (id, name)",
          {"http://www.wiki-memo.net/kanji.html#bushu", "http://www.wiki-memo.net/kanji.html#on"});
  c.Links(kSuspect, kNoAnchor, "anchor missing",
          {"http://www.wiki-memo.net/kanji.html#radicals",
           "http://www.wiki-memo.net/kana.html#katakana-table"});
}

// Sites that answer 200 to any address, or look like a bot wall, whose real pages are alive.
void AddHardAlive(Corpus& c) {
  c.Host("www.ryouri-note.jp",
         {{"/recipe/nikujaga.html", Html("肉じゃが | 料理ノート", Words("肉じゃが", 24))},
          {"/recipe/oyakodon.html", Html("親子丼 | 料理ノート", Words("親子丼", 20))}},
         [](const std::string&, const std::string& path) {
           return Html("「" + path.substr(path.rfind('/') + 1) + "」の検索結果 | 料理ノート",
                       "0件見つかりました。");
         });
  c.Links(kOk, "", "CMS search page for unknown",
          {"http://www.ryouri-note.jp/recipe/nikujaga.html",
           "http://www.ryouri-note.jp/recipe/oyakodon.html"});
  c.Host(
      "app.tabi-log.jp", {},
      Always(Raw(200,
                 "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>旅ログ</title><script "
                 "type=\"module\" src=\"/assets/index-4f2a9c1b.js\"></script></head><body>"
                 "<div id=\"app\"></div></body></html>\n")));
  c.Links(kOk, "", "single-page app shell",
          {"http://app.tabi-log.jp/trip/1234", "http://app.tabi-log.jp/user/hanako"});
  const std::vector<std::pair<std::string, std::string>> cf = {{"Server", "cloudflare"},
                                                               {"CF-RAY", "8e1b2c3d4f5a0000-KIX"}};
  c.Host("www.anime-news.jp",
         {{"/", With(200, Html("アニメニュース", Words("新作", 10)), cf)},
          {"/article/2024/0101.html",
           With(200, Html("冬の新作一覧 | アニメニュース", Words("冬アニメ", 21)), cf)}},
         Always(With(404, Html("404 Not Found", "cloudflare"), cf)));
  c.Links(kOk, "", "cloudflare site, as a browser sees it",
          {"http://www.anime-news.jp/article/2024/0101.html", "http://www.anime-news.jp/"});
}

Corpus MakeCorpus() {
  Corpus corpus;
  AddClosedServices(corpus);
  AddParkedDomains(corpus);
  AddSoftNotFound(corpus);
  AddBotWalls(corpus);
  AddHonestSites(corpus);
  AddHardAlive(corpus);
  return corpus;
}

/// A 10-host site of 400 links: 2-4 folders a host; three hosts lie about unknown addresses
/// (a not-found page with 200, the address echoed, a redirect to the top), the others answer
/// 404, and a tenth of their links lead nowhere.
Corpus MakeSite() {
  const char* const hosts[] = {"www.kodomo-juku.jp",    "www.yasai-farm.jp",
                               "www.camera-kan.net",    "www.tetsudou-shashin.jp",
                               "www.ehon-library.org",  "www.haiku-no-mori.jp",
                               "www.kimono-kobo.co.jp", "www.neko-cafe.net",
                               "www.manga-review.jp",   "www.sake-gura.com"};
  const char* const folders[] = {"diary", "photo", "review", "archive"};
  const Other liars[] = {Always(Html("ページが見つかりません", "お探しのページは見つかりません。")),
                         [](const std::string& host, const std::string& path) {
                           return Html("Not Found",
                                       "http://" + host + path + " は見つかりません。");
                         },
                         Always(MovedTo(302, "/"))};
  Corpus site;
  for (int h = 0; h < 10; ++h) {
    const bool lying = h % 3 == 2;
    Site& host = site.web[hosts[h]];
    host.other = lying ? liars[h / 3] : kHonest;
    host.pages["/"] = Html(hosts[h], Words(hosts[h], 6));
    for (int k = 0; k < 40; ++k) {
      char path[64];
      std::snprintf(path, sizeof path, "/%s/p%02d.html", folders[k % (2 + h % 3)], k);
      const std::string url = std::string("http://") + hosts[h] + (k == 0 ? "/" : path);
      const bool there = k == 0 || lying || k % 10 != 9;
      if (there && k > 0)
        host.pages[path] = Html(std::string(path) + " | " + hosts[h], Words(path, 5 + k % 17));
      site.links.push_back({url, there ? kOk : kFailed, "", ""});
    }
  }
  return site;
}

/// Answers as `web` says for every host, as an HTTP proxy is asked (absolute-form request
/// lines, the host in the Host field), and notes each address asked.
class Proxy {
 public:
  explicit Proxy(const Web& web) : web_(web) {
    server_.new_task_queue = [] { return new httplib::ThreadPool(kServerThreads); };
    server_.Get(".*",
                [this](const httplib::Request& req, httplib::Response& res) { Serve(req, res); });
    server_.set_keep_alive_max_count(1000000);
    // httplib writes head and body apart: with Nagle on, a reused connection waits for the
    // client's delayed ACK before the body goes out.
    server_.set_tcp_nodelay(true);
    int listening = -1;
    server_.set_socket_options([&listening](int sock) {
      httplib::default_socket_options(sock);
      listening = sock;
    });
    port_ = server_.bind_to_any_port("127.0.0.1");
    // The packaged library listens with a backlog of 5; a burst of -j 128 connections would
    // overflow it, and each handshake dropped costs a second. Listening again widens it.
    if (port_ <= 0 || listen(listening, kServerThreads) != 0) {
      std::perror("proxy");
      std::exit(1);
    }
    server_.set_socket_options(httplib::default_socket_options);  // `listening` ends here
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    while (port_ > 0 && !server_.is_running())
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ~Proxy() {
    server_.stop();
    thread_.join();
  }
  int port() const { return port_; }
  /// The addresses asked since the last call, one "host/path" an answer.
  std::vector<std::string> TakeAsked() {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::exchange(asked_, {});
  }

 private:
  void Serve(const httplib::Request& req, httplib::Response& res) {
    std::string host = req.get_header_value("Host");
    host = host.substr(0, host.find(':'));
    std::transform(host.begin(), host.end(), host.begin(),
                   [](unsigned char ch) { return std::tolower(ch); });
    // req.path holds the whole decoded address in absolute form; the target keeps it as sent.
    std::string path = req.target.substr(0, req.target.find('?'));
    if (path.rfind("http://", 0) == 0)
      path = path.find('/', 7) == std::string::npos ? "/" : path.substr(path.find('/', 7));
    {
      std::lock_guard<std::mutex> lock(mutex_);
      asked_.push_back(host + path);
    }
    // A few milliseconds that differ by address, so that a parallel run's answers come in an
    // order of their own.
    std::this_thread::sleep_for(std::chrono::milliseconds(std::hash<std::string>()(path) % 4));
    const auto site = web_.find(host);
    Answer answer = With(502, Html("502 Bad Gateway", "unknown host " + host));
    if (site != web_.end()) {
      const auto page = site->second.pages.find(path);
      answer = page != site->second.pages.end() ? page->second : site->second.other(host, path);
    }
    res.status = answer.status;
    for (const auto& [name, value] : answer.headers) res.set_header(name, value);
    res.set_content(answer.body, answer.type);
  }

  const Web& web_;
  httplib::Server server_;
  std::thread thread_;
  std::mutex mutex_;
  std::vector<std::string> asked_;
  int port_ = 0;
};

struct Options {
  std::string checker = VOXTREL_CHECK_PATH;
  bool keep = false;  // keep the pages and the checker's output in the work folder
};

struct Run {
  int status = -1;
  std::vector<std::string> rows;  // JSON lines as printed
  std::string err;
  std::vector<std::string> asked;
  double seconds = 0;
};

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The environment with every proxy setting but ours dropped: no_proxy must not cover the hosts.
std::vector<std::string> ProxyEnvironment(int port) {
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    std::string name(*e, std::strchr(*e, '=') ? std::strchr(*e, '=') - *e : 0);
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char ch) { return std::tolower(ch); });
    if (name != "http_proxy" && name != "https_proxy" && name != "all_proxy" && name != "no_proxy")
      env.emplace_back(*e);
  }
  env.push_back("http_proxy=http://127.0.0.1:" + std::to_string(port));
  return env;
}

Run RunChecker(const Options& options, Proxy& proxy, const fs::path& page, int jobs, bool suspect) {
  std::vector<std::string> args = {
      options.checker,      page.string(), "--links", "all", "-a", "--format", "json", "-j",
      std::to_string(jobs), "--timeout",   "20"};
  if (suspect) args.push_back("--suspect");
  const std::vector<std::string> env = ProxyEnvironment(proxy.port());
  std::vector<char*> argv, envp;
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  for (const std::string& var : env) envp.push_back(const_cast<char*>(var.c_str()));
  argv.push_back(nullptr);
  envp.push_back(nullptr);
  const fs::path out = page.parent_path() / "rows.jsonl", err = page.parent_path() / "stderr.txt";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  proxy.TakeAsked();
  pid_t pid = 0;
  Run run;
  const auto start = std::chrono::steady_clock::now();
  int wait_status = 0;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) {
    std::perror(argv[0]);
    std::exit(1);
  }
  posix_spawn_file_actions_destroy(&actions);
  waitpid(pid, &wait_status, 0);
  run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  run.status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -1;
  std::istringstream rows(ReadFile(out));
  for (std::string line; std::getline(rows, line);)
    if (!line.empty() && line[0] == '{') run.rows.push_back(line);
  run.err = ReadFile(err);
  run.asked = proxy.TakeAsked();
  return run;
}

/// A string or bare field of a JSON row as the checker writes it ("" when absent).
std::string Field(const std::string& row, const std::string& name) {
  size_t at = row.find("\"" + name + "\":");
  if (at == std::string::npos) return "";
  at += name.size() + 3;
  if (row[at] != '"') return row.substr(at, row.find_first_of(",}", at) - at);
  std::string value;
  for (++at; at < row.size() && row[at] != '"'; ++at)
    value += row[at] == '\\' ? row[++at] : row[at];
  return value;
}

struct Verdict {
  std::string mark = "-", kind, reason, moved;
  bool is(const Expected& e) const { return mark == e.mark && kind == e.kind; }
};

std::map<std::string, Verdict> ByUrl(const Run& run) {
  std::map<std::string, Verdict> verdicts;
  for (const std::string& row : run.rows)
    verdicts[Field(row, "url")] = {Field(row, "mark"), Field(row, "suspect"), Field(row, "reason"),
                                   Field(row, "redirected_to")};
  return verdicts;
}

// The rows of a run as a set, without their times: what -j must not change.
std::vector<std::string> Normalised(const Run& run) {
  std::vector<std::string> rows;
  for (std::string row : run.rows) {
    const size_t at = row.find(",\"elapsed_ms\":");
    if (at != std::string::npos) row.erase(at, row.find_first_of(",}", at + 1) - at);
    rows.push_back(row);
  }
  std::sort(rows.begin(), rows.end());
  return rows;
}

// Requests for addresses the run without --suspect never asked: the judgement's probes.
std::vector<std::string> Probes(const Run& plain, const Run& suspect) {
  const std::set<std::string> asked(plain.asked.begin(), plain.asked.end());
  std::vector<std::string> probes;
  for (const std::string& address : suspect.asked)
    if (!asked.count(address)) probes.push_back(address);
  return probes;
}

// A checker without the judgement refuses the option as a usage error.
bool Supported(const Run& run) { return run.status != 2; }

// `goal`: the most requests with --suspect for one without, where it applies (a site's folders
// hold many links; the corpus's mostly one).
void PrintCost(const Run& plain, const Run& suspect, const char* goal = "") {
  if (!Supported(suspect)) {
    std::printf("requests: %zu without --suspect (%.2f s)\n", plain.asked.size(), plain.seconds);
    return;
  }
  const std::vector<std::string> probes = Probes(plain, suspect);
  std::map<std::string, int> per_folder;
  for (const std::string& probe : probes) ++per_folder[probe.substr(0, probe.rfind('/') + 1)];
  int most = 0;
  for (const auto& [folder, count] : per_folder) most = std::max(most, count);
  std::printf(
      "requests: %zu without --suspect (%.2f s), %zu with (%.2f s): %.3fx%s;\n"
      "  probes (addresses the run without --suspect never asked) %zu in %zu (host, folder), at "
      "most %d in one (goal 1)\n",
      plain.asked.size(), plain.seconds, suspect.asked.size(), suspect.seconds,
      plain.asked.empty() ? 0.0 : double(suspect.asked.size()) / double(plain.asked.size()), goal,
      probes.size(), per_folder.size(), most);
}

fs::path WritePage(const fs::path& dir, const char* name, const std::vector<Expected>& links) {
  const fs::path page = dir / name;
  std::ofstream out(page);
  out << "<!DOCTYPE html>\n<html lang=\"ja\"><head><meta "
         "charset=\"UTF-8\"><title>リンク集</title></head>\n<body><ul>\n";
  for (size_t i = 0; i < links.size(); ++i)
    out << "<li><a href=\"" << links[i].url << "\">link " << i + 1 << "</a>\n";
  out << "</ul></body></html>\n";
  return page;
}

std::string Shown(const Verdict& v) { return v.mark + (v.kind.empty() ? "" : " " + v.kind); }
std::string Shown(const Expected& e) { return e.mark + (e.kind.empty() ? "" : " " + e.kind); }

// Pads to `width` characters (not bytes: marks and kinds hold UTF-8).
std::string Pad(std::string text, size_t width) {
  size_t chars = 0;
  for (unsigned char ch : text) chars += (ch & 0xC0) != 0x80;
  return text + std::string(width > chars ? width - chars : 1, ' ');
}

std::string Percent(size_t part, size_t whole) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f %%", whole ? 100.0 * double(part) / double(whole) : 0.0);
  return whole ? text : "n/a";
}

Verdict Of(const std::map<std::string, Verdict>& verdicts, const std::string& url) {
  const auto found = verdicts.find(url);
  return found != verdicts.end() ? found->second : Verdict{};
}

void PrintRows(const Corpus& corpus, const std::map<std::string, Verdict>& before,
               const std::map<std::string, Verdict>& after, bool judged) {
  std::printf("%s%s%s%s%s\n", Pad("", 6).c_str(), Pad("expected", 22).c_str(),
              Pad("plain", 7).c_str(), Pad("--suspect", 22).c_str(), "link (case)");
  for (const Expected& e : corpus.links) {
    const Verdict plain = Of(before, e.url), got = judged ? Of(after, e.url) : Verdict{};
    const char* tag = !judged ? "" : got.is(e) ? "ok" : e.dead() ? "MISS" : "FALSE";
    const std::string moved = plain.moved.empty() ? "" : " moved to " + plain.moved;
    std::printf("%s%s%s%s%s (%s)%s\n", Pad(tag, 6).c_str(), Pad(Shown(e), 22).c_str(),
                Pad(plain.mark, 7).c_str(), Pad(judged ? Shown(got) : "", 22).c_str(),
                e.url.c_str(), e.what.c_str(), moved.c_str());
    if (judged && !got.is(e) && !got.reason.empty())
      std::printf("%s%s\n", Pad("", 35).c_str(), got.reason.c_str());
  }
}

void PrintToday(const Corpus& corpus, const std::map<std::string, Verdict>& before) {
  std::map<std::string, size_t> dead, alive;
  for (const Expected& e : corpus.links) ++(e.dead() ? dead : alive)[Of(before, e.url).mark];
  std::printf("without --suspect, dead that answer:");
  for (const auto& [mark, count] : dead) std::printf(" %zu %s", count, mark.c_str());
  std::printf("; alive:");
  for (const auto& [mark, count] : alive) std::printf(" %zu %s", count, mark.c_str());
  std::printf("\n");
}

// A dead link is marked when it gets its mark with a reason of the judgement, of any kind.
void PrintJudgement(const Corpus& corpus, const std::map<std::string, Verdict>& before,
                    const std::map<std::string, Verdict>& after) {
  size_t questions = 0, right = 0, alive = 0, worse = 0, alive_wrong = 0;
  std::map<std::string, std::pair<size_t, size_t>> by_kind;  // marked, links
  for (const Expected& e : corpus.links) {
    const Verdict plain = Of(before, e.url), got = Of(after, e.url);
    if (got.mark == kSuspect) ++questions, right += e.mark == kSuspect;
    if (e.dead()) {
      by_kind[e.kind].first += got.mark == e.mark && !got.kind.empty();
      ++by_kind[e.kind].second;
    } else {
      ++alive;
      worse += plain.mark == kOk && got.mark == kFailed;
      alive_wrong += got.mark != kOk;
    }
  }
  size_t marked = 0, dead = 0;
  std::string kinds;
  for (const auto& [kind, count] : by_kind) {
    marked += count.first, dead += count.second;
    kinds += " " + kind + " " + std::to_string(count.first) + "/" + std::to_string(count.second);
  }
  std::printf("with --suspect: %zu ？ marks, %zu right: precision %s (goal >= 95 %%)\n", questions,
              right, Percent(right, questions).c_str());
  std::printf("  dead that answer marked: %zu of %zu, recall %s (goal >= 90 %%);%s\n", marked, dead,
              Percent(marked, dead).c_str(), kinds.c_str());
  std::printf(
      "  alive rows × that were ◎ without --suspect: %zu (goal 0); alive rows not ◎: %zu of %zu\n",
      worse, alive_wrong, alive);
}

Run CheckedRun(const Options& options, Proxy& proxy, const fs::path& page,
               const std::vector<Expected>& links, int jobs, bool suspect) {
  Run run = RunChecker(options, proxy, page, jobs, suspect);
  if (!suspect && (run.status < 0 || run.status > 1)) {
    std::fprintf(stderr, "%s ended with %d:\n%s", options.checker.c_str(), run.status,
                 run.err.c_str());
    std::exit(1);
  }
  // The hosts may exist out there: a link whose address the proxy never saw was asked of the
  // internet (a proxy setting of the checker's own, or no_proxy), and its row means nothing.
  const std::set<std::string> asked(run.asked.begin(), run.asked.end());
  for (const Expected& link : links) {
    const std::string address = link.url.substr(7, link.url.find_first_of("?#") - 7);
    if (Supported(run) && !asked.count(address)) {
      std::fprintf(stderr, "the checker did not ask %s through the proxy (-j %d: %s)\n",
                   link.url.c_str(), jobs, ByUrl(run)[link.url].reason.c_str());
      std::exit(1);
    }
  }
  if (suspect && !Supported(run))
    std::printf("--suspect: this checker does not take it (%s)\n",
                run.err.substr(0, run.err.find('\n')).c_str());
  return run;
}

// -j may change the order rows come in, nothing else.
void PrintJobs(const Options& options, Proxy& proxy, const fs::path& page,
               const std::vector<Expected>& links, const Run& plain, const Run& suspect) {
  const auto same = [&](const Run& run, bool judged) {
    return Normalised(run) == Normalised(CheckedRun(options, proxy, page, links, 1, judged)) ? "yes"
                                                                                             : "NO";
  };
  std::printf("-j 1 and -j 128 give the same rows: without --suspect %s", same(plain, false));
  if (Supported(suspect)) std::printf(", with --suspect %s", same(suspect, true));
  std::printf("\n");
}

void BenchCorpus(const Options& options, const fs::path& dir) {
  const Corpus corpus = MakeCorpus();
  Proxy proxy(corpus.web);
  const size_t dead =
      std::count_if(corpus.links.begin(), corpus.links.end(), [](auto& e) { return e.dead(); });
  const fs::path page = WritePage(dir, "corpus.html", corpus.links);
  std::printf("== corpus: %zu links on %zu hosts (%zu dead that answer, %zu alive), --links all\n",
              corpus.links.size(), corpus.web.size(), dead, corpus.links.size() - dead);
  const Run plain = CheckedRun(options, proxy, page, corpus.links, 128, false);
  const Run suspect = CheckedRun(options, proxy, page, corpus.links, 128, true);
  const auto before = ByUrl(plain), after = ByUrl(suspect);
  PrintRows(corpus, before, after, Supported(suspect));
  PrintToday(corpus, before);
  if (Supported(suspect)) PrintJudgement(corpus, before, after);
  PrintCost(plain, suspect);
  PrintJobs(options, proxy, page, corpus.links, plain, suspect);
}

void BenchSite(const Options& options, const fs::path& dir) {
  const Corpus site = MakeSite();
  Proxy proxy(site.web);
  const fs::path page = WritePage(dir, "site.html", site.links);
  std::printf("\n== site: %zu hosts (3 lying about unknown addresses), %zu links\n",
              site.web.size(), site.links.size());
  const Run plain = CheckedRun(options, proxy, page, site.links, 128, false);
  const Run suspect = CheckedRun(options, proxy, page, site.links, 128, true);
  auto wrong = [&site](const Run& run) {
    const auto got = ByUrl(run);
    return std::count_if(site.links.begin(), site.links.end(),
                         [&got](const Expected& e) { return Of(got, e.url).mark != e.mark; });
  };
  std::printf("rows whose mark is not the page's: %ld without --suspect", long(wrong(plain)));
  if (Supported(suspect)) std::printf(", %ld with", long(wrong(suspect)));
  std::printf("\n");
  PrintCost(plain, suspect, " (goal <= 1.25x)");
  PrintJobs(options, proxy, page, site.links, plain, suspect);
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--checker" && i + 1 < argc) {
      options.checker = argv[++i];
    } else if (arg == "--keep") {
      options.keep = true;
    } else {
      std::fprintf(stderr, "usage: %s [--checker VOXTREL_CHECK] [--keep]\n", argv[0]);
      return 2;
    }
  }
  const fs::path dir =
      fs::temp_directory_path() / ("voxtrel-suspect-bench-" + std::to_string(getpid()));
  fs::create_directories(dir);
  BenchCorpus(options, dir);
  BenchSite(options, dir);
  if (options.keep)
    std::printf("\npages and the last run's rows kept in %s\n", dir.c_str());
  else
    fs::remove_all(dir);
  return 0;
}
