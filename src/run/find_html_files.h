#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "engine/run_settings.h"
#include "platform/disk.h"

namespace voxtrel {

/// Receives one string: a found page's full path, or the progress text.
using PathSink = std::function<void(const std::string&)>;

/// Appends the full path of every page in `folder` to `append_path`, in listing order, then, when
/// `include_subfolders`, does the same for each subfolder (depth first, pre-order).
/// `set_progress` gets the folder when a folder begins and each page's path as it is appended.
/// A folder that cannot be listed contributes nothing; the walk goes on with its siblings. Once
/// `abort` (when given) is raised, no further folder is listed.
void FindHtmlFiles(DiskInterface& disk, const std::string& folder, bool include_subfolders,
                   const PathSink& append_path, const PathSink& set_progress,
                   const AbortSignal* abort = nullptr);

}  // namespace voxtrel
