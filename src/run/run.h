#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "engine/run_context.h"
#include "output/report_writer.h"

namespace voxtrel {

inline constexpr const char* kSelectFolderMessage = "ﾌｫﾙﾀﾞを選択してください。   ";
inline constexpr const char* kNoHtmlFilesMessage = "HTMLﾌｧｲﾙがみつかりません。   ";
inline constexpr const char* kSpecifyHtmlMessage = "HTMLを指定してください。     ";
inline constexpr const char* kFetchFailedMessage = "WEBｻｰﾊﾞｰからHTMLを取得できません。     ";

/// "HTMLﾌｧｲﾙ数： " + count + five blanks + CR CR + "Voxtrelを開始しますか？   ".
std::string StartConfirmationText(size_t file_count);

/// Whether a folder path may be checked: not shorter than four characters once trimmed, not "/".
bool IsCheckableFolder(const std::string& folder);

/// Checks every page of `folder` (and of its subfolders when asked): finds the pages, asks to
/// start, then checks them. Says why it did not run in its outcome after telling the user.
RunOutcome RunFolder(RunContext& ctx, const std::string& folder, bool include_subfolders);

/// What a single page target names, or nothing when it may not be checked.
std::optional<int16_t> SinglePageModeFor(const std::string& target);

/// Checks one page: a local file, or a web page (an http:// or https:// address) fetched first.
/// Asks to start first. When a web page cannot be fetched the outcome is kTargetUnreadable and
/// `*fetch_answer` (when given) says why.
RunOutcome RunSinglePage(RunContext& ctx, const std::string& target,
                         CheckOutcome* fetch_answer = nullptr);

/// Asks the user to stop the run under way; it stops at the next row.
void RequestAbort(RunContext& ctx);

enum class SaveOutcome { kSaved, kNothingToSave, kCancelled, kFailed };

/// Saves the result list where the user chooses, proposing the last name chosen (kept in
/// *last_name); asks before replacing a file, tells the user when the write fails.
SaveOutcome SaveReport(RunContext& ctx, SaveDialog& dialog, std::string* last_name);

/// Saves the result list to `path` as `format` says; false (and *err) when it cannot be written.
bool SaveReport(RunContext& ctx, const std::string& path, const ReportFormat& format,
                std::string* err);

}  // namespace voxtrel
