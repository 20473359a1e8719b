#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <variant>

#include "web/link.h"

namespace voxtrel {

/// What a run tells its front end happened, with the figures each needs; every front end words
/// it from its own table. Those ending in "Question" ask for an answer.
namespace notice {

/// A run checked everything or was stopped; what it found.
struct RunEnded {
  bool aborted = false;
  /// Rows by their mark: ×, ◎, △, Ｐ, ？.
  std::array<size_t, kMarkCount> rows_by_mark{};
  /// https:// links passed over unasked; 0 when they were checked.
  size_t https_skipped = 0;
  /// After a crawl: the pages checked, left out by the bounds, kept out by robots.txt, not
  /// fetched.
  bool crawled = false;
  size_t pages = 0;
  size_t pages_left_out = 0;
  size_t pages_disallowed = 0;
  size_t pages_failed = 0;
  /// Answers were judged beyond their status: the ？ count is told too.
  bool suspect = false;
  /// Links the user had set aside (RunSettings::ignored), unasked.
  size_t ignored = 0;
};

/// The run was stopped before any link was checked (while pages were found or fetched).
struct RunAborted {};

/// A page too long to read whole: only its first `checked_mib` MiB were checked.
struct PageCut {
  std::string page;
  size_t checked_mib = 0;
};

/// No request could be made for the links of a page; they go unchecked.
struct NoRequestObject {};

/// The folder may not be checked (empty, too short, the root).
struct FolderRefused {};

/// The folder holds no pages.
struct NoPages {};

/// The page to check could not be fetched; `reason` says why.
struct TargetUnreadable {
  std::string page;
  CheckOutcome reason;
};

/// Start checking `pages` pages?
struct StartQuestion {
  size_t pages = 0;
};

/// Start crawling the site from `start`?
struct CrawlQuestion {
  std::string start;
};

/// A report is to be saved over the file at `path`: replace it?
struct OverwriteQuestion {
  std::string path;
};

/// The report could not be written to `path`; `error` is the system's description.
struct SaveFailed {
  std::string path;
  std::string error;
};

}  // namespace notice

using Notice = std::variant<notice::RunEnded, notice::RunAborted, notice::PageCut,
                            notice::NoRequestObject, notice::FolderRefused, notice::NoPages,
                            notice::TargetUnreadable, notice::StartQuestion, notice::CrawlQuestion,
                            notice::OverwriteQuestion, notice::SaveFailed>;

}  // namespace voxtrel
