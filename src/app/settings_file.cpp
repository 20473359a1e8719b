#include "app/settings_file.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/cp932.h"

namespace voxtrel {
namespace {

// A drive, a folder path and an address are each far below this; reading stops here so a huge
// or binary file costs a bounded amount of memory and time.
constexpr size_t kMaxSettingsBytes = 256 * 1024;

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

std::string ErrnoText(const std::string& what, const std::string& path) {
  return what + " " + path + ": " + std::strerror(errno);
}

bool WriteAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
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
  std::vector<std::string> lines;
  size_t start = 0;
  while (lines.size() < max_lines && start < bytes.size()) {
    size_t cr = bytes.find('\r', start);
    if (cr == std::string_view::npos) {
      lines.push_back(Cp932ToUtf8(bytes.substr(start)));
      break;
    }
    lines.push_back(Cp932ToUtf8(bytes.substr(start, cr - start)));
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

size_t ApplySettingsLines(const std::vector<std::string>& lines, SettingsTarget& target) {
  size_t counter = 0;
  for (const std::string& raw : lines) {
    if (counter >= kSettingsLineCount) break;
    const std::string text = TrimBlanks(raw);
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
      case 7:
        target.SetSinglePageTarget(text);
        break;
      default:
        break;
    }
    if (!ok) break;
    ++counter;
  }
  return counter;
}

std::string FormatSettings(const SettingsValues& values) {
  const std::string target = OneLine(values.single_page_target.empty() ? std::string("http://")
                                                                       : values.single_page_target);
  const std::string utf8 = OneLine(values.drive) + "\r\n" + OneLine(values.folder) + "\r\n" + " " +
                           std::to_string(values.check1) + " \r\n" + " " +
                           std::to_string(values.check2) + " \r\n" + "\r\n\r\n\r\n" + target +
                           "\r\n";
  return Utf8ToCp932(utf8);
}

void ReadSettingsFile(const std::string& path, SettingsTarget& target) {
  // O_NONBLOCK: a fifo in the file's place would otherwise keep start-up waiting for a writer
  // for ever; it is refused below like anything that is not a regular file.
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return;
  }
  std::string bytes;
  bool whole_file = false;
  char buffer[8192];
  while (bytes.size() < kMaxSettingsBytes) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) break;  // a read error: apply what was read completely, as for a short file
    if (n == 0) {
      whole_file = true;
      break;
    }
    bytes.append(buffer, static_cast<size_t>(n));
    // Eight line ends are all the reader needs; the rest of a long file stays unread.
    size_t ends = 0;
    for (char c : bytes)
      if (c == '\r') ++ends;
    if (ends >= kSettingsLineCount) break;
  }
  ::close(fd);
  if (!whole_file) {
    // Keep only lines whose end was seen: a line cut by the size cap or a read error is not
    // a line the file holds, and applying its beginning would apply a wrong value.
    size_t last_cr = bytes.rfind('\r');
    bytes.resize(last_cr == std::string::npos ? 0 : last_cr + 1);
  }
  ApplySettingsLines(SplitSettingsLines(bytes, kSettingsLineCount), target);
}

bool WriteSettingsFile(const std::string& path, const SettingsValues& values, std::string* err) {
  std::string temp = path + ".XXXXXX";
  int fd = ::mkstemp(temp.data());
  if (fd < 0) {
    *err = ErrnoText("cannot create", temp);
    return false;
  }
  // mkstemp makes the file 0600; a settings file is an ordinary file of the user.
  ::fchmod(fd, 0644);
  const std::string bytes = FormatSettings(values);
  bool ok = WriteAll(fd, bytes) && ::fsync(fd) == 0;
  if (!ok) *err = ErrnoText("cannot write", temp);
  if (::close(fd) != 0 && ok) {
    ok = false;
    *err = ErrnoText("cannot close", temp);
  }
  if (ok && ::rename(temp.c_str(), path.c_str()) != 0) {
    ok = false;
    *err = ErrnoText("cannot replace", path);
  }
  if (!ok) ::unlink(temp.c_str());
  return ok;
}

}  // namespace voxtrel
