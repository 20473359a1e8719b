#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "engine/result_list.h"
#include "engine/run_view.h"
#include "platform/disk.h"
#include "platform/http_pool.h"

namespace voxtrel {

inline constexpr int16_t kAbortRequested = 999;
inline constexpr int16_t kModeNone = 0;
inline constexpr int16_t kModeWebPage = 777;
inline constexpr int16_t kModeLocalFile = 999;

inline constexpr const char* kWebWorkFile = "WEB_Dummy.htm";
inline constexpr const char* kScanWorkFile = "Dummy_File_PC.htm";
inline constexpr const char* kNoTarget = "http://";

/// How the scan work file's lines are to be read.
enum class ScanText { kShiftJis, kUtf8 };

/// How a run checks, set by the front end before it starts one.
struct RunSettings {
  /// List answered links (◎ and △) too, not only failures and script links.
  bool show_all = true;
  /// Find, check and list https:// links as http:// ones.
  bool https = false;
  /// Requests in flight at once, and to one host (scheme, host and port); 1 asks one at a time.
  int jobs = 64;
  int per_host = 8;
  /// Ask each distinct address once per run; later occurrences take its answer.
  bool once = false;
  /// Links whose target this says yes to get no request and no row.
  std::function<bool(const std::string&)> excluded;
};

/// The state of a check run and the seams it works through; owned by a front end.
struct RunContext {
  RunContext(RunView& view, DiskInterface& disk, HttpPool& http,
             std::string work_folder)
      : view(view), disk(disk), http(http), work_folder(std::move(work_folder)) {}

  RunView& view;
  DiskInterface& disk;
  HttpPool& http;
  /// Folder of the work files, no trailing separator.
  std::string work_folder;
  RunSettings settings;

  int16_t AbortFlag = 0;
  int16_t SinglePageMode = kModeNone;
  std::string SinglePageTarget = kNoTarget;

  /// The charset the server named for the fetched single page, if it named one.
  std::optional<std::string> fetched_charset;
  /// How the page now in the scan work file is encoded.
  ScanText scan_text = ScanText::kShiftJis;

  /// What the last run passed over: https:// links (when not checked) and excluded links.
  size_t https_skipped = 0;
  size_t excluded = 0;
  /// Links whose check was committed in the last run (listed or not).
  size_t links_checked = 0;

  ResultList results;
  /// The pages to check, in order.
  std::vector<std::string> pages;

  std::string WebWorkFilePath() const { return JoinPath(work_folder, kWebWorkFile); }
  std::string ScanWorkFilePath() const { return JoinPath(work_folder, kScanWorkFile); }
  /// What the file column shows for a link of `page`: the page, or the address of a fetched one.
  const std::string& FileColumn(const std::string& page) const {
    return SinglePageMode == kModeWebPage ? SinglePageTarget : page;
  }
};

}  // namespace voxtrel
