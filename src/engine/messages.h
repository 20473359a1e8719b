#pragma once

// The engine's own texts, byte for byte as the user sees them; the trailing
// blanks belong to the texts.

namespace voxtrel {

inline constexpr const char* kMsgNoRequestObject = "XMLHTTPｵﾌﾞｼﾞｪｸﾄを作成できませんでした。     ";
inline constexpr const char* kMsgRunAborted = "Voxtrelを中止しました。    ";
inline constexpr const char* kMsgRunComplete = "Voxtrelが完了しました。    ";

}  // namespace voxtrel
