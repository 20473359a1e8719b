#pragma once

#include <functional>
#include <string>
#include <vector>

#include "engine/check_loop.h"
#include "engine/page_mend.h"
#include "engine/result_list.h"

namespace voxtrel {

/// Which links a change set rewrites.
enum class MendKind {
  kMoved,     // a permanent redirect (301, 308) to an address that answers: to that address
  kArchived,  // a × (or ？) link with an archived copy: to the copy
};

/// The mends `rows` call for: each row of `kind` whose link has a known place in a page, once
/// per place.
std::vector<Mend> MendsOf(ResultRows rows, MendKind kind);

/// The folder a change set of a run on `target` (a folder, or one local page) keeps its
/// backups under and names its pages from: the folder itself, or the page's folder.
std::string MendRoot(DiskInterface& disk, const std::string& target);

/// Fetches again, a few pages at a time through a request queue on `seams`, the web pages
/// `mends` name, and hands the plan of each few (pages of one site, planned against the bytes
/// fetched; nothing is ever written) to `planned`. A page that cannot be fetched is refused.
void PlanWebMends(const RunSeams& seams, const RunSettings& settings,
                  const std::vector<Mend>& mends,
                  const std::function<void(const MendPlan&)>& planned);

}  // namespace voxtrel
