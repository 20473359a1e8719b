#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "engine/result_list.h"
#include "platform/disk.h"

namespace voxtrel {

/// Reads back a JSON report as FormatJsonReport writes it: the rows in their order, with their
/// numbers, links and outcomes; fields it does not know are passed over. An outgoing link of a
/// report of every link is asked at its target (fragment cut; the query too unless
/// `keep_query`); an internal one at its "resolved" address or path, the anchor taken from its
/// target. False when the text is not such a report, *err then saying where and why.
bool ReadJsonReport(std::string_view text, bool keep_query, std::vector<ResultRow>* rows,
                    std::string* err);
/// The same read from `file` a row at a time, each row added to *rows under its own number as
/// soon as it is read: only the rows kept and one row's text are held, never the whole file.
/// On failure the rows read until then stay.
bool ReadJsonReport(InputFile& file, bool keep_query, ResultList* rows, std::string* err);

}  // namespace voxtrel
