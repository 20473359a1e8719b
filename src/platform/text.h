#pragma once

#include <cstddef>
#include <ctime>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace voxtrel {

/// An ASCII letter upper-cased; every other byte as it is, so lengths and positions never move.
constexpr char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

/// `text` with its ASCII letters upper-cased.
std::string AsciiUpper(std::string_view text);

/// Whether `text` begins with `upper_prefix` (upper-case ASCII) in any letter case.
bool StartsWithNoCase(std::string_view text, std::string_view upper_prefix);

/// Whether `text` ends with `upper_suffix` (upper-case ASCII) in any letter case.
bool EndsWithNoCase(std::string_view text, std::string_view upper_suffix);

/// `text` without leading and trailing U+0020 blanks (tabs stay).
std::string_view TrimBlanks(std::string_view text);

/// Reads HTTP statuses and inclusive ranges of them, comma separated ("200..299,403"; each
/// 100-999, a range low to high), into *ranges; false, leaving it alone, when unreadable.
bool ParseStatusRanges(std::string_view list, std::vector<std::pair<int, int>>* ranges);

/// Number of characters (code points) in UTF-8 text.
size_t Utf8Length(std::string_view text);

/// Length of the well-formed UTF-8 sequence at `p` (of `left` bytes, at least one), 0 when none
/// starts there: overlong forms, surrogates and code points past U+10FFFF are not well-formed.
size_t Utf8SequenceLength(const unsigned char* p, size_t left);

/// Appends the UTF-8 form of the code point `code`; U+FFFD for a surrogate or one past U+10FFFF.
void AppendUtf8(char32_t code, std::string* out);

/// Whether `text` is well-formed UTF-8: no overlong forms, surrogates or code points past
/// U+10FFFF.
bool IsValidUtf8(std::string_view text);

/// `text` safe to print on a terminal: C0 control characters but tab, and DEL, shown as `\xNN`
/// (ESC as `\x1b`), so a name or address cannot move the cursor or recolour the screen. Every
/// other byte passes as it is.
std::string TerminalSafe(std::string_view text);

/// Whether `text` matches `pattern`, whose "*" stands for any run of characters (none too).
/// Greedy with one point to go back to, so a pattern of many stars costs a pass per star.
bool MatchesStars(std::string_view pattern, std::string_view text);

/// `pattern` with "{1}", "{2}" ... replaced by the first, second ... of `values`: a message whose
/// words come in another order in each language.
std::string Fill(std::string_view pattern, std::initializer_list<std::string> values);

/// `now` in local time as strftime's `format` writes it (at most 63 bytes).
std::string LocalTimeText(std::time_t now, const char* format);

}  // namespace voxtrel
