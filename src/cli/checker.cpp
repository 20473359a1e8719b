#include "cli/checker.h"

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

#include "cli/mend_command.h"
#include "cli/options.h"
#include "output/report_reader.h"
#include "output/report_writer.h"
#include "platform/disk.h"
#include "platform/http_pool.h"
#include "platform/text.h"
#include "run/recheck.h"
#include "run/run.h"
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
  const char* rules_problem;       // the rules file, the line, why
  const char* rules_file_problem;  // the rules file, why
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
    "{1}:{2}: {3}; line passed over",
    "{1}: {2}; file passed over",
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
    "{1}:{2}: {3}（この行は使いません）",
    "{1}: {2}（このﾌｧｲﾙは使いません）",
    "無視 {1} 件、",
};

// `pattern` with "{1}", "{2}" ... replaced by the first, second ... of `values`.
std::string Fill(std::string_view pattern, std::initializer_list<std::string> values) {
  std::string text;
  for (size_t i = 0; i < pattern.size(); ++i) {
    const size_t n = i + 2 < pattern.size() && pattern[i] == '{' && pattern[i + 2] == '}'
                         ? static_cast<size_t>(pattern[i + 1] - '1')
                         : values.size();
    if (n < values.size()) {
      text += values.begin()[n];
      i += 2;
    } else {
      text += pattern[i];
    }
  }
  return text;
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
  void RowAdded(const ResultRow& row) override { PrintRow(row); }
  // A row asked again is written as a new one would be, under its old number.
  void RowUpdated(const ResultRow& row) override {
    if (IsListed(row.outcome, options_.all_results)) PrintRow(row);
  }
  void PrintRow(const ResultRow& row) {
    // With --fix stdout carries the diff alone.
    if (output_failed_ || options_.fix) return;
    ClearProgress();
    // A page's text must not drive the terminal: controls in it are shown, not obeyed.
    const std::string line = options_.json_rows ? JsonRow(row) : CsvRowLine(row);
    out_ << (out_is_terminal_ ? TerminalSafe(line) : line) << "\n";
    out_.flush();
    if (!out_) {
      output_failed_ = true;
      abort_.Raise();
      return;
    }
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

// "12 links checked: 1 ×, 10 ◎, 0 △, 1 Ｐ; 2 excluded; 0.4 s", or the same in Japanese with
// how the run ended; after a crawl, its pages too; when answers were judged, the ？ rows and the
// probes. The https:// links passed over have their own note.
std::string SummaryLine(const RunSummary& summary, const Texts& texts, double seconds, bool colour,
                        bool crawled, bool suspect, bool ignoring) {
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
  if (crawled)
    crawl += Fill(texts.crawled,
                  {std::to_string(summary.pages.size()), std::to_string(summary.pages_left_out),
                   std::to_string(summary.pages_disallowed)});
  if (crawled && summary.pages_failed > 0)
    crawl += Fill(texts.crawl_failed, {std::to_string(summary.pages_failed)});
  if (!summary.pages_links_cut.empty())
    crawl += Fill(texts.links_cut, {std::to_string(summary.pages_links_cut.size())});
  return Fill(texts.summary, {summary.outcome == RunOutcome::kAborted ? texts.stopped : texts.done,
                              std::to_string(summary.links_checked), marks,
                              std::to_string(summary.excluded), time, crawl});
}

// Runs the check the target names; an exit status when it could not run, its summary when it
// ran.
std::variant<int, RunSummary> RunTarget(const RunSeams& seams, const RunSettings& settings,
                                        TerminalView& view, const CheckerOptions& options,
                                        const Texts& texts, std::ostream& err) {
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

RunSettings SettingsFor(const CheckerOptions& options) {
  RunSettings settings;
  // Moved links are ◎ rows: kept for the change set, printed only as -a says.
  settings.show_all = options.all_results || options.fix == "moved";
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
  /// A list of links set aside was read and is not empty: the summary counts them.
  bool ignoring = false;
};

// The folder a change set of a local target works in; "" for a web target.
std::string MendRootOf(DiskInterface& disk, const std::string& target) {
  return IsWebAddress(target) ? "" : MendRoot(disk, AbsoluteFolder(target));
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
  switch (ParseCheckerArgs(args, &options, &parse_error)) {
    case ParseOutcome::kHelp: out << kCheckerUsage; return kExitClean;
    case ParseOutcome::kVersion: out << "voxtrel-check " << kVersionString << "\n"; return kExitClean;
    case ParseOutcome::kError: return Usage(err, parse_error);
    case ParseOutcome::kRun: break;
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
  if (!options.suspect && (options.fail_on_suspect || !options.suspect_rules.empty()))
    return Usage(err, options.fail_on_suspect ? "--fail-on-suspect needs --suspect"
                                              : "--suspect-rules needs --suspect");

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
  RunRequest request{options.recursive, run.http.total_timeout_ms, std::nullopt};
  if (options.crawl) request.crawl = options.crawl_bounds;
  run.heading =
      HeadingForRun(IsWebAddress(options.target) ? options.target : AbsoluteFolder(options.target),
                    run.settings, request);
  // The command as given is the surest account of how the run was asked for; the words before
  // it add what it leaves to the defaults.
  run.heading.options += " (voxtrel-check";
  for (const std::string& arg : args) run.heading.options += " " + arg;
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

// Ends a run that ran: its report, the https note and the summary; returns the exit status.
int FinishRun(PreparedRun& run, const RunSummary& summary, TerminalView& view,
              const RunSeams& seams, std::ostream& err, const CheckerEnvironment& env,
              const Texts& texts, std::chrono::steady_clock::time_point started) {
  const CheckerOptions& options = run.options;
  view.ClearProgress();
  if (options.crawl) run.heading.crawl = CrawlCountsOf(summary);
  int status = ExitStatus(summary, view.output_failed(), options.fail_on_suspect);
  // A closed pipe or a full disk behind standard output: the run stopped, the report is kept.
  if (view.output_failed()) err << texts.cannot_write_rows << "\n";
  if (options.report_path) {
    ReportFormat format;
    format.form = options.report_form.value_or(ReportFormForCheckerName(*options.report_path));
    format.detailed = options.report_detail;
    format.encoding = options.report_encoding.value_or(
        options.report_detail ? ReportEncoding::kUtf8 : ReportEncoding::kShiftJis);
    std::string write_error;
    // Rows kept only for --fix moved stay out of the report, as out of stdout.
    std::vector<ResultRow> listed;
    ResultRows rows = seams.results.Rows();
    if (run.settings.show_all && !options.all_results) {
      for (const ResultRow& row : rows)
        if (IsListed(row.outcome, false)) listed.push_back(row);
      rows = ResultRows(listed);
    }
    if (!WriteReport(seams.disk, rows, *options.report_path, format, &write_error, run.heading)) {
      err << Fill(texts.cannot_write_report, {*options.report_path, write_error}) << "\n";
      if (status != kExitInterrupted) status = kExitUsage;
    }
  }
  if (summary.https_skipped > 0 && !options.https)
    err << Fill(texts.https_note, {std::to_string(summary.https_skipped)}) << "\n";
  if (!options.quiet) {
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    err << SummaryLine(summary, texts, seconds, env.err_is_terminal && !env.no_color, options.crawl,
                       options.suspect, run.ignoring)
        << "\n";
  }
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
  const int status = FinishRun(run, summary, view, seams, err, env, texts, started);
  if (!run.options.fix || status == kExitUsage || status == kExitInterrupted) return status;
  return MendAfterRun(seams, run.settings, run.options, summary,
                      MendRootOf(*env.disk, run.options.target), out, err, env, status);
}

}  // namespace voxtrel
