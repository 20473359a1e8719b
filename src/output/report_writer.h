#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/result_list.h"
#include "engine/run_view.h"
#include "platform/disk.h"

namespace voxtrel {

inline constexpr const char* kDefaultReportName = "Voxtrel.htm";
inline constexpr const char* kReportFilter =
    "HTMLﾌｧｲﾙ(*.htm)|*.htm|CSVﾌｧｲﾙ(*.csv)|*.csv|ﾃｷｽﾄﾌｧｲﾙ(*.txt)|*.txt|すべてのﾌｧｲﾙ(*.*)|*.*";
inline constexpr const char* kSaveReportTitle = "ﾘﾝｸ結果の保存";

enum class ReportForm { kHtml, kCsv };

/// HTML when the upper-cased path's last four characters are ".HTM", otherwise comma-separated.
ReportForm ReportFormFor(const std::string& path);

/// `text` with & < > " written as &amp; &lt; &gt; &quot;.
std::string EscapeHtml(std::string_view text);

/// `value` as it stands, or in double quotes with inner quotes doubled when it holds a comma, a
/// double quote, CR or LF.
std::string CsvField(std::string_view value);

/// The whole report as UTF-8 text, every line ending in CR LF, rows in the given order.
std::string FormatHtmlReport(const std::vector<ResultRow>& rows);
std::string FormatCsvReport(const std::vector<ResultRow>& rows);
std::string FormatReport(const std::vector<ResultRow>& rows, ReportForm form);

/// Writes the report of `rows` in the form `path` chooses, as Shift_JIS, to `path`. The text goes
/// to a temporary file beside it first and replaces `path` only once complete; on failure *err
/// gets the system's description, the temporary file is removed and `path` is unchanged.
bool WriteReport(DiskInterface& disk, const std::vector<ResultRow>& rows, const std::string& path,
                 std::string* err);

/// The save dialog behind Command3.
class SaveDialog {
 public:
  virtual ~SaveDialog() = default;
  /// Shows a save-as dialog proposing `proposed_name`; the chosen full path, nothing on cancel.
  virtual std::optional<std::string> ShowSave(const std::string& proposed_name,
                                              const std::string& filter) = 0;
};

/// "ﾌｧｲﾙ名： " + path + five blanks + CR CR + "すでに同名ﾌｧｲﾙが存在します、上書きしますか？     ".
std::string OverwriteQuestionText(const std::string& path);
/// "ｴﾗｰ： " + description + five blanks.
std::string SaveErrorText(const std::string& description);

/// The save button with the one value it keeps between clicks.
class ReportCommand {
 public:
  /// Asks for a file, confirms an overwrite and writes the report; a message on failure.
  void Command3_Click(const ResultList& results, DiskInterface& disk, RunView& view,
                      SaveDialog& dialog);

  /// The last chosen name, trimmed; proposed next time. Empty at start-up.
  std::string ReportFileName;
};

}  // namespace voxtrel
