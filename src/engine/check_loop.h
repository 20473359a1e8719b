#pragma once

#include "engine/run_context.h"

namespace voxtrel {

/// Checks every link of ctx.pages, adding rows to ctx.results and telling ctx.view as it goes;
/// ends with the end message. kAborted when the user stopped it, kDone otherwise.
RunOutcome CheckLinks(RunContext& ctx);

}  // namespace voxtrel
