#include "fuzz/fuzz_checks.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "app/settings_file.h"
#include "engine/check_loop.h"
#include "engine/messages.h"
#include "engine/result_list.h"
#include "engine/text_utils.h"
#include "output/report_writer.h"
#include "platform/cp932.h"
#include "web/web_check.h"

namespace voxtrel::fuzz {
namespace {

constexpr const char* kReplacement = "\xEF\xBF\xBD";  // U+FFFD
constexpr std::string_view kHrefPattern = "HREF=\"HTTP://";
constexpr size_t kCntPosEntries = 5001;

void Require(bool holds, const char* property) {
  if (holds) return;
  std::fprintf(stderr, "fuzz property broken: %s\n", property);
  std::fflush(stderr);
  std::abort();
}

std::string_view View(const uint8_t* data, size_t size) {
  return std::string_view(reinterpret_cast<const char*>(data), size);
}

std::string ReplaceAll(std::string text, std::string_view from, std::string_view to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

/// Splits at `separator`, keeping empty pieces.
std::vector<std::string> Split(std::string_view text, char separator) {
  std::vector<std::string> pieces;
  size_t start = 0;
  for (;;) {
    size_t at = text.find(separator, start);
    if (at == std::string_view::npos) {
      pieces.emplace_back(text.substr(start));
      return pieces;
    }
    pieces.emplace_back(text.substr(start, at - start));
    start = at + 1;
  }
}

size_t Count(std::string_view text, char c) {
  return static_cast<size_t>(std::count(text.begin(), text.end(), c));
}

/// Comma-separated text read back: quoted fields may hold commas, quotes (doubled), CR and LF;
/// a record ends at CR LF outside quotes.
std::vector<std::vector<std::string>> ParseCsv(std::string_view text) {
  std::vector<std::vector<std::string>> records;
  std::vector<std::string> record;
  std::string field;
  bool quoted = false;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (quoted) {
      if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
        field += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        field += c;
      }
    } else if (c == '"' && field.empty()) {
      quoted = true;
    } else if (c == ',') {
      record.push_back(field);
      field.clear();
    } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      record.push_back(field);
      field.clear();
      records.push_back(record);
      record.clear();
      ++i;
    } else {
      field += c;
    }
  }
  if (!field.empty() || !record.empty()) {
    record.push_back(field);
    records.push_back(record);
  }
  return records;
}

/// A settings target that accepts or refuses as told and records every call.
class RecordingTarget : public SettingsTarget {
 public:
  explicit RecordingTarget(uint8_t refusals) : refusals_(refusals) {}

  bool SelectDrive(const std::string& text) override {
    calls.push_back("drive " + text);
    drive = text;
    return !(refusals_ & 1);
  }
  bool SetFolder(const std::string& path) override {
    calls.push_back("folder " + path);
    folder = path;
    return !(refusals_ & 2);
  }
  bool SetCheckState(int which, int state) override {
    calls.push_back("check" + std::to_string(which) + " " + std::to_string(state));
    if (state < 0 || state > 2) return false;
    (which == 1 ? check1 : check2) = state;
    return !(refusals_ & 4);
  }
  void SetSinglePageTarget(const std::string& text) override {
    calls.push_back("target " + text);
    target = text;
  }

  std::vector<std::string> calls;
  std::string drive, folder, target;
  int check1 = -1, check2 = -1;

 private:
  uint8_t refusals_;
};

/// What a value looks like after being written to the settings file and read back: a carriage
/// return, which would end the line, is written as "?" like a character the code page lacks.
std::string ThroughSettingsFile(std::string value) {
  std::replace(value.begin(), value.end(), '\r', '?');
  return TrimBlanks(Cp932ToUtf8(Utf8ToCp932(value)));
}

/// The link text steps as written down, searching the whole rest of the line for every link:
/// the reference the scanner's shortcuts must agree with.
std::string ReferenceLinkName(const std::string& line, size_t start) {
  const std::string rest = line.substr(start);
  const std::string upper = AsciiUpper(rest);
  if (upper.find('>') == std::string::npos) return "";
  const size_t close = upper.find("</A");
  if (close != std::string::npos) {
    const std::string t = TrimBlanks(rest.substr(0, close));
    const size_t q = t.rfind('>');
    const std::string name = TrimBlanks(q == std::string::npos ? t : t.substr(q + 1));
    const std::string upper_name = AsciiUpper(name);
    if (upper_name.find(".GIF") != std::string::npos ||
        upper_name.find(".JPG") != std::string::npos)
      return kImageLinkName;
    return name;
  }
  if (upper.find("><") != std::string::npos) return "";
  const size_t gt = upper.find('>') + 1;
  const size_t quote = upper.find('"');
  const size_t qt = quote == std::string::npos ? 0 : quote + 1;
  if (gt + 1 < rest.size() && qt < gt) return TrimBlanks(rest.substr(gt));
  return "";
}

}  // namespace

bool IsValidUtf8(const std::string& text) {
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  size_t n = text.size();
  for (size_t i = 0; i < n;) {
    unsigned char b = s[i];
    if (b < 0x80) {
      ++i;
      continue;
    }
    size_t len = (b >> 5) == 0x6 ? 2 : (b >> 4) == 0xE ? 3 : (b >> 3) == 0x1E ? 4 : 0;
    if (len == 0 || i + len > n) return false;
    uint32_t cp = b & (0xFF >> (len + 1));
    for (size_t k = 1; k < len; ++k) {
      if ((s[i + k] & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (s[i + k] & 0x3F);
    }
    static constexpr uint32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < kMin[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += len;
  }
  return true;
}

void CheckLineScanner(const uint8_t* data, size_t size) {
  std::string_view raw = View(data, size);
  // A line of a page never holds a CR: the reader ends the line there.
  raw = raw.substr(0, raw.find('\r'));
  std::string line = TrimBlanks(Cp932ToUtf8(raw));
  line += "  ";
  const std::string upper = AsciiUpper(line);
  Require(upper.size() == line.size(), "upper-casing keeps every position");
  Require(IsValidUtf8(line), "a decoded line is UTF-8");

  const std::string pattern(kHrefPattern);
  const std::vector<int32_t> hits = FindAllHits(upper, pattern);
  size_t next_free = 0;
  for (int32_t hit : hits) {
    Require(hit >= 1, "hit positions count from 1");
    size_t at = static_cast<size_t>(hit) - 1;
    Require(at >= next_free, "hits are left to right and do not overlap");
    Require(upper.compare(at, pattern.size(), pattern) == 0, "a hit stands on the pattern");
    next_free = at + pattern.size();
  }
  Require(upper.find(pattern, next_free) == std::string::npos, "no hit is missed");

  std::vector<int32_t> table(kCntPosEntries, 0);
  const int32_t counted = CntStr(upper, pattern, table);
  if (hits.size() <= kCntPosEntries) {
    Require(counted == static_cast<int32_t>(hits.size()), "CntStr counts every hit that fits");
    Require(std::equal(hits.begin(), hits.end(), table.begin()), "CntStr keeps the positions");
  } else {
    Require(counted == 0, "CntStr gives 0 when its table overflows");
  }

  for (int32_t hit : hits) {
    const FoundLink link = CutLink(line, hit);
    const size_t start = static_cast<size_t>(hit) - 1 + 6;
    Require(AsciiUpper(link.target.substr(0, 7)) == "HTTP://", "a target starts with http://");
    Require(line.compare(start, link.target.size(), link.target) == 0,
            "a target is the line's text after the quote");
    Require(link.target.find_first_of("\"#?") == std::string::npos,
            "a target stops before a quote, # or ?");
    Require(link.name == kImageLinkName || line.find(link.name) != std::string::npos,
            "a link name is text of the line");
    Require(IsValidUtf8(link.target) && IsValidUtf8(link.name), "cut text stays UTF-8");
    if (line.find_first_of("\"#?", start) == std::string::npos) {
      Require(link.name.empty(), "a link without an end on its line has no name");
    } else {
      const std::string expected = ReferenceLinkName(line, start);
      // Names are kept to 1 KiB; a longer one is cut at a character boundary.
      if (expected.size() <= 1024)
        Require(link.name == expected, "the link name follows the link text steps");
      else
        Require(expected.compare(0, link.name.size(), link.name) == 0,
                "a long link name is the start of the full one");
      Require(link.name.size() <= 1024 || link.name == kImageLinkName, "link names stay short");
    }
  }
}

void CheckEucToSjis(const uint8_t* data, size_t size) {
  const std::string_view bytes = View(data, size);
  const std::string text = EucToSjis(bytes);
  Require(IsValidUtf8(text), "converted text is UTF-8");
  const size_t characters = Utf8Length(text);
  Require(characters <= size && characters >= (size + 1) / 2,
          "every unit is one or two bytes giving one character");
  if (std::all_of(bytes.begin(), bytes.end(), [](char c) { return (c & 0x80) == 0; }))
    Require(text == bytes, "ASCII passes through unchanged");
  // What page preparation writes must read back as the same text (a character without a code
  // page 932 form becomes "?" in both directions).
  const std::string sjis = Utf8ToCp932(text);
  Require(sjis.size() <= 2 * characters, "at most two bytes per character");
  Require(Cp932ToUtf8(sjis) == ReplaceAll(text, kReplacement, "?"),
          "the written Shift_JIS reads back as the converted text");
}

void CheckCp932RoundTrip(const uint8_t* data, size_t size) {
  const std::string_view bytes = View(data, size);
  const std::string text = Cp932ToUtf8(bytes);
  Require(IsValidUtf8(text), "decoded text is UTF-8");
  const std::string encoded = Utf8ToCp932(text);
  const std::string again = Cp932ToUtf8(encoded);
  Require(again == ReplaceAll(text, kReplacement, "?"), "decode, encode, decode is stable");
  Require(Utf8ToCp932(again) == encoded, "encoding the stable text gives the same bytes");
  // Arbitrary bytes as UTF-8: never more than one output byte per input byte, ASCII kept.
  const std::string from_any = Utf8ToCp932(bytes);
  Require(from_any.size() <= bytes.size(), "encoding never grows the text");
}

void CheckSettingsReader(const uint8_t* data, size_t size) {
  const std::string_view bytes = View(data, size);
  const uint8_t refusals = size > 0 ? data[0] : 0;

  const std::vector<std::string> lines = SplitSettingsLines(bytes, kSettingsLineCount);
  Require(lines.size() <= kSettingsLineCount, "at most eight lines are read");
  for (const std::string& line : lines) {
    Require(IsValidUtf8(line), "settings lines are UTF-8");
    Require(line.find('\r') == std::string::npos, "a CR always ends a settings line");
    int number = 0;
    if (ParseSettingsNumber(TrimBlanks(line), &number))
      Require(number >= -1000000000 && number <= 1000000000, "numbers stay in range");
  }
  RecordingTarget in_memory(refusals);
  const size_t applied = ApplySettingsLines(lines, in_memory);
  Require(applied <= lines.size(), "no more lines applied than read");

  // The file reader on the same bytes must apply exactly the same values.
  int fd = memfd_create("Voxtrel.DEF", MFD_CLOEXEC);
  if (fd >= 0) {
    size_t done = 0;
    while (done < size) {
      ssize_t n = write(fd, data + done, size - done);
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
    RecordingTarget from_file(refusals);
    ReadSettingsFile("/proc/self/fd/" + std::to_string(fd), from_file);
    close(fd);
    if (done == size && size < 256 * 1024)
      Require(from_file.calls == in_memory.calls, "the file reader applies what the lines hold");
  }

  // Values written and read back come back as the file can hold them.
  const std::vector<std::string> fields = Split(bytes, '\x01');
  if (fields.size() < 5) return;
  SettingsValues values;
  values.drive = fields[0];
  values.folder = fields[1];
  values.check1 = fields[2].empty() ? 0 : static_cast<unsigned char>(fields[2][0]) % 3;
  values.check2 = fields[3].empty() ? 0 : static_cast<unsigned char>(fields[3][0]) % 3;
  values.single_page_target = fields[4];
  RecordingTarget read_back(0);
  const std::vector<std::string> written =
      SplitSettingsLines(FormatSettings(values), kSettingsLineCount);
  Require(written.size() == kSettingsLineCount, "eight lines are written");
  Require(ApplySettingsLines(written, read_back) == kSettingsLineCount, "all eight read back");
  Require(read_back.drive == ThroughSettingsFile(values.drive), "the drive reads back");
  Require(read_back.folder == ThroughSettingsFile(values.folder), "the folder reads back");
  Require(read_back.check1 == values.check1 && read_back.check2 == values.check2,
          "the options read back");
  const std::string target =
      values.single_page_target.empty() ? std::string("http://") : values.single_page_target;
  Require(read_back.target == ThroughSettingsFile(target), "the single page target reads back");
}

void CheckReportWriter(const uint8_t* data, size_t size) {
  const std::vector<std::string> fields = Split(View(data, size), '\x01');
  std::vector<ResultRow> rows;
  std::vector<ResultRow> skeleton;
  for (size_t i = 0; i + 6 <= fields.size() && rows.size() < 64; i += 6) {
    ResultRow row;
    ResultRow plain;
    for (size_t c = 0; c < 6; ++c) {
      row[c] = fields[i + c];
      plain[c] = "v";
    }
    rows.push_back(row);
    skeleton.push_back(plain);
  }
  if (rows.empty()) {
    ResultRow row;
    row[kColTarget] = std::string(View(data, size));
    row[kColName] = row[kColTarget];
    rows.push_back(row);
    skeleton.push_back(ResultRow{"v", "v", "v", "v", "v", "v"});
  }

  const std::string html = FormatHtmlReport(rows);
  const std::string markup = FormatHtmlReport(skeleton);
  // Values bring no markup of their own: the page has exactly the brackets and quotes of the
  // same table filled with plain letters.
  Require(Count(html, '<') == Count(markup, '<'), "every < of a value is escaped");
  Require(Count(html, '>') == Count(markup, '>'), "every > of a value is escaped");
  Require(Count(html, '"') == Count(markup, '"'), "every quote of a value is escaped");
  for (const ResultRow& row : rows) {
    for (int c : {kColMark, kColTarget, kColFile, kColNo2})
      Require(html.find(EscapeHtml(row[static_cast<size_t>(c)])) != std::string::npos,
              "every value appears, escaped");
    Require(html.find("<A href=\"" + EscapeHtml(TrimBlanks(row[kColTarget])) + "\">") !=
                std::string::npos,
            "the link holds the trimmed target");
    if (!TrimBlanks(row[kColName]).empty())
      Require(html.find(EscapeHtml(row[kColName])) != std::string::npos, "the link text appears");
  }
  Utf8ToCp932(html);

  const std::vector<std::vector<std::string>> records = ParseCsv(FormatCsvReport(rows));
  Require(records.size() == rows.size(), "one comma-separated record per row");
  for (size_t r = 0; r < rows.size(); ++r) {
    const ResultRow& row = rows[r];
    const std::vector<std::string> expected = {row[kColNo2], row[kColMark], row[kColTarget],
                                               row[kColName], row[kColFile]};
    Require(records[r] == expected, "comma-separated records read back as the row");
  }
}

}  // namespace voxtrel::fuzz
