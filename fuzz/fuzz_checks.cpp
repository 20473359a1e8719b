#include "fuzz/fuzz_checks.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "app/settings_file.h"
#include "output/report_writer.h"
#include "platform/cp932.h"
#include "platform/text.h"
#include "web/classic_links.h"
#include "web/euc_to_sjis.h"
#include "web/html_links.h"

namespace voxtrel::fuzz {
namespace {

constexpr const char* kReplacement = "\xEF\xBF\xBD";  // U+FFFD

void Require(bool holds, const char* property) {
  if (holds) return;
  std::fprintf(stderr, "fuzz property broken: %s\n", property);
  std::abort();
}

std::string_view View(const uint8_t* data, size_t size) {
  return std::string_view(reinterpret_cast<const char*>(data), size);
}

std::string ReplaceAll(std::string_view text, std::string_view from, std::string_view to) {
  std::string out;
  size_t done = 0;
  for (size_t at = text.find(from); at != std::string_view::npos; at = text.find(from, done)) {
    out.append(text.substr(done, at - done)).append(to);
    done = at + from.size();
  }
  return out.append(text.substr(done));
}

std::vector<std::string> Split(std::string_view text, char separator) {
  std::vector<std::string> pieces(1);
  for (char c : text) {
    if (c == separator)
      pieces.emplace_back();
    else
      pieces.back().push_back(c);
  }
  return pieces;
}

// The link text steps as written down, searching the whole rest of the line: the reference the
// scanner's shortcuts must agree with.
std::string ReferenceLinkName(const std::string& line, size_t start) {
  const std::string rest = line.substr(start);
  const std::string upper = AsciiUpper(rest);
  if (upper.find('>') == std::string::npos) return "";
  const size_t close = upper.find("</A");
  if (close != std::string::npos) {
    const std::string t(TrimBlanks(rest.substr(0, close)));
    const size_t q = t.rfind('>');
    const std::string name(TrimBlanks(q == std::string::npos ? t : t.substr(q + 1)));
    const std::string upper_name = AsciiUpper(name);
    if (upper_name.find(".GIF") != std::string::npos || upper_name.find(".JPG") != std::string::npos)
      return kImageLinkName;
    return name;
  }
  if (upper.find("><") != std::string::npos) return "";
  const size_t gt = upper.find('>') + 1;
  const size_t quote = upper.find('"');
  const size_t qt = quote == std::string::npos ? 0 : quote + 1;
  if (gt + 1 < rest.size() && qt < gt) return std::string(TrimBlanks(rest.substr(gt)));
  return "";
}

class RecordingTarget : public SettingsTarget {
 public:
  bool SelectDrive(const std::string& text) override { return Log("drive " + text); }
  bool SetFolder(const std::string& path) override { return Log("folder " + path); }
  bool SetCheckState(int which, int state) override {
    return Log("check" + std::to_string(which) + " " + std::to_string(state)) && state >= 0 &&
           state <= 2;
  }
  void SetSinglePageTarget(const std::string& text) override { Log("target " + text); }
  bool Log(const std::string& call) {
    calls.push_back(call);
    return true;
  }
  std::vector<std::string> calls;
};

}  // namespace

void CheckLineScanner(const uint8_t* data, size_t size) {
  std::string_view raw = View(data, size);
  raw = raw.substr(0, raw.find('\r'));  // the reader ends a line at a CR
  const std::string line = std::string(TrimBlanks(Cp932ToUtf8(raw))) + "  ";
  const std::string upper = AsciiUpper(line);
  for (size_t at = upper.find("HREF=\"HTTP://"); at != std::string::npos;
       at = upper.find("HREF=\"HTTP://", at + 1)) {
    const FoundLink link = CutLink(line, static_cast<int32_t>(at + 1));
    const size_t start = at + 6;
    Require(line.compare(start, link.target.size(), link.target) == 0 &&
                link.target.find_first_of("\"#?") == std::string::npos,
            "a target is the line's text after the quote, before a quote, # or ?");
    if (line.find_first_of("\"#?", start) == std::string::npos) {
      Require(link.name.empty(), "a link without an end on its line has no name");
      continue;
    }
    const std::string expected = ReferenceLinkName(line, start);
    Require(link.name.size() <= 1024, "link names stay short");
    Require(expected.compare(0, link.name.size(), link.name) == 0 &&
                (expected.size() > 1024 || link.name == expected),
            "the link name follows the link text steps");
    Require(expected.size() == link.name.size() ||
                (static_cast<unsigned char>(expected[link.name.size()]) & 0xC0) != 0x80,
            "a long name is cut at a character boundary");
  }
}

void CheckEucToSjis(const uint8_t* data, size_t size) {
  const std::string_view bytes = View(data, size);
  const std::string sjis = EucToSjis(bytes);
  Require(sjis.size() <= 2 * size, "at most two bytes per input byte");
  if (std::all_of(bytes.begin(), bytes.end(), [](char c) { return (c & 0x80) == 0; }))
    Require(sjis == bytes, "ASCII passes through unchanged");
  const std::string text = Cp932ToUtf8(sjis);
  Require(Utf8ToCp932(text) == sjis, "the converted bytes are code page 932 text");
}

void CheckCp932RoundTrip(const uint8_t* data, size_t size) {
  const std::string_view bytes = View(data, size);
  const std::string text = Cp932ToUtf8(bytes);
  const std::string encoded = Utf8ToCp932(text);
  const std::string again = Cp932ToUtf8(encoded);
  Require(again == ReplaceAll(text, kReplacement, "?"), "decode, encode, decode is stable");
  Require(Utf8ToCp932(again) == encoded, "encoding the stable text gives the same bytes");
  Require(Utf8ToCp932(bytes).size() <= bytes.size(), "encoding never grows the text");
}

void CheckSettingsReader(const uint8_t* data, size_t size) {
  const std::string_view bytes = View(data, size);
  const std::vector<std::string> lines = SplitSettingsLines(bytes, kSettingsLineCount);
  Require(lines.size() <= kSettingsLineCount, "at most nine lines are read");
  for (const std::string& line : lines)
    Require(line.find('\r') == std::string::npos, "a CR always ends a settings line");
  RecordingTarget from_lines;
  Require(ApplySettingsLines(lines, from_lines) <= lines.size(), "no more lines applied than read");

  // Values written and read back come back as the file can hold them.
  const std::vector<std::string> fields = Split(bytes, '\x01');
  if (fields.size() < 3) return;
  SettingsValues values;
  values.drive = fields[0];
  values.folder = fields[1];
  values.single_page_target = fields[2];
  RecordingTarget read_back;
  const std::string file = FormatSettings(values);
  const std::vector<std::string> written = SplitSettingsLines(file, kSettingsLineCount);
  Require(written.size() == 8 && ApplySettingsLines(written, read_back) == 8, "all eight read back");
  // A file code page 932 cannot hold is written as UTF-8, which gives every value back.
  const bool utf8 = file.starts_with("\xEF\xBB\xBF");
  auto through_file = [utf8](std::string value) {
    std::replace(value.begin(), value.end(), '\r', '?');
    return std::string(TrimBlanks(utf8 ? value : Cp932ToUtf8(Utf8ToCp932(value))));
  };
  const std::string target = values.single_page_target.empty() ? "http://" : fields[2];
  Require(read_back.calls == std::vector<std::string>{"drive " + through_file(values.drive),
                                                      "folder " + through_file(values.folder),
                                                      "check1 1", "check2 1",
                                                      "target " + through_file(target)},
          "written values read back");
}

void CheckReportWriter(const uint8_t* data, size_t size) {
  const std::vector<std::string> fields = Split(View(data, size), '\x01');
  std::vector<ResultRow> rows;
  std::vector<ResultRow> skeleton;
  for (size_t i = 0; i + 3 <= fields.size() && rows.size() < 64; i += 3) {
    const auto number = static_cast<int64_t>(rows.size()) + 1;
    rows.push_back(ResultRow{number, FoundLink{fields[i], fields[i + 1], fields[i + 2]}, {}});
    // A target no browser may follow is shown as text, as one of an unknown scheme is.
    const char* target = IsSafeHref(TrimBlanks(fields[i]), true) ? "v" : "v:";
    skeleton.push_back(ResultRow{number, FoundLink{target, "v", "v"}, {}});
  }
  const std::string html = FormatHtmlReport(rows);
  const std::string markup = FormatHtmlReport(skeleton);
  // Values bring no markup of their own: the page has exactly the brackets and quotes of the
  // same table filled with plain letters.
  for (char c : {'<', '>', '"'})
    Require(std::count(html.begin(), html.end(), c) == std::count(markup.begin(), markup.end(), c),
            "every < > \" of a value is escaped");
  for (const std::string& field : fields) {
    const std::string csv = CsvField(field);
    const bool quoted = csv.size() >= 2 && csv.front() == '"' && csv.back() == '"' && csv != field;
    const std::string back = quoted ? ReplaceAll(csv.substr(1, csv.size() - 2), "\"\"", "\"") : csv;
    Require(back == field, "a comma-separated field reads back as the value");
  }
}

void CheckHtmlLinks(const uint8_t* data, size_t size) {
  // Wrapped in brackets, so two copies meet where a segment may be cut.
  const std::string page = "<" + std::string(View(data, size)) + ">";
  const HtmlLinks found = FindHtmlLinks(page);
  std::string rebuilt;
  for (const HtmlLink& link : found.links) {
    const std::string_view w = link.written;
    Require(!w.empty() && w.find_first_of(" \t\n\f\r") != 0 &&
                w.find_last_of(" \t\n\f\r") != w.size() - 1,
            "a link is written, trimmed");
    for (std::string_view scheme : {"JAVASCRIPT:", "MAILTO:", "TEL:", "DATA:"})
      Require(!StartsWithNoCase(w, scheme), "no script, mail, phone or data links");
    Require(link.name.size() <= kHtmlNameCap && IsValidUtf8(link.name) && IsValidUtf8(w),
            "names are short and all text is UTF-8");
    rebuilt += "<a href=\"" +
               ReplaceAll(ReplaceAll(ReplaceAll(w, "&", "&amp;"), "\"", "&quot;"), "<", "&lt;") +
               "\">";
  }
  std::vector<std::string> again;
  for (const HtmlLink& link : FindHtmlLinks(rebuilt).links) again.push_back(link.written);
  std::vector<std::string> written;
  for (const HtmlLink& link : found.links) written.push_back(link.written);
  Require(again == written, "each link written back as an href is found as written");

  // A page twice over, cut where the first copy ends, gives the links of each copy in turn.
  const HtmlLinks one = FindHtmlLinks(page, page.size());
  const HtmlLinks two = FindHtmlLinks(page + page, page.size());
  Require(two.links.size() == 2 * one.links.size() &&
              two.anchors.size() == 2 * one.anchors.size() && two.base == one.base,
          "segments add up");
  for (size_t i = 0; i < two.links.size(); ++i) {
    const HtmlLink& a = two.links[i];
    const HtmlLink& b = one.links[i % one.links.size()];
    Require(a.written == b.written && a.name == b.name && a.element == b.element,
            "segments add up");
  }
}

}  // namespace voxtrel::fuzz
