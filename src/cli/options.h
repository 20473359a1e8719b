#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "output/ci_report.h"
#include "output/report_writer.h"
#include "run/outcome_cache.h"
#include "run/run.h"

namespace voxtrel {

/// What the command line asks of voxtrel-check.
struct CheckerOptions {
  bool recursive = false;
  bool all_results = false;
  bool quiet = false;
  bool https = false;
  bool once = false;
  bool keep_query = false;
  bool all_links = false;
  std::optional<std::string> root;
  /// Check the whole site of a web page TARGET, within these bounds.
  bool crawl = false;
  CrawlBounds crawl_bounds;
  bool json_rows = false;
  /// A CI report on stdout at the end instead of rows as they come.
  std::optional<CiForm> ci_format;
  int jobs = kDefaultJobs;
  int per_host = kDefaultPerHost;
  /// Passing failures asked again at most so many times; requests per second to one host (0:
  /// no limit).
  int retries = kDefaultRetries;
  double rate = 0;
  std::optional<std::string> report_path;
  std::optional<ReportForm> report_form;
  /// A CI form asked by --report-format; it wins over report_form and the name.
  std::optional<CiForm> report_ci_form;
  /// Shift_JIS unless asked, or UTF-8 for a detailed report.
  std::optional<ReportEncoding> report_encoding;
  bool report_detail = false;
  std::optional<double> timeout_s;
  std::optional<std::string> user_agent;
  std::optional<std::string> ca_file;
  std::vector<std::string> excludes;
  /// Statuses that count as answered (--accept), as inclusive ranges; empty: 200-299.
  std::vector<std::pair<int, int>> accept;
  /// "Name: value" lines sent with every request; credentials from ~/.netrc or this file.
  std::vector<std::string> headers;
  bool netrc = false;
  std::optional<std::string> netrc_file;
  /// The configuration file asked for (--config); --dump-config prints the options in effect.
  std::optional<std::string> config_path;
  bool dump_config = false;
  /// Judge answers beyond their status (？ rows), with the rules of these files too; exit 1
  /// for a ？ row only when asked.
  bool suspect = false;
  bool fail_on_suspect = false;
  std::vector<std::string> suspect_rules;
  /// Keep outcomes between runs (in cache_file when given, which implies it); a ◎ younger than
  /// max_cache_age_s is not asked again.
  bool cache = false;
  std::optional<std::string> cache_file;
  int64_t max_cache_age_s = kDefaultCacheAgeS;
  /// Look up the archived copies of × and ？ rows, at this availability API when given.
  bool archive = false;
  std::optional<std::string> archive_api;
  /// A JSON report whose × rows are asked again instead of checking a TARGET.
  std::optional<std::string> recheck_path;
  /// A sitemap (an address or a local file) whose pages are checked instead of a TARGET.
  std::optional<std::string> sitemap;
  /// Mends: which links a change set rewrites ("moved", "archived"), or "undo" the last one;
  /// written to the pages only with --apply, shown as a diff otherwise.
  std::optional<std::string> fix;
  bool apply = false;
  /// Files of addresses set aside, read with the checked folder's .voxtrelignore.
  std::vector<std::string> ignore_files;
  std::string target;
};

enum class ParseOutcome { kRun, kHelp, kVersion, kError };

/// One option as given: its long name ("--jobs") and its value; none for a flag.
struct NamedOption {
  std::string name;
  std::optional<std::string> value;
};

/// The words of a command line, read but not yet applied.
struct CommandLine {
  std::vector<NamedOption> options;  // in the order given, values filled in
  std::optional<std::string> target;
};

/// How a long option takes its value: not at all (unknown), as a flag, or as a value.
enum class OptionKind { kUnknown, kFlag, kValue };
OptionKind KindOf(const std::string& long_name);
/// The long names of the options of one kind, in byte order.
std::vector<std::string> LongOptions(OptionKind kind);

/// Reads the arguments (without the program name) into *line; kRun when they read, kHelp or
/// kVersion when asked; on kError *err says why.
ParseOutcome ReadCommandLine(const std::vector<std::string>& args, CommandLine* line,
                             std::string* err);

/// Sets one option as the command line would; a flag's value is "true" or "false". False for
/// an unknown option or a bad value.
bool ApplyOption(const NamedOption& option, CheckerOptions* options);

/// Whether the options may run: a TARGET unless --recheck (or --dump-config); *err says why not.
bool CheckTarget(const CommandLine& line, const CheckerOptions& options, std::string* err);

/// Reads the arguments (without the program name) into *options; on kError *err says why.
ParseOutcome ParseCheckerArgs(const std::vector<std::string>& args, CheckerOptions* options,
                              std::string* err);

/// The text of --help.
extern const char* const kCheckerUsage;

}  // namespace voxtrel
