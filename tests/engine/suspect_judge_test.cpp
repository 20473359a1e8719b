#include "engine/suspect_judge.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "run/run.h"
#include "support/fake_clock.h"
#include "support/fake_disk.h"
#include "support/fake_pool.h"
#include "support/recording_view.h"
#include "web/suspect_rules.h"

namespace voxtrel {
namespace {

using test::FakeAnswer;

constexpr const char* kRules =
    "closed\tOld Host\t2019-03-31\tnotice\told.jp\n"
    "closed\tDiary\t2019-02-28\tforwards\td.diary.jp\n"
    "parking-host\tParkCo\tpark.jp\n"
    "parking-mark\tParkCo\tparkco-ads.js\n"
    "bot-header\tCloudflare\tcf-mitigated\tchallenge\n"
    "not-found-title\tページが見つかりません\n"
    "not-found-title\t404\n";

// An HTML page; `words` different words of text, chosen by `seed`, after `text`.
FakeAnswer Html(const std::string& title, const std::string& text, int words = 0, int seed = 0,
                int status = 200) {
  FakeAnswer answer;
  answer.status = status;
  answer.body = "<html><head><title>" + title + "</title></head><body><p>" + text;
  for (int i = 0; i < words; ++i)
    answer.body += " w" + std::to_string((i * 7919 + seed * 104729) % 100003);
  answer.body += "</p></body></html>";
  return answer;
}

FakeAnswer Redirected(FakeAnswer answer, const std::string& to) {
  answer.redirects = 1;
  answer.final_url = to;
  return answer;
}

FakeAnswer Status(int status) {
  FakeAnswer answer;
  answer.status = status;
  answer.body = "";
  return answer;
}

// The error page of a server that repeats the address it was asked.
FakeAnswer NotHere(const std::string& url) {
  return Html("Example", "お探しのページ " + url + " はありません。トップへ戻る", 10, 9);
}

class SuspectJudgeTest : public ::testing::Test {
 protected:
  SuspectJudgeTest() {
    rules_->Add(kRules, "test", nullptr);
    settings_.suspect.today = "2026-12-08";
  }
  void Run(const std::vector<std::string>& targets) {
    std::string bytes;
    for (const std::string& target : targets) bytes += "<A HREF=\"" + target + "\">x</A>\r\n";
    disk_.AddFile("/site/a.htm", bytes);
    test::RecordingView view;
    AbortSignal abort;
    view.abort = &abort;
    results_.Clear();
    summary_ = RunFolder(RunSeams{view, disk_, pool_, results_, abort}, settings_, "/site", false);
    events_ = view.events;
  }
  // The judge's verdict on one link asked alone.
  std::string Verdict(const std::string& target, bool all_links) {
    test::FakeClock clock(pool_);
    RequestQueue queue(pool_, QueueLimits{}, clock);
    SuspectJudge judge(settings_.suspect, queue, all_links,
                       [](const std::string&) { return true; });
    FoundLink link(target, "x", "/site/a.htm");
    link.resolved = target.substr(0, target.find('#'));
    if (target.find('#') != std::string::npos) link.anchor = target.substr(target.find('#') + 1);
    QueueAsk ask;
    ask.url = link.resolved;
    judge.Prepare(link, &ask);
    std::optional<CheckOutcome> verdict;
    queue.Ask(ask, [&](Ticket, QueueAnswer& answer) {
      judge.Judge(link, link.resolved, answer, OutcomeOf(answer),
                  [&verdict](CheckOutcome outcome) { verdict = std::move(outcome); });
    });
    while (!verdict && queue.Outstanding() > 0) queue.Pump(50);
    EXPECT_EQ(judge.probes() + 1, pool_.started.size());
    if (!verdict) return "none";
    return std::string(MarkOf(*verdict)) + SuspectName(verdict->suspect) + verdict->detail +
           verdict->redirected_to;
  }
  std::string Marks() const {
    std::string marks;
    for (const ResultRow& row : results_.Rows()) marks += MarkOf(row.outcome);
    return marks;
  }

  std::shared_ptr<SuspectRules> rules_ = std::make_shared<SuspectRules>();
  test::FakeDisk disk_;
  test::FakePool pool_;
  RunSettings settings_;
  ResultList results_;
  RunSummary summary_;
  std::vector<std::string> events_;
};

TEST_F(SuspectJudgeTest, AnswersComeToTheVerdictAReaderWouldGive) {
  FakeAnswer cloudflare = Html("Shop", "今日の品", 300, 3);
  cloudflare.headers = {{"server", "cloudflare"}};
  FakeAnswer challenge = Html("Just a moment...", "", 0, 0, 403);
  challenge.headers = {{"cf-mitigated", "challenge"}};
  FakeAnswer shell;
  shell.body = "<title>App</title><script src=/app.js></script><div id=root></div>";
  struct Case {
    std::string link;
    FakeAnswer answer;
    FakeAnswer probe;  // of any other address
    std::string row;
    size_t probes;
    bool all_links = false;
  } cases[] = {
      {"http://old.jp/~u/a.html", Html("Closed", "終了しました"), Status(404),
       "？closed-serviceOld Host (2019-03-31)", 0},
      {"http://old.jp/~u/a.html", Status(404), Status(404), "×closed-serviceOld Host (2019-03-31)",
       0},
      {"http://d.diary.jp/u/", Redirected(Html("Blog", "日記", 50), "https://blog.jp/u/"),
       Status(200), "◎https://blog.jp/u/", 0},
      {"http://gone.jp/a.html", Redirected(Html("Gone", ""), "http://park.jp/?d=gone"), Status(404),
       "？parked-domain", 0},
      {"http://gone.jp/a.html", Html("gone.jp", "<script src=parkco-ads.js></script>"), Status(404),
       "？parked-domain", 0},
      {"http://s.jp/dir/page.html", Redirected(Html("Top", "ようこそ", 50), "http://s.jp/"),
       Status(404), "？top-page-redirect", 0},
      {"http://s.jp/x/gone.html", Redirected(Html("Missing", "ない", 50), "http://s.jp/x/err.html"),
       Redirected(Html("Missing", "ない", 50), "http://s.jp/x/err.html"), "？soft-404", 1},
      {"http://s.jp/x/gone.html", NotHere("http://s.jp/x/gone.html"), NotHere("(probe)"),
       "？soft-404", 1},
      {"http://s.jp/x/gone.html", Html("ページが見つかりません", "ない", 30), Status(403),
       "？soft-404", 1},
      // A site answering made-up addresses with a page of their own, whose real pages differ.
      {"http://s.jp/x/real.html", Html("Example", "本物", 200, 1), NotHere("(probe)"), "◎", 1},
      {"http://s.jp/x/real.html", Html("Example", "本物", 200, 1), Html("Example", "本物", 200, 2),
       "◎", 1},
      {"http://app.jp/item/42", shell, shell, "◎", 1},
      {"http://s.jp/x/404.html", Html("404 Not Found とは", "エラーの解説", 200), Status(404), "◎",
       1},
      {"http://cf.jp/shop/a.html", cloudflare, Status(404), "◎", 1},
      {"http://cf.jp/shop/a.html", challenge, Status(404), "？bot-wall", 0},
      {"http://cf.jp/shop/a.html", Html("Forbidden", "", 0, 0, 403), Status(404), "×", 0},
      {"http://s.jp/x/doc.html#part", Html("Doc", "<a id=other>本文</a>", 50), Status(404),
       "？missing-anchor", 1, true},
      {"http://s.jp/x/doc.html#part", Html("Doc", "<a name=part>本文</a>", 50), Status(404), "◎", 1,
       true},
  };
  settings_.suspect.rules = rules_;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.link + " " + c.row);
    const std::string asked = c.link.substr(0, c.link.find('#'));
    pool_.script = [&c, &asked](const std::string& url, int) {
      if (url == asked) return c.answer;
      return c.probe.body.find("(probe)") == std::string::npos ? c.probe : NotHere(url);
    };
    EXPECT_EQ(Verdict(c.link, c.all_links), c.row);
    EXPECT_EQ(pool_.started.size(), 1 + c.probes);
    pool_.started.clear();
  }
}

TEST_F(SuspectJudgeTest, OneProbeAFolderWhoseAnswerHoldsForTheRun) {
  // /a/ is honest (a not-found title there is a real page's); /b/ answers everything alike.
  pool_.script = [](const std::string& url, int) {
    const bool probe = url.size() - url.rfind('/') != 8;  // not "/p1.html"
    FakeAnswer answer = url.find("/b/") != std::string::npos ? NotHere(url)
                        : probe                              ? Status(404)
                                : Html("404 Not Found", url, 100, static_cast<int>(url.size()));
    // Answers come back out of order when many are out at once.
    answer.delay_ms = static_cast<long>(std::hash<std::string>()(url) % 30);
    return answer;
  };
  std::vector<std::string> targets;
  for (int i = 0; i < 12; ++i)
    targets.push_back("http://h.jp/" + std::string(i % 2 ? "a" : "b") + "/p" +
                      std::to_string(i % 8) + ".html");
  settings_.suspect.rules = rules_;
  settings_.once = true;
  settings_.show_all = true;
  std::vector<std::vector<std::string>> runs;
  for (int jobs : {1, 128}) {
    settings_.jobs = jobs;
    pool_.started.clear();
    pool_.asked.clear();
    Run(targets);
    runs.push_back(events_);
    EXPECT_EQ(summary_.probes, 2u);
    // Each address once: a later link takes the cached answer, and its key's verdict.
    EXPECT_EQ(pool_.started.size(), 8u + 2u);
    ASSERT_EQ(results_.Count(), 12u);
    EXPECT_EQ(Marks(), "？◎？◎？◎？◎？◎？◎");
  }
  EXPECT_EQ(runs[0], runs[1]);
}

TEST_F(SuspectJudgeTest, WithoutTheOptionNothingIsProbedNorKept) {
  pool_.script = [](const std::string& url, int) { return NotHere(url); };
  Run({"http://h.jp/b/p1.html", "http://h.jp/b/p2.html"});
  EXPECT_EQ(pool_.started,
            (std::vector<std::string>{"http://h.jp/b/p1.html", "http://h.jp/b/p2.html"}));
  EXPECT_EQ(pool_.bodies_kept, 0u);
  EXPECT_EQ(summary_.probes, 0u);
  EXPECT_EQ(Marks(), "◎◎");
}

}  // namespace
}  // namespace voxtrel
