#include "cli/checker.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <ctime>
#include <filesystem>
#include <initializer_list>
#include <memory>
#include <optional>
#include <regex>
#include <string_view>
#include <variant>

#include "cli/config_file.h"
#include "cli/mend_command.h"
#include "cli/options.h"
#include "output/ci_report.h"
#include "output/report_reader.h"
#include "output/report_writer.h"
#include "platform/disk.h"
#include "platform/http_pool.h"
#include "platform/text.h"
#include "run/outcome_cache.h"
#include "run/recheck.h"
#include "run/run.h"
#include "run/sitemap_run.h"
#include "run/suspect_setup.h"
#include "version.h"

namespace voxtrel {
namespace {

// What the run says on err, in the two languages it speaks; "{1}", "{2}" ... stand for what
// is filled in. Usage errors stay in the language of --help.
struct Texts {
  Language language;
  const char* checking;  // before the address on the progress line
  const char* cannot_fetch;
  const char* cannot_read_folder;
  const char* not_a_folder;
  const char* cannot_read;
  const char* cannot_write_report;
  const char* is_a_folder;
  const char* cannot_write_rows;
  const char* https_note;
  const char* done;
  const char* stopped;
  const char* summary;  // links checked, the counts, excluded, seconds, what a crawl did
  const char* mark_count;
  const char* count_separator;
  const char* crawl_progress;  // pages done, pages queued, the page
  const char* crawled;         // pages crawled, left out, disallowed
  const char* crawl_failed;    // pages that could not be fetched, when any
  const char* links_cut;       // pages whose links were cut
  const char* no_pages;
  const char* no_request_object;
  const char* page_cut;  // the MiB checked, the page
  const char* probes;    // requests asked only to judge answers
  const char* archive_lookups;     // requests asked of the web archive
  const char* rules_problem;       // the rules file, the line, why
  const char* rules_file_problem;  // the rules file, why
  const char* sitemap_pages;       // pages from the sitemap
  const char* sitemap_passed;      // pages left out by --max-pages, addresses of other sites
  const char* cannot_read_sitemap;  // the sitemap, why
  const char* ignored;             // links set aside, when a list of them was read
};

constexpr Texts kEnglish = {
    Language::kEnglish,
    "checking ",
    "voxtrel-check: cannot fetch {1}: {2}",
    "voxtrel-check: cannot read folder {1}: {2}",
    "voxtrel-check: {1} cannot be checked as a folder",
    "voxtrel-check: cannot read {1}",
    "voxtrel-check: cannot write report {1}: {2}",
    "it is a folder",
    "voxtrel-check: cannot write the rows to standard output",
    "{1} https:// links were not checked (add --https to check them)",
    "",
    "stopped; ",
    "voxtrel-check: {1}{2} links checked: {3}; {4} excluded; {6}{5} s",
    "{1} {2}",
    ", ",
    "[{1} done, {2} queued] {3} ",
    "{1} pages crawled, {2} left out by the bounds, {3} disallowed by robots.txt; ",
    "{1} pages could not be fetched; ",
    "{1} pages with more links than --max-links-per-page, the rest unchecked; ",
    "voxtrel-check: no pages (.htm, .html, .shtm, .shtml) found",
    "voxtrel-check: no HTTP request could be created",
    "voxtrel-check: page too long, only its first {1} MiB checked: {2}",
    "{1} probes; ",
    "{1} archive lookups; ",
    "{1}:{2}: {3}; line passed over",
    "{1}: {2}; file passed over",
    "{1} pages from the sitemap; ",
    "{1} left out by --max-pages, {2} addresses of other sites passed over; ",
    "voxtrel-check: {1}: {2}",
    "{1} ignored; ",
};

constexpr Texts kJapanese = {
    Language::kJapanese,
    "接続中 ： ",
    "voxtrel-check: WEBｻｰﾊﾞｰからHTMLを取得できません： {1} （{2}）",
    "voxtrel-check: ﾌｫﾙﾀﾞを読めません： {1} （{2}）",
    "voxtrel-check: ﾌｫﾙﾀﾞとして検査できません： {1}",
    "voxtrel-check: ﾌｧｲﾙを読めません： {1}",
    "voxtrel-check: 結果を保存できません： {1} （{2}）",
    "ﾌｫﾙﾀﾞです",
    "voxtrel-check: 標準出力に書き込めません",
    "https:// のﾘﾝｸ {1} 件は検査していません（--https で検査します）",
    "Voxtrelが完了しました。 ",
    "Voxtrelを中止しました。 ",
    "voxtrel-check: {1}ﾘﾝｸ {2} 件を検査： {3}、除外 {4} 件、{6}{5} 秒",
    "{2} {1} 件",
    " / ",
    "[済 {1} / 待ち {2}] {3} ",
    "ﾍﾟｰｼﾞ {1} 件をたどり、上限で省いたﾍﾟｰｼﾞ {2} 件、robots.txt で除外 {3} 件、",
    "取得できないﾍﾟｰｼﾞ {1} 件、",
    "ﾘﾝｸ数の上限で残りを省いたﾍﾟｰｼﾞ {1} 件、",
    "HTMLﾌｧｲﾙがみつかりません。",
    "XMLHTTPｵﾌﾞｼﾞｪｸﾄを作成できませんでした。",
    "ﾍﾟｰｼﾞが大きすぎるため、先頭の {1} MiB だけを検査しました： {2}",
    "ﾌﾟﾛｰﾌﾞ {1} 件、",
    "ｱｰｶｲﾌﾞ照会 {1} 件、",
    "{1}:{2}: {3}（この行は使いません）",
    "{1}: {2}（このﾌｧｲﾙは使いません）",
    "ｻｲﾄﾏｯﾌﾟのﾍﾟｰｼﾞ {1} 件、",
    "上限で省いたﾍﾟｰｼﾞ {1} 件、ほかのｻｲﾄのｱﾄﾞﾚｽ {2} 件、",
    "voxtrel-check: ｻｲﾄﾏｯﾌﾟを読めません： {1} （{2}）",
    "無視 {1} 件、",
};

// What the cache between runs says, in the two languages; a run never fails for its cache.
struct CacheTexts {
  const char* from_cache;  // outcomes taken from the cache, in the summary line
  const char* set_aside;   // the file, what was wrong with it, where it went
  const char* without;     // the file and why: the run goes on without a cache
  const char* failed;      // the file and why it stopped working during the run
  const char* no_folder;   // why there is no file to use
};

constexpr CacheTexts kCacheEnglish = {
    "{1} from the cache; ",
    "voxtrel-check: the cache {1} is damaged ({2}); set aside as {3}",
    "voxtrel-check: no cache this run: {1}: {2}",
    "voxtrel-check: the cache {1} stopped working: {2}",
    "neither XDG_CACHE_HOME nor HOME is set",
};

constexpr CacheTexts kCacheJapanese = {
    "ｷｬｯｼｭから {1} 件、",
    "voxtrel-check: ｷｬｯｼｭが壊れています： {1} （{2}）。{3} に移しました",
    "voxtrel-check: ｷｬｯｼｭを使わずに検査します： {1} （{2}）",
    "voxtrel-check: ｷｬｯｼｭが使えなくなりました： {1} （{2}）",
    "XDG_CACHE_HOME も HOME もありません",
};

const CacheTexts& CacheTextsOf(const Texts& texts) {
  return texts.language == Language::kJapanese ? kCacheJapanese : kCacheEnglish;
}

/// The run on a terminal: rows and messages as lines, progress on one redrawn line. A failed
/// write of a row raises the abort, as Ctrl-C does: nobody is reading any more.
class TerminalView : public RunView {
 public:
  TerminalView(std::ostream& out, std::ostream& err, const CheckerOptions& options,
               const Texts& texts, bool show_progress, bool out_is_terminal, AbortSignal& abort)
      : out_(out),
        err_(err),
        options_(options),
        texts_(texts),
        show_progress_(show_progress),
        out_is_terminal_(out_is_terminal),
        abort_(abort) {}

  bool output_failed() const { return output_failed_; }

  void RunStarted(size_t pages) override { pages_ = pages; }
  void PageStarted(const std::string& page) override {
    if (page != page_) {
      page_ = page;
      ++page_number_;
    }
    DrawProgress();
  }
  void Progress(const RunProgress& progress) override {
    if (progress.pages_done == pages_done_ && progress.pages_found == pages_found_) return;
    pages_done_ = progress.pages_done;
    pages_found_ = progress.pages_found;
    DrawProgress();
  }
  void LinkStarted(const std::string& target) override {
    link_ = target;
    DrawProgress();
  }
  // Rows kept for a change set or a JUnit report are printed only as -a says.
  void RowAdded(const ResultRow& row) override {
    if (IsListed(row.outcome, options_.all_results)) PrintRow(row);
  }
  // A row asked again is written as a new one would be, under its old number.
  void RowUpdated(const ResultRow& row) override {
    if (IsListed(row.outcome, options_.all_results)) PrintRow(row);
  }
  void PrintRow(const ResultRow& row) {
    // With --fix stdout carries the diff alone.
    if (output_failed_ || options_.fix) return;
    ClearProgress();
    // A CI report is written whole once the run ends: its rows are not printed as they come.
    if (!options_.ci_format && !WriteRowLine(row)) return;
    // Why a link failed, or looks dead though it answered, where a person watches the run.
    const CheckOutcome::Kind kind = row.outcome.kind;
    if ((kind == CheckOutcome::Kind::kFailed || kind == CheckOutcome::Kind::kSuspect) &&
        show_progress_)
      err_ << "  " << MarkOf(row.outcome) << " " << ReasonText(row.outcome, texts_.language)
           << "\n";
    DrawProgress();
  }
  void Yield() override {}
  // Questions are the confirmations before a run: the command line already said yes.
  MessageAnswer Notify(const Notice& notice) override {
    const std::string line = options_.quiet ? std::string() : LineFor(notice);
    if (!line.empty()) {
      ClearProgress();
      err_ << line << "\n";
      err_.flush();
    }
    return MessageAnswer::kOk;
  }

  // Writes the row to out as a line; false, with the abort raised, when it could not.
  bool WriteRowLine(const ResultRow& row) {
    // A page's text must not drive the terminal: controls in it are shown, not obeyed.
    const std::string line = options_.json_rows ? JsonRow(row) : CsvRowLine(row);
    out_ << (out_is_terminal_ ? TerminalSafe(line) : line) << "\n";
    out_.flush();
    if (out_) return true;
    output_failed_ = true;
    abort_.Raise();
    return false;
  }

  void ClearProgress() {
    if (drawn_) {
      err_ << "\r\x1b[K";
      err_.flush();
      drawn_ = false;
    }
  }

 private:
  void DrawProgress() {
    if (!show_progress_ || pages_ == 0) return;
    // A crawl finds its pages as it goes: the page itself, and how many are done and to come.
    const std::string where =
        options_.crawl
            ? Fill(texts_.crawl_progress,
                   {std::to_string(pages_done_),
                    std::to_string(pages_found_ - std::min(pages_found_, pages_done_)),
                    TerminalSafe(page_)})
            : "[" + std::to_string(std::max<size_t>(page_number_, 1)) + "/" +
                  std::to_string(pages_) + "] ";
    std::string line = where + texts_.checking + TerminalSafe(link_);
    // Keep the line short enough not to wrap on a narrow terminal, so \r can redraw it.
    if (Utf8Length(line) > 100) {
      size_t chars = 0;
      size_t cut = 0;
      while (cut < line.size() && chars < 99) {
        ++cut;
        while (cut < line.size() && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80) ++cut;
        ++chars;
      }
      line = line.substr(0, cut) + "…";
    }
    err_ << "\r\x1b[K" << line;
    err_.flush();
    drawn_ = true;
  }

  // A notice as a line of the checker's texts; "" for what is said elsewhere: how a run ended
  // in the summary line, why a target could not be checked in the checker's own error line.
  std::string LineFor(const Notice& notice) const {
    if (const auto* cut = std::get_if<notice::PageCut>(&notice))
      return Fill(texts_.page_cut, {std::to_string(cut->checked_mib), cut->page});
    if (const auto* failed = std::get_if<notice::SaveFailed>(&notice))
      return Fill(texts_.cannot_write_report, {failed->path, failed->error});
    if (std::holds_alternative<notice::NoPages>(notice)) return texts_.no_pages;
    if (std::holds_alternative<notice::NoRequestObject>(notice)) return texts_.no_request_object;
    return "";
  }

  std::ostream& out_;
  std::ostream& err_;
  const CheckerOptions& options_;
  const Texts& texts_;
  bool show_progress_;
  bool out_is_terminal_;
  AbortSignal& abort_;
  size_t pages_ = 0;
  std::string page_;
  std::string link_;
  size_t page_number_ = 0;
  size_t pages_done_ = 0;
  size_t pages_found_ = 0;
  bool drawn_ = false;
  bool output_failed_ = false;
};

// The folder as an absolute path without resolving symlinks, so the page column names the pages
// the way the user reached them.
std::string AbsoluteFolder(const std::string& target) {
  std::error_code ec;
  std::filesystem::path absolute = std::filesystem::absolute(target, ec);
  std::string folder = ec ? target : absolute.lexically_normal().string();
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return folder;
}

HttpOptions HttpOptionsFor(const CheckerEnvironment& env, const CheckerOptions& options) {
  HttpOptions http = env.http;
  if (options.timeout_s) {
    const long ms = std::max(1L, std::lround(*options.timeout_s * 1000));
    http.total_timeout_ms = ms;
    http.connect_timeout_ms = std::min(15000L, ms);
  }
  if (options.user_agent) http.user_agent = *options.user_agent;
  if (options.ca_file) http.ca_file = *options.ca_file;
  http.headers = options.headers;
  http.netrc = options.netrc || options.netrc_file;
  http.netrc_file = options.netrc_file.value_or("");
  return http;
}

// Whether a report can be written at `path`, asked before the run so a long run never ends in a
// report that cannot be saved. An existing file is not touched.
bool ReportPathWritable(DiskInterface& disk, const std::string& path, const Texts& texts,
                        std::string* why) {
  if (disk.IsFolder(path)) {
    *why = texts.is_a_folder;
    return false;
  }
  return disk.CanWrite(path, why);
}

std::function<bool(const std::string&)> ExcludeTest(const std::vector<std::string>& patterns) {
  if (patterns.empty()) return nullptr;
  auto compiled = std::make_shared<std::vector<std::regex>>();
  for (const std::string& pattern : patterns) compiled->emplace_back(pattern, std::regex::ECMAScript);
  return [compiled](const std::string& target) {
    for (const std::regex& re : *compiled)
      if (std::regex_search(target, re)) return true;
    return false;
  };
}

// "3 pages from the sitemap; ", and what it listed that was not checked.
std::string SitemapCounts(const RunSummary& summary, const Texts& texts) {
  std::string counts = Fill(texts.sitemap_pages, {std::to_string(summary.pages.size())});
  if (summary.pages_left_out > 0 || summary.pages_disallowed > 0)
    counts += Fill(texts.sitemap_passed, {std::to_string(summary.pages_left_out),
                                          std::to_string(summary.pages_disallowed)});
  return counts;
}

// "12 links checked: 1 ×, 10 ◎, 0 △, 1 Ｐ; 2 excluded; 0.4 s", or the same in Japanese with
// how the run ended; after a crawl, its pages too; when answers were judged, the ？ rows and the
// probes; when archived copies were looked up, the lookups. The https:// links passed over have
// their own note.
std::string SummaryLine(const RunSummary& summary, const Texts& texts, double seconds, bool colour,
                        const CheckerOptions& options, bool ignoring) {
  const bool crawled = options.crawl;
  const bool suspect = options.suspect;
  const bool sitemap = options.sitemap.has_value();
  const bool archive = options.archive;
  const std::array<size_t, kMarkCount>& counts = summary.rows_by_mark;
  auto paint = [colour](const std::string& text, const char* code) {
    return colour ? std::string("\x1b[") + code + "m" + text + "\x1b[0m" : text;
  };
  const char* const codes[kMarkCount] = {counts[0] ? "31" : "0", "32", nullptr, nullptr,
                                         counts[4] ? "33" : "0"};
  std::string marks;
  for (size_t i = 0; i < (suspect ? kMarkCount : kClassicMarkCount); ++i) {
    const std::string shown = Fill(texts.mark_count, {std::to_string(counts[i]), kMarks[i]});
    marks += (i ? texts.count_separator : "") + (codes[i] ? paint(shown, codes[i]) : shown);
  }
  char time[32];
  std::snprintf(time, sizeof time, "%.1f", seconds);
  std::string crawl;
  if (ignoring) crawl = Fill(texts.ignored, {std::to_string(summary.ignored)});
  if (suspect) crawl += Fill(texts.probes, {std::to_string(summary.probes)});
  if (archive) crawl += Fill(texts.archive_lookups, {std::to_string(summary.archive_lookups)});
  if (crawled)
    crawl += Fill(texts.crawled,
                  {std::to_string(summary.pages.size()), std::to_string(summary.pages_left_out),
                   std::to_string(summary.pages_disallowed)});
  if (sitemap) crawl += SitemapCounts(summary, texts);
  if ((crawled || sitemap) && summary.pages_failed > 0)
    crawl += Fill(texts.crawl_failed, {std::to_string(summary.pages_failed)});
  if (!summary.pages_links_cut.empty())
    crawl += Fill(texts.links_cut, {std::to_string(summary.pages_links_cut.size())});
  if (options.cache)
    crawl = Fill(CacheTextsOf(texts).from_cache, {std::to_string(summary.from_cache)}) + crawl;
  return Fill(texts.summary, {summary.outcome == RunOutcome::kAborted ? texts.stopped : texts.done,
                              std::to_string(summary.links_checked), marks,
                              std::to_string(summary.excluded), time, crawl});
}

// Checks the pages of the sitemap asked for; exit status 2 when it cannot be read.
std::variant<int, RunSummary> CheckSitemap(const RunSeams& seams, const RunSettings& settings,
                                           TerminalView& view, const CheckerOptions& options,
                                           const Texts& texts, std::ostream& err) {
  SitemapRun run = RunSitemap(seams, settings, *options.sitemap, options.crawl_bounds.max_pages);
  if (run.summary.outcome != RunOutcome::kTargetUnreadable) return std::move(run.summary);
  view.ClearProgress();
  if (run.why.empty())
    err << Fill(texts.cannot_fetch,
                {run.unreadable, ReasonText(run.summary.fetch_answer, texts.language)});
  else
    err << Fill(texts.cannot_read_sitemap, {run.unreadable, run.why});
  err << "\n";
  return kExitUsage;
}

// Runs the check the target names; an exit status when it could not run, its summary when it
// ran.
std::variant<int, RunSummary> RunTarget(const RunSeams& seams, const RunSettings& settings,
                                        TerminalView& view, const CheckerOptions& options,
                                        const Texts& texts, std::ostream& err) {
  if (options.sitemap) return CheckSitemap(seams, settings, view, options, texts, err);
  const std::string& target = options.target;
  if (IsWebAddress(target)) {
    RunSummary summary = options.crawl
                             ? RunCrawl(seams, settings, target, options.crawl_bounds)
                             : RunSinglePage(seams, settings, target, SinglePageMode::kWebPage);
    if (summary.outcome != RunOutcome::kTargetUnreadable) return summary;
    view.ClearProgress();
    err << Fill(texts.cannot_fetch, {target, ReasonText(summary.fetch_answer, texts.language)})
        << "\n";
    return kExitUsage;
  }
  if (seams.disk.IsFolder(target)) {
    std::string folder = AbsoluteFolder(target);
    std::vector<DirEntry> entries;
    std::string list_error;
    if (!seams.disk.ListFolder(folder, &entries, &list_error)) {
      err << Fill(texts.cannot_read_folder, {target, list_error}) << "\n";
      return kExitUsage;
    }
    RunSummary summary = RunFolder(seams, settings, folder, options.recursive);
    switch (summary.outcome) {
      case RunOutcome::kFolderRefused:
        err << Fill(texts.not_a_folder, {target}) << "\n";
        return kExitUsage;
      case RunOutcome::kNoPages:
        // A CI job pointed at the wrong folder must not pass.
        return kExitUsage;
      default:
        return summary;
    }
  }
  if (!seams.disk.FileExists(target)) {
    err << Fill(texts.cannot_read, {target}) << "\n";
    return kExitUsage;
  }
  // A named root is absolute, and so must the page be to be seen under it, or to be named under
  // the folder a change set keeps its backups in.
  const bool absolute = !settings.root.empty() || options.fix;
  return RunSinglePage(seams, settings, absolute ? AbsoluteFolder(target) : target,
                       SinglePageMode::kLocalFile);
}

// Asks the × rows of a report again; an exit status when the report cannot be read.
std::variant<int, RunSummary> RecheckReport(const RunSeams& seams, const RunSettings& settings,
                                            const std::string& path, std::ostream& err) {
  std::string why;
  // Read a row at a time: a report of millions of rows is never held whole.
  const std::unique_ptr<InputFile> file = seams.disk.OpenForReading(path, &why);
  seams.results.Clear();
  if (!file || !ReadJsonReport(*file, settings.keep_query, &seams.results, &why)) {
    err << "voxtrel-check: cannot read report " << path << ": " << why << "\n";
    return kExitUsage;
  }
  return RecheckFailed(seams, settings);
}

// The -o report's CI form, when it has one.
std::optional<CiForm> ReportCiForm(const CheckerOptions& options) {
  if (!options.report_path || options.report_ci_form) return options.report_ci_form;
  return options.report_form ? std::nullopt : CiFormForName(*options.report_path);
}

// A JUnit report makes every link a test case, those that passed too.
bool ReportsEveryLink(const CheckerOptions& options) {
  return options.ci_format == CiForm::kJunit || ReportCiForm(options) == CiForm::kJunit;
}

RunSettings SettingsFor(const CheckerOptions& options) {
  RunSettings settings;
  // Moved links are ◎ rows: kept for the change set (or a JUnit report), printed only as -a says.
  settings.show_all = options.all_results || options.fix == "moved" || ReportsEveryLink(options);
  settings.stamp_pages = options.fix.has_value();
  settings.https = options.https;
  settings.keep_query = options.keep_query;
  settings.all_links = options.all_links;
  if (options.root) settings.root = AbsoluteFolder(*options.root);
  settings.jobs = options.jobs;
  settings.per_host = options.per_host;
  settings.once = options.once;
  settings.excluded = ExcludeTest(options.excludes);
  settings.max_links_per_page = options.crawl_bounds.max_links_per_page;
  settings.retries = options.retries;
  settings.rate = options.rate;
  settings.accept = options.accept;
  settings.archive.look_up = options.archive;
  if (options.archive_api) settings.archive.api = *options.archive_api;
  return settings;
}

// The lines of the rules files that were passed over, each as a compiler tells a line: the run
// goes on with the others.
void TellRulesProblems(const std::vector<RulesProblem>& problems, const Texts& texts,
                       std::ostream& err) {
  for (const RulesProblem& problem : problems) {
    if (problem.line == 0)
      err << Fill(texts.rules_file_problem, {problem.file, problem.why}) << "\n";
    else
      err << Fill(texts.rules_problem, {problem.file, std::to_string(problem.line), problem.why})
          << "\n";
  }
}

// A header's value may be a password or a token; a report keeps only its name.
std::string WithoutHeaderValue(const std::string& arg, bool after_header) {
  const bool joined = arg.starts_with("--header=");
  if (!after_header && !joined) return arg;
  const size_t colon = arg.find(':');
  return colon == std::string::npos ? arg : arg.substr(0, colon + 1) + " ...";
}

int Usage(std::ostream& err, const std::string& why) {
  err << "voxtrel-check: " << why << "\n" << "Try 'voxtrel-check --help'.\n";
  return kExitUsage;
}

// A run as the command line asks for it, checked as far as it can be before any request.
struct PreparedRun {
  CheckerOptions options;
  RunSettings settings;
  HttpOptions http;
  ReportHeading heading;
  /// Also in settings.cache; null without --cache or when it could not be opened.
  std::shared_ptr<SqliteOutcomeCache> cache;
  std::string cache_path;
  /// A list of links set aside was read and is not empty: the summary counts them.
  bool ignoring = false;
};

// The cache the command line asks for; null, after a warning, when there is none to be had.
std::shared_ptr<SqliteOutcomeCache> OpenCache(PreparedRun& run, const CheckerEnvironment& env,
                                              const Texts& texts, std::ostream& err) {
  const CacheTexts& words = CacheTextsOf(texts);
  OutcomeCacheOptions cache;
  cache.path = run.cache_path = run.options.cache_file.value_or(env.cache_file);
  if (cache.path.empty()) {
    err << Fill(words.without, {"$XDG_CACHE_HOME/voxtrel/cache.sqlite", words.no_folder}) << "\n";
    return nullptr;
  }
  cache.max_age_s = run.options.max_cache_age_s;
  // What the server is asked with may change its answer as much as the run's own settings.
  cache.settings = VerdictSettingsOf(run.settings) + ";user_agent=" + run.http.user_agent +
                   ";ca_file=" + run.http.ca_file + ";netrc=" + (run.http.netrc ? "1" : "0") +
                   ";netrc_file=" + run.http.netrc_file;
  for (const std::string& header : run.http.headers) cache.settings += ";header=" + header;
  CacheOpening opening = OpenOutcomeCache(cache);
  if (!opening.set_aside.empty())
    err << Fill(words.set_aside, {cache.path, opening.damage, opening.set_aside}) << "\n";
  if (!opening.cache) err << Fill(words.without, {cache.path, opening.why}) << "\n";
  return opening.cache;
}

// The folder a change set of a local target works in; "" for a web target.
std::string MendRootOf(DiskInterface& disk, const std::string& target) {
  // A sitemap run has no TARGET: its pages are on the web.
  return target.empty() || IsWebAddress(target) ? "" : MendRoot(disk, AbsoluteFolder(target));
}

// Sets the run aside the links its lists name; false after telling why one cannot be read.
bool SetUpIgnored(DiskInterface& disk, PreparedRun* run, std::ostream& err) {
  auto list = std::make_shared<IgnoreList>();
  std::string why;
  if (!ReadIgnoreLists(disk, MendRootOf(disk, run->options.target), run->options.ignore_files,
                       list.get(), &why)) {
    Usage(err, why);
    return false;
  }
  if (list->empty()) return true;
  run->ignoring = true;
  run->settings.ignored = [list](const std::string& address) { return list->Matches(address); };
  return true;
}

// Reads the command line and checks what it names; an exit status when there is nothing to
// run (help, version, a usage error, a report that could not be written).
std::variant<int, PreparedRun> PrepareRun(const std::vector<std::string>& args, std::ostream& out,
                                          std::ostream& err, const CheckerEnvironment& env,
                                          const Texts& texts) {
  PreparedRun run;
  CheckerOptions& options = run.options;
  std::string parse_error;
  std::string dump;
  switch (ParseCheckerConfig(args, env.config_file, &options, &dump, &parse_error)) {
    case ParseOutcome::kHelp: out << kCheckerUsage; return kExitClean;
    case ParseOutcome::kVersion: out << "voxtrel-check " << kVersionString << "\n"; return kExitClean;
    case ParseOutcome::kError: return Usage(err, parse_error);
    case ParseOutcome::kRun: break;
  }
  if (options.dump_config) {
    out << dump;
    return kExitClean;
  }
  if (options.recursive && IsWebAddress(options.target))
    return Usage(err, "-r takes a folder, not a web address");
  if (options.crawl && !IsWebAddress(options.target))
    return Usage(err, "--crawl takes a web address (http:// or https://), not a folder or file");
  if (const std::string mend_error = MendUsageError(options, args); !mend_error.empty())
    return Usage(err, mend_error);
  if (options.fix == "undo") return run;
  if (options.report_detail && !options.report_path)
    return Usage(err, "--report-detail needs a report: -o FILE");
  std::string why;
  if (options.report_path && !ReportPathWritable(*env.disk, *options.report_path, texts, &why)) {
    err << Fill(texts.cannot_write_report, {*options.report_path, why}) << "\n";
    return kExitUsage;
  }
  if (options.ca_file && !env.disk->FileExists(*options.ca_file))
    return Usage(err, "cannot read " + *options.ca_file);
  if (options.netrc_file && !env.disk->FileExists(*options.netrc_file))
    return Usage(err, "cannot read " + *options.netrc_file);
  if (!options.suspect && (options.fail_on_suspect || !options.suspect_rules.empty()))
    return Usage(err, options.fail_on_suspect ? "--fail-on-suspect needs --suspect"
                                              : "--suspect-rules needs --suspect");
  if (options.archive_api && !options.archive) return Usage(err, "--archive-api needs --archive");

  run.settings = SettingsFor(options);
  if (options.suspect) {
    SuspectSetup suspect;
    const std::string today = env.today.empty() ? LocalDate(std::time(nullptr)) : env.today;
    if (!SetUpSuspect(*env.disk, env.user_rules, options.suspect_rules, today, &suspect, &why))
      return Usage(err, why);
    TellRulesProblems(suspect.problems, texts, err);
    run.settings.suspect = std::move(suspect.settings);
  }
  if (!options.recheck_path && !SetUpIgnored(*env.disk, &run, err)) return kExitUsage;
  run.http = HttpOptionsFor(env, options);
  if (options.cache) run.settings.cache = run.cache = OpenCache(run, env, texts, err);
  RunRequest request{options.recursive, run.http.total_timeout_ms, std::nullopt};
  if (options.crawl) request.crawl = options.crawl_bounds;
  const std::string& checked = options.sitemap ? *options.sitemap : options.target;
  run.heading = HeadingForRun(IsWebAddress(checked) ? checked : AbsoluteFolder(checked),
                              run.settings, request);
  // The command as given is the surest account of how the run was asked for; the words before
  // it add what it leaves to the defaults.
  run.heading.options += " (voxtrel-check";
  for (size_t i = 0; i < args.size(); ++i)
    run.heading.options += " " + WithoutHeaderValue(args[i], i > 0 && args[i - 1] == "--header");
  run.heading.options += ")";
  return run;
}

}  // namespace

int ExitStatus(const RunSummary& summary, bool output_failed, bool fail_on_suspect) {
  const bool suspect_fails = fail_on_suspect && summary.rows_by_mark[4] > 0;
  return output_failed                             ? kExitUsage
         : summary.outcome == RunOutcome::kAborted ? kExitInterrupted
         : summary.rows_by_mark[0] > 0             ? kExitDeadLinks
         : suspect_fails                           ? kExitDeadLinks
         : !summary.pages_cut.empty()              ? kExitDeadLinks
         : !summary.pages_links_cut.empty()        ? kExitDeadLinks
                                                   : kExitClean;
}

namespace {

// What a CI report says beside the rows: what was checked, from where, when and how long.
CiContext CiContextFor(const PreparedRun& run, const RunSummary& summary,
                       const CheckerEnvironment& env, double seconds) {
  const CheckerOptions& options = run.options;
  CiContext context;
  std::error_code ec;
  context.current_folder =
      env.current_folder.empty() ? std::filesystem::current_path(ec).string() : env.current_folder;
  context.checked = options.recheck_path.value_or(options.target);
  if (options.recheck_path)
    context.checked_folder = context.current_folder;
  else if (!IsWebAddress(options.target))
    context.checked_folder =
        env.disk->IsFolder(options.target)
            ? AbsoluteFolder(options.target)
            : std::filesystem::path(AbsoluteFolder(options.target)).parent_path().string();
  context.timestamp = run.heading.when;
  std::replace(context.timestamp.begin(), context.timestamp.end(), ' ', 'T');
  char host[256] = {};
  if (gethostname(host, sizeof host - 1) == 0) context.hostname = host;
  context.seconds = seconds;
  context.interrupted = summary.outcome == RunOutcome::kAborted;
  return context;
}

// The rows a report in `ci` form (none: a classic one) is asked for: rows kept only for
// --fix moved or for a JUnit report stay out of the others, as out of stdout.
ResultRows AskedRows(const PreparedRun& run, const ResultList& results, std::optional<CiForm> ci,
                     std::vector<ResultRow>* kept) {
  if (!run.settings.show_all || run.options.all_results || ci == CiForm::kJunit) return results;
  for (const ResultRow& row : ResultRows(results))
    if (IsListed(row.outcome, false)) kept->push_back(row);
  return ResultRows(*kept);
}

// Writes the -o report in the form asked or named; false, told on err, when it could not be.
bool SaveCheckerReport(const PreparedRun& run, const CiContext& context, const RunSeams& seams,
                       std::ostream& err, const Texts& texts) {
  const CheckerOptions& options = run.options;
  const std::string& path = *options.report_path;
  const std::optional<CiForm> ci = ReportCiForm(options);
  std::vector<ResultRow> kept;
  const ResultRows rows = AskedRows(run, seams.results, ci, &kept);
  std::string write_error;
  bool written = false;
  if (ci) {
    written = seams.disk.WriteWholeFile(path, FormatCiReport(rows, *ci, context), &write_error);
  } else {
    ReportFormat format;
    format.form = options.report_form.value_or(ReportFormForCheckerName(path));
    format.detailed = options.report_detail;
    format.encoding = options.report_encoding.value_or(
        options.report_detail ? ReportEncoding::kUtf8 : ReportEncoding::kShiftJis);
    written = WriteReport(seams.disk, rows, path, format, &write_error, run.heading);
  }
  if (!written) err << Fill(texts.cannot_write_report, {path, write_error}) << "\n";
  return written;
}

// Ends a run that ran: its reports, the https note and the summary; returns the exit status.
int FinishRun(PreparedRun& run, const RunSummary& summary, TerminalView& view,
              const RunSeams& seams, std::ostream& out, std::ostream& err,
              const CheckerEnvironment& env, const Texts& texts,
              std::chrono::steady_clock::time_point started) {
  const CheckerOptions& options = run.options;
  view.ClearProgress();
  if (options.crawl) run.heading.crawl = CrawlCountsOf(summary);
  int status = ExitStatus(summary, view.output_failed(), options.fail_on_suspect);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  const CiContext context = CiContextFor(run, summary, env, seconds);
  bool ci_failed = false;
  // With --fix, stdout carries the change set alone.
  if (options.ci_format && !options.fix) {
    std::vector<ResultRow> kept;
    out << FormatCiReport(AskedRows(run, seams.results, options.ci_format, &kept),
                          *options.ci_format, context);
    out.flush();
    ci_failed = !out;
    if (ci_failed) status = kExitUsage;
  }
  // A closed pipe or a full disk behind standard output: the run stopped, the report is kept.
  if (view.output_failed() || ci_failed) err << texts.cannot_write_rows << "\n";
  if (options.report_path && !SaveCheckerReport(run, context, seams, err, texts) &&
      status != kExitInterrupted)
    status = kExitUsage;
  if (run.cache && !run.cache->Flush() && !run.cache->failure().empty())
    err << Fill(CacheTextsOf(texts).failed, {run.cache_path, run.cache->failure()}) << "\n";
  if (summary.https_skipped > 0 && !options.https)
    err << Fill(texts.https_note, {std::to_string(summary.https_skipped)}) << "\n";
  if (!options.quiet)
    err << SummaryLine(summary, texts, seconds, env.err_is_terminal && !env.no_color, options,
                       run.ignoring)
        << "\n";
  return status;
}

}  // namespace

bool IsJapaneseLocale(const char* lc_all, const char* lc_messages, const char* lang) {
  for (const char* value : {lc_all, lc_messages, lang})
    if (value && *value) return std::string_view(value).starts_with("ja");
  return false;
}

int RunChecker(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
               const CheckerEnvironment& env) {
  const Texts& texts = env.japanese ? kJapanese : kEnglish;
  std::variant<int, PreparedRun> prepared = PrepareRun(args, out, err, env, texts);
  if (const int* status = std::get_if<int>(&prepared)) return *status;
  PreparedRun& run = std::get<PreparedRun>(prepared);
  if (run.options.fix == "undo")
    return UndoMendsCommand(*env.disk, MendRootOf(*env.disk, run.options.target), err,
                            env.japanese);

  const auto started = std::chrono::steady_clock::now();
  const std::unique_ptr<HttpPool> pool = env.make_pool(run.http);
  AbortSignal own_abort;
  AbortSignal& abort = env.abort ? *env.abort : own_abort;
  TerminalView view(out, err, run.options, texts, env.err_is_terminal && !run.options.quiet,
                    env.out_is_terminal, abort);
  ResultList results;
  const RunSeams seams{view, *env.disk, *pool, results, abort, env.clock};
  std::variant<int, RunSummary> ran =
      run.options.recheck_path ? RecheckReport(seams, run.settings, *run.options.recheck_path, err)
                               : RunTarget(seams, run.settings, view, run.options, texts, err);
  if (const int* failed = std::get_if<int>(&ran)) return *failed;
  const RunSummary& summary = std::get<RunSummary>(ran);
  const int status = FinishRun(run, summary, view, seams, out, err, env, texts, started);
  if (!run.options.fix || status == kExitUsage || status == kExitInterrupted) return status;
  return MendAfterRun(seams, run.settings, run.options, summary,
                      MendRootOf(*env.disk, run.options.target), out, err, env, status);
}

}  // namespace voxtrel
