#pragma once

#include <cstddef>
#include <string>

#include "engine/check_loop.h"

namespace voxtrel {

/// What a sitemap run came to.
struct SitemapRun {
  /// summary.pages: the pages checked, in the sitemap's order; pages_left_out: those past
  /// max_pages (in the sitemaps read); pages_disallowed: addresses passed over, on another
  /// scheme, host or port than the sitemap that listed them, or not http(s); pages_failed: pages
  /// that could not be fetched, each a × row whose page is its sitemap.
  RunSummary summary;
  /// With kTargetUnreadable: the sitemap that could not be read, and why; `why` is empty when
  /// it could not be fetched, and summary.fetch_answer says why.
  std::string unreadable;
  std::string why;
};

/// Checks the pages a sitemap lists, each fetched and checked as a single page run does, rows
/// numbered in one sequence. `sitemap` is a web address, fetched through the run's queue, or a
/// local file; a sitemap index's sitemaps are read in turn (one level, at most
/// kMaxChildSitemaps). At most `max_pages` pages. Asks to start once the sitemaps are read.
SitemapRun RunSitemap(const RunSeams& seams, const RunSettings& settings,
                      const std::string& sitemap, size_t max_pages);

/// The sitemaps of an index read at most; the rest are passed over.
inline constexpr size_t kMaxChildSitemaps = 1000;

}  // namespace voxtrel
