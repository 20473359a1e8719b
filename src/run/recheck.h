#pragma once

#include "engine/check_loop.h"

namespace voxtrel {

/// Asks every × row of seams.results again and gives each its new outcome in place, keeping its
/// number: web addresses through seams.http within settings.jobs and settings.per_host (an
/// address several rows share is asked once), internal links of local pages on the disk. Rows
/// are updated in list order and each is told to the view (RowUpdated); the end message follows
/// as after a run. Aborted (the signal, or a view that stops waiting), the rows not reached
/// keep what they had. rows_by_mark counts the whole list afterwards; links_checked the rows
/// asked again.
RunSummary RecheckFailed(const RunSeams& seams, const RunSettings& settings);

}  // namespace voxtrel
