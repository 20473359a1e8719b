#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/disk.h"

namespace voxtrel {

inline constexpr const char* kSettingsFileName = "Voxtrel.DEF";
/// What lines 5 and 6 hold when their option is on; an empty line is off.
inline constexpr const char* kOptionOn = " 1 ";

/// The options lines 5, 6, 9, 10, 11 and 16 keep.
enum class SettingsOption { kHttps, kOnce, kKeepQuery, kAllLinks, kCrawl, kSuspect };

/// Lines the settings file may hold; later lines are never looked at. Lines from the ninth on
/// are written only up to the last one that differs from its default, so files of eight lines
/// stay as they were.
inline constexpr size_t kSettingsLineCount = 16;

/// Seconds a request may take in all (line 12): the range offered and the default.
inline constexpr int kMinTimeoutS = 5;
inline constexpr int kMaxTimeoutS = 300;
inline constexpr int kDefaultTimeoutS = 60;

/// How many times a failing request is asked again (line 14): the range and the default.
inline constexpr int kMinRetryCount = 0;
inline constexpr int kMaxRetryCount = 10;
inline constexpr int kDefaultRetryCount = 1;
/// Requests started per second to one host (line 15); 0, the default, sets no limit.
inline constexpr int kMaxRatePerHost = 100;

/// The window's size and its columns' widths in pixels (line 13).
struct WindowLayout {
  int width = 0;
  int height = 0;
  std::vector<int> columns;
  bool operator==(const WindowLayout&) const = default;
};

/// Line 13 as written: width, height and the column widths, separated by blanks.
std::string FormatWindowLayout(const WindowLayout& layout);
/// Reads line 13; false when it is not two positive numbers followed by column widths.
bool ParseWindowLayout(const std::string& text, WindowLayout* layout);

/// What the settings reader hands its values to, one at a time in file order. Each operation
/// that can fail returns false; the reading goes on with the next line.
class SettingsTarget {
 public:
  virtual ~SettingsTarget() = default;
  /// Line 1: the drive as the drive picker names it.
  virtual bool SelectDrive(const std::string& text) = 0;
  /// Line 2: the folder picker's path.
  virtual bool SetFolder(const std::string& path) = 0;
  /// Lines 3 and 4: `which` is 1 for Check1, 2 for Check2; `state` is the rounded number.
  virtual bool SetCheckState(int which, int state) = 0;
  /// Lines 5, 6, 9, 10, 11 and 16: on only when the line is exactly " 1 ".
  virtual void SetOption(SettingsOption /*option*/, bool /*on*/) {}
  /// Line 12, when it holds a number of seconds from 5 to 300.
  virtual void SetTimeout(int /*seconds*/) {}
  /// Line 13, when it reads as a layout.
  virtual void SetWindowLayout(const WindowLayout& /*layout*/) {}
  /// Line 14, when it holds a number from 0 to 10.
  virtual void SetRetries(int /*count*/) {}
  /// Line 15, when it holds a number from 0 to 100.
  virtual void SetRate(int /*per_second*/) {}
  /// Line 8, also when empty.
  virtual void SetSinglePageTarget(const std::string& text) = 0;
};

/// The values written at the end of a run.
struct SettingsValues {
  std::string drive;
  std::string folder;
  int check1 = 1;
  int check2 = 1;
  bool https = false;
  bool once = false;
  std::string single_page_target = "http://";
  bool keep_query = false;
  bool all_links = false;
  bool crawl = false;
  int timeout_s = kDefaultTimeoutS;
  /// Written only when it differs from `default_layout`.
  WindowLayout layout;
  WindowLayout default_layout;
  int retries = kDefaultRetryCount;
  int rate = 0;
  bool suspect = false;
};

/// Splits the file's bytes into at most `max_lines` lines decoded to UTF-8: code page 932, or
/// UTF-8 after a byte order mark. CR LF or CR ends a line; a bare LF stays in the line. Bytes
/// after the last wanted line are never examined.
std::vector<std::string> SplitSettingsLines(std::string_view bytes, size_t max_lines);

/// Reads a trimmed line as a decimal number rounded half to even; false when it is no number.
bool ParseSettingsNumber(const std::string& text, int* value);

/// Applies the first 16 lines to `target` in order, each trimmed of blanks; a line that cannot be
/// applied is passed over. Returns how many were applied.
size_t ApplySettingsLines(const std::vector<std::string>& lines, SettingsTarget& target);

/// The lines of the file, each ended by CR LF: code page 932 bytes, or UTF-8 after a byte
/// order mark when code page 932 cannot hold a value as it is.
std::string FormatSettings(const SettingsValues& values);

/// Reads `path` and applies it to `target`; a missing or unreadable file applies nothing.
/// Reads no more of the file than the lines it applies need.
void ReadSettingsFile(DiskInterface& disk, const std::string& path, SettingsTarget& target);

/// Writes the file through DiskInterface::WriteWholeFile, so a failure never leaves a
/// half-written file in its place. False (and *err) on failure.
bool WriteSettingsFile(DiskInterface& disk, const std::string& path, const SettingsValues& values,
                       std::string* err);

}  // namespace voxtrel
