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
/// 要確認: the server answered, but a reader would not find the page (or a bot wall hid it).
inline constexpr const char* kMarkSuspect = "？";
/// The marks in the order MarkIndex counts them; ？ last, as only a run judging answers gives it.
inline constexpr size_t kMarkCount = 5;
inline constexpr const char* kMarks[kMarkCount] = {kMarkFailed, kMarkOk, kMarkRefresh, kMarkScript,
                                                  kMarkSuspect};
/// The marks every run counts: all but ？.
inline constexpr size_t kClassicMarkCount = 4;

/// Link name of a link whose text names a .gif or .jpg file.
inline constexpr const char* kImageLinkName = "画像";

/// Where a link's address stands in its page's file, in the file's own bytes.
struct LinkPlace {
  /// From 1, as an editor counts lines (LF, CR LF or CR ends one); 0 when not known.
  uint32_t line = 0;
  /// The address's first byte inside its attribute (quotes left out), from the file's start.
  uint64_t offset = 0;
  /// Its bytes as the file holds them (character references as written); 0 when not known.
  uint32_t length = 0;
};

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
  /// Where the page holds it.
  LinkPlace place;
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

/// Why an answer looks dead to a reader, or could not be seen for a bot wall, though the server
/// answered; or, beside a failure, what the failed address was.
enum class SuspectKind {
  kNone,
  kClosedService,    // on a hosting service that has closed; the detail names it and its date
  kParkedDomain,     // the domain is parked: a parking service's page
  kSoft404,          // the server answers a missing page as if it were there
  kTopPageRedirect,  // a deep link redirected to its site's top page
  kBotWall,          // a bot protection's challenge in place of the page
  kMissingAnchor,    // the page on another site has no such id or name: the last
};
inline constexpr SuspectKind kLastSuspectKind = SuspectKind::kMissingAnchor;

/// The name of a kind in JSON rows: "closed-service", "parked-domain", "soft-404",
/// "top-page-redirect", "bot-wall", "missing-anchor"; "" for kNone.
const char* SuspectName(SuspectKind kind);

/// What checking one link came to.
struct CheckOutcome {
  enum class Kind { kAnswered, kRefresh, kFailed, kScript, kSuspect };
  Kind kind = Kind::kFailed;
  FailureReason reason = FailureReason::kNone;
  /// The final HTTP status after redirects, when an answer came.
  std::optional<int> status;
  int redirects = 0;
  int64_t elapsed_ms = 0;
  /// What a reason needs besides its kind (the name as it is on the disk; a closed service's
  /// name and closing date, "Yahoo!ジオシティーズ (2019-03-31)").
  std::string detail;
  /// Where the link now leads when its first answer was a permanent redirect (301, 308): the
  /// address the page should be changed to. Empty otherwise.
  std::string redirected_to;
  /// Requests it took: more than 1 when a 429 was waited out or a passing failure retried.
  int tries = 1;
  /// With kSuspect: why. With kFailed: kClosedService when the address was on a closed
  /// service (its reason then adds the service). kNone otherwise.
  SuspectKind suspect = SuspectKind::kNone;
  /// For a × (or ？) row looked up in a web archive: the address of its archived copy, taken
  /// when the page linked to it still worked. Empty when not looked up or none was found.
  std::string archived = {};
};

/// The result mark of an outcome: ◎, △, ×, Ｐ or ？.
const char* MarkOf(const CheckOutcome& outcome);

/// The mark's place in the order ×, ◎, △, Ｐ, ？ (0 to 4).
size_t MarkIndex(const CheckOutcome& outcome);

/// Whether the outcome gets a row: failures, script links and ？ always, answers when
/// `show_all`.
bool IsListed(const CheckOutcome& outcome, bool show_all);

/// The languages a reason is said in.
enum class Language { kEnglish, kJapanese };

/// Why a failed link failed in a few words ("HTTP 404", "time-out"; in Japanese "ﾀｲﾑｱｳﾄ",
/// half-width katakana as the window's captions), then " / " and the closed service when it was
/// on one; why a ？ link is in doubt ("soft 404", "ｿﾌﾄ404"); empty for the others.
std::string ReasonText(const CheckOutcome& outcome, Language language = Language::kEnglish);

/// What the window's reason column says: the Japanese reason, then "→ " and where a permanent
/// redirect led ("→ http://new/" alone for a link that answered).
std::string ReasonColumnText(const CheckOutcome& outcome);

}  // namespace voxtrel
