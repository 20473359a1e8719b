#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace voxtrel {

inline constexpr const char* kMarkOk = "◎";
inline constexpr const char* kMarkRefresh = "△";
inline constexpr const char* kMarkFailed = "×";
inline constexpr const char* kMarkScript = "Ｐ";
/// The marks in the order MarkIndex counts them.
inline constexpr const char* kMarks[4] = {kMarkFailed, kMarkOk, kMarkRefresh, kMarkScript};

/// Link name of a link whose text names a .gif or .jpg file.
inline constexpr const char* kImageLinkName = "画像";

/// A link as the scanner cuts it out of a page.
struct FoundLink {
  FoundLink() = default;
  FoundLink(std::string target, std::string name, std::string page)
      : target(std::move(target)), name(std::move(name)), page(std::move(page)) {}

  /// The link as written (the old rule: as cut, which is also the address asked).
  std::string target;
  std::string name;
  /// The page it was found in: its path, or the address of a fetched page.
  std::string page;
  /// What is asked (an absolute address) or looked at (a file path, percent-decoded); empty
  /// when the target is asked as it stands.
  std::string resolved;
  /// The fragment to find in the file, or for a web link found by the every-link scan in the
  /// crawled page (decoded, without "#"); may be empty.
  std::string anchor;
  /// Written relative to its page ("a.htm", "/a/", "#s"), not as a full address.
  bool internal = false;
  /// Looked up on the disk, not asked over HTTP.
  bool local = false;
};

/// What a link is, as rows name it.
enum class LinkKind { kHttp, kHttps, kInternal, kScript };

/// The address a link is asked at, or the path it is looked up by.
const std::string& AddressOf(const FoundLink& link);

/// The link's kind: a script link, an internal one, else by the scheme of its address.
LinkKind KindOf(const FoundLink& link);

/// "http", "https", "internal" or "script".
const char* KindName(LinkKind kind);

/// Whether `target` is a web address: it starts with http:// or https://, in any letter case.
bool IsWebAddress(std::string_view target);

/// Whether the link is to a Perl script (its address ends in ".pl", any case): listed, never
/// requested.
bool IsScriptLink(const FoundLink& link);

/// Why a link counts as failed.
enum class FailureReason {
  kNone,
  kHttpStatus,  // an answer outside 200-299; the status says which
  kTimeout,
  kRefused,
  kHostNotFound,
  kTls,
  kTooManyRedirects,
  kCutOff,
  kBadAddress,
  kOther,
  kTlsHandshake,
  kCertificateFile,
  kBadAnswer,
  kBadEncoding,
  kBadRedirect,
  kUnreachable,
  kProxy,
  kFileNotFound,
  kNoIndexPage,
  kCaseDiffers,  // the detail names the file as it is on the disk
  kAnchorNotFound,
  kUnknownScheme,  // a scheme no browser knows, mistyped ("hhttps:"): the last, kLastFailureReason
};
inline constexpr FailureReason kLastFailureReason = FailureReason::kUnknownScheme;

/// What checking one link came to.
struct CheckOutcome {
  enum class Kind { kAnswered, kRefresh, kFailed, kScript };
  Kind kind = Kind::kFailed;
  FailureReason reason = FailureReason::kNone;
  /// The final HTTP status after redirects, when an answer came.
  std::optional<int> status;
  int redirects = 0;
  int64_t elapsed_ms = 0;
  /// What a reason needs besides its kind (the name as it is on the disk).
  std::string detail;
  /// Where the link now leads when its first answer was a permanent redirect (301, 308): the
  /// address the page should be changed to. Empty otherwise.
  std::string redirected_to;
  /// Requests it took: more than 1 when a 429 was waited out or a passing failure retried.
  int tries = 1;
};

/// The result mark of an outcome: ◎, △, × or Ｐ.
const char* MarkOf(const CheckOutcome& outcome);

/// The mark's place in the order ×, ◎, △, Ｐ (0 to 3).
size_t MarkIndex(const CheckOutcome& outcome);

/// Whether the outcome gets a row: failures and script links always, answers when `show_all`.
bool IsListed(const CheckOutcome& outcome, bool show_all);

/// The languages a reason is said in.
enum class Language { kEnglish, kJapanese };

/// Why a failed link failed in a few words ("HTTP 404", "time-out"; in Japanese "ﾀｲﾑｱｳﾄ",
/// half-width katakana as the window's captions); empty for the others.
std::string ReasonText(const CheckOutcome& outcome, Language language = Language::kEnglish);

/// What the window's reason column says: the Japanese reason, then "→ " and where a permanent
/// redirect led ("→ http://new/" alone for a link that answered).
std::string ReasonColumnText(const CheckOutcome& outcome);

}  // namespace voxtrel
