#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "engine/result_list.h"

namespace voxtrel {

/// The reports CI servers read. None can be written a row at a time: each is made whole from
/// the rows once the run has ended.
enum class CiForm { kMarkdown, kJunit, kSarif, kGithub };

/// What a CI report says beside the rows.
struct CiContext {
  /// The folder, page or address checked, as the user named it.
  std::string checked;
  /// The checked folder (a page's folder for one page), absolute; "" for a web address.
  std::string checked_folder;
  /// The folder the checker ran in, absolute: GitHub's file= names pages relative to it.
  std::string current_folder;
  /// When the run began, local time as "2026-12-08T09:30:00" (JUnit's timestamp).
  std::string timestamp;
  std::string hostname;
  double seconds = 0;
  /// The run was stopped before its end (Ctrl-C): the report holds the rows found till then.
  bool interrupted = false;
};

/// "markdown", "junit", "sarif" or "github"; nothing for any other name.
std::optional<CiForm> CiFormNamed(std::string_view name);

/// The form a report's file name asks for: .md markdown, .xml JUnit, .sarif SARIF (any case);
/// nothing for other names.
std::optional<CiForm> CiFormForName(std::string_view path);

/// `text` as well-formed UTF-8: each byte that starts no character becomes U+FFFD.
std::string WellFormedUtf8(std::string_view text);

/// `page` (a local path, absolute or relative to `current_folder`) relative to `folder` when
/// it lies under it, "./" and ".." resolved; nothing otherwise.
std::optional<std::string> PathUnder(std::string_view page, std::string_view folder,
                                     std::string_view current_folder);

/// `text` percent-encoded as a URI path: every byte but the unreserved ones and "/" as %XX.
std::string UriPathEscape(std::string_view text);

/// Text for a Markdown table cell that stays one cell of one row: "\", "`", "|", "*", "_",
/// "[" and "]" escaped by a backslash, "<" and "&" as references, line breaks and tabs as
/// blanks, other control characters dropped.
std::string MarkdownCell(std::string_view text);

/// Text for an XML attribute or element: & < > " ' as references, tab, LF and CR as &#9;
/// &#10; &#13;, other characters XML 1.0 forbids dropped, ill-formed UTF-8 as U+FFFD.
std::string XmlText(std::string_view text);

/// A workflow command's message (`property` false) or property value: "%", CR and LF as %25,
/// %0D, %0A, and in a property also ":" and "," as %3A, %2C; other control characters but tab
/// dropped.
std::string WorkflowEscape(std::string_view text, bool property);

/// A summary table of the rows by mark, then a table of the × and ？ rows: No, mark, page,
/// line, link, name, reason.
std::string FormatMarkdownReport(const ResultRows& rows, const CiContext& context);

/// One <testsuite> of every row: a <testcase> per row (name the link, classname the page),
/// with a <failure> for a × row.
std::string FormatJunitReport(const ResultRows& rows, const CiContext& context);

/// A SARIF 2.1.0 log: a result per × row, the page as artifact, its line as region.
std::string FormatSarifReport(const ResultRows& rows, const CiContext& context);

/// GitHub Actions workflow commands: ::error for × rows, ::warning for ？ rows, with file= and
/// line= for local pages.
std::string FormatGithubCommands(const ResultRows& rows, const CiContext& context);

/// The report of `rows` in `form`, UTF-8.
std::string FormatCiReport(const ResultRows& rows, CiForm form, const CiContext& context);

}  // namespace voxtrel
