#include "cli/checker.h"

#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <regex>
#include <chrono>
#include <cmath>
#include <cstring>
#include <unistd.h>

#include "output/report_writer.h"
#include "platform/disk.h"
#include "platform/text.h"
#include "cli/options.h"
#include "run/run.h"
#include "version.h"

namespace voxtrel {
namespace {

// The progress line's text before the address being checked.
constexpr const char* kConnecting = "接続中 ： ";

bool IsWebAddress(const std::string& target) {
  return StartsWithNoCase(target, "HTTP://") || StartsWithNoCase(target, "HTTPS://");
}

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

/// The run on a terminal: rows and messages as lines, progress on one redrawn line, Ctrl-C
/// turned into the abort button.
class TerminalView : public RunView {
 public:
  TerminalView(std::ostream& out, std::ostream& err, const CheckerOptions& options,
               bool show_progress, const volatile std::sig_atomic_t* interrupts)
      : out_(out),
        err_(err),
        options_(options),
        show_progress_(show_progress),
        interrupts_(interrupts) {}

  void Attach(RunContext* ctx) { ctx_ = ctx; }
  bool interrupted() const { return interrupted_; }
  bool saw_failure() const { return saw_failure_; }

  void PageStarted(const std::string& page) override {
    if (page != page_) {
      page_ = page;
      ++page_number_;
    }
    DrawProgress();
  }
  void LinkStarted(const std::string& target) override {
    link_ = target;
    DrawProgress();
  }
  void RowAdded(const ResultRow& row) override {
    const bool failed = row[kColMark] == kMarkFailed;
    saw_failure_ = saw_failure_ || failed;
    ClearProgress();
    out_ << (options_.json_rows ? JsonRow(row) : CsvRowLine(row)) << "\n";
    out_.flush();
    // Why a link failed, where a person watches the run.
    if (failed && show_progress_) err_ << "  " << row[kColMark] << " " << ReasonText(row.outcome) << "\n";
    DrawProgress();
  }
  void Yield() override { PollInterrupts(); }
  bool KeepAlive() override {
    PollInterrupts();
    return !(interrupts_ && *interrupts_ >= 2);
  }
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
  void PollInterrupts() {
    if (interrupts_ && *interrupts_ > 0 && ctx_ && !interrupted_) {
      interrupted_ = true;
      RequestAbort(*ctx_);
    }
  }

  void DrawProgress() {
    if (!show_progress_ || !ctx_ || ctx_->pages.empty()) return;
    std::string line = "[" + std::to_string(std::max<size_t>(page_number_, 1)) + "/" +
                       std::to_string(ctx_->pages.size()) + "] " + kConnecting + link_;
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
  const volatile std::sig_atomic_t* interrupts_;
  RunContext* ctx_ = nullptr;
  std::string page_;
  std::string link_;
  size_t page_number_ = 0;
  bool drawn_ = false;
  bool interrupted_ = false;
  bool saw_failure_ = false;
};

/// A private folder for the work files, removed with its content when the run ends.
class WorkFolder {
 public:
  WorkFolder() {
    std::error_code ec;
    std::string pattern = (std::filesystem::temp_directory_path(ec) / "voxtrel-check-XXXXXX").string();
    if (ec) pattern = "/tmp/voxtrel-check-XXXXXX";
    if (char* made = mkdtemp(pattern.data())) path_ = made;
  }
  ~WorkFolder() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  WorkFolder(const WorkFolder&) = delete;
  WorkFolder& operator=(const WorkFolder&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
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
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  if ((exists && access(path.c_str(), W_OK) != 0) || access(folder.c_str(), W_OK | X_OK) != 0) {
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
std::string SummaryLine(const RunContext& ctx, double seconds, bool colour) {
  size_t counts[4] = {};
  const char* marks[4] = {kMarkFailed, kMarkOk, kMarkRefresh, kMarkScript};
  for (const ResultRow& row : ctx.results.Rows())
    for (size_t k = 0; k < 4; ++k) counts[k] += row[kColMark] == marks[k];
  auto paint = [colour](const std::string& text, const char* code) {
    return colour ? std::string("\x1b[") + code + "m" + text + "\x1b[0m" : text;
  };
  char time[32];
  std::snprintf(time, sizeof time, "%.1f s", seconds);
  return std::to_string(ctx.links_checked) + " links checked: " +
         paint(std::to_string(counts[0]) + " " + marks[0], counts[0] ? "31" : "0") + ", " +
         paint(std::to_string(counts[1]) + " " + marks[1], "32") + ", " +
         std::to_string(counts[2]) + " " + marks[2] + ", " + std::to_string(counts[3]) + " " +
         marks[3] + "; " + std::to_string(ctx.excluded) + " excluded; " +
         std::to_string(ctx.https_skipped) + " https:// links left out; " + time;
}

// Runs the check the target names; an exit status when it could not run, nothing when it ran.
std::optional<int> RunTarget(RunContext& ctx, TerminalView& view, DiskInterface& disk,
                             const CheckerOptions& options, std::ostream& err) {
  const std::string& target = options.target;
  struct stat st {};
  if (IsWebAddress(target)) {
    CheckOutcome fetch_answer;
    if (RunSinglePage(ctx, target, &fetch_answer) != RunOutcome::kTargetUnreadable) return {};
    view.ClearProgress();
    err << "voxtrel-check: cannot fetch " << target << ": " << ReasonText(fetch_answer) << "\n";
    return kExitUsage;
  }
  if (stat(target.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
    std::string folder = AbsoluteFolder(target);
    std::vector<DirEntry> entries;
    std::string list_error;
    if (!disk.ListFolder(folder, &entries, &list_error)) {
      err << "voxtrel-check: cannot read folder " << target << ": " << list_error << "\n";
      return kExitUsage;
    }
    switch (RunFolder(ctx, folder, options.recursive)) {
      case RunOutcome::kFolderRefused:
        err << "voxtrel-check: " << target << " cannot be checked as a folder\n";
        return kExitUsage;
      case RunOutcome::kNoPages:
        // A CI job pointed at the wrong folder must not pass.
        return kExitUsage;
      default:
        return {};
    }
  }
  if (!disk.FileExists(target)) {
    err << "voxtrel-check: cannot read " << target << "\n";
    return kExitUsage;
  }
  RunSinglePage(ctx, target);
  return {};
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
  std::string why;
  if (options.report_path && !ReportPathWritable(*options.report_path, &why)) {
    err << "voxtrel-check: cannot write report " << *options.report_path << ": " << why << "\n";
    return kExitUsage;
  }
  if (options.ca_file && access(options.ca_file->c_str(), R_OK) != 0)
    return Usage(err, "cannot read " + *options.ca_file);

  WorkFolder work;
  if (work.path().empty()) {
    err << "voxtrel-check: cannot create a temporary folder for work files\n";
    return kExitUsage;
  }
  const auto started = std::chrono::steady_clock::now();
  PosixDisk disk;
  CurlPool http(HttpOptionsFor(env, options));
  TerminalView view(out, err, options, env.err_is_terminal && !options.quiet, env.interrupts);
  RunContext ctx(view, disk, http, work.path());
  ctx.settings.show_all = options.all_results;
  ctx.settings.https = options.https;
  ctx.settings.jobs = options.jobs;
  ctx.settings.per_host = options.per_host;
  ctx.settings.once = options.once;
  ctx.settings.excluded = ExcludeTest(options.excludes);
  view.Attach(&ctx);

  if (std::optional<int> failed = RunTarget(ctx, view, disk, options, err)) return *failed;
  view.ClearProgress();

  int status = view.interrupted()   ? kExitInterrupted
               : view.saw_failure() ? kExitDeadLinks
                                    : kExitClean;
  if (options.report_path) {
    ReportFormat format;
    format.form = options.report_form.value_or(ReportFormForCheckerName(*options.report_path));
    format.encoding = options.report_encoding;
    std::string write_error;
    if (!SaveReport(ctx, *options.report_path, format, &write_error)) {
      err << "voxtrel-check: cannot write report " << *options.report_path << ": " << write_error
          << "\n";
      if (status != kExitInterrupted) status = kExitUsage;
    }
  }
  if (ctx.https_skipped > 0 && !options.https)
    err << ctx.https_skipped << " https:// links were not checked (add --https to check them)\n";
  if (!options.quiet) {
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    err << "voxtrel-check: " << SummaryLine(ctx, seconds, env.err_is_terminal && !env.no_color)
        << "\n";
  }
  return status;
}

}  // namespace voxtrel
