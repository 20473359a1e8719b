#pragma once

#include <string_view>

#include "platform/http_answer.h"
#include "web/link.h"

namespace voxtrel {

/// What a link's answer comes to: answered (2xx; `refresh` when its text is a refresh page),
/// failed with the HTTP status, or failed for want of an answer, with the reason.
CheckOutcome AnswerOutcome(const HttpAnswer& answer, bool refresh);

/// Whether a page text counts as a refresh page (the 17-character text at character 11 or later).
bool IsRefreshPage(std::string_view page_text);

}  // namespace voxtrel
