#include "web/link.h"

#include "platform/text.h"

namespace voxtrel {

bool IsWebAddress(std::string_view target) {
  return StartsWithNoCase(target, "HTTP://") || StartsWithNoCase(target, "HTTPS://");
}

const std::string& AddressOf(const FoundLink& link) {
  return link.resolved.empty() ? link.target : link.resolved;
}

LinkKind KindOf(const FoundLink& link) {
  if (IsScriptLink(link)) return LinkKind::kScript;
  if (link.internal) return LinkKind::kInternal;
  return StartsWithNoCase(AddressOf(link), "HTTPS:") ? LinkKind::kHttps : LinkKind::kHttp;
}

const char* KindName(LinkKind kind) {
  static constexpr const char* kNames[] = {"http", "https", "internal", "script"};
  return kNames[static_cast<int>(kind)];
}

bool IsScriptLink(const FoundLink& link) {
  return EndsWithNoCase(AddressOf(link), ".PL");
}

size_t MarkIndex(const CheckOutcome& outcome) {
  switch (outcome.kind) {
    case CheckOutcome::Kind::kAnswered: return 1;
    case CheckOutcome::Kind::kRefresh: return 2;
    case CheckOutcome::Kind::kScript: return 3;
    case CheckOutcome::Kind::kFailed: break;
  }
  return 0;
}

const char* MarkOf(const CheckOutcome& outcome) { return kMarks[MarkIndex(outcome)]; }

bool IsListed(const CheckOutcome& outcome, bool show_all) {
  return show_all || outcome.kind == CheckOutcome::Kind::kFailed ||
         outcome.kind == CheckOutcome::Kind::kScript;
}

std::string ReasonText(const CheckOutcome& outcome) {
  if (outcome.kind != CheckOutcome::Kind::kFailed) return "";
  switch (outcome.reason) {
    case FailureReason::kHttpStatus:
      return "HTTP " + std::to_string(outcome.status.value_or(0));
    case FailureReason::kTimeout: return "time-out";
    case FailureReason::kRefused: return "connection refused";
    case FailureReason::kHostNotFound: return "host not found";
    case FailureReason::kTls: return "certificate not trusted";
    case FailureReason::kTooManyRedirects: return "too many redirects";
    case FailureReason::kCutOff: return "answer cut off";
    case FailureReason::kBadAddress: return "bad address";
    case FailureReason::kTlsHandshake: return "TLS handshake failed";
    case FailureReason::kCertificateFile: return "certificate file unreadable";
    case FailureReason::kBadAnswer: return "malformed answer";
    case FailureReason::kBadEncoding: return "answer could not be decoded";
    case FailureReason::kBadRedirect: return "redirect to an unusable address";
    case FailureReason::kUnreachable: return "host unreachable";
    case FailureReason::kProxy: return "proxy failed";
    case FailureReason::kFileNotFound: return "file not found";
    case FailureReason::kNoIndexPage: return "no index page";
    case FailureReason::kCaseDiffers: return "differs in case: " + outcome.detail;
    case FailureReason::kAnchorNotFound: return "anchor not found";
    case FailureReason::kNone:
      // Failed with a good status: the answer held nothing to read.
      if (outcome.status) return "empty page";
      break;
    case FailureReason::kOther: break;
  }
  return "request failed";
}

}  // namespace voxtrel
