#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

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
  std::string target;
  std::string name;
  /// The page it was found in: its path, or the address of a fetched page.
  std::string page;
};

/// Whether `target` is a web address: it starts with http:// or https://, in any letter case.
bool IsWebAddress(std::string_view target);

/// Whether the link is to a Perl script (its target ends in ".pl", any case): listed, never
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
};

/// What checking one link came to.
struct CheckOutcome {
  enum class Kind { kAnswered, kRefresh, kFailed, kScript };
  Kind kind = Kind::kFailed;
  FailureReason reason = FailureReason::kNone;
  /// The final HTTP status after redirects, when an answer came.
  std::optional<int> status;
  int redirects = 0;
  int64_t elapsed_ms = 0;
};

/// The result mark of an outcome: ◎, △, × or Ｐ.
const char* MarkOf(const CheckOutcome& outcome);

/// The mark's place in the order ×, ◎, △, Ｐ (0 to 3).
size_t MarkIndex(const CheckOutcome& outcome);

/// Whether the outcome gets a row: failures and script links always, answers when `show_all`.
bool IsListed(const CheckOutcome& outcome, bool show_all);

/// Why a failed link failed in a few words ("HTTP 404", "time-out"); empty for the others.
std::string ReasonText(const CheckOutcome& outcome);

}  // namespace voxtrel
