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
    case CheckOutcome::Kind::kSuspect: return 4;
    case CheckOutcome::Kind::kFailed: break;
  }
  return 0;
}

const char* MarkOf(const CheckOutcome& outcome) { return kMarks[MarkIndex(outcome)]; }

bool IsListed(const CheckOutcome& outcome, bool show_all) {
  return show_all || outcome.kind == CheckOutcome::Kind::kFailed ||
         outcome.kind == CheckOutcome::Kind::kScript ||
         outcome.kind == CheckOutcome::Kind::kSuspect;
}

const char* SuspectName(SuspectKind kind) {
  switch (kind) {
    case SuspectKind::kClosedService: return "closed-service";
    case SuspectKind::kParkedDomain: return "parked-domain";
    case SuspectKind::kSoft404: return "soft-404";
    case SuspectKind::kTopPageRedirect: return "top-page-redirect";
    case SuspectKind::kBotWall: return "bot-wall";
    case SuspectKind::kMissingAnchor: return "missing-anchor";
    case SuspectKind::kNone: break;
  }
  return "";
}

namespace {

// A reason in both languages; the Japanese one writes katakana half-width, as the window does.
struct ReasonWords {
  const char* english;
  const char* japanese;
};

ReasonWords WordsFor(const CheckOutcome& outcome) {
  switch (outcome.reason) {
    case FailureReason::kHttpStatus: return {"HTTP ", "HTTP "};
    case FailureReason::kTimeout: return {"time-out", "ﾀｲﾑｱｳﾄ"};
    case FailureReason::kRefused: return {"connection refused", "接続できません"};
    case FailureReason::kHostNotFound: return {"host not found", "ﾎｽﾄが見つかりません"};
    case FailureReason::kTls: return {"certificate not trusted", "証明書を信頼できません"};
    case FailureReason::kTooManyRedirects:
      return {"too many redirects", "ﾘﾀﾞｲﾚｸﾄが多すぎます"};
    case FailureReason::kCutOff: return {"answer cut off", "応答が途中で切れました"};
    case FailureReason::kBadAddress: return {"bad address", "ｱﾄﾞﾚｽが正しくありません"};
    case FailureReason::kTlsHandshake:
      return {"TLS handshake failed", "TLSﾊﾝﾄﾞｼｪｲｸに失敗しました"};
    case FailureReason::kCertificateFile:
      return {"certificate file unreadable", "証明書ﾌｧｲﾙを読めません"};
    case FailureReason::kBadAnswer: return {"malformed answer", "応答が正しくありません"};
    case FailureReason::kBadEncoding:
      return {"answer could not be decoded", "応答を復元できません"};
    case FailureReason::kBadRedirect:
      return {"redirect to an unusable address", "ﾘﾀﾞｲﾚｸﾄ先のｱﾄﾞﾚｽが使えません"};
    case FailureReason::kUnreachable: return {"host unreachable", "ﾎｽﾄに到達できません"};
    case FailureReason::kProxy: return {"proxy failed", "ﾌﾟﾛｷｼが応答しません"};
    case FailureReason::kFileNotFound: return {"file not found", "ﾌｧｲﾙがありません"};
    case FailureReason::kNoIndexPage: return {"no index page", "ｲﾝﾃﾞｯｸｽﾍﾟｰｼﾞがありません"};
    case FailureReason::kCaseDiffers: return {"differs in case: ", "大文字小文字が違います： "};
    case FailureReason::kAnchorNotFound: return {"anchor not found", "ｱﾝｶｰがありません"};
    case FailureReason::kUnknownScheme:
      return {"unknown scheme", "不明なｽｷｰﾑ"};
    case FailureReason::kNone:
      // Failed with a good status: the answer held nothing to read.
      if (outcome.status) return {"empty page", "空のﾍﾟｰｼﾞです"};
      break;
    case FailureReason::kOther: break;
  }
  return {"request failed", "ﾘｸｴｽﾄに失敗しました"};
}

// Why an answer looks dead, or hidden; a closed service's words are followed by its name and
// closing date.
ReasonWords SuspectWords(SuspectKind kind) {
  switch (kind) {
    case SuspectKind::kClosedService: return {"closed service: ", "閉鎖されたｻｰﾋﾞｽ: "};
    case SuspectKind::kParkedDomain: return {"parked domain", "駐車ﾄﾞﾒｲﾝ"};
    case SuspectKind::kSoft404: return {"soft 404", "ｿﾌﾄ404"};
    case SuspectKind::kTopPageRedirect:
      return {"redirected to the top page", "ﾄｯﾌﾟﾍﾟｰｼﾞへ転送"};
    case SuspectKind::kBotWall: return {"blocked by bot protection", "ﾎﾞｯﾄ対策で確認できません"};
    case SuspectKind::kMissingAnchor:
      return {"anchor not found on the page", "ｱﾝｶｰが見つかりません"};
    case SuspectKind::kNone: break;
  }
  return {"", ""};
}

const char* InLanguage(const ReasonWords& words, Language language) {
  return language == Language::kJapanese ? words.japanese : words.english;
}

std::string SuspectText(const CheckOutcome& outcome, Language language) {
  std::string text = InLanguage(SuspectWords(outcome.suspect), language);
  if (outcome.suspect == SuspectKind::kClosedService) text += outcome.detail;
  return text;
}

}  // namespace

std::string ReasonText(const CheckOutcome& outcome, Language language) {
  if (outcome.kind == CheckOutcome::Kind::kSuspect) return SuspectText(outcome, language);
  if (outcome.kind != CheckOutcome::Kind::kFailed) return "";
  std::string text = InLanguage(WordsFor(outcome), language);
  if (outcome.reason == FailureReason::kHttpStatus)
    text += std::to_string(outcome.status.value_or(0));
  if (outcome.reason == FailureReason::kCaseDiffers) text += outcome.detail;
  // A failure on a closed service says so too: the page will not come back.
  if (outcome.suspect == SuspectKind::kClosedService)
    text += " / " + SuspectText(outcome, language);
  return text;
}

std::string ReasonColumnText(const CheckOutcome& outcome) {
  std::string text = ReasonText(outcome, Language::kJapanese);
  if (outcome.redirected_to.empty()) return text;
  return text + (text.empty() ? "" : " ") + "→ " + outcome.redirected_to;
}

}  // namespace voxtrel
