#pragma once

#include <string>
#include <vector>

#include "engine/run_context.h"

namespace voxtrel {

/// A link cut out of one scanned line.
struct FoundLink {
  std::string target;  // LinkUrl
  std::string name;    // LinkName
};

/// Cuts the target and link text of the hit at 1-based character position `hit` of `line`
/// (the line already trimmed with two blanks appended).
FoundLink CutLink(const std::string& line, int32_t hit);

/// Runs the check over ctx.List1, adding rows to ctx.results; see the run view for its effects.
void CheckLinks(RunContext& ctx);

}  // namespace voxtrel
