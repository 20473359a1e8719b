#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/run_context.h"

namespace voxtrel {

inline constexpr const char* kPrimaryProgId = "MSXML2.XMLHTTP";
inline constexpr const char* kFallbackProgId = "MSXML.XMLHTTPRequest";

/// FetchWebPage result codes; every code above 10 is a failure to get the page.
inline constexpr int16_t kFetchOk = 0;
inline constexpr int16_t kFetchNoRequestObject = 100;
inline constexpr int16_t kFetchEmptyOrFailed = 200;
inline constexpr int16_t kFetchBadStatus = 300;
inline constexpr int16_t kFetchWriteFailed = 400;

/// Requests ctx.LinkUrl and adds its row; sets WebErrorFlag to 999 when no request object exists.
void CheckWebLink(RunContext& ctx, const std::string& page);

/// Whether a page text counts as a refresh page (the 17-character text at character 11 or later).
bool IsRefreshPage(std::string_view page_text);

/// Fetches ctx.LinkUrl into the web work file; `result` gets one of the kFetch codes.
void FetchWebPage(RunContext& ctx, int16_t& result);

/// Converts EUC-JP bytes to text (UTF-8) by the JIS arithmetic, widening half-width katakana.
std::string EucToSjis(std::string_view bytes);

/// Writes the Shift_JIS copy of `page` into the scan work file (converted when it declares
/// EUC-JP). Returns false when the page could not be read; the work file is then left empty.
bool PrepareLocalPage(RunContext& ctx, const std::string& page);

}  // namespace voxtrel
