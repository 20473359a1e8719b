#include "output/report_writer.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <optional>
#include <utility>

#include "output/cells.h"
#include "platform/cp932.h"
#include "platform/text.h"
#include "version.h"
#include "web/url.h"

namespace voxtrel {

namespace {

constexpr const char* kCrLf = "\r\n";
constexpr const char* kCellOpen = "<TD><FONT size=\"-1\">";
constexpr const char* kCellClose = "</FONT></TD>";

std::string PlainCell(const std::string& value) {
  return kCellOpen + EscapeHtml(value) + kCellClose;
}

std::string RowLine(const ResultRow& row) {
  const std::string& target = row.link.target;
  std::string line = "<FONT size=\"-1\"> ";
  line += PlainCell(RowNumberText(row.number));
  line += PlainCell(MarkOf(row.outcome));
  line += kCellOpen;
  // An address a browser would run or take off the web is shown, never offered as a link.
  if (IsSafeHref(TrimBlanks(target), true))
    line += "<A href=\"" + EscapeHtml(TrimBlanks(target)) + "\">" + EscapeHtml(target) + "</A>";
  else
    line += EscapeHtml(target);
  line += kCellClose;
  if (TrimBlanks(row.link.name).empty())
    line += std::string(kCellOpen) + "&nbsp;" + kCellClose;
  else
    line += PlainCell(row.link.name);
  line += PlainCell(CellText(row, kColFile));
  line += "</FONT>";
  return line;
}

}  // namespace

ReportFormat ReportFormatForName(const std::string& path) {
  ReportFormat format;
  if (EndsWithNoCase(path, ".HTM")) format.form = ReportForm::kHtml;
  return format;
}

std::string EscapeHtml(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

namespace {

// The named references that stand for a character a scheme is spelt or cut with; any other
// name's "&" ends a scheme as the character it stands for would, so it may stay as written.
constexpr std::pair<std::string_view, std::string_view> kSchemeReferences[] = {
    {"Tab;", "\t"},   {"NewLine;", "\n"}, {"colon;", ":"}, {"plus;", "+"},
    {"period;", "."}, {"sol;", "/"},      {"bsol;", "\\"}, {"fjlig;", "fj"}};

// The character a numeric reference at `text` ("&#106;", "&#x6A", ";" optional) stands for,
// *length getting how long it is; nothing when none starts there. A character past ASCII
// cannot spell a scheme and becomes U+FFFD.
std::optional<std::string> NumericReference(std::string_view text, size_t* length) {
  if (!text.starts_with("&#")) return std::nullopt;
  const bool hex = text.size() > 2 && (text[2] == 'x' || text[2] == 'X');
  auto digit = [hex](char c) -> long {
    if (c >= '0' && c <= '9') return c - '0';
    if (hex && AsciiUpper(c) >= 'A' && AsciiUpper(c) <= 'F') return AsciiUpper(c) - 'A' + 10;
    return -1;
  };
  const size_t digits = hex ? 3 : 2;
  size_t i = digits;
  long value = 0;
  // Past U+10FFFF every value stands for the same U+FFFD, so the sum stops growing there.
  for (long d; i < text.size() && (d = digit(text[i])) >= 0; ++i)
    value = std::min(value * (hex ? 16 : 10) + d, 0x110000L);
  if (i == digits) return std::nullopt;
  *length = i + (i < text.size() && text[i] == ';');
  if (value == 0 || value >= 0x80) return "\xEF\xBF\xBD";
  return std::string(1, static_cast<char>(value));
}

// `text` with the character references a browser decodes in an attribute value decoded, as
// far as they can spell or cut a scheme.
std::string DecodeReferences(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size();) {
    size_t length = 0;
    if (std::optional<std::string> numeric = NumericReference(text.substr(i), &length)) {
      out += *numeric;
      i += length;
      continue;
    }
    const auto named = std::find_if(
        std::begin(kSchemeReferences), std::end(kSchemeReferences), [&](const auto& reference) {
          return text.substr(i).starts_with("&" + std::string(reference.first));
        });
    if (named == std::end(kSchemeReferences)) {
      out += text[i++];
      continue;
    }
    out += named->second;
    i += 1 + named->first.size();
  }
  return out;
}

enum class HrefKind { kWeb, kRelative, kOther };

HrefKind KindOfParsed(std::string_view url) {
  auto scheme_char = [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.';
  };
  size_t end = 0;
  if (!url.empty() && std::isalpha(static_cast<unsigned char>(url[0])))
    while (end < url.size() && scheme_char(url[end])) ++end;
  if (end > 0 && end < url.size() && url[end] == ':') {
    const std::string scheme = AsciiUpper(url.substr(0, end));
    return scheme == "HTTP" || scheme == "HTTPS" ? HrefKind::kWeb : HrefKind::kOther;
  }
  // "//host" keeps the report's own scheme for another host: from a report on disk, a file
  // share that a click would connect to. A backslash is a slash to file: and http: alike.
  auto slash = [](char c) { return c == '/' || c == '\\'; };
  if (url.size() >= 2 && slash(url[0]) && slash(url[1])) return HrefKind::kOther;
  return HrefKind::kRelative;
}

}  // namespace

bool IsSafeHref(std::string_view href, bool relative_ok) {
  // The attribute value as written and as decoded once more must both be safe, so a reference
  // the page's own parser left in cannot spell a scheme either.
  for (const std::string& url : {CleanReference(href), CleanReference(DecodeReferences(href))}) {
    const HrefKind kind = KindOfParsed(url);
    if (kind == HrefKind::kOther || (kind == HrefKind::kRelative && !relative_ok)) return false;
  }
  return true;
}

std::string SpreadsheetText(std::string_view cell) {
  const bool formula =
      !cell.empty() && std::string_view("=+-@\t\r").find(cell.front()) != std::string_view::npos;
  return formula ? "'" + std::string(cell) : std::string(cell);
}

std::string CsvField(std::string_view value) {
  if (value.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(value);
  std::string out = "\"";
  for (char c : value) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
  return out;
}

std::string FormatHtmlReport(const ResultRows& rows, const char* charset) {
  const std::string meta =
      std::string("<META http-equiv=\"Content-Type\" content=\"text/html; charset=") + charset +
      "\">";
  const char* kHead[] = {
      "<HTML>",
      "<HEAD>",
      meta.c_str(),
      "<META http-equiv=\"Content-Style-Type\" content=\"Text/css\" > ",
      "<TITLE>Voxtrel</TITLE>",
      "</HEAD>",
      "<BODY>",
      "<P>Voxtrel<BR>",
      "<TABLE border=\"1\" cellpadding=\"4\" cellspacing=\"0\">",
      "<TBODY>",
  };
  static constexpr const char* kTail[] = {"</TBODY>", "</TABLE>", "</P>", "</BODY>", "</HTML>"};
  std::string out;
  for (const char* line : kHead) out += std::string(line) + kCrLf;
  for (const ResultRow& row : rows) {
    out += std::string("<TR>") + kCrLf;
    out += RowLine(row) + kCrLf;
    out += std::string("</TR>") + kCrLf;
  }
  for (const char* line : kTail) out += std::string(line) + kCrLf;
  return out;
}

std::string CsvRowLine(const ResultRow& row) {
  std::string line;
  for (int column : {kColNo2, kColMark, kColTarget, kColName, kColFile})
    line += (line.empty() ? "" : ",") + CsvField(CellText(row, column));
  return line;
}

std::string FormatCsvReport(const ResultRows& rows) {
  std::string out;
  for (const ResultRow& row : rows) out += CsvRowLine(row) + kCrLf;
  return out;
}

namespace {

constexpr const char* kDetailedColumns[] = {"No", "結果", "URL",    "リンク名", "ページ",
                                            "行", "理由", "転送先", "ｱｰｶｲﾌﾞ"};

// The detailed columns a report has: the last, the archived copy, only after a run that looked
// copies up, so that the reports of other runs stay as they were.
size_t DetailedColumnCount(const ReportHeading& heading) {
  return std::size(kDetailedColumns) - (heading.archive ? 0 : 1);
}

// Text for an HTML5 page: escaped, and the control characters HTML forbids shown as U+FFFD.
std::string HtmlText(std::string_view text) {
  std::string out;
  for (char c : EscapeHtml(text)) {
    const auto u = static_cast<unsigned char>(c);
    if ((u < 0x20 && c != '\t' && c != '\n' && c != '\r') || u == 0x7F)
      out += "\xEF\xBF\xBD";
    else
      out += c;
  }
  return out;
}

// An address as an href takes: what a URL may not hold (blanks, controls, quotes, bytes past
// ASCII) percent-escaped, as a browser would send it.
std::string HrefOf(std::string_view address) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (char c : address) {
    const auto u = static_cast<unsigned char>(c);
    const bool unsafe = std::string_view("\"<>\\^`{|}").find(c) != std::string_view::npos;
    if (u <= 0x20 || u >= 0x7F || unsafe)
      out += {'%', kHex[u >> 4], kHex[u & 15]};
    else
      out += c;
  }
  return EscapeHtml(out);
}

// A web address as a link; anything else (a file path, a relative link) as text, since from
// where the report is opened it would lead nowhere.
std::string LinkOrText(const std::string& text) {
  if (!IsWebAddress(TrimBlanks(text))) return HtmlText(text);
  return "<a href=\"" + HrefOf(TrimBlanks(text)) + "\">" + HtmlText(text) + "</a>";
}

// The detailed columns of a row, as text: the archived copy last, whether shown or not.
std::vector<std::string> DetailedCells(const ResultRow& row) {
  return {RowNumberText(row.number),
          MarkOf(row.outcome),
          row.link.target,
          row.link.name,
          CellText(row, kColFile),
          row.link.place.line ? std::to_string(row.link.place.line) : "",
          ReasonText(row.outcome, Language::kJapanese),
          row.outcome.redirected_to,
          row.outcome.archived};
}

// "× 12 件 / ◎ 340 件 / △ 8 件 / Ｐ 8 件", and "/ ？ 3 件" when a row has that mark.
std::string CountsText(const ResultRows& rows) {
  size_t counts[kMarkCount] = {};
  for (const ResultRow& row : rows) ++counts[MarkIndex(row.outcome)];
  std::string text;
  for (size_t i = 0; i < (counts[kMarkCount - 1] ? kMarkCount : kClassicMarkCount); ++i)
    text += std::string(i ? " / " : "") + kMarks[i] + " " + std::to_string(counts[i]) + " 件";
  return text;
}

// The crawl's counts in the order a report gives them.
constexpr std::pair<const char*, size_t CrawlCounts::*> kCrawlCountCaptions[] = {
    {"巡回したﾍﾟｰｼﾞ", &CrawlCounts::crawled},
    {"上限で省いたﾍﾟｰｼﾞ", &CrawlCounts::left_out},
    {"robots.txt で除外", &CrawlCounts::disallowed},
    {"取得できないﾍﾟｰｼﾞ", &CrawlCounts::failed}};

// The heading as caption and value, in the order a report gives them: what was checked, when,
// how and, after a crawl, its pages.
std::vector<std::pair<std::string, std::string>> HeadingFacts(const ReportHeading& heading) {
  std::vector<std::pair<std::string, std::string>> facts = {
      {"検査対象", heading.checked}, {"検査日時", heading.when}, {"ｵﾌﾟｼｮﾝ", heading.options}};
  if (heading.crawl)
    for (const auto& [caption, count] : kCrawlCountCaptions)
      facts.emplace_back(caption, std::to_string((*heading.crawl).*count) + " 件");
  return facts;
}

constexpr const char* kDetailedStyle =
    "body{font-family:sans-serif;margin:1.5em;color:#222}"
    "h1{font-size:1.4em}"
    "dl{display:grid;grid-template-columns:max-content auto;gap:.2em 1em}"
    "dt{font-weight:bold}dd{margin:0}"
    "table{border-collapse:collapse;font-size:.9em}"
    "th,td{border:1px solid #aaa;padding:.25em .5em;text-align:left;vertical-align:top}"
    "th{background:#e8e8e8}td.mark{text-align:center}tr.failed td{background:#fdeaea}"
    "td.url,td.page,td.moved{word-break:break-all}";

}  // namespace

std::string FormatDetailedHtmlReport(const ResultRows& rows, const ReportHeading& heading,
                                     const char* charset) {
  std::string out = "<!DOCTYPE html>\r\n<html lang=\"ja\">\r\n<head>\r\n";
  out += std::string("<meta charset=\"") + charset + "\">\r\n";
  out += std::string(kReportGeneratorMeta) + " " + kVersionString + "\">\r\n";
  out += "<title>Voxtrel ﾘﾝｸ検査結果</title>\r\n";
  out += std::string("<style>") + kDetailedStyle + "</style>\r\n</head>\r\n<body>\r\n";
  out += "<h1>Voxtrel ﾘﾝｸ検査結果</h1>\r\n<dl>\r\n";
  for (const auto& [term, value] : HeadingFacts(heading))
    out += "<dt>" + term + "</dt><dd>" + HtmlText(value) + "</dd>\r\n";
  out += "</dl>\r\n<p>" + CountsText(rows) + "</p>\r\n<table>\r\n<thead>\r\n<tr>";
  const size_t columns = DetailedColumnCount(heading);
  for (size_t i = 0; i < columns; ++i) out += std::string("<th>") + kDetailedColumns[i] + "</th>";
  out += "</tr>\r\n</thead>\r\n";
  // An empty body is left out rather than written empty.
  if (!rows.empty()) out += "<tbody>\r\n";
  for (const ResultRow& row : rows) {
    const std::vector<std::string> cells = DetailedCells(row);
    const bool failed = row.outcome.kind == CheckOutcome::Kind::kFailed;
    out += failed ? "<tr class=\"failed\">" : "<tr>";
    out += "<td>" + cells[0] + "</td><td class=\"mark\">" + cells[1] + "</td>";
    out += "<td class=\"url\">" + LinkOrText(cells[2]) + "</td><td>" + HtmlText(cells[3]) + "</td>";
    out += "<td class=\"page\">" + LinkOrText(cells[4]) + "</td><td>" + cells[5] + "</td>";
    out +=
        "<td>" + HtmlText(cells[6]) + "</td><td class=\"moved\">" + LinkOrText(cells[7]) + "</td>";
    if (heading.archive) out += "<td class=\"moved\">" + LinkOrText(cells[8]) + "</td>";
    out += "</tr>\r\n";
  }
  if (!rows.empty()) out += "</tbody>\r\n";
  return out + "</table>\r\n</body>\r\n</html>\r\n";
}

namespace {

// One line of the detailed CSV report, every cell text to a spreadsheet, as many cells as the
// columns so every line has the same number of fields.
std::string DetailedCsvLine(const std::vector<std::string>& cells, size_t columns) {
  std::string line;
  for (size_t i = 0; i < columns; ++i)
    line += (i ? "," : "") + (i < cells.size() ? CsvField(SpreadsheetText(cells[i])) : "");
  return line + kCrLf;
}

}  // namespace

std::string FormatDetailedCsvReport(const ResultRows& rows, const ReportHeading& heading) {
  const size_t columns = DetailedColumnCount(heading);
  std::string out;
  for (const auto& [caption, value] : HeadingFacts(heading))
    out += DetailedCsvLine({caption, value}, columns);
  out += DetailedCsvLine({"件数", CountsText(rows)}, columns);
  out += DetailedCsvLine({std::begin(kDetailedColumns), std::end(kDetailedColumns)}, columns);
  for (const ResultRow& row : rows) out += DetailedCsvLine(DetailedCells(row), columns);
  return out;
}

ReportForm ReportFormForCheckerName(const std::string& path) {
  if (EndsWithNoCase(path, ".HTM") || EndsWithNoCase(path, ".HTML")) return ReportForm::kHtml;
  if (EndsWithNoCase(path, ".JSON")) return ReportForm::kJson;
  return ReportForm::kCsv;
}

std::string JsonString(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (u < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", u);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

// Rows of every link found say what each is, and what an internal one was looked up as; rows
// of the old rule stay as they always were.
static std::string KindFields(const FoundLink& link) {
  if (link.resolved.empty()) return "";
  std::string fields = ",\"kind\":" + JsonString(KindName(KindOf(link)));
  if (link.internal) fields += ",\"resolved\":" + JsonString(DisplayName(link.resolved));
  return fields;
}

// Only a row whose link moved for good says where to, so every other row stays as it was.
static std::string RedirectField(const CheckOutcome& outcome) {
  if (outcome.redirected_to.empty()) return "";
  return ",\"redirected_to\":" + JsonString(outcome.redirected_to);
}

// Only a row that took more than one request says how many, so every other row stays as it was.
static std::string TriesField(const CheckOutcome& outcome) {
  if (outcome.tries <= 1) return "";
  return ",\"tries\":" + std::to_string(outcome.tries);
}

// Only a row whose answer was judged in doubt (or a failure on a closed service) names why, so
// every other row stays as it was.
static std::string SuspectField(const CheckOutcome& outcome) {
  if (outcome.suspect == SuspectKind::kNone) return "";
  return ",\"suspect\":" + JsonString(SuspectName(outcome.suspect));
}

// Only a row whose archived copy was found names it, last, so every other row stays as it was.
static std::string ArchivedField(const CheckOutcome& outcome) {
  if (outcome.archived.empty()) return "";
  return ",\"archived\":" + JsonString(outcome.archived);
}

static std::string LineField(const FoundLink& link) {
  return link.place.line ? ",\"line\":" + std::to_string(link.place.line) : "";
}

std::string JsonRow(const ResultRow& row) {
  const CheckOutcome& outcome = row.outcome;
  // The number as the running count, not the six-digit cell, which wraps after 999999.
  return "{\"no\":" + std::to_string(row.number) + ",\"mark\":" + JsonString(MarkOf(row.outcome)) +
         ",\"url\":" + JsonString(row.link.target) + ",\"name\":" + JsonString(row.link.name) +
         ",\"page\":" + JsonString(CellText(row, kColFile)) + LineField(row.link) +
         ",\"status\":" + (outcome.status ? std::to_string(*outcome.status) : "null") +
         ",\"reason\":" + JsonString(ReasonText(outcome)) +
         ",\"redirects\":" + std::to_string(outcome.redirects) +
         ",\"elapsed_ms\":" + std::to_string(outcome.elapsed_ms) + KindFields(row.link) +
         RedirectField(outcome) + TriesField(outcome) + SuspectField(outcome) +
         ArchivedField(outcome) + "}";
}

// The JSON report some rows at a time, so that a report of a million rows is never one string.
static DiskInterface::NextPiece JsonReportPieces(const ResultRows& rows) {
  constexpr size_t kPieceBytes = 64 * 1024;
  return [rows, next = size_t{0}, piece = std::string()](std::string_view* out) mutable {
    if (next > rows.size()) return false;
    piece = next == 0 ? "[" : "";
    for (; next < rows.size() && piece.size() < kPieceBytes; ++next)
      piece += (next ? ",\n" : "\n") + JsonRow(rows[next]);
    // One past the last row: the end is written once.
    if (next == rows.size()) piece += "\n]\n", ++next;
    *out = piece;
    return true;
  };
}

std::string FormatJsonReport(const ResultRows& rows) {
  std::string out;
  const DiskInterface::NextPiece next = JsonReportPieces(rows);
  for (std::string_view piece; next(&piece);) out += piece;
  return out;
}

std::string ReportBytes(const ResultRows& rows, const ReportFormat& format,
                        const ReportHeading& heading) {
  const bool utf8 = format.encoding == ReportEncoding::kUtf8;
  switch (format.form) {
    case ReportForm::kJson:
      return FormatJsonReport(rows);
    case ReportForm::kHtml:
      if (format.detailed)
        return utf8 ? FormatDetailedHtmlReport(rows, heading)
                    : Utf8ToCp932(FormatDetailedHtmlReport(rows, heading, "Shift_JIS"));
      return utf8 ? FormatHtmlReport(rows, "UTF-8") : Utf8ToCp932(FormatHtmlReport(rows));
    case ReportForm::kCsv:
      break;
  }
  const std::string text =
      format.detailed ? FormatDetailedCsvReport(rows, heading) : FormatCsvReport(rows);
  // The byte order mark tells spreadsheet programs the file is UTF-8.
  return utf8 ? "\xEF\xBB\xBF" + text : Utf8ToCp932(text);
}

bool WriteReport(DiskInterface& disk, const ResultRows& rows, const std::string& path,
                 const ReportFormat& format, std::string* err, const ReportHeading& heading) {
  if (format.form == ReportForm::kJson)
    return disk.WriteInPieces(path, JsonReportPieces(rows), err);
  return disk.WriteWholeFile(path, ReportBytes(rows, format, heading), err);
}

}  // namespace voxtrel
