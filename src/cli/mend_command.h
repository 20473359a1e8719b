#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "cli/checker.h"
#include "cli/options.h"
#include "run/ignore_list.h"
#include "run/mend_run.h"

namespace voxtrel {

/// Why the mending options of a command line (`args`, read into `options`) cannot go
/// together; "" when they can.
std::string MendUsageError(const CheckerOptions& options, const std::vector<std::string>& args);

/// Reads `<root>/.voxtrelignore` (when `root` is not "" and the file exists) and every
/// --ignore-file into *list; false with *why when one cannot be read.
bool ReadIgnoreLists(DiskInterface& disk, const std::string& root,
                     const std::vector<std::string>& files, IgnoreList* list, std::string* why);

/// --fix undo: puts back the pages of the last change set under `root`, each told on `err`.
/// Returns 0 when every page is as it was, 1 otherwise (or when there is nothing to undo).
int UndoMendsCommand(DiskInterface& disk, const std::string& root, std::ostream& err,
                     bool japanese);

/// After a run with --fix: the change set its rows call for, as a diff on `out` or, with
/// --apply, written into the pages under `root` ("" for a web target: a suggestion only), each
/// page told on `err`. Returns `run_status` without --apply; with it 0 when every page planned
/// was rewritten, 1 otherwise; 2 when `out` could not be written.
int MendAfterRun(const RunSeams& seams, const RunSettings& settings, const CheckerOptions& options,
                 const RunSummary& summary, const std::string& root, std::ostream& out,
                 std::ostream& err, const CheckerEnvironment& env, int run_status);

}  // namespace voxtrel
