#pragma once

#include <optional>
#include <string>

#include "engine/check_loop.h"
#include "engine/crawl_frontier.h"
#include "output/report_writer.h"

namespace voxtrel {

/// What a single page target names: nothing chosen, a web page, a local file.
enum class SinglePageMode { kNone, kWebPage, kLocalFile };
inline constexpr const char* kNoTarget = "http://";

/// The single page the user chose last, kept by the window between runs.
struct SinglePageChoice {
  std::string target = kNoTarget;
  SinglePageMode mode = SinglePageMode::kNone;
  /// With a web page: check every page of its site reached from it.
  bool crawl = false;
};

/// Whether a folder path may be checked: not shorter than four characters once trimmed, not "/".
bool IsCheckableFolder(const std::string& folder);

/// Checks every page of `folder` (and of its subfolders when asked): finds the pages, asks to
/// start, then checks them. Says why it did not run in its outcome after telling the user;
/// summary.pages lists the pages found either way.
RunSummary RunFolder(const RunSeams& seams, const RunSettings& settings, const std::string& folder,
                     bool include_subfolders);

/// What a single page target names, or nothing when it may not be checked.
std::optional<SinglePageMode> SinglePageModeFor(const std::string& target);

/// Checks one page: a local file (kLocalFile), or a web page fetched first (kWebPage).
/// Asks to start first. When a web page cannot be fetched the outcome is kTargetUnreadable and
/// summary.fetch_answer says why.
RunSummary RunSinglePage(const RunSeams& seams, const RunSettings& settings,
                         const std::string& target, SinglePageMode mode);

/// Checks the site of the web page `start`: the page, then every page of the site reached from
/// it, breadth first, within `bounds` and the site's robots.txt. Every distinct address is asked
/// once. Asks to start first; kTargetUnreadable when the start page cannot be fetched.
RunSummary RunCrawl(const RunSeams& seams, const RunSettings& settings, const std::string& start,
                    CrawlBounds bounds);

/// How a run was asked for beyond its settings, as a detailed report states it.
struct RunRequest {
  bool include_subfolders = false;
  /// The time one request may take in all, in milliseconds.
  long timeout_ms = 0;
  /// A crawl's bounds; nothing when the run is no crawl.
  std::optional<CrawlBounds> crawl;
};

/// The options of a run on `checked` in words, as a detailed report states them
/// ("ｻﾌﾞﾃﾞｨﾚｸﾄﾘを含む、…、ﾀｲﾑｱｳﾄ 60 秒").
std::string RunOptionsText(const std::string& checked, const RunSettings& settings,
                           const RunRequest& request);

/// What a detailed report of a run beginning now on `checked` says above its rows; a crawl's
/// counts come with its summary (CrawlCountsOf).
ReportHeading HeadingForRun(const std::string& checked, const RunSettings& settings,
                            const RunRequest& request);

/// A crawl's pages as a detailed report counts them.
CrawlCounts CrawlCountsOf(const RunSummary& summary);

enum class SaveOutcome { kSaved, kNothingToSave, kCancelled, kFailed };

/// Saves the result list where the user chooses, proposing the last name chosen (kept in
/// *last_name); asks before replacing a file, tells the user when the write fails. The form
/// follows the name, unless a detailed filter was chosen: that one decides, in UTF-8, with
/// `heading` above the rows.
SaveOutcome SaveReport(const ResultList& results, DiskInterface& disk, RunView& view,
                       SaveDialog& dialog, std::string* last_name,
                       const ReportHeading& heading = {});

}  // namespace voxtrel
