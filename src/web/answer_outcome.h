#pragma once

#include <string_view>
#include <utility>
#include <vector>

#include "platform/http_answer.h"
#include "web/link.h"

namespace voxtrel {

/// Whether `status` counts as answered: within one of the inclusive ranges of `accept`, or
/// 200-299 when it is empty.
bool IsAcceptedStatus(int status, const std::vector<std::pair<int, int>>& accept);

/// What a link's answer comes to: answered (an accepted status; `refresh` when its text is a
/// refresh page), failed with the HTTP status, or failed for want of an answer, with the reason.
CheckOutcome AnswerOutcome(const HttpAnswer& answer, bool refresh,
                           const std::vector<std::pair<int, int>>& accept = {});

/// Whether a page text counts as a refresh page (the 17-character text at character 11 or later).
bool IsRefreshPage(std::string_view page_text);

}  // namespace voxtrel
