#include "cli/checker.h"

#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <memory>
#include <optional>

#include "output/report_writer.h"
#include "platform/disk.h"
#include "platform/text.h"
#include "run/run.h"
#include "version.h"

namespace voxtrel {
namespace {

constexpr const char* kUsage =
    "usage: voxtrel-check [options] TARGET\n"
    "\n"
    "Checks every absolute http:// link of HTML pages and lists the dead ones.\n"
    "TARGET is a folder (its .htm/.html/.shtm/.shtml pages), one local page file,\n"
    "or the address of a web page (http:// or https://), which is fetched first.\n"
    "\n"
    "options:\n"
    "  -r         include subfolders of a folder TARGET\n"
    "  -a         also list links that answered (marked \xE2\x97\x8E or \xE2\x96\xB3)\n"
    "  -o FILE    save the result list as a report: HTML when FILE ends in .htm,\n"
    "             comma-separated text otherwise (Shift_JIS, CR LF)\n"
    "  -q         no progress display\n"
    "  -h, --help show this help\n"
    "  --version  show the version\n"
    "\n"
    "Rows are printed as they are found: No,mark,target,link text,page.\n"
    "Exit status: 0 no dead link, 1 dead links found, 2 usage error or unreadable\n"
    "target, 130 interrupted (the report of what was found is still written).\n";

// The progress line's text before the address being checked.
constexpr const char* kConnecting = "接続中 ： ";

struct CheckerOptions {
  bool recursive = false;
  bool all_results = false;
  bool quiet = false;
  std::optional<std::string> report_path;
  std::string target;
};

enum class ParseOutcome { kRun, kHelp, kVersion, kError };

ParseOutcome ParseArgs(const std::vector<std::string>& args, CheckerOptions* options,
                       std::string* err) {
  bool targets_only = false;
  bool have_target = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (!targets_only && arg.size() > 1 && arg[0] == '-') {
      if (arg == "--") {
        targets_only = true;
      } else if (arg == "-h" || arg == "--help") {
        return ParseOutcome::kHelp;
      } else if (arg == "--version") {
        return ParseOutcome::kVersion;
      } else if (arg == "-o") {
        if (i + 1 >= args.size()) {
          *err = "option -o needs a file name";
          return ParseOutcome::kError;
        }
        options->report_path = args[++i];
      } else if (arg.size() > 1 && arg[1] != '-') {
        // Short options may be bundled: -ra, -rqa.
        for (size_t k = 1; k < arg.size(); ++k) {
          switch (arg[k]) {
            case 'r': options->recursive = true; break;
            case 'a': options->all_results = true; break;
            case 'q': options->quiet = true; break;
            default:
              *err = std::string("unknown option -") + arg[k];
              return ParseOutcome::kError;
          }
        }
      } else {
        *err = "unknown option " + arg;
        return ParseOutcome::kError;
      }
      continue;
    }
    if (have_target) {
      *err = "only one TARGET may be given";
      return ParseOutcome::kError;
    }
    options->target = arg;
    have_target = true;
  }
  if (!have_target || options->target.empty()) {
    *err = "no TARGET given";
    return ParseOutcome::kError;
  }
  return ParseOutcome::kRun;
}

bool IsWebAddress(const std::string& target) {
  return StartsWithNoCase(target, "HTTP://") || StartsWithNoCase(target, "HTTPS://");
}

// A message box's text as one terminal line: carriage returns become a break, trailing blanks go.
std::string MessageLine(const std::string& text) {
  std::string line;
  for (char c : text) line += c == '\r' ? '\n' : c;
  while (!line.empty() && (line.back() == ' ' || line.back() == '\n')) line.pop_back();
  size_t pos;
  while ((pos = line.find("\n\n")) != std::string::npos) line.replace(pos, 2, "\n");
  return line;
}

/// The run on a terminal: rows and messages as lines, progress on one redrawn line, Ctrl-C
/// turned into the abort button.
class TerminalView : public RunView {
 public:
  TerminalView(std::ostream& out, std::ostream& err, bool show_progress,
               const volatile std::sig_atomic_t* interrupts)
      : out_(out), err_(err), show_progress_(show_progress), interrupts_(interrupts) {}

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
    if (row[kColMark] == kMarkFailed) saw_failure_ = true;
    ClearProgress();
    out_ << CsvRowLine(row) << "\n";
    out_.flush();
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
    if (icon == MessageIcon::kQuestion) return MessageAnswer::kOk;
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

}  // namespace

int RunChecker(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
               const CheckerEnvironment& env) {
  CheckerOptions options;
  std::string parse_error;
  switch (ParseArgs(args, &options, &parse_error)) {
    case ParseOutcome::kHelp:
      out << kUsage;
      return kExitClean;
    case ParseOutcome::kVersion:
      out << "voxtrel-check " << kVersionString << "\n";
      return kExitClean;
    case ParseOutcome::kError:
      err << "voxtrel-check: " << parse_error << "\n" << "Try 'voxtrel-check --help'.\n";
      return kExitUsage;
    case ParseOutcome::kRun:
      break;
  }

  WorkFolder work;
  if (work.path().empty()) {
    err << "voxtrel-check: cannot create a temporary folder for work files\n";
    return kExitUsage;
  }

  PosixDisk disk;
  CurlRequestFactory http(env.http);
  TerminalView view(out, err, env.err_is_terminal && !options.quiet, env.interrupts);
  RunContext ctx(view, disk, http, work.path());
  ctx.settings.show_all = options.all_results;
  view.Attach(&ctx);

  const std::string& target = options.target;
  struct stat st {};
  if (IsWebAddress(target)) {
    CheckOutcome fetch_answer;
    if (RunSinglePage(ctx, target, &fetch_answer) == RunOutcome::kTargetUnreadable) {
      view.ClearProgress();
      err << "voxtrel-check: cannot fetch " << target << " (" << ReasonText(fetch_answer) << ")\n";
      return kExitUsage;
    }
  } else if (stat(target.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
    std::string folder = AbsoluteFolder(target);
    std::vector<DirEntry> entries;
    std::string list_error;
    if (!disk.ListFolder(folder, &entries, &list_error)) {
      err << "voxtrel-check: cannot read folder " << target << ": " << list_error << "\n";
      return kExitUsage;
    }
    if (RunFolder(ctx, folder, options.recursive) == RunOutcome::kFolderRefused) {
      err << "voxtrel-check: " << target << " cannot be checked as a folder\n";
      return kExitUsage;
    }
  } else {
    if (!disk.FileExists(target)) {
      err << "voxtrel-check: cannot read " << target << "\n";
      return kExitUsage;
    }
    RunSinglePage(ctx, target);
  }
  view.ClearProgress();

  int status = view.interrupted()   ? kExitInterrupted
               : view.saw_failure() ? kExitDeadLinks
                                    : kExitClean;
  if (options.report_path) {
    std::string write_error;
    if (!SaveReport(ctx, *options.report_path, ReportFormatForName(*options.report_path),
                    &write_error)) {
      err << "voxtrel-check: cannot write report " << *options.report_path << ": " << write_error
          << "\n";
      if (status != kExitInterrupted) status = kExitUsage;
    }
  }
  return status;
}

}  // namespace voxtrel
