#include "app/settings_file.h"

#include <initializer_list>
#include <utility>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <string>

#include "platform/cp932.h"
#include "platform/text.h"

namespace voxtrel {
namespace {

// A drive, a folder path and an address are each far below this; reading stops here so a huge
// or binary file costs a bounded amount of memory and time.
constexpr size_t kMaxSettingsBytes = 256 * 1024;
// Marks a file written as UTF-8. Files written as code page 932 never begin with it: 0xEF is
// no lead byte the code page encodes to.
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Accepts [+-] digits [. digits] [e [+-] digits], with at least one digit before the exponent.
bool LooksLikeDecimal(const std::string& text) {
  size_t i = 0;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  size_t digits = 0;
  while (i < text.size() && IsDigit(text[i])) ++i, ++digits;
  if (i < text.size() && text[i] == '.') {
    ++i;
    while (i < text.size() && IsDigit(text[i])) ++i, ++digits;
  }
  if (digits == 0) return false;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    size_t exp_digits = 0;
    while (i < text.size() && IsDigit(text[i])) ++i, ++exp_digits;
    if (exp_digits == 0) return false;
  }
  return i == text.size();
}

// A carriage return inside a value (a folder name may hold one) would end its line early and
// shift every later line; it is written as "?", as a character the code page lacks is.
std::string OneLine(std::string value) {
  for (char& c : value)
    if (c == '\r') c = '?';
  return value;
}

}  // namespace

std::vector<std::string> SplitSettingsLines(std::string_view bytes, size_t max_lines) {
  const bool utf8 = bytes.starts_with(kUtf8Bom);
  if (utf8) bytes.remove_prefix(kUtf8Bom.size());
  // A UTF-8 line the window wrote passes as it is; one edited by hand with code page 932 bytes
  // in it still reads as well as it can.
  auto decode = [utf8](std::string_view line) {
    return utf8 ? DisplayName(line) : Cp932ToUtf8(line);
  };
  std::vector<std::string> lines;
  size_t start = 0;
  while (lines.size() < max_lines && start < bytes.size()) {
    size_t cr = bytes.find('\r', start);
    if (cr == std::string_view::npos) {
      lines.push_back(decode(bytes.substr(start)));
      break;
    }
    lines.push_back(decode(bytes.substr(start, cr - start)));
    start = cr + 1;
    if (start < bytes.size() && bytes[start] == '\n') ++start;
  }
  return lines;
}

bool ParseSettingsNumber(const std::string& text, int* value) {
  if (!LooksLikeDecimal(text)) return false;
  char* end = nullptr;
  errno = 0;
  double number = std::strtod(text.c_str(), &end);
  if (errno == ERANGE || end != text.c_str() + text.size()) return false;
  // Half to even, as the original's number conversion rounds; the default FP mode does this.
  double rounded = std::nearbyint(number);
  if (!(std::fabs(rounded) <= 1e9)) return false;
  *value = static_cast<int>(rounded);
  return true;
}

namespace {

bool NumberIn(const std::string& text, int least, int most, int* value) {
  return ParseSettingsNumber(text, value) && *value >= least && *value <= most;
}

// Lines 9 to 16; false when the line holds no value the target takes.
bool ApplyLaterLine(size_t counter, const std::string& raw, const std::string& text,
                    SettingsTarget& target) {
  int number = 0;
  switch (counter) {
    case 8:
    case 9:
    case 10: {
      const SettingsOption options[] = {SettingsOption::kKeepQuery, SettingsOption::kAllLinks,
                                        SettingsOption::kCrawl};
      target.SetOption(options[counter - 8], raw == kOptionOn);
      return true;
    }
    case 11:
      if (!NumberIn(text, kMinTimeoutS, kMaxTimeoutS, &number)) return false;
      target.SetTimeout(number);
      return true;
    case 12: {
      WindowLayout layout;
      if (!ParseWindowLayout(text, &layout)) return false;
      target.SetWindowLayout(layout);
      return true;
    }
    case 13:
      if (!NumberIn(text, kMinRetryCount, kMaxRetryCount, &number)) return false;
      target.SetRetries(number);
      return true;
    case 14:
      if (!NumberIn(text, 0, kMaxRatePerHost, &number)) return false;
      target.SetRate(number);
      return true;
    case 15:
      target.SetOption(SettingsOption::kSuspect, raw == kOptionOn);
      return true;
    default:
      return true;
  }
}

}  // namespace

size_t ApplySettingsLines(const std::vector<std::string>& lines, SettingsTarget& target) {
  size_t applied = 0;
  for (size_t counter = 0; counter < lines.size() && counter < kSettingsLineCount; ++counter) {
    const std::string& raw = lines[counter];
    const std::string text(TrimBlanks(raw));
    bool ok = true;
    switch (counter) {
      case 0:
        ok = target.SelectDrive(text);
        break;
      case 1:
        ok = target.SetFolder(text);
        break;
      case 2:
      case 3: {
        int state = 0;
        ok = ParseSettingsNumber(text, &state) &&
             target.SetCheckState(counter == 2 ? 1 : 2, state);
        break;
      }
      case 4:
      case 5:
        // Only the very text the window writes turns an option on, so every file written
        // before these lines were used reads as "off" and is written back the same.
        target.SetOption(counter == 4 ? SettingsOption::kHttps : SettingsOption::kOnce,
                         raw == kOptionOn);
        break;
      case 7:
        target.SetSinglePageTarget(text);
        break;
      default:
        ok = ApplyLaterLine(counter, raw, text, target);
        break;
    }
    // A value the window cannot take (a folder since removed, say) leaves it as it is, and the
    // lines after it still apply.
    if (ok) ++applied;
  }
  return applied;
}

// The lines after the eighth, up to the last one that is not empty (its default).
std::string LaterLines(std::initializer_list<std::string> values) {
  std::string lines;
  std::string pending;
  for (const std::string& value : values) {
    pending += value + "\r\n";
    if (!value.empty()) lines += std::exchange(pending, "");
  }
  return lines;
}

std::string OptionLine(bool on) { return on ? kOptionOn : ""; }

// A number line as the original wrote numbers, blank before and after; empty at its default.
std::string NumberLine(int value, int default_value) {
  return value == default_value ? std::string() : " " + std::to_string(value) + " ";
}

std::string FormatWindowLayout(const WindowLayout& layout) {
  std::string text = std::to_string(layout.width) + " " + std::to_string(layout.height);
  for (int width : layout.columns) text += " " + std::to_string(width);
  return text;
}

bool ParseWindowLayout(const std::string& text, WindowLayout* layout) {
  std::vector<int> numbers;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find(' ', start);
    if (end == std::string::npos) end = text.size();
    const std::string word = text.substr(start, end - start);
    start = end + 1;
    if (word.empty()) continue;
    if (word.size() > 6 || word.find_first_not_of("0123456789") != std::string::npos) return false;
    numbers.push_back(std::stoi(word));
  }
  if (numbers.size() < 2 || numbers[0] <= 0 || numbers[1] <= 0) return false;
  layout->width = numbers[0];
  layout->height = numbers[1];
  layout->columns.assign(numbers.begin() + 2, numbers.end());
  return true;
}

std::string FormatSettings(const SettingsValues& values) {
  const std::string target = OneLine(values.single_page_target.empty() ? std::string("http://")
                                                                       : values.single_page_target);
  const std::string utf8 =
      OneLine(values.drive) + "\r\n" + OneLine(values.folder) + "\r\n" + " " +
      std::to_string(values.check1) + " \r\n" + " " + std::to_string(values.check2) + " \r\n" +
      (values.https ? kOptionOn : "") + "\r\n" + (values.once ? kOptionOn : "") + "\r\n\r\n" +
      target + "\r\n" +
      LaterLines({OptionLine(values.keep_query), OptionLine(values.all_links),
                  OptionLine(values.crawl), NumberLine(values.timeout_s, kDefaultTimeoutS),
                  values.layout == values.default_layout ? std::string()
                                                         : FormatWindowLayout(values.layout),
                  NumberLine(values.retries, kDefaultRetryCount), NumberLine(values.rate, 0),
                  OptionLine(values.suspect)});
  const std::string cp932 = Utf8ToCp932(utf8);
  // A name with a character the code page lacks (café) would come back as another name (caf?).
  if (Cp932ToUtf8(cp932) == utf8 || !IsValidUtf8(utf8)) return cp932;
  return std::string(kUtf8Bom) + utf8;
}

void ReadSettingsFile(DiskInterface& disk, const std::string& path, SettingsTarget& target) {
  // The disk opens only regular files and never waits on a fifo in the file's place.
  std::string err;
  std::unique_ptr<InputFile> in = disk.OpenForReading(path, &err);
  if (!in) return;
  std::string bytes;
  bool whole_file = false;
  char buffer[8192];
  size_t ends = 0;
  while (bytes.size() < kMaxSettingsBytes) {
    bool failed = false;
    const size_t n = in->Read(buffer, sizeof buffer, &failed);
    if (failed) break;  // apply what was read completely, as for a short file
    if (n == 0) {
      whole_file = true;
      break;
    }
    for (size_t k = 0; k < n; ++k) ends += buffer[k] == '\r';
    bytes.append(buffer, n);
    // The lines it applies are all the reader needs; the rest of a long file stays unread.
    if (ends >= kSettingsLineCount) break;
  }
  if (!whole_file) {
    // Keep only lines whose end was seen: a line cut by the size cap or a read error is not
    // a line the file holds, and applying its beginning would apply a wrong value.
    size_t last_cr = bytes.rfind('\r');
    bytes.resize(last_cr == std::string::npos ? 0 : last_cr + 1);
  }
  ApplySettingsLines(SplitSettingsLines(bytes, kSettingsLineCount), target);
}

bool WriteSettingsFile(DiskInterface& disk, const std::string& path, const SettingsValues& values,
                       std::string* err) {
  return disk.WriteWholeFile(path, FormatSettings(values), err);
}

}  // namespace voxtrel
