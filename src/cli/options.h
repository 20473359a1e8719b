#pragma once

#include <optional>
#include <string>
#include <vector>

#include "output/report_writer.h"
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
  int jobs = kDefaultJobs;
  int per_host = kDefaultPerHost;
  /// Passing failures asked again at most so many times; requests per second to one host (0:
  /// no limit).
  int retries = kDefaultRetries;
  double rate = 0;
  std::optional<std::string> report_path;
  std::optional<ReportForm> report_form;
  /// Shift_JIS unless asked, or UTF-8 for a detailed report.
  std::optional<ReportEncoding> report_encoding;
  bool report_detail = false;
  std::optional<double> timeout_s;
  std::optional<std::string> user_agent;
  std::optional<std::string> ca_file;
  std::vector<std::string> excludes;
  /// Judge answers beyond their status (？ rows), with the rules of these files too; exit 1
  /// for a ？ row only when asked.
  bool suspect = false;
  bool fail_on_suspect = false;
  std::vector<std::string> suspect_rules;
  /// A JSON report whose × rows are asked again instead of checking a TARGET.
  std::optional<std::string> recheck_path;
  /// Mends: which links a change set rewrites ("moved", "archived"), or "undo" the last one;
  /// written to the pages only with --apply, shown as a diff otherwise.
  std::optional<std::string> fix;
  bool apply = false;
  /// Set by --archive: dead links' archived copies are looked up (what --fix archived needs).
  bool archive = false;
  /// Files of addresses set aside, read with the checked folder's .voxtrelignore.
  std::vector<std::string> ignore_files;
  std::string target;
};

enum class ParseOutcome { kRun, kHelp, kVersion, kError };

/// Reads the arguments (without the program name) into *options; on kError *err says why.
ParseOutcome ParseCheckerArgs(const std::vector<std::string>& args, CheckerOptions* options,
                              std::string* err);

/// The text of --help.
extern const char* const kCheckerUsage;

}  // namespace voxtrel
