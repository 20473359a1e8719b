#pragma once

#include <string>

#include "engine/run_context.h"

namespace voxtrel {

/// The end message's detail line when https:// links were passed over.
std::string HttpsSkippedDetail(size_t count);

/// Checks every link of ctx.pages, adding rows to ctx.results and telling ctx.view as it goes;
/// ends with the end message. kAborted when the user stopped it, kDone otherwise.
RunOutcome CheckLinks(RunContext& ctx);

}  // namespace voxtrel
