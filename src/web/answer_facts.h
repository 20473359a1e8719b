#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/http_answer.h"

namespace voxtrel {

/// The most shingles of a page's text a signature keeps (the smallest hashes).
inline constexpr size_t kSignatureSize = 128;

/// What judging an answer needs to know of it: small facts, the body itself left behind.
struct AnswerFacts {
  std::string final_url;  // where the redirects ended, else the address asked
  int status = 0;         // 0 when no answer came
  bool html = false;      // an HTML page (by its Content-Type)
  std::string title;      // UTF-8, blanks collapsed, the address asked left out
  size_t text_bytes = 0;  // of the visible text, the address asked left out
  /// The smallest hashes of the visible text's 4-character shingles, ascending.
  std::vector<uint64_t> signature;
  /// Little visible text, a script and an empty root element: a page a script builds in the
  /// browser, which may well answer alike for every address.
  bool app_shell = false;
  bool cut = false;  // the body went on past what was read
  /// Only when asked: every id and a-name of the page (FindHtmlLinks' anchors).
  std::vector<std::string> anchors;
};

/// The facts of `answer` to a request of `asked`; the body is decoded by its Content-Type's
/// charset or its own declaration. `want_anchors`: read the page's anchors too.
AnswerFacts FactsOf(const std::string& asked, const HttpAnswer& answer, bool want_anchors);

/// The visible text of an HTML page (UTF-8): no tags, comments, scripts, styles or noscript
/// parts, character references decoded, every run of blanks one space.
std::string VisibleText(std::string_view html);

/// The text of the page's first <title>, decoded and with its blanks collapsed; "" when none.
std::string TitleOf(std::string_view html);

/// The share of shingles two signatures have in common, estimated from the smallest hashes of
/// their union (0 to 1; two empty texts are alike).
double Resemblance(const std::vector<uint64_t>& a, const std::vector<uint64_t>& b);

/// Whether two answers show nearly the same page: the same title, visible texts within 5 % in
/// length and resembling each other at least kNearlySame.
bool NearlySame(const AnswerFacts& a, const AnswerFacts& b);
inline constexpr double kNearlySame = 0.85;

/// Whether `url` is a site's top page: its path (the query aside) is "/", or one file named
/// index, default, top or home with any extension, at the root or in a "/~user/" home.
bool IsTopPage(std::string_view url);

/// The folder an address is in: "scheme://host:port/path/up/to/its/last/"; "" when it is no
/// http(s) address.
std::string FolderKeyOf(std::string_view url);

/// The extension probes of `url`'s folder carry: ".html" for a page (.htm, .html, .shtml and
/// the like), the lower-cased extension of any other file (".php"), "" for none.
std::string ProbeExtensionOf(std::string_view url);

/// An address in `url`'s folder that names nothing: the folder, `name`, the extension.
std::string ProbeAddressOf(std::string_view url, std::string_view name);

}  // namespace voxtrel
