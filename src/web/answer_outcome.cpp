#include "web/answer_outcome.h"

#include "platform/text.h"
#include "web/refresh_detector.h"

namespace voxtrel {

bool IsRefreshPage(std::string_view page_text) {
  std::string upper = AsciiUpper(page_text);
  size_t found = upper.find(kRefreshText);
  if (found == std::string::npos) return false;
  return Utf8Length(page_text.substr(0, found)) + 1 >= kRefreshFirstPosition;
}

namespace {

FailureReason ReasonOf(HttpFailure failure) {
  switch (failure) {
    case HttpFailure::kBadAddress: return FailureReason::kBadAddress;
    case HttpFailure::kTimeout: return FailureReason::kTimeout;
    case HttpFailure::kRefused: return FailureReason::kRefused;
    case HttpFailure::kHostNotFound: return FailureReason::kHostNotFound;
    case HttpFailure::kTls: return FailureReason::kTls;
    case HttpFailure::kTooManyRedirects: return FailureReason::kTooManyRedirects;
    case HttpFailure::kCutOff: return FailureReason::kCutOff;
    case HttpFailure::kTlsHandshake: return FailureReason::kTlsHandshake;
    case HttpFailure::kCertificateFile: return FailureReason::kCertificateFile;
    case HttpFailure::kBadAnswer: return FailureReason::kBadAnswer;
    case HttpFailure::kBadEncoding: return FailureReason::kBadEncoding;
    case HttpFailure::kBadRedirect: return FailureReason::kBadRedirect;
    case HttpFailure::kUnreachable: return FailureReason::kUnreachable;
    case HttpFailure::kProxy: return FailureReason::kProxy;
    case HttpFailure::kNone:
    case HttpFailure::kOther: break;
  }
  return FailureReason::kOther;
}

}  // namespace

bool IsAcceptedStatus(int status, const std::vector<std::pair<int, int>>& accept) {
  if (accept.empty()) return status >= 200 && status < 300;
  for (const auto& [low, high] : accept)
    if (status >= low && status <= high) return true;
  return false;
}

CheckOutcome AnswerOutcome(const HttpAnswer& answer, bool refresh,
                           const std::vector<std::pair<int, int>>& accept) {
  CheckOutcome outcome;
  outcome.redirects = answer.redirects;
  outcome.elapsed_ms = answer.elapsed_ms;
  if (answer.failure != HttpFailure::kNone || !answer.status) {
    outcome.reason = ReasonOf(answer.failure);
    return outcome;
  }
  outcome.status = answer.status;
  // A temporary redirect is the server's business; a permanent one means the page should change.
  if (answer.moved_permanently) outcome.redirected_to = answer.final_url;
  if (!IsAcceptedStatus(*answer.status, accept)) {
    outcome.reason = FailureReason::kHttpStatus;
    return outcome;
  }
  outcome.kind = refresh ? CheckOutcome::Kind::kRefresh : CheckOutcome::Kind::kAnswered;
  return outcome;
}

}  // namespace voxtrel
