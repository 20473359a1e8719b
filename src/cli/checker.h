#pragma once

#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "cli/config_file.h"
#include "platform/disk.h"
#include "platform/http_options.h"
#include "platform/http_pool.h"
#include "run/run.h"

namespace voxtrel {

class QueueClock;

/// Exit statuses of voxtrel-check.
inline constexpr int kExitClean = 0;
inline constexpr int kExitDeadLinks = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitInterrupted = 130;

/// What the checker takes from the process around it, so tests can run it in-process.
struct CheckerEnvironment {
  /// Progress goes to `err` only when it is a terminal.
  bool err_is_terminal = false;
  /// Rows on `out` go to a terminal: control characters in them are shown as \xNN.
  bool out_is_terminal = false;
  /// NO_COLOR is set: never colour the summary.
  bool no_color = false;
  /// The locale's language is Japanese: what the run says on `err` is said in Japanese.
  bool japanese = false;
  HttpOptions http;
  /// Raised by the Ctrl-C handler: the run stops at once, whatever it is doing.
  AbortSignal* abort = nullptr;
  /// Where targets, reports and the --cacert file are looked for, read and written. Required.
  DiskInterface* disk = nullptr;
  /// Makes a run's connection pool for the options the command line comes to. Required.
  std::function<std::unique_ptr<HttpPool>(const HttpOptions&)> make_pool;
  /// The requests' time; null: the system's steady clock.
  QueueClock* clock = nullptr;
  /// The user's own rules file for --suspect (UserRulesPath); "" for none.
  std::string user_rules;
  /// The cache's file for --cache without --cache-file (DefaultCachePath); "" for none.
  std::string cache_file;
  /// The configuration file read when it exists and --config names none; "" for none.
  std::string config_file = kDefaultConfigFile;
  /// Today's local date for --suspect, "YYYY-MM-DD"; "": the system's clock says.
  std::string today;
  /// The folder CI reports name local pages from; "": the process's current folder.
  std::string current_folder;
};

/// Whether messages are to be Japanese: the first set of LC_ALL, LC_MESSAGES and LANG (any may
/// be null or empty) starts with "ja".
bool IsJapaneseLocale(const char* lc_all, const char* lc_messages, const char* lang);

/// The exit status of a run that ran: 1 for × rows (and for ？ rows when `fail_on_suspect`), for
/// pages cut short; 130 when stopped; 2 when the rows could not be written.
int ExitStatus(const RunSummary& summary, bool output_failed, bool fail_on_suspect);

/// Runs `voxtrel-check` with `args` (without the program name); rows go to `out` as UTF-8
/// comma-separated lines, progress and messages to `err`. Returns the exit status.
int RunChecker(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
               const CheckerEnvironment& env);

}  // namespace voxtrel
