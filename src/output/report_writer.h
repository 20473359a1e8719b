#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/result_list.h"
#include "platform/disk.h"

namespace voxtrel {

inline constexpr const char* kDefaultReportName = "Voxtrel.htm";
inline constexpr const char* kReportFilter =
    "HTMLﾌｧｲﾙ(*.htm)|*.htm|CSVﾌｧｲﾙ(*.csv)|*.csv|CSVﾌｧｲﾙ UTF-8(*.csv)|*.csv|"
    "HTMLﾌｧｲﾙ 詳細(*.html)|*.html|CSVﾌｧｲﾙ 詳細(*.csv)|*.csv|"
    "ﾃｷｽﾄﾌｧｲﾙ(*.txt)|*.txt|すべてのﾌｧｲﾙ(*.*)|*.*";
/// The filter entries (counted from 0) that save the report as UTF-8, and in detail.
inline constexpr int kUtf8CsvFilterIndex = 2;
inline constexpr int kDetailedHtmlFilterIndex = 3;
inline constexpr int kDetailedCsvFilterIndex = 4;
/// How a detailed HTML report names its maker; a page that carries it is a report, not a page
/// of the site.
inline constexpr const char* kReportGeneratorMeta = "<meta name=\"generator\" content=\"Voxtrel";

enum class ReportForm { kHtml, kCsv, kJson };
enum class ReportEncoding { kShiftJis, kUtf8 };

struct ReportFormat {
  ReportForm form = ReportForm::kCsv;
  ReportEncoding encoding = ReportEncoding::kShiftJis;
  /// The detailed form: with a header, the reason and where a moved link leads (HTML and CSV).
  bool detailed = false;
};

/// What a crawl came to, as a detailed report counts it. A count added here takes its caption
/// in report_writer.cpp's kCrawlCountCaptions.
struct CrawlCounts {
  size_t crawled = 0;
  /// Past the page and depth bounds.
  size_t left_out = 0;
  /// Kept from crawlers by the site's robots.txt.
  size_t disallowed = 0;
  /// Tried and not fetched (each also a × row).
  size_t failed = 0;
};

/// What a detailed report says above its rows.
struct ReportHeading {
  /// The folder, page file or address that was checked.
  std::string checked;
  /// When the run began, as local time ("2026-12-07 10:52:03").
  std::string when;
  /// The run's options in words.
  std::string options;
  /// Nothing when the run was no crawl: its report then counts no pages.
  std::optional<CrawlCounts> crawl;
  /// The run looked up archived copies: the rows get a column for them.
  bool archive = false;
};

/// HTML when the upper-cased path's last four characters are ".HTM", otherwise comma-separated;
/// Shift_JIS.
ReportFormat ReportFormatForName(const std::string& path);

/// `text` with & < > " written as &amp; &lt; &gt; &quot;.
std::string EscapeHtml(std::string_view text);

/// `value` as it stands, or in double quotes with inner quotes doubled when it holds a comma, a
/// double quote, CR or LF.
std::string CsvField(std::string_view value);

/// Whether a browser given `href` as a link's address would open an http: or https: address or,
/// with `relative_ok`, one relative to the report; never for another scheme (javascript:,
/// data:, file:, …) or another host by "//host". Judged as a browser reads it: references
/// decoded, C0 controls and blanks cut at both ends, tabs and line breaks dropped, the scheme in
/// any case.
bool IsSafeHref(std::string_view href, bool relative_ok);

/// `cell` as a spreadsheet takes it for text: with a "'" in front when it begins with "=", "+",
/// "-", "@", a tab or CR, which would make it a formula.
std::string SpreadsheetText(std::string_view cell);

/// One row as a comma-separated line without its line end: No,mark,target,name,page.
std::string CsvRowLine(const ResultRow& row);

/// The report form a checker report's name asks for: .htm or .html (any case) HTML, .json JSON,
/// anything else comma-separated.
ReportForm ReportFormForCheckerName(const std::string& path);

/// `text` as a JSON string in quotes: quote and backslash escaped, control characters as \u00XX;
/// other bytes as they are.
std::string JsonString(std::string_view text);

/// One row as a JSON object: no, mark, url, name, page, status (or null), reason, redirects,
/// elapsed_ms; for a link found among every link of a page also kind ("http", "https",
/// "internal", "script") and, when internal, resolved (the address asked or the path looked up);
/// redirected_to only for a link that moved permanently; suspect (SuspectName) only for a ？ row
/// or a failure on a closed service; last, archived only for a row whose archived copy was found.
std::string JsonRow(const ResultRow& row);

/// The whole report as UTF-8 text, every line ending in CR LF, rows in the given order. An HTML
/// report declares `charset`.
std::string FormatHtmlReport(const ResultRows& rows, const char* charset = "Shift_JIS");
std::string FormatCsvReport(const ResultRows& rows);
/// The detailed forms: an HTML5 page with the heading, the counts by mark (and a crawl's pages)
/// and the columns No, 結果, URL, リンク名, ページ, 行, 理由, 転送先 (and ｱｰｶｲﾌﾞ when the heading
/// says the run looked archived copies up); comma-separated text with the
/// heading and counts as caption,value lines, then those columns under a header line, every
/// cell that would be a formula made text (SpreadsheetText). UTF-8, lines ending in CR LF.
std::string FormatDetailedHtmlReport(const ResultRows& rows, const ReportHeading& heading,
                                     const char* charset = "UTF-8");
std::string FormatDetailedCsvReport(const ResultRows& rows, const ReportHeading& heading = {});
/// A JSON array of JsonRow objects, one a line.
std::string FormatJsonReport(const ResultRows& rows);

/// The report's bytes: Shift_JIS, or UTF-8 (a CSV then begins with a byte order mark); a JSON
/// report is always UTF-8 without one.
std::string ReportBytes(const ResultRows& rows, const ReportFormat& format,
                        const ReportHeading& heading = {});

/// Writes the report of `rows` in `format` to `path` through DiskInterface::WriteWholeFile; on
/// failure *err gets the system's description and a file at `path` is unchanged.
bool WriteReport(DiskInterface& disk, const ResultRows& rows, const std::string& path,
                 const ReportFormat& format, std::string* err, const ReportHeading& heading = {});

/// The dialog that asks where to save a report.
class SaveDialog {
 public:
  virtual ~SaveDialog() = default;
  /// Shows a save-as dialog proposing `proposed_name`; the chosen full path, nothing on cancel.
  /// `*chosen_filter` gets the index of the filter entry the user left selected.
  virtual std::optional<std::string> ShowSave(const std::string& proposed_name,
                                              const std::string& filter, int* chosen_filter) = 0;
};

}  // namespace voxtrel
