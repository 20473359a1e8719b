#include "output/ci_report.h"

#include <filesystem>
#include <initializer_list>
#include <string_view>
#include <utility>

#include "output/ci_text.h"
#include "platform/cp932.h"
#include "platform/text.h"

namespace voxtrel {

std::optional<CiForm> CiFormNamed(std::string_view name) {
  static constexpr std::pair<std::string_view, CiForm> kNames[] = {{"markdown", CiForm::kMarkdown},
                                                                   {"junit", CiForm::kJunit},
                                                                   {"sarif", CiForm::kSarif},
                                                                   {"github", CiForm::kGithub}};
  for (const auto& [known, form] : kNames)
    if (name == known) return form;
  return std::nullopt;
}

std::optional<CiForm> CiFormForName(std::string_view path) {
  if (EndsWithNoCase(path, ".MD")) return CiForm::kMarkdown;
  if (EndsWithNoCase(path, ".XML")) return CiForm::kJunit;
  if (EndsWithNoCase(path, ".SARIF")) return CiForm::kSarif;
  return std::nullopt;
}

std::string WellFormedUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const size_t length = Utf8SequenceLength(
        reinterpret_cast<const unsigned char*>(text.data() + i), text.size() - i);
    if (length == 0) {
      out += "\xEF\xBF\xBD";
      ++i;
      continue;
    }
    out.append(text.substr(i, length));
    i += length;
  }
  return out;
}

std::optional<std::string> PathUnder(std::string_view page, std::string_view folder,
                                     std::string_view current_folder) {
  namespace fs = std::filesystem;
  if (folder.empty()) return std::nullopt;
  fs::path path(page);
  if (path.is_relative()) path = fs::path(current_folder) / path;
  const fs::path relative = path.lexically_normal().lexically_relative(fs::path(folder));
  // A way out of the folder, or no way at all (another root), is not under it.
  if (relative.empty() || *relative.begin() == "..") return std::nullopt;
  return relative.string();
}

std::string UriPathEscape(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (char c : text) {
    const auto u = static_cast<unsigned char>(c);
    const bool unreserved = (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') ||
                            (u >= '0' && u <= '9') || c == '-' || c == '.' || c == '_' ||
                            c == '~' || c == '/';
    if (unreserved)
      out += c;
    else
      out += {'%', kHex[u >> 4], kHex[u & 15]};
  }
  return out;
}

std::string MarkdownCell(std::string_view text) {
  std::string out;
  for (char c : WellFormedUtf8(text)) {
    const auto u = static_cast<unsigned char>(c);
    if (std::string_view("\\`|*_[]").find(c) != std::string_view::npos) {
      out += '\\';
      out += c;
    } else if (c == '<') {
      out += "&lt;";
    } else if (c == '&') {
      out += "&amp;";
    } else if (c == '\n' || c == '\r' || c == '\t') {
      out += ' ';
    } else if (u >= 0x20 && u != 0x7F) {
      out += c;
    }
  }
  return out;
}

std::string WorkflowEscape(std::string_view text, bool property) {
  std::string out;
  for (char c : WellFormedUtf8(text)) {
    if (c == '%')
      out += "%25";
    else if (c == '\r')
      out += "%0D";
    else if (c == '\n')
      out += "%0A";
    else if (property && c == ':')
      out += "%3A";
    else if (property && c == ',')
      out += "%2C";
    // No other control character may reach a log that a terminal or a browser shows.
    else if ((static_cast<unsigned char>(c) >= 0x20 && c != 0x7F) || c == '\t')
      out += c;
  }
  return out;
}

std::string CiReasonOf(const ResultRow& row) {
  const std::string reason = ReasonText(row.outcome);
  if (!reason.empty()) return reason;
  return row.outcome.kind == CheckOutcome::Kind::kSuspect ? "look by hand" : "dead link";
}

std::string CiMessageOf(const ResultRow& row) {
  std::string message = CiReasonOf(row) + ": " + row.link.target;
  if (!TrimBlanks(row.link.name).empty()) message += " (" + row.link.name + ")";
  return message;
}

std::string CiPageName(const ResultRow& row, const CiContext& context) {
  const std::string& page = row.link.page;
  if (IsWebAddress(page)) return page;
  const std::optional<std::string> under =
      PathUnder(page, context.current_folder, context.current_folder);
  return DisplayName(under.value_or(page));
}

bool IsCiFailure(const ResultRow& row) { return row.outcome.kind == CheckOutcome::Kind::kFailed; }

bool IsCiWarning(const ResultRow& row) { return row.outcome.kind == CheckOutcome::Kind::kSuspect; }

namespace {

std::string MarkdownRow(std::initializer_list<std::string> cells) {
  std::string line = "|";
  for (const std::string& cell : cells) line += " " + cell + " |";
  return line + "\n";
}

std::string MarkdownCounts(const ResultRows& rows, size_t* flagged) {
  size_t counts[kMarkCount] = {};
  for (const ResultRow& row : rows) ++counts[MarkIndex(row.outcome)];
  *flagged = counts[0] + counts[kMarkCount - 1];
  std::string out = "| mark | rows |\n|---|---:|\n";
  for (size_t i = 0; i < (counts[kMarkCount - 1] ? kMarkCount : kClassicMarkCount); ++i)
    out += MarkdownRow({kMarks[i], std::to_string(counts[i])});
  return out;
}

}  // namespace

std::string FormatMarkdownReport(const ResultRows& rows, const CiContext& context) {
  size_t flagged = 0;
  const std::string counts = MarkdownCounts(rows, &flagged);
  std::string out = "## Voxtrel link check\n\n";
  if (!context.checked.empty()) out += "Checked: " + MarkdownCell(context.checked) + "\n\n";
  if (context.interrupted) out += "**Stopped before the end**: the rows found until then.\n\n";
  out += counts + "\n";
  if (flagged == 0) return out + "No dead links.\n";
  out += "| No | mark | page | line | link | name | reason |\n|---:|---|---|---:|---|---|---|\n";
  for (const ResultRow& row : rows) {
    if (!IsCiFailure(row) && !IsCiWarning(row)) continue;
    const uint32_t line = row.link.place.line;
    out += MarkdownRow({std::to_string(row.number), MarkOf(row.outcome),
                        MarkdownCell(CiPageName(row, context)), line ? std::to_string(line) : "",
                        MarkdownCell(row.link.target), MarkdownCell(row.link.name),
                        MarkdownCell(CiReasonOf(row))});
  }
  return out;
}

std::string FormatGithubCommands(const ResultRows& rows, const CiContext& context) {
  std::string out;
  for (const ResultRow& row : rows) {
    if (!IsCiFailure(row) && !IsCiWarning(row)) continue;
    out += IsCiFailure(row) ? "::error" : "::warning";
    const std::string page = CiPageName(row, context);
    std::string message = CiMessageOf(row);
    if (IsWebAddress(row.link.page)) {
      // Annotations point at files of the repository; a web page is named in the message.
      message = page + ": " + message;
    } else {
      out += " file=" + WorkflowEscape(page, true);
      if (row.link.place.line) out += ",line=" + std::to_string(row.link.place.line);
    }
    out += "::" + WorkflowEscape(message, false) + "\n";
  }
  return out;
}

std::string FormatCiReport(const ResultRows& rows, CiForm form, const CiContext& context) {
  switch (form) {
    case CiForm::kMarkdown:
      return FormatMarkdownReport(rows, context);
    case CiForm::kJunit:
      return FormatJunitReport(rows, context);
    case CiForm::kSarif:
      return FormatSarifReport(rows, context);
    case CiForm::kGithub:
      return FormatGithubCommands(rows, context);
  }
  return "";
}

}  // namespace voxtrel
