#include "cli/checker.h"

#include <sys/stat.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <filesystem>
#include <future>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#ifdef VOXTREL_HAVE_QT
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#endif

#include "cli/options.h"
#include "run/run.h"
#include "web/page.h"
#include "platform/http_pool.h"
#include "support/fake_clock.h"
#include "support/fake_disk.h"
#include "support/fake_pool.h"
#include "support/files.h"
#include "support/gzip.h"
#include "support/local_server.h"
#include "support/temp_dir.h"
#include "support/xml_check.h"

namespace voxtrel {
namespace {

// Lends a pool the test keeps to a run, which owns what its factory makes.
struct LentPool : HttpPool {
  explicit LentPool(HttpPool& pool) : pool(pool) {}
  bool Start(uint64_t id, HttpRequest request) override { return pool.Start(id, request); }
  void Wait(int ms, std::vector<std::pair<uint64_t, HttpAnswer>>* done) override {
    pool.Wait(ms, done);
  }
  void CancelAll() override { pool.CancelAll(); }
  size_t InFlight() const override { return pool.InFlight(); }
  HttpPool& pool;
};

// The checker on the fake disk and the scripted pool: every address of `answers_` answers as
// it says, any other 404, in virtual time.
class CheckerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    pool_.script = [this](const std::string& url, int) {
      if (url == raise_at_) abort_.Raise();
      auto answer = answers_.find(url);
      return answer != answers_.end() ? answer->second
                                      : test::FakeAnswer{.status = 404, .body = ""};
    };
    answers_[base_ + "/ok"] = test::FakeAnswer{.body = "ok", .content_type = "text/plain"};
    disk_.AddFile("/site/a.htm", "<A HREF=\"" + base_ + "/ok\">ok</A>\r\n<A HREF=\"" + base_ +
                                     "/gone\">gone</A>\r\n");
    disk_.AddFile("/site/sub/b.htm", "<A HREF=\"" + base_ + "/ok\">b</A>\r\n");
  }
  int Run(std::vector<std::string> args, bool terminal = false, std::ostream* out = nullptr) {
    out_.str("");
    err_.str("");
    CheckerEnvironment env;
    env.err_is_terminal = env.out_is_terminal = terminal;
    env.http.connect_timeout_ms = 2000;
    env.http.total_timeout_ms = 500;
    env.abort = &abort_;
    env.japanese = japanese_;
    env.disk = real_ ? static_cast<DiskInterface*>(&posix_) : &disk_;
    env.make_pool = [this](const HttpOptions& options) -> std::unique_ptr<HttpPool> {
      http_ = options;
      if (real_) return std::make_unique<CurlPool>(options);
      return std::make_unique<LentPool>(pool_);
    };
    env.clock = real_ ? nullptr : &clock_;
    env.user_rules = "/config/voxtrel/suspect-rules.txt";
    env.today = "2026-12-08";
    return RunChecker(args, out ? *out : out_, err_, env);
  }
  std::string Report(const std::string& path) { return disk_.Contents(path).value_or(""); }

  std::string base_ = "http://h.test";
  std::map<std::string, test::FakeAnswer> answers_;
  std::string raise_at_;  // asking for it raises the abort, as Ctrl-C would
  AbortSignal abort_;
  test::FakeDisk disk_;
  test::FakePool pool_;
  test::FakeClock clock_{pool_};
  HttpOptions http_;  // what the pool was made with
  std::ostringstream out_;
  std::ostringstream err_;
  bool japanese_ = false;
  bool real_ = false;  // the disk, libcurl and the system's clock instead
  PosixDisk posix_;
};

TEST_F(CheckerTest, ExitStatusSaysWhetherDeadLinksWereFound) {
  const std::string a = "/site/a.htm";
  const std::string b = "/site/sub/b.htm";
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string out;
  };
  const Case cases[] = {
      {{"/site"}, kExitDeadLinks, "000001,×," + base_ + "/gone,gone," + a + "\n"},
      {{"-a", "/site/"}, kExitDeadLinks,
       "000001,◎," + base_ + "/ok,ok," + a + "\n000002,×," + base_ + "/gone,gone," + a + "\n"},
      {{"-ra", "/site/sub"}, kExitClean, "000001,◎," + base_ + "/ok,b," + b + "\n"},
      {{"-q", b}, kExitClean, ""},
      {{"-r", "/site", "-a"}, kExitDeadLinks,
       "000001,◎," + base_ + "/ok,ok," + a + "\n000002,×," + base_ + "/gone,gone," + a +
           "\n000003,◎," + base_ + "/ok,b," + b + "\n"},
      {{"-a", "--max-links-per-page=1", "/site"}, kExitDeadLinks,
       "000001,◎," + base_ + "/ok,ok," + a + "\n"},
      {{"-a", "--accept=404", "/site/a.htm"}, kExitDeadLinks,
       "000001,×," + base_ + "/ok,ok," + a + "\n000002,◎," + base_ + "/gone,gone," + a + "\n"},
      {{"-x", b}, kExitUsage, ""}, {{"/none.htm"}, kExitUsage, ""},
      {{base_ + "/none.htm"}, kExitUsage, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    EXPECT_EQ(Run(c.args), c.status);
    EXPECT_EQ(out_.str(), c.out);
    if (c.status == kExitUsage) {
      EXPECT_NE(err_.str().find("voxtrel-check: "), std::string::npos);
    }
  }
  EXPECT_EQ(Run({"-a", base_ + "/none.htm"}), kExitUsage);
  EXPECT_NE(err_.str().find("voxtrel-check: cannot fetch " + base_ + "/none.htm: HTTP 404\n"),
            std::string::npos);
}

TEST_F(CheckerTest, ProgressOnATerminalFitsOneLineAndSaysWhyALinkFailed) {
  const std::string long_target = base_ + "/gone/" + std::string(120, 'x');
  disk_.AddFile("/long.htm", "<A HREF=\"" + long_target + "\">x</A>\r\n");
  EXPECT_EQ(Run({"/long.htm"}, true), 1);
  const std::string line = "[1/1] checking " + long_target;
  // 99 characters and an ellipsis: the line never wraps, so a carriage return redraws it.
  const std::string cut = line.substr(0, 99) + "…";
  EXPECT_NE(err_.str().find("\r\x1b[K" + cut + "\r\x1b[K"), std::string::npos) << err_.str();
  EXPECT_NE(err_.str().find("  × HTTP 404\n"), std::string::npos);
  EXPECT_NE(err_.str().find("\x1b[31m1 ×\x1b[0m"), std::string::npos);
}

TEST_F(CheckerTest, NamesAreShownAsTextAndControlsAsEscapes) {
  // A page saved from an old Windows machine: its name is Shift_JIS bytes ("テ.htm").
  disk_.AddFile("/names/\x83\x65.htm", "<A HREF=\"" + base_ + "/gone\">a\x1b]0;x\x07" "b</A>\r\n");
  EXPECT_EQ(Run({"/names"}, true), kExitDeadLinks);
  EXPECT_EQ(out_.str(), "000001,×," + base_ + "/gone,a\\x1b]0;x\\x07b,/names/テ.htm\n");
  EXPECT_EQ(Run({"--format", "json", "/names"}), kExitDeadLinks);
  EXPECT_NE(out_.str().find("\"name\":\"a\\u001b]0;x\\u0007b\",\"page\":\"/names/テ.htm\""),
            std::string::npos)
      << out_.str();
}

TEST_F(CheckerTest, AnAbortAtAnyMomentStopsTheRunAtOnce) {
  disk_.AddFile("/slow/a.htm",
                "<A HREF=\"" + base_ + "/hold\">s</A><A HREF=\"" + base_ + "/ok\">o</A>\r\n");
  answers_[base_ + "/hold"] = test::FakeAnswer{.delay_ms = 60000};
  raise_at_ = base_ + "/hold";
  // Raised before the folder search, during a page fetch, during a link check: nothing more is
  // asked, no row is listed, and the exit says the run was interrupted.
  const struct {
    std::vector<std::string> args;
    bool before;
    size_t requests;
  } cases[] = {
      {{"-a", "/slow"}, true, 0}, {{"-a", base_ + "/hold"}, false, 1},
      {{"-a", "-j", "1", "/slow"}, false, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    abort_.Lower();
    pool_.started.clear();
    if (c.before) abort_.Raise();
    EXPECT_EQ(Run(c.args), kExitInterrupted);
    EXPECT_EQ(out_.str(), "");
    EXPECT_EQ(pool_.started.size(), c.requests);
  }
  // A page too long to read whole is read up to the cap, and the run says so and fails.
  abort_.Lower();
  answers_[base_ + "/huge.htm"] = {.body = "<A HREF=\"" + base_ + "/ok\">a</A>\n", .cut = true};
  EXPECT_EQ(Run({"-a", base_ + "/huge.htm"}), kExitDeadLinks);
  EXPECT_EQ(out_.str(), "000001,◎," + base_ + "/ok,a," + base_ + "/huge.htm\n");
  EXPECT_NE(err_.str().find("only its first 64 MiB checked: " + base_ + "/huge.htm\n"),
            std::string::npos);
  // A stream that takes no row ends the run like an interrupt, with its own status.
  std::ostream nowhere(nullptr);
  EXPECT_EQ(Run({"-a", "-o", "/r.json", "/site"}, false, &nowhere), kExitUsage);
  EXPECT_NE(err_.str().find("voxtrel-check: cannot write the rows to standard output\n"),
            std::string::npos);
  EXPECT_EQ(Report("/r.json").find("\"no\":2"), std::string::npos);
  EXPECT_NE(Report("/r.json").find("\"no\":1"), std::string::npos);
}

// The options a command line comes to, in a short fixed form; "error" when refused.
std::string Parsed(const std::vector<std::string>& args) {
  CheckerOptions o;
  std::string err;
  switch (ParseCheckerArgs(args, &o, &err)) {
    case ParseOutcome::kHelp: return "help";
    case ParseOutcome::kVersion: return "version";
    case ParseOutcome::kError: return err.empty() ? "error without reason" : "error";
    case ParseOutcome::kRun: break;
  }
  std::string text;
  for (auto [set, name] : {std::pair{o.recursive, "r "}, {o.all_results, "a "}, {o.quiet, "q "},
                           {o.https, "https "}, {o.once, "once "}, {o.keep_query, "kq "}, {o.json_rows, "json "}, {o.all_links, "all "},
                           {o.suspect, "suspect "}, {o.fail_on_suspect, "fos "},
                           {o.archive, "archive "}})
    if (set) text += name;
  text += "j" + std::to_string(o.jobs) + " h" + std::to_string(o.per_host);
  if (o.report_path) text += " o=" + *o.report_path;
  const char* const forms[] = {"html", "csv", "json"};
  if (o.report_form) text += std::string(" form=") + forms[static_cast<int>(*o.report_form)];
  const char* const ci_forms[] = {"markdown", "junit", "sarif", "github"};
  if (o.ci_format) text += std::string(" ci=") + ci_forms[static_cast<int>(*o.ci_format)];
  if (o.report_ci_form)
    text += std::string(" ci-report=") + ci_forms[static_cast<int>(*o.report_ci_form)];
  if (o.report_encoding == ReportEncoding::kUtf8) text += " utf-8";
  if (o.timeout_s) text += " t=" + std::to_string(*o.timeout_s);
  if (o.user_agent) text += " ua=" + *o.user_agent;
  if (o.ca_file) text += " ca=" + *o.ca_file;
  if (o.root) text += " root=" + *o.root;
  if (o.crawl_bounds.max_links_per_page != kDefaultMaxLinksPerPage)
    text += " links=" + std::to_string(o.crawl_bounds.max_links_per_page);
  if (o.retries != kDefaultRetries) text += " retries=" + std::to_string(o.retries);
  if (o.rate > 0) text += " rate=" + std::to_string(o.rate);
  for (const std::string& exclude : o.excludes) text += " x=" + exclude;
  for (const std::string& rules : o.suspect_rules) text += " sr=" + rules;
  if (o.cache) text += " cache=" + o.cache_file.value_or("");
  if (o.max_cache_age_s != kDefaultCacheAgeS) text += " age=" + std::to_string(o.max_cache_age_s);
  if (o.archive_api) text += " api=" + *o.archive_api;
  return text + " " + o.target;
}

TEST(CheckerOptionsTest, EveryOptionInEveryFormAndBadValuesRefused) {
  const struct {
    std::vector<std::string> args;
    std::string parsed;
  } cases[] = {
      {{"T"}, "j128 h8 T"}, {{"--", "-x"}, "j128 h8 -x"},
      {{"-r", "-a", "-q", "--https", "--once", "--keep-query", "T"}, "r a q https once kq j128 h8 T"},
      {{"--recursive", "--all", "--quiet", "T"}, "r a q j128 h8 T"},
      {{"-rqa", "T"}, "r a q j128 h8 T"}, {{"T", "-j", "8", "--per-host", "2"}, "j8 h2 T"},
      {{"-j8", "--per-host=64", "T"}, "j8 h64 T"}, {{"--jobs=256", "T"}, "j256 h8 T"},
      {{"-ao", "r.htm", "T"}, "a j128 h8 o=r.htm T"},
      {{"-or.json", "--output", "s.csv", "T"}, "j128 h8 o=s.csv T"},
      {{"--output=r", "--report-format", "html", "--report-encoding=utf-8", "T"},
       "j128 h8 o=r form=html utf-8 T"},
      {{"--format", "json", "--report-format=json", "T"}, "json j128 h8 form=json T"},
      {{"--format=csv", "--report-format", "csv", "--report-encoding", "shift_jis", "T"},
       "j128 h8 form=csv T"},
      {{"--timeout", "300", "--user-agent", "UA 1", "--cacert=c.pem", "T"},
       "j128 h8 t=300.000000 ua=UA 1 ca=c.pem T"},
      {{"--exclude", "a", "--exclude=b|c", "T"}, "j128 h8 x=a x=b|c T"}, {{"-h"}, "help"},
      {{"--version"}, "version"}, {{"-j", "0", "T"}, "error"}, {{"-j", "257", "T"}, "error"},
      {{"-j", "8x", "T"}, "error"}, {{"--per-host", "65", "T"}, "error"},
      {{"--per-host=0", "T"}, "error"}, {{"--format", "xml", "T"}, "error"},
      {{"--report-format", "pdf", "T"}, "error"}, {{"--report-encoding", "latin1", "T"}, "error"},
      {{"--timeout", "1", "T"}, "j128 h8 t=1.000000 T"},
      {{"--timeout=86400", "T"}, "j128 h8 t=86400.000000 T"},
      {{"--timeout", "0.5", "T"}, "error"}, {{"--timeout", "86401", "T"}, "error"},
      {{"--timeout", "2x", "T"}, "error"}, {{"--timeout", "abc", "T"}, "error"},
      {{"--exclude", "(", "T"}, "error"}, {{"--user-agent", "a\nb", "T"}, "error"},
      {{"--cacert=", "T"}, "error"}, {{"-x", "T"}, "error"}, {{"T", "-o"}, "error"},
      {{"T", "--jobs"}, "error"}, {{"T", "U"}, "error"}, {{}, "error"}, {{"-qj", "-1", "T"}, "error"},
      // A value is the next argument whole, whatever it begins with.
      {{"--user-agent", "-a", "--exclude", "-old", "--exclude=-new", "T"}, "j128 h8 ua=-a x=-old x=-new T"},
      {{"-o", "-r.csv", "T"}, "j128 h8 o=-r.csv T"},
      {{"--max-links-per-page", "5", "T"}, "j128 h8 links=5 T"},
      {{"--max-links-per-page=0", "T"}, "error"},
      {{"--links", "all", "--root=/s", "T"}, "all j128 h8 root=/s T"}, {{"--links=classic", "T"}, "j128 h8 T"},
      {{"--links", "every", "T"}, "error"}, {{"--root=", "T"}, "error"},
      {{"--retries", "0", "--rate=2.5", "T"}, "j128 h8 retries=0 rate=2.500000 T"},
      {{"--retries=10", "--rate", "1", "T"}, "j128 h8 retries=10 rate=1.000000 T"},
      {{"--retries", "11", "T"}, "error"}, {{"--rate", "0", "T"}, "error"},
      {{"--rate=inf", "T"}, "error"},
      {{"--suspect", "--fail-on-suspect", "--suspect-rules", "a", "--suspect-rules=b", "T"},
       "suspect fos j128 h8 sr=a sr=b T"},
      {{"--suspect-rules=", "T"}, "error"}, {{"--suspect=1", "T"}, "error"},
      {{"--cache", "--max-cache-age", "12h", "T"}, "j128 h8 cache= age=43200 T"},
      {{"--cache-file=c.db", "--max-cache-age=1d", "T"}, "j128 h8 cache=c.db T"},
      {{"--max-cache-age", "30m", "T"}, "j128 h8 age=1800 T"},
      {{"--max-cache-age", "90s", "T"}, "j128 h8 age=90 T"},
      {{"--max-cache-age", "0", "T"}, "j128 h8 age=0 T"},
      {{"--max-cache-age", "2d", "T"}, "j128 h8 age=172800 T"},
      {{"--cache-file=", "T"}, "error"}, {{"--cache=1", "T"}, "error"},
      {{"--max-cache-age", "", "T"}, "error"}, {{"--max-cache-age", "1x", "T"}, "error"},
      {{"--max-cache-age", "-1", "T"}, "error"}, {{"--max-cache-age", "1.5h", "T"}, "error"},
      {{"--max-cache-age", "h", "T"}, "error"}, {{"--max-cache-age", "1dd", "T"}, "error"},
      {{"--max-cache-age", "1 d", "T"}, "error"},
      {{"--max-cache-age", "999999999999999999d", "T"}, "error"},
      {{"--header", "X: a\r\nY: b", "T"}, "error"}, {{"--header=: v", "T"}, "error"},
      {{"--header", "X", "T"}, "error"}, {{"--accept", "200..1000", "T"}, "error"},
      {{"--netrc", "--header=X:", "--accept=403", "T"}, "j128 h8 T"}, {{"--netrc=1", "T"}, "error"},
      {{"--archive", "--archive-api", "https://a.test/x", "T"},
       "archive j128 h8 api=https://a.test/x T"},
      {{"--archive-api=ftp://a.test/", "T"}, "error"}, {{"--archive-api=", "T"}, "error"},
      {{"--format", "sarif", "--report-format=junit", "T"}, "j128 h8 ci=sarif ci-report=junit T"},
      {{"--format=github", "--format", "markdown", "--report-format", "sarif",
        "--report-format=csv", "T"},
       "j128 h8 form=csv ci=markdown T"},
      {{"--format", "SARIF", "T"}, "error"},
      {{"--fix", "all", "T"}, "error"}, {{"--apply=1", "T"}, "error"},
      {{"--ignore-file=", "T"}, "error"},
  };
  for (const auto& c : cases) EXPECT_EQ(Parsed(c.args), c.parsed) << testing::PrintToString(c.args);
}

TEST(CheckerExitTest, SuspectRowsFailARunOnlyWhenAsked) {
  const std::array<int, 4> cases[] = {  // ×, ？, --fail-on-suspect, status
      {0, 0, 1, 0}, {0, 2, 0, 0}, {0, 2, 1, 1}, {1, 0, 0, 1}, {1, 2, 0, 1}};
  for (const auto& [failed, suspect, fail_on_suspect, status] : cases) {
    RunSummary summary;
    summary.rows_by_mark = {size_t(failed), 0, 0, 0, size_t(suspect)};
    EXPECT_EQ(ExitStatus(summary, false, fail_on_suspect), status) << failed << suspect;
  }
}

TEST(CheckerOptionsTest, JapaneseWhenTheFirstLocaleVariableSetSaysSo) {
  const char* none = nullptr;
  EXPECT_FALSE(IsJapaneseLocale(none, none, none));
  EXPECT_TRUE(IsJapaneseLocale(none, "", "ja_JP.UTF-8"));
  EXPECT_FALSE(IsJapaneseLocale("C", none, "ja_JP.UTF-8"));
  EXPECT_FALSE(IsJapaneseLocale(none, "en_US.UTF-8", "ja"));
  EXPECT_TRUE(IsJapaneseLocale("ja_JP.eucJP", "C", "en_GB"));
}

TEST_F(CheckerTest, ReportFormAndEncodingFollowTheNameUnlessForced) {
  const struct {
    std::string name;
    std::vector<std::string> options;
    std::string begins;
    std::string holds;
  } cases[] = {
      {"r.htm", {}, "<HTML>\r\n", "charset=Shift_JIS\">"},
      {"r.HTML", {}, "<HTML>\r\n", "\x81\x9D</FONT>"},
      {"r.json", {}, "[\n{\"no\":1,\"mark\":\"◎\",", "\"name\":\"b\""},
      {"r.txt", {}, "000001,\x81\x9D," + base_ + "/ok,b,/site/sub/b.htm\r\n", ""},
      {"r.txt", {"--report-format", "json"}, "[\n{\"no\":1,", "\"name\":\"b\""},
      {"r.json", {"--report-format=html"}, "<HTML>\r\n", "charset=Shift_JIS\">"},
      {"r.htm", {"--report-format", "csv"}, "000001,\x81\x9D,", ",b,"},
      {"r.csv", {"--report-encoding", "utf-8"}, "\xEF\xBB\xBF" "000001,◎,", ",b,"},
      {"r.htm", {"--report-encoding=utf-8"}, "<HTML>\r\n", "charset=UTF-8\">"},
      {"r.HTM", {"--report-encoding=utf-8"}, "<HTML>\r\n", "◎</FONT>"},
      {"r.json", {"--report-encoding", "shift_jis"}, "[\n{\"no\":1,\"mark\":\"◎\",", "\"b\""},
      {"r.MD", {}, "## Voxtrel link check\n", "| ◎ | 1 |\n"},
      {"r.xml", {}, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuite", "<testcase name"},
      {"r.sarif", {}, "{\n\"$schema\":", "\"version\":\"2.1.0\""},
      {"r.csv", {"--report-format", "sarif"}, "{\n\"$schema\":", "\"results\":[\n]"},
      {"r.xml", {"--report-format", "json"}, "[\n{\"no\":1,", "\"name\":\"b\""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name + " " + testing::PrintToString(c.options));
    std::vector<std::string> args = {"-a", "-o", "/site/" + c.name, "/site/sub/b.htm"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    ASSERT_EQ(Run(args), kExitClean);
    const std::string report = Report("/site/" + c.name);
    EXPECT_EQ(report.substr(0, c.begins.size()), c.begins);
    EXPECT_NE(report.find(c.holds), std::string::npos);
  }
}

TEST_F(CheckerTest, SummaryCountsWhatWasPassedOverAndTheHttpsNoteStaysWhenQuiet) {
  const std::string page = "/mixed/a.htm";
  disk_.AddFile(page, "<A HREF=\"" + base_ + "/ok\">ok</A>\r\n<A HREF=\"" + base_ +
                          "/gone\">gone</A>\r\n<A HREF=\"https://127.0.0.1:1/\">s</A>\r\n"
                          "<A HREF=\"" + base_ + "/skip/x\">skip</A><A HREF=\"" + base_ +
                          "/y.pl\">pl</A>\r\n");
  const std::string note = "1 https:// links were not checked (add --https to check them)\n";
  EXPECT_EQ(Run({"-a", "--exclude", "/skip/", page}), kExitDeadLinks);
  EXPECT_EQ(out_.str(), "000001,◎," + base_ + "/ok,ok," + page + "\n000002,×," + base_ +
                            "/gone,gone," + page + "\n000003,Ｐ," + base_ + "/y.pl,pl," + page +
                            "\n");
  // Each fact once, in the locale's language.
  const std::regex seconds("[0-9]+\\.[0-9]");
  EXPECT_EQ(std::regex_replace(err_.str(), seconds, "N"),
            note + "voxtrel-check: 3 links checked: 1 ×, 1 ◎, 0 △, 1 Ｐ; 1 excluded; N s\n");
  EXPECT_EQ(Run({"--max-links-per-page", "2", page}), kExitDeadLinks);
  EXPECT_EQ(std::regex_replace(err_.str(), seconds, "N"),
            "voxtrel-check: 2 links checked: 1 ×, 0 ◎, 0 △, 0 Ｐ; 0 excluded; 1 pages with more "
            "links than --max-links-per-page, the rest unchecked; N s\n");
  japanese_ = true;
  EXPECT_EQ(Run({"-a", "--exclude", "/skip/", page}), kExitDeadLinks);
  EXPECT_EQ(std::regex_replace(err_.str(), seconds, "N"),
            "https:// のﾘﾝｸ 1 件は検査していません（--https で検査します）\nvoxtrel-check: "
            "Voxtrelが完了しました。 ﾘﾝｸ 3 件を検査： × 1 件 / ◎ 1 件 / △ 0 件 / Ｐ 1 件、除外 1 件、N 秒\n");
  japanese_ = false;
  EXPECT_EQ(Run({"-q", "--exclude=skip", page}), kExitDeadLinks);
  EXPECT_EQ(err_.str(), note);
  EXPECT_EQ(pool_.started.size(), 8u);
  // Judging answers adds the ？ rows and the probes; lines of the rules files that cannot be read
  // are told and passed over, and the run goes on.
  disk_.AddFile("/config/voxtrel/suspect-rules.txt", "# mine\n\nclosd\tX\n");
  disk_.AddFile("/r.txt", "bot-wall\tY\n");
  EXPECT_EQ(Run({"--suspect", "--suspect-rules", "/r.txt", "--exclude=/skip/", page}), 1);
  EXPECT_EQ(std::regex_replace(std::regex_replace(err_.str(), seconds, "N"),
                               std::regex(": [^\n]*; line passed over"), ": W"),
            "/config/voxtrel/suspect-rules.txt:3: W\n/r.txt:1: W\n" + note +
                "voxtrel-check: 3 links checked: 1 ×, 0 ◎, 0 △, 1 Ｐ, 0 ？; 1 excluded; 0 probes; "
                "N s\n");
  japanese_ = true;
  EXPECT_EQ(Run({"--suspect", "/site/sub/b.htm"}), kExitClean);
  EXPECT_NE(err_.str().find("Ｐ 0 件 / ？ 0 件、除外 0 件、ﾌﾟﾛｰﾌﾞ 0 件、"), std::string::npos);
  // With a cache, what it answered is counted; a cache that cannot be had is no reason to stop.
  japanese_ = false;
  const test::TempDir temp;
  const std::string cached = "voxtrel-check: 2 links checked: 1 ×, 0 ◎, 0 △, 0 Ｐ; 0 excluded; ";
  for (const char* from : {"0", "1"}) {
    EXPECT_EQ(Run({"--cache-file", temp / "c.sqlite", "/site/a.htm"}), kExitDeadLinks);
    EXPECT_EQ(std::regex_replace(err_.str(), seconds, "N"),
              cached + from + " from the cache; N s\n");
  }
  EXPECT_EQ(Run({"--cache-file", temp / "c.sqlite/c.sqlite", "/site/a.htm"}), kExitDeadLinks);
  const std::string told = std::regex_replace(err_.str(), seconds, "N");
  EXPECT_TRUE(told.starts_with("voxtrel-check: no cache this run: " + temp / "c.sqlite/c.sqlite"))
      << told;
  EXPECT_TRUE(told.ends_with("\n" + cached + "0 from the cache; N s\n")) << told;
  // Links set aside by the folder's list and by the user's are counted when a list was read.
  japanese_ = true;
  disk_.AddFile("/mixed/.voxtrelignore", "# gone for good\n" + base_ + "/go*\n");
  disk_.AddFile("/i.txt", "*.pl\n");
  EXPECT_EQ(Run({"--ignore-file", "/i.txt", "--exclude=/skip/", page}), kExitClean);
  EXPECT_NE(err_.str().find("除外 1 件、無視 2 件、"), std::string::npos) << err_.str();
}

TEST_F(CheckerTest, RunsThatCannotEndWellAreRefusedBeforeAnyRequest) {
  disk_.AddFile("/empty/notes.txt", "");
  const struct {
    std::vector<std::string> args;
    std::string err;
  } cases[] = {
      {{"/empty"}, "voxtrel-check: no pages (.htm, .html, .shtm, .shtml) found\n"},
      {{"-r", base_ + "/a.htm"},
       "voxtrel-check: -r takes a folder, not a web address\nTry 'voxtrel-check --help'.\n"},
      {{"-o", "/site", "/site"}, "voxtrel-check: cannot write report /site: it is a folder\n"},
      {{"-o", "/none/r.csv", "/site"},
       "voxtrel-check: cannot write report /none/r.csv: No such file or directory\n"},
      {{"--crawl", "/site"},
       "voxtrel-check: --crawl takes a web address (http:// or https://), not a folder or "
       "file\nTry 'voxtrel-check --help'.\n"},
      {{"--cacert", "/none.pem", "/site"},
       "voxtrel-check: cannot read /none.pem\nTry 'voxtrel-check --help'.\n"},
      {{"--suspect", "--suspect-rules", "/none.txt", "/site"},
       "voxtrel-check: cannot read /none.txt: No such file or directory\nTry 'voxtrel-check "
       "--help'.\n"},
      {{"--fail-on-suspect", "/site"},
       "voxtrel-check: --fail-on-suspect needs --suspect\nTry 'voxtrel-check --help'.\n"},
      {{"--suspect-rules", "/r.txt", "/site"},
       "voxtrel-check: --suspect-rules needs --suspect\nTry 'voxtrel-check --help'.\n"},
      {{"--archive-api", "http://a.test/", "/site"},
       "voxtrel-check: --archive-api needs --archive\nTry 'voxtrel-check --help'.\n"},
      {{"--apply", "/site"}, "--apply needs --fix moved or --fix archived"},
      {{"--fix", "undo", "-a", "/site"}, "--fix undo takes a TARGET and nothing else"},
      {{"--fix=moved", "--apply", base_ + "/a.htm"}, "web pages are never changed"},
      {{"--fix", "archived", "/site"}, "--fix archived needs --archive"},
      {{"--fix", "moved", "--recheck", "/r.json"}, "--fix takes a TARGET, not --recheck"},
      {{"--ignore-file", "/none.txt", "/site"}, "cannot read /none.txt"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    EXPECT_EQ(Run(c.args), kExitUsage);
    EXPECT_EQ(out_.str(), "");
    const std::string usage = "voxtrel-check: " + c.err + "\nTry 'voxtrel-check --help'.\n";
    EXPECT_EQ(err_.str(), c.err.starts_with("voxtrel-check:") ? c.err : usage);
  }
  EXPECT_TRUE(pool_.started.empty());
}

TEST_F(CheckerTest, ACrawlFollowsRedirectsOnTheSiteAndHonoursItsRobotsTxt) {
  const auto page = [](const std::string& html) { return test::FakeAnswer{.body = html}; };
  const std::string start = base_ + "/s/index.html";
  answers_[start] = page("<a href=old.html>o</a><a href=no.html>n</a><a href=/ok>k</a>");
  // Redirected to new.html, as the pool follows redirects itself.
  answers_[base_ + "/s/old.html"] = {.body = "<a href=index.html>i</a><a href=new.html>self</a>",
                                     .redirects = 1, .final_url = base_ + "/s/new.html"};
  answers_[base_ + "/s/no.html"] = page("never");
  answers_[base_ + "/robots.txt"] = {.body = "User-agent: *\nDisallow: /s/no\n",
                                     .content_type = "text/plain"};
  EXPECT_EQ(Run({"--crawl", "--links", "all", "-a", "--timeout", "7", "--max-depth", "3",
                 "--retries", "3", "--rate", "2", "--report-detail", "-o", "/r.csv", start}),
            kExitClean);
  EXPECT_EQ(http_.total_timeout_ms, 7000);
  // The detailed report says how the crawl was made and what it came to.
  const std::string report = Report("/r.csv");
  EXPECT_NE(report.find("、再試行 3 回、1 ﾎｽﾄ毎秒 2 件、ﾀｲﾑｱｳﾄ 7 秒、ｻｲﾄ内のﾍﾟｰｼﾞもたどる (開始 " +
                        start + " 、最大 10000 ﾍﾟｰｼﾞ、深さ 3 まで) (voxtrel-check --crawl"),
            std::string::npos)
      << report;
  EXPECT_NE(report.find("\r\n巡回したﾍﾟｰｼﾞ,2 件,,,,,,\r\n上限で省いたﾍﾟｰｼﾞ,0 件,,,,,,\r\n"
                        "robots.txt で除外,1 件,,,,,,\r\n取得できないﾍﾟｰｼﾞ,0 件,,,,,,\r\n"),
            std::string::npos);
  EXPECT_EQ(out_.str(), "000001,◎,old.html,o," + start + "\n000002,◎,/ok,k," + start +
                            "\n000003,◎,index.html,i," + base_ + "/s/new.html\n000004,◎,"
                            "new.html,self," + base_ + "/s/new.html\n");
  EXPECT_NE(err_.str().find("2 pages crawled, 0 left out by the bounds, 1 disallowed"),
            std::string::npos) << err_.str();
  EXPECT_EQ(err_.str().find("could not be fetched"), std::string::npos);
  EXPECT_EQ(pool_.started, (std::vector<std::string>{start, base_ + "/robots.txt",
                                                     base_ + "/s/old.html", base_ + "/ok"}));
  // A page it could not fetch fails the run even where no link of the mode lists it.
  answers_[base_ + "/s/dead.html"] = page("<a href=gone.html>g</a>");
  EXPECT_EQ(Run({"--crawl", base_ + "/s/dead.html"}), kExitDeadLinks);
  EXPECT_EQ(out_.str(), "000001,×,gone.html,g," + base_ + "/s/dead.html\n");
  EXPECT_NE(err_.str().find("robots.txt; 1 pages could not be fetched; "), std::string::npos);
}

TEST_F(CheckerTest, ASitemapIndexLeadsToItsPagesCheckedInOrderWithinMaxPages) {
  test::LocalServer server;
  std::map<std::string, std::string> bodies;  // by path; filled once the address is known
  server.server().Get(".*", [&bodies](const auto& req, auto& res) {
    if (bodies.count(req.path))
      res.set_content(bodies[req.path], "application/octet-stream");
    else
      res.status = 404;
  });
  const std::string b = server.Start();
  const std::string sitemap = b + "/s.xml.gz";
  bodies["/index.xml"] =
      "<sitemapindex><sitemap><loc>http://other.test/s.xml</loc></sitemap>"
      "<sitemap><loc>" +
      sitemap + "</loc></sitemap></sitemapindex>";
  bodies["/s.xml.gz"] = test::Gzip("<urlset><url><loc>" + b + "/a.html</loc></url><url><loc>" + b +
                                   "/gone.html</loc></url><url><loc>http://x.test/c.html</loc>"
                                   "</url><url><loc>" +
                                   b + "/b.html</loc></url></urlset>");
  bodies["/a.html"] = "<A HREF=\"" + b + "/b.html\">b</A>\r\n<A HREF=\"" + b + "/dead\">d</A>\r\n";
  bodies["/b.html"] = "<A HREF=\"" + b + "/a.html\">a</A>\r\n";
  bodies["/broken.xml"] = "<urlset>\n<url>\n<loc><</loc>";
  real_ = true;
  EXPECT_EQ(Run({"-a", "--sitemap", b + "/index.xml"}), kExitDeadLinks);
  EXPECT_EQ(out_.str(), "000001,◎," + b + "/b.html,b," + b + "/a.html\n000002,×," + b + "/dead,d," +
                            b + "/a.html\n000003,×," + b + "/gone.html,," + sitemap +
                            "\n000004,◎," + b + "/a.html,a," + b + "/b.html\n");
  EXPECT_NE(err_.str().find("; 3 pages from the sitemap; 0 left out by --max-pages, 2 addresses "
                            "of other sites passed over; 1 pages could not be fetched; "),
            std::string::npos)
      << err_.str();
  EXPECT_EQ(Run({"-a", "--max-pages=1", "--sitemap", b + "/index.xml"}), kExitDeadLinks);
  EXPECT_EQ(out_.str(), "000001,◎," + b + "/b.html,b," + b + "/a.html\n000002,×," + b + "/dead,d," +
                            b + "/a.html\n");
  EXPECT_NE(err_.str().find("; 1 pages from the sitemap; 2 left out"), std::string::npos);
  EXPECT_EQ(Run({"--sitemap", b + "/broken.xml"}), kExitUsage);
  EXPECT_EQ(err_.str(),
            "voxtrel-check: " + b + "/broken.xml: not well-formed (invalid token) at line 3\n");
  EXPECT_EQ(Run({"--sitemap", b + "/index.xml", "--crawl"}), kExitUsage);
}

TEST_F(CheckerTest, RecheckAsksTheFailedRowsOfAReportAgainKeepingTheirNumbers) {
  const std::string a = "/site/a.htm";
  const std::string b = "/site/sub/b.htm";
  // A report in which /ok had failed: asked again, it answers now.
  auto report = [this](const std::string& page, const std::string& path) {
    Run({"-a", "-o", path, page});
    std::string text = Report(path);
    text.replace(text.find("◎"), std::string("◎").size(), "×");
    text.replace(text.find("200,\"reason\":\"\""), 15, "500,\"reason\":\"HTTP 500\"");
    disk_.AddFile(path, text);
  };
  report(a, "/site/a.json");
  report(b, "/site/b.json");
  disk_.AddFile("/site/bad.json", "[{\"no\":1}]");
  const struct {
    std::vector<std::string> args;
    int status;
    std::string out;
  } cases[] = {
      {{"-a", "--recheck", "/site/a.json"},
       kExitDeadLinks,
       "000001,◎," + base_ + "/ok,ok," + a + "\n000002,×," + base_ + "/gone,gone," + a + "\n"},
      {{"--recheck", "/site/b.json", "-o", "/site/b2.json"}, kExitClean, ""},
      {{"--recheck", "/site/bad.json"}, kExitUsage, ""},
      {{"--recheck", "/site/a.json", a}, kExitUsage, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    EXPECT_EQ(Run(c.args), c.status);
    EXPECT_EQ(out_.str(), c.out);
  }
  EXPECT_NE(err_.str().find("--recheck takes no TARGET"), std::string::npos);
  EXPECT_NE(Report("/site/b2.json")
                .find("{\"no\":1,\"mark\":\"◎\",\"url\":\"" + base_ +
                      "/ok\",\"name\":\"b\",\"page\":\"" + b + "\",\"line\":1,\"status\":200"),
            std::string::npos);
  Run({"--recheck", "/site/bad.json"});
  EXPECT_EQ(err_.str(), "voxtrel-check: cannot read report /site/bad.json: line 1: the row has "
                        "no \"mark\"\n");
}

TEST_F(CheckerTest, CiReportsAreWholeWhenTheRunIsStopped) {
  const std::string name = "「名」 \"q\" <&> | 100% a,b:c";
  disk_.AddFile("/w/ci/ページ.htm",
                "<A HREF=\"" + base_ +
                    "/gone\">「名」 \"q\" &lt;&amp;&gt; | 100% a,b:c</A>\r\n<A HREF=\"" + base_ +
                    "/ok\">o</A><A HREF=\"" + base_ + "/hold\">h</A>\r\n");
  answers_[base_ + "/hold"] = test::FakeAnswer{.delay_ms = 60000};
  raise_at_ = base_ + "/hold";
  const std::string failure = "HTTP 404: " + base_ + "/gone (" + name + ")";
  const struct {
    std::string form;
    std::string holds;
  } cases[] = {
      {"markdown", "**Stopped before the end**"},
      {"junit", "<system-err/>\n</testsuite>\n"},
      {"github", "::error file=/w/ci/ページ.htm,line=1::HTTP 404: " + base_ +
                     "/gone (「名」 \"q\" "
                     "<&> | 100%25 a,b:c)\n"},
      {"sarif", "\"executionSuccessful\":false"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.form);
    abort_.Lower();
    EXPECT_EQ(Run({"-j", "1", "--links", "all", "--format", c.form, "-o", "/r.xml", "/w/ci"}),
              kExitInterrupted)
        << err_.str();
    EXPECT_NE(out_.str().find(c.holds), std::string::npos) << out_.str();
    // The file is JUnit by its name, whatever stdout gets.
    std::vector<test::XmlElement> elements;
    std::string why;
    ASSERT_TRUE(test::ParseXml(Report("/r.xml"), &elements, &why)) << why;
    ASSERT_GE(elements.size(), 6u);
    EXPECT_EQ(elements[0].attributes["tests"] + elements[0].attributes["failures"], "11");
    EXPECT_EQ(elements[3].attributes["name"], "interrupted");
    EXPECT_EQ(elements[5].attributes["message"], "HTTP 404");
    EXPECT_EQ(elements[5].text, "/w/ci/ページ.htm:1: " + failure);
  }
#ifdef VOXTREL_HAVE_QT
  // SARIF's required fields, read back with a real JSON parser.
  QJsonParseError error;
  const QJsonObject log =
      QJsonDocument::fromJson(QByteArray::fromStdString(out_.str()), &error).object();
  ASSERT_EQ(error.error, QJsonParseError::NoError);
  const QJsonObject run = log["runs"][0].toObject();
  const QJsonObject driver = run["tool"]["driver"].toObject();
  EXPECT_EQ(log["version"].toString() + " " + driver["name"].toString() + " " +
                driver["rules"][0]["id"].toString(),
            "2.1.0 voxtrel-check dead-link");
  EXPECT_TRUE(log["$schema"].toString().endsWith("sarif-schema-2.1.0.json"));
  EXPECT_TRUE(!driver["version"].toString().isEmpty());
  EXPECT_EQ(run["results"].toArray().size(), 1);
  const QJsonObject result = run["results"][0].toObject();
  EXPECT_EQ(result["ruleId"].toString() + " " + result["level"].toString(), "dead-link error");
  EXPECT_EQ(result["message"]["text"].toString().toStdString(), failure);
  const QJsonObject where = result["locations"][0]["physicalLocation"].toObject();
  EXPECT_EQ(where["artifactLocation"]["uri"].toString(), "%E3%83%9A%E3%83%BC%E3%82%B8.htm");
  EXPECT_EQ(where["region"]["startLine"].toInt(), 1);
#endif
}

// The checker as it runs for real: the disk, libcurl and a server on 127.0.0.1, for what only
// the real pool and the binary show.
class CheckerEndToEndTest : public CheckerTest {
 protected:
  void SetUp() override {
    real_ = true;
    httplib::Server& s = server_.server();
    s.Get("/ok", [](const auto&, auto& res) { res.set_content("ok", "text/plain"); });
    s.Get("/moved", [](const auto&, auto& res) { res.set_redirect("/ok"); });
    s.Get("/loop", [](const auto&, auto& res) { res.set_redirect("/loop"); });
    s.Get("/refresh", [](const auto&, auto& res) {
      res.set_content("0123456789<META HTTP-EQUIV=\"REFRESH\" CONTENT=\"0\">", "text/html");
    });
    s.Get("/error", [](const auto&, auto& res) { res.status = 500; });
    s.Get(R"(/old/(\w+))", [](const auto& req, auto& res) {
      res.set_redirect("/new/" + req.matches[1].str(), 301);
    });
    s.Get(R"(/new/\w+)", [](const auto&, auto& res) { res.set_content("ok", "text/plain"); });
    s.Get("/page", [this](const auto&, auto& res) {
      res.set_content("<a href=\"" + base_ + "/old/p\">p</a>\r\n", "text/html");
    });
    s.Get("/choices", [](const auto&, auto& res) { res.status = 300; });
    // A stand-in archive: every address has a copy, dated as asked.
    s.Get("/available", [this](const httplib::Request& req, auto& res) {
      ++archive_asks_;
      res.set_content(
          "{\"archived_snapshots\":{\"closest\":{\"status\":\"200\",\"available\":true,"
          "\"url\":\"http://web.archive.org/web/" +
              req.get_param_value("timestamp") + "/" + req.get_param_value("url") + "\"}}}",
          "application/json");
    });
    s.Get("/choices", [](const auto&, auto& res) { res.status = 300; });
    // Answers only what a browser sends for "http://例え.localhost:…/日本/a b" (*.localhost is
    // this machine to libcurl, without a name server).
    s.Get("/日本/a b", [](const auto& req, auto& res) {
      const bool sent = req.target == "/%E6%97%A5%E6%9C%AC/a%20b" &&
                        req.get_header_value("Host").starts_with("xn--r8jz45g.localhost:");
      res.status = sent ? 200 : 400;
    });
    // Compressed whatever the request asked for: only a client that decodes sees the refresh.
    s.Get("/packed", [](const auto&, auto& res) {
      const std::string page = "0123456789<META HTTP-EQUIV=\"REFRESH\" CONTENT=\"0\">";
      std::string packed;
      httplib::detail::gzip_compressor().compress(page.data(), page.size(), true,
                                                  [&packed](const char* data, size_t size) {
                                                    packed.append(data, size);
                                                    return true;
                                                  });
      res.set_header("Content-Encoding", "gzip");
      res.set_content(packed, "text/html");
    });
    // Answers when the test is over, long after the run's time-out.
    s.Get("/hold", [this](const auto&, auto&) { over_.wait_for(std::chrono::seconds(10)); });
    s.Get("/cut", [](const auto&, auto& res) {
      res.set_content_provider(1000, "text/plain", [](size_t, size_t, httplib::DataSink& sink) {
        sink.write("part", 4);
        return false;
      });
    });
    base_ = server_.Start();
    test::WriteFile(dir_ / "site/a.htm", "<A HREF=\"" + base_ + "/ok\">ok</A>\r\n<A HREF=\"" +
                                             base_ + "/gone\">gone</A>\r\n");
  }
  void TearDown() override { ended_.set_value(); }

  std::promise<void> ended_;
  std::shared_future<void> over_ = ended_.get_future().share();
  std::atomic<int> archive_asks_{0};
  test::LocalServer server_;
  test::TempDir dir_;
};

TEST_F(CheckerEndToEndTest, BinaryExitsWithTheRunsStatus) {
  const std::string bin = VOXTREL_CHECK_BINARY;
  const std::string site = dir_ / "site";
  const std::string report = dir_ / "r.csv";
  const std::string go = dir_ / "go";
  ASSERT_EQ(mkfifo(go.c_str(), 0600), 0);
  const struct {
    std::string command;
    int status;
  } cases[] = {
      {bin + " -q " + site + " >/dev/null 2>&1", kExitDeadLinks},
      // Rows nobody can take: the run stops, says so once and still writes its report.
      {bin + " -a -o " + report + " " + site + " >/dev/full 2>/dev/null", kExitUsage},
      // The reader is gone before the first row: it closes its end, then lets the run start,
      // with SIGPIPE as a shell would leave it (this process ignores it).
      {"(cat " + go + " >/dev/null; env --default-signal=PIPE " + bin + " -a -o " + report + " " +
           site + " 2>/dev/null; echo $? >" + (dir_ / "st") + ") | (exec 0<&-; echo >" + go +
           "); exit $(cat " + (dir_ / "st") + ")",
       kExitUsage},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.command);
    std::filesystem::remove(report);
    const int status = std::system(c.command.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), c.status);
    if (c.status == kExitUsage) {
      EXPECT_TRUE(std::filesystem::exists(report));
    }
  }
}

TEST_F(CheckerEndToEndTest, JsonRowsCarryEveryFieldAndWhyALinkFailed) {
#ifndef VOXTREL_HAVE_QT
  GTEST_SKIP() << "the rows are read back with Qt's JSON parser";
#else
  test::LocalServer closed;
  const std::string refused = closed.Start() + "/";
  closed.Stop();
  const std::string page = dir_ / "json/a.htm";
  const struct {
    std::string url;
    std::string fields;  // mark, status, reason, redirects
  } cases[] = {
      {base_ + "/ok", "◎ 200  0"},           {base_ + "/moved", "◎ 200  1"},
      {base_ + "/refresh", "△ 200  0"},      {base_ + "/gone", "× 404 HTTP 404 0"},
      {base_ + "/error", "× 500 HTTP 500 0"}, {refused, "× null connection refused 0"},
      {base_ + "/hold", "× null time-out 0"}, {base_ + "/loop", "× null too many redirects 10"},
      {base_ + "/cut", "× null answer cut off 0"}, {base_ + "/x.pl", "Ｐ null  0"},
      {base_ + "/choices", "× 300 HTTP 300 0"}, {base_ + "/packed", "△ 200  0"},
      {std::regex_replace(base_, std::regex("127.0.0.1"), "例え.localhost") + "/日本/a b",
       "◎ 200  0"},
  };
  const std::string name = "say \"hi\"\t\\ 𠮷";
  std::string bytes;
  for (const auto& c : cases) bytes += "<A HREF=\"" + c.url + "\">" + name + "</A>\r\n";
  test::WriteFile(page, bytes);
  EXPECT_EQ(Run({"--format", "json", "-a", "--per-host", "4", page}), kExitDeadLinks);
  std::istringstream lines(out_.str());
  std::string line;
  int no = 0;
  while (std::getline(lines, line)) {
    SCOPED_TRACE(line);
    ++no;
    ASSERT_LE(no, static_cast<int>(std::size(cases)));
    QJsonParseError error;
    const QJsonObject row =
        QJsonDocument::fromJson(QByteArray::fromStdString(line), &error).object();
    ASSERT_EQ(error.error, QJsonParseError::NoError);
    // A cut-off answer is asked once more, and its row says so.
    const bool cut = cases[no - 1].url.ends_with("/cut");
    EXPECT_EQ(row.size(), cut ? 11 : 10);
    EXPECT_EQ(row["tries"].toInt(1), cut ? 2 : 1);
    EXPECT_EQ(row["line"].toInt(), no);
    auto text = [&row](const char* key) { return row[key].toString().toStdString(); };
    EXPECT_EQ(row["no"].toInt(), no);
    EXPECT_EQ(text("url"), cases[no - 1].url);
    EXPECT_EQ(text("name"), name);
    EXPECT_EQ(text("page"), page);
    EXPECT_EQ(text("mark") + " " +
                  (row["status"].isNull() ? "null" : std::to_string(row["status"].toInt())) + " " +
                  text("reason") + " " + std::to_string(row["redirects"].toInt()),
              cases[no - 1].fields);
    EXPECT_GE(row["elapsed_ms"].toDouble(-1), 0);
  }
  EXPECT_EQ(no, static_cast<int>(std::size(cases)));
#endif
}

TEST_F(CheckerEndToEndTest, DeadLinksNameTheirArchivedCopyOnlyWhenAsked) {
  const std::string page = dir_ / "arc/a.htm";
  test::WriteFile(page, "<A HREF=\"" + base_ + "/gone\">1</A><A HREF=\"" + base_ +
                            "/ok\">2</A>\n<A HREF=\"" + base_ + "/gone\">3</A>\n");
  const std::string report = dir_ / "r.csv";
  EXPECT_EQ(Run({"--format=json", "--archive", "--archive-api", base_ + "/available", "-o", report,
                 "--report-detail", page}),
            kExitDeadLinks);
  // Both rows of the dead address take its one lookup, dated as the page was written.
  const std::regex copy(",\"archived\":\"http://web.archive.org/web/20[0-9]{6}/" + base_ +
                        "/gone\"\\}\n");
  const std::string rows = out_.str();
  EXPECT_EQ(
      std::distance(std::sregex_iterator(rows.begin(), rows.end(), copy), std::sregex_iterator()),
      2)
      << rows;
  EXPECT_EQ(archive_asks_, 1);
  EXPECT_NE(err_.str().find("; 0 excluded; 1 archive lookups; "), std::string::npos) << err_.str();
  EXPECT_NE(test::ReadFile(report).find("転送先,ｱｰｶｲﾌﾞ\r\n"), std::string::npos);
  EXPECT_EQ(Run({"--format=json", page}), kExitDeadLinks);
  EXPECT_EQ(out_.str().find("archived"), std::string::npos);
  EXPECT_EQ(err_.str().find("archive"), std::string::npos);
  EXPECT_EQ(archive_asks_, 1);
}

TEST_F(CheckerEndToEndTest, HttpsLinksAreTrustedOnlyWithTheirCertificate) {
  const std::string key = dir_ / "key.pem";
  const std::string cert = dir_ / "cert.pem";
  // An EC key is made in milliseconds where an RSA one takes a good part of a second.
  const std::string make = "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1"
                           " -nodes -keyout " + key + " -out " + cert + " -days 1"
                           " -subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1"
                           " >/dev/null 2>&1";
  ASSERT_EQ(std::system(make.c_str()), 0);
  test::LocalServer tls(cert, key);
  tls.server().Get("/ok", [](const auto&, auto& res) { res.set_content("ok", "text/plain"); });
  const std::string url = tls.Start() + "/ok";
  const std::string page = dir_ / "tls/a.htm";
  test::WriteFile(page, "<A HREF=\"" + url + "\">t</A>\r\n");
  // A handshake under a sanitizer on a busy machine may outlast the fixture's half second.
  EXPECT_EQ(Run({"--https", "-a", "--cacert", cert, "--timeout", "20", page}), kExitClean);
  EXPECT_EQ(out_.str(), "000001,◎," + url + ",t," + page + "\n");
  EXPECT_EQ(Run({"--https", "--format=json", "--timeout", "20", page}), kExitDeadLinks);
  EXPECT_NE(out_.str().find("\"reason\":\"certificate not trusted\""), std::string::npos);
}

TEST_F(CheckerEndToEndTest, HeadersAndNetrcCredentialsReachTheServerAndNoPasswordIsPrinted) {
  test::LocalServer server;
  server.server().Get("/h", [](const auto& req, auto& res) {
    res.status = req.get_header_value("X-A") == "b c" ? 200 : 404;
  });
  // Moved, so the address the link now leads to is written out: without the login.
  server.server().Get("/n", [](const auto& req, auto& res) {
    const bool in = req.get_header_value("Authorization") == "Basic dTpzM2NyZXQ=";
    res.status = in ? 301 : 401;
    if (in) res.set_header("Location", "/m");
  });
  server.server().Get("/m", [](const auto&, auto& res) { res.status = 200; });
  const std::string base = server.Start();
  const std::string page = dir_ / "auth/a.htm";
  const std::string netrc = dir_ / "netrc";
  test::WriteFile(page, "<A HREF=\"" + base + "/h\">h</A>\r\n<A HREF=\"" + base + "/n\">n</A>\r\n");
  test::WriteFile(netrc, "machine 127.0.0.1 login u password s3cret\n");
  EXPECT_EQ(Run({"-a", page}), kExitDeadLinks);
  EXPECT_EQ(Run({"-a", "--header", "X-A: b c", "--netrc-file", netrc, "-o", dir_ / "r.htm",
                 "--report-detail", page}),
            kExitClean);
  EXPECT_EQ(out_.str(), "000001,◎," + base + "/h,h," + page + "\n000002,◎," + base + "/n,n," +
                            page + "\n");
  const std::string said = out_.str() + err_.str() + test::ReadFile(dir_ / "r.htm");
  EXPECT_EQ(said.find("s3cret"), std::string::npos);
  EXPECT_EQ(said.find("b c"), std::string::npos);
  EXPECT_NE(said.find(base + "/m"), std::string::npos);
}

// Moved links in pages of every encoding and odd markup: shown as a diff that patch applies,
// written with nothing else changed, gone from a second run, and put back byte for byte.
TEST_F(CheckerEndToEndTest, MovedLinksAreRewrittenInPlaceAndPutBack) {
  // "@" is a moved link's address; "%" one only the old rule finds (in a comment), "~" one
  // only an HTML parser finds (unquoted).
  const std::map<std::string, std::string> pages = {
      {"sjis.htm",
       "<HTML><A HREF=\"@a\">\x82\xA0</A><a href=\"@b?q=1&amp;r=2\">b</a>\r\n"
       "<!-- <a href=\"%c\">c</a> -->\r\n<a href=\"" +
           base_ + "/gone\">x</a>\r\n"},
      {"euc.htm",
       "<meta charset=\"EUC-JP\">\n<a href=\"@d#top\">\xA4\xA2\x8E\xB1</a>\n"
       "<a href=~e>e</a>\n"},
      {"jis.htm", "<a href=\"@f\">\x1B$B$\"\x1B(B</a>\r\n"},
      {"utf8.htm", "\xEF\xBB\xBF<A HREF=\"@g\">\xE3\x81\x82</A> <a href=\"@h\">h</a>\n"},
  };
  const std::string site = dir_ / "site";
  auto page = [this](std::string text, std::string_view moved) {
    for (const char mark : std::string_view("@%~")) {
      const std::string now = base_ + (moved.find(mark) != moved.npos ? "/new/" : "/old/");
      for (size_t at; (at = text.find(mark)) != std::string::npos;) text.replace(at, 1, now);
    }
    return text;
  };
  const struct {
    std::vector<std::string> links;
    std::string_view moved;
  } modes[] = {{{}, "@%"}, {{"--links", "all"}, "@~"}};
  for (const auto& mode : modes) {
    SCOPED_TRACE(mode.moved);
    std::filesystem::remove_all(dir_ / "copy");
    for (const auto& [name, text] : pages) test::WriteFile(dir_ / "site/" + name, page(text, ""));
    std::filesystem::copy(site, dir_ / "copy", std::filesystem::copy_options::recursive);
    auto args = [&](std::vector<std::string> more) {
      more.insert(more.end(), mode.links.begin(), mode.links.end());
      more.insert(more.end(), {"--timeout", "20", site});  // a busy machine is no failure
      return more;
    };
    EXPECT_EQ(Run(args({"--fix", "moved"})), kExitDeadLinks);
    test::WriteFile(dir_ / "d.diff", out_.str());
    EXPECT_EQ(Run(args({"--fix", "moved", "--apply"})), kExitClean) << err_.str();
    for (const auto& [name, text] : pages)
      EXPECT_EQ(test::ReadFile(dir_ / "site/" + name), page(text, mode.moved)) << name;
    const std::string patch = "patch -s -p1 -d " + (dir_ / "copy") + " <" + (dir_ / "d.diff");
    if (std::system("patch --version >/dev/null 2>&1") == 0) {
      ASSERT_EQ(std::system(patch.c_str()), 0) << test::ReadFile(dir_ / "d.diff");
      for (const auto& [name, text] : pages)
        EXPECT_EQ(test::ReadFile(dir_ / "copy/" + name), page(text, mode.moved)) << name;
    }
    EXPECT_EQ(Run(args({"--fix", "moved"})), kExitDeadLinks);
    EXPECT_EQ(out_.str(), "");
    EXPECT_EQ(Run({"--fix", "undo", site}), kExitClean);
    for (const auto& [name, text] : pages)
      EXPECT_EQ(test::ReadFile(dir_ / "site/" + name), page(text, "")) << name;
  }
  // A web page is never written: its diff is a suggestion, on a terminal without its CRs.
  EXPECT_EQ(Run({"--fix", "moved", "--timeout", "20", base_ + "/page"}, true), kExitClean);
  EXPECT_EQ(out_.str(),
            "# voxtrel-check: a suggestion only: web pages are never changed\n"
            "--- a/page\n+++ b/page\n@@ -1,1 +1,1 @@\n-<a href=\"" +
                base_ + "/old/p\">p</a>\n+<a href=\"" + base_ + "/new/p\">p</a>\n");
}

}  // namespace
}  // namespace voxtrel
