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
inline constexpr int16_t kWebError = 999;
inline constexpr int16_t kModeNone = 0;
inline constexpr int16_t kModeWebPage = 777;
inline constexpr int16_t kModeLocalFile = 999;

inline constexpr const char* kWebWorkFile = "WEB_Dummy.htm";
inline constexpr const char* kScanWorkFile = "Dummy_File_PC.htm";

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

  int16_t AbortFlag = 0;
  int16_t WebErrorFlag = 0;
  int32_t RowNo = 0;
  std::string LinkUrl;
  std::string LinkName;
  std::vector<int32_t> CntPos;
  int32_t HrefCount = 0;
  int16_t SinglePageMode = kModeNone;
  std::string SinglePageTarget = "http://";

  /// Check2, "show all link results": 1 lists answered links too.
  int Check2 = 1;
  ResultList results;
  /// List1: the pages to check, in order.
  std::vector<std::string> List1;

  std::string WebWorkFilePath() const { return JoinPath(work_folder, kWebWorkFile); }
  std::string ScanWorkFilePath() const { return JoinPath(work_folder, kScanWorkFile); }
};

}  // namespace voxtrel
