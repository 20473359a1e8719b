#include "cli/checker.h"

#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <regex>
#include <array>
#include <chrono>
#include <cmath>
#include <cstring>
#include <unistd.h>
#include <variant>

#include "output/report_writer.h"
#include "platform/disk.h"
#include "platform/text.h"
#include "cli/options.h"
#include "output/report_reader.h"
#include "run/recheck.h"
#include "run/run.h"
#include "web/fetch_web_page.h"
#include "version.h"

namespace voxtrel {
namespace {

// The progress line's text before the address being checked.
constexpr const char* kConnecting = "接続中 ： ";

// A message box's text as one terminal line: carriage returns become a break, trailing blanks go.
std::string MessageLine(const std::string& text) {
  std::string line;
  for (char c : text) {
    if (c == '\r')
      while (!line.empty() && line.back() == ' ') line.pop_back();
    line += c == '\r' ? '\n' : c;
  }
  while (!line.empty() && (line.back() == ' ' || line.back() == '\n')) line.pop_back();
  size_t pos;
  while ((pos = line.find("\n\n")) != std::string::npos) line.replace(pos, 2, "\n");
  return line;
}

/// The run on a terminal: rows and messages as lines, progress on one redrawn line. A failed
/// write of a row raises the abort, as Ctrl-C does: nobody is reading any more.
class TerminalView : public RunView {
 public:
  TerminalView(std::ostream& out, std::ostream& err, const CheckerOptions& options,
               bool show_progress, bool out_is_terminal, AbortSignal& abort)
      : out_(out),
        err_(err),
        options_(options),
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
    if (output_failed_) return;
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
    // Why a link failed, where a person watches the run.
    if (row.outcome.kind == CheckOutcome::Kind::kFailed && show_progress_)
      err_ << "  " << kMarkFailed << " " << ReasonText(row.outcome) << "\n";
    DrawProgress();
  }
  void Yield() override {}
  MessageAnswer ShowMessage(const std::string&, const std::string& text, MessageIcon icon,
                            MessageButtons) override {
    // Questions are the confirmations before a run: the command line already said yes.
    if (icon == MessageIcon::kQuestion || options_.quiet) return MessageAnswer::kOk;
    ClearProgress();
    err_ << MessageLine(text) << "\n";
    err_.flush();
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
    std::string line =
        options_.crawl ? "[" + std::to_string(pages_done_) + " done, " +
                             std::to_string(pages_found_ - std::min(pages_found_, pages_done_)) +
                             " queued] " + TerminalSafe(page_) + " " + kConnecting +
                             TerminalSafe(link_)
                       : "[" + std::to_string(std::max<size_t>(page_number_, 1)) + "/" +
                             std::to_string(pages_) + "] " + kConnecting + TerminalSafe(link_);
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

  std::ostream& out_;
  std::ostream& err_;
  const CheckerOptions& options_;
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
bool ReportPathWritable(const std::string& path, std::string* why) {
  struct stat st {};
  const bool exists = stat(path.c_str(), &st) == 0;
  if (exists && S_ISDIR(st.st_mode)) {
    *why = "it is a folder";
    return false;
  }
  // A device or fifo is written in place, so only it must take writes; a file is replaced in
  // the folder of what a link points to.
  if (exists && !S_ISREG(st.st_mode)) {
    if (access(path.c_str(), W_OK) == 0) return true;
    *why = std::strerror(errno);
    return false;
  }
  std::string target = path;
  if (exists) {
    if (char* resolved = realpath(path.c_str(), nullptr)) {
      target = resolved;
      free(resolved);
    }
  }
  const size_t slash = target.rfind('/');
  const std::string folder =
      slash == std::string::npos ? "." : slash == 0 ? "/" : target.substr(0, slash);
  if ((exists && access(target.c_str(), W_OK) != 0) || access(folder.c_str(), W_OK | X_OK) != 0) {
    *why = std::strerror(errno);
    return false;
  }
  return true;
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

// "12 links checked: 1 ×, 10 ◎, 0 △, 1 Ｐ; 2 excluded; 3 https:// links left out; 0.4 s".
std::string SummaryLine(const RunSummary& summary, double seconds, bool colour, bool crawled) {
  const std::array<size_t, 4>& counts = summary.rows_by_mark;
  const auto& marks = kMarks;
  auto paint = [colour](const std::string& text, const char* code) {
    return colour ? std::string("\x1b[") + code + "m" + text + "\x1b[0m" : text;
  };
  char time[32];
  std::snprintf(time, sizeof time, "%.1f s", seconds);
  return std::to_string(summary.links_checked) + " links checked: " +
         paint(std::to_string(counts[0]) + " " + marks[0], counts[0] ? "31" : "0") + ", " +
         paint(std::to_string(counts[1]) + " " + marks[1], "32") + ", " +
         std::to_string(counts[2]) + " " + marks[2] + ", " + std::to_string(counts[3]) + " " +
         marks[3] + "; " + std::to_string(summary.excluded) + " excluded; " +
         std::to_string(summary.https_skipped) + " https:// links left out; " +
         (summary.pages_cut.empty()
              ? ""
              : std::to_string(summary.pages_cut.size()) + " page cut at " +
                    std::to_string(kPageCap >> 20) + " MiB; ") +
         (crawled ? std::to_string(summary.pages.size()) + " pages crawled, " +
                        std::to_string(summary.pages_left_out) + " left out by the bounds, " +
                        std::to_string(summary.pages_disallowed) + " disallowed by robots.txt; "
                  : "") +
         time;
}

// Runs the check the target names; an exit status when it could not run, its summary when it
// ran.
std::variant<int, RunSummary> RunTarget(const RunSeams& seams, const RunSettings& settings,
                                        TerminalView& view, const CheckerOptions& options,
                                        std::ostream& err) {
  const std::string& target = options.target;
  struct stat st {};
  if (IsWebAddress(target)) {
    RunSummary summary = options.crawl
                             ? RunCrawl(seams, settings, target, options.crawl_bounds)
                             : RunSinglePage(seams, settings, target, kModeWebPage);
    if (summary.outcome != RunOutcome::kTargetUnreadable) return summary;
    view.ClearProgress();
    err << "voxtrel-check: cannot fetch " << target << ": " << ReasonText(summary.fetch_answer)
        << "\n";
    return kExitUsage;
  }
  if (stat(target.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
    std::string folder = AbsoluteFolder(target);
    std::vector<DirEntry> entries;
    std::string list_error;
    if (!seams.disk.ListFolder(folder, &entries, &list_error)) {
      err << "voxtrel-check: cannot read folder " << target << ": " << list_error << "\n";
      return kExitUsage;
    }
    RunSummary summary = RunFolder(seams, settings, folder, options.recursive);
    switch (summary.outcome) {
      case RunOutcome::kFolderRefused:
        err << "voxtrel-check: " << target << " cannot be checked as a folder\n";
        return kExitUsage;
      case RunOutcome::kNoPages:
        // A CI job pointed at the wrong folder must not pass.
        return kExitUsage;
      default:
        return summary;
    }
  }
  if (!seams.disk.FileExists(target)) {
    err << "voxtrel-check: cannot read " << target << "\n";
    return kExitUsage;
  }
  // A named root is absolute, and so must the page be to be seen under it.
  return RunSinglePage(seams, settings, settings.root.empty() ? target : AbsoluteFolder(target),
                       kModeLocalFile);
}

// Asks the × rows of a report again; an exit status when the report cannot be read.
std::variant<int, RunSummary> RecheckReport(const RunSeams& seams, const RunSettings& settings,
                                            const std::string& path, std::ostream& err) {
  std::string bytes;
  std::string why;
  std::vector<ResultRow> rows;
  if (!seams.disk.ReadWholeFile(path, &bytes, &why) ||
      !ReadJsonReport(bytes, settings.keep_query, &rows, &why)) {
    err << "voxtrel-check: cannot read report " << path << ": " << why << "\n";
    return kExitUsage;
  }
  seams.results.Restore(std::move(rows));
  return RecheckFailed(seams, settings);
}

RunSettings SettingsFor(const CheckerOptions& options) {
  RunSettings settings;
  settings.show_all = options.all_results;
  settings.https = options.https;
  settings.keep_query = options.keep_query;
  settings.all_links = options.all_links;
  if (options.root) settings.root = AbsoluteFolder(*options.root);
  settings.jobs = options.jobs;
  settings.per_host = options.per_host;
  settings.once = options.once;
  settings.excluded = ExcludeTest(options.excludes);
  return settings;
}

int Usage(std::ostream& err, const std::string& why) {
  err << "voxtrel-check: " << why << "\n" << "Try 'voxtrel-check --help'.\n";
  return kExitUsage;
}

}  // namespace

int RunChecker(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
               const CheckerEnvironment& env) {
  CheckerOptions options;
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
  std::string why;
  if (options.report_path && !ReportPathWritable(*options.report_path, &why)) {
    err << "voxtrel-check: cannot write report " << *options.report_path << ": " << why << "\n";
    return kExitUsage;
  }
  if (options.ca_file && access(options.ca_file->c_str(), R_OK) != 0)
    return Usage(err, "cannot read " + *options.ca_file);

  const auto started = std::chrono::steady_clock::now();
  PosixDisk disk;
  CurlPool http(HttpOptionsFor(env, options));
  AbortSignal own_abort;
  AbortSignal& abort = env.abort ? *env.abort : own_abort;
  TerminalView view(out, err, options, env.err_is_terminal && !options.quiet,
                    env.out_is_terminal, abort);
  ResultList results;
  const RunSeams seams{view, disk, http, results, abort};

  std::variant<int, RunSummary> ran =
      options.recheck_path ? RecheckReport(seams, SettingsFor(options), *options.recheck_path, err)
                           : RunTarget(seams, SettingsFor(options), view, options, err);
  if (const int* failed = std::get_if<int>(&ran)) return *failed;
  const RunSummary& summary = std::get<RunSummary>(ran);
  view.ClearProgress();

  int status = view.output_failed()                      ? kExitUsage
               : summary.outcome == RunOutcome::kAborted ? kExitInterrupted
               : summary.rows_by_mark[0] > 0             ? kExitDeadLinks
               : !summary.pages_cut.empty()              ? kExitDeadLinks
                                                         : kExitClean;
  // A closed pipe or a full disk behind standard output: the run stopped, the report is kept.
  if (view.output_failed()) err << "voxtrel-check: cannot write the rows to standard output\n";
  if (options.report_path) {
    ReportFormat format;
    format.form = options.report_form.value_or(ReportFormForCheckerName(*options.report_path));
    format.encoding = options.report_encoding;
    std::string write_error;
    if (!WriteReport(disk, results.Rows(), *options.report_path, format, &write_error)) {
      err << "voxtrel-check: cannot write report " << *options.report_path << ": " << write_error
          << "\n";
      if (status != kExitInterrupted) status = kExitUsage;
    }
  }
  if (summary.https_skipped > 0 && !options.https)
    err << summary.https_skipped << " https:// links were not checked (add --https to check them)\n";
  if (!options.quiet) {
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    err << "voxtrel-check: " << SummaryLine(summary, seconds, env.err_is_terminal && !env.no_color,
                                            options.crawl)
        << "\n";
  }
  return status;
}

}  // namespace voxtrel
