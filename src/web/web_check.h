#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "engine/link.h"
#include "engine/run_context.h"

namespace voxtrel {

/// What a link's answer comes to: answered (2xx; `refresh` when its text is a refresh page),
/// failed with the HTTP status, or failed for want of an answer, with the reason.
CheckOutcome AnswerOutcome(const HttpAnswer& answer, bool refresh);

/// Whether a page text counts as a refresh page (the 17-character text at character 11 or later).
bool IsRefreshPage(std::string_view page_text);

/// What fetching the single web page came to.
struct FetchResult {
  enum class Kind { kOk, kNoRequestObject, kFailed, kWriteFailed };
  Kind kind = Kind::kFailed;
  /// Why it failed, when it did for want of an answer (status, time-out, ...).
  CheckOutcome answer;
};

/// Fetches `url` into the web work file, line feeds doubled so the scanner finds its lines.
FetchResult FetchWebPage(RunContext& ctx, const std::string& url);

/// Converts EUC-JP bytes to Shift_JIS bytes by the JIS arithmetic, widening half-width katakana;
/// a character code page 932 lacks becomes "?".
std::string EucToSjis(std::string_view bytes);

/// Writes the Shift_JIS copy of `page` into the scan work file (converted when it declares
/// EUC-JP). Returns false when the page could not be read; the work file is then left empty.
bool PrepareLocalPage(RunContext& ctx, const std::string& page);

}  // namespace voxtrel
