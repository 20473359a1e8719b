#pragma once

#include <string>

#include "engine/result_list.h"
#include "output/ci_report.h"

// What the CI reports say of a row alike, shared by their writers only.
namespace voxtrel {

/// Why the row failed or is in doubt, in English; never empty.
std::string CiReasonOf(const ResultRow& row);

/// "HTTP 404: http://example.com/old (link text)": the reason, the link, its name when it has one.
std::string CiMessageOf(const ResultRow& row);

/// The row's page as a reader finds it: a web address as it is, a local path relative to the
/// current folder when under it, shown as text.
std::string CiPageName(const ResultRow& row, const CiContext& context);

/// A × row, and a ？ row: the rows a CI report flags.
bool IsCiFailure(const ResultRow& row);
bool IsCiWarning(const ResultRow& row);

}  // namespace voxtrel
