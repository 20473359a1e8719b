#include <cstdio>
#include <string>
#include <string_view>

#include "output/ci_report.h"
#include "output/ci_text.h"

namespace voxtrel {

std::string XmlText(std::string_view text) {
  const std::string valid = WellFormedUtf8(text);
  std::string out;
  out.reserve(valid.size());
  for (size_t i = 0; i < valid.size(); ++i) {
    const char c = valid[i];
    const auto u = static_cast<unsigned char>(c);
    // U+FFFE and U+FFFF are no characters to XML, whatever the encoding.
    if (valid.compare(i, 2, "\xEF\xBF") == 0 && i + 2 < valid.size() &&
        (valid[i + 2] == '\xBE' || valid[i + 2] == '\xBF')) {
      i += 2;
      continue;
    }
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
      case '\'':
        out += "&apos;";
        break;
      // Written as references, so an attribute value keeps them instead of turning them into
      // blanks.
      case '\t':
        out += "&#9;";
        break;
      case '\n':
        out += "&#10;";
        break;
      case '\r':
        out += "&#13;";
        break;
      default:
        if (u >= 0x20) out += c;
    }
  }
  return out;
}

namespace {

std::string Seconds(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", seconds < 0 ? 0.0 : seconds);
  return text;
}

std::string Attribute(const char* name, std::string_view value) {
  return std::string(" ") + name + "=\"" + XmlText(value) + "\"";
}

std::string TestCase(const ResultRow& row, const CiContext& context) {
  const std::string target = row.link.target.empty() ? "(empty)" : row.link.target;
  std::string out = "  <testcase" + Attribute("name", target) +
                    Attribute("classname", CiPageName(row, context)) +
                    Attribute("time", Seconds(static_cast<double>(row.outcome.elapsed_ms) / 1000));
  if (!IsCiFailure(row)) return out + "/>\n";
  const std::string reason = CiReasonOf(row);
  std::string where = CiPageName(row, context);
  if (row.link.place.line) where += ":" + std::to_string(row.link.place.line);
  out += ">\n    <failure" + Attribute("message", reason) + Attribute("type", "dead-link") + ">";
  out += XmlText(where + ": " + CiMessageOf(row)) + "</failure>\n  </testcase>\n";
  return out;
}

}  // namespace

std::string FormatJunitReport(const ResultRows& rows, const CiContext& context) {
  size_t failures = 0;
  for (const ResultRow& row : rows) failures += IsCiFailure(row);
  std::string out =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuite" +
      Attribute("name", "voxtrel-check") + Attribute("tests", std::to_string(rows.size())) +
      Attribute("failures", std::to_string(failures)) + Attribute("errors", "0") +
      Attribute("time", Seconds(context.seconds)) + Attribute("timestamp", context.timestamp) +
      Attribute("hostname", context.hostname.empty() ? "localhost" : context.hostname) +
      ">\n  <properties>\n";
  if (!context.checked.empty())
    out += "    <property" + Attribute("name", "checked") + Attribute("value", context.checked) +
           "/>\n";
  // Read by a person looking at a red build: the list ends where the run was stopped.
  if (context.interrupted)
    out += "    <property" + Attribute("name", "interrupted") + Attribute("value", "true") + "/>\n";
  out += "  </properties>\n";
  for (const ResultRow& row : rows) out += TestCase(row, context);
  return out + "  <system-out/>\n  <system-err/>\n</testsuite>\n";
}

}  // namespace voxtrel
