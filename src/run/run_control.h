#pragma once

#include <cstdint>
#include <string>

#include "engine/run_context.h"
#include "engine/run_view.h"

namespace voxtrel {

class KobetuLogic;

inline constexpr const char* kSelectFolderMessage = "ﾌｫﾙﾀﾞを選択してください。   ";
inline constexpr const char* kNoHtmlFilesMessage = "HTMLﾌｧｲﾙがみつかりません。   ";
inline constexpr const char* kSearchingHtmlCaption = "HTML検索中";
inline constexpr const char* kSearchingCaption = "検索中";
inline constexpr const char* kAbortingCaption = "中止処理中";
inline constexpr const char* kFileCountPrefix = "ﾌｧｲﾙ数：";

/// The main window as the start command and the single page check see it: the run view plus the
/// folder picker, the subfolder check box and the single page dialog.
class MainView : public RunView {
 public:
  /// Dir1's current path, exactly as the picker reports it.
  virtual std::string Dir1Path() = 0;
  /// Check1's value: 0 cleared, 1 ticked, 2 greyed.
  virtual int16_t Check1Value() = 0;
  /// Shows Link_Kobetu modally, driving `dialog`'s handlers, and returns once it has closed.
  virtual void ShowSinglePageDialog(KobetuLogic& dialog) = 0;
};

/// "HTMLﾌｧｲﾙ数： " + count + five blanks + CR CR + "Voxtrelを開始しますか？   ".
std::string StartConfirmationText(size_t file_count);

/// Whether Dir1's path may be checked: not shorter than four characters once trimmed, not "/".
bool IsCheckableFolder(const std::string& dir1_path);

/// The start button: validates Dir1, finds the pages, asks, then runs CheckLinks. `ctx.view`
/// and `view` are normally the same window.
void Command1_Click(RunContext& ctx, MainView& view);

/// The abort button: AbortFlag = 999 and Label5 shows "中止処理中".
void Command2_Click(RunContext& ctx);

}  // namespace voxtrel
