#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/result_list.h"
#include "engine/run_view.h"
#include "platform/disk.h"
#include "platform/http.h"

namespace voxtrel {

inline constexpr int16_t kAbortRequested = 999;
inline constexpr int16_t kModeNone = 0;
inline constexpr int16_t kModeWebPage = 777;
inline constexpr int16_t kModeLocalFile = 999;

inline constexpr const char* kWebWorkFile = "WEB_Dummy.htm";
inline constexpr const char* kScanWorkFile = "Dummy_File_PC.htm";
inline constexpr const char* kNoTarget = "http://";

/// How a run checks, set by the front end before it starts one.
struct RunSettings {
  /// List answered links (◎ and △) too, not only failures and script links.
  bool show_all = true;
};

/// The state of a check run and the seams it works through; owned by a front end.
struct RunContext {
  RunContext(RunView& view, DiskInterface& disk, HttpRequestFactory& http,
             std::string work_folder)
      : view(view), disk(disk), http(http), work_folder(std::move(work_folder)) {}

  RunView& view;
  DiskInterface& disk;
  HttpRequestFactory& http;
  /// Folder of the work files, no trailing separator.
  std::string work_folder;
  RunSettings settings;

  int16_t AbortFlag = 0;
  int16_t SinglePageMode = kModeNone;
  std::string SinglePageTarget = kNoTarget;

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
