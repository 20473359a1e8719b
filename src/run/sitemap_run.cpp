#include "run/sitemap_run.h"

#include <algorithm>
#include <unordered_set>
#include <utility>
#include <vector>

#include "engine/page_fetch.h"
#include "engine/request_queue.h"
#include "engine/sitemap_source.h"

namespace voxtrel {
namespace {

// Reads a sitemap and the sitemaps of an index into the pages to check, passing over what the
// sitemap protocol does not allow and what lies past the bounds.
class SitemapReader {
 public:
  SitemapReader(const RunSeams& seams, RequestQueue& queue, size_t max_pages, SitemapRun& run)
      : seams_(seams), queue_(queue), max_pages_(max_pages), run_(run) {}

  // False when a sitemap could not be read (run_ says which and why) or the run was stopped.
  bool Read(const std::string& root) {
    Sitemap sitemap;
    std::string site;
    if (!ReadOne(root, &sitemap, &site)) return false;
    if (sitemap.kind == Sitemap::Kind::kPages) {
      TakePages(root, site, sitemap);
      return true;
    }
    size_t children = 0;
    for (const std::string& child : sitemap.addresses) {
      if (pages.size() >= max_pages_ || children >= kMaxChildSitemaps) break;
      if (!Allowed(child, site)) continue;
      ++children;
      Sitemap listed;
      std::string child_site;
      if (!ReadOne(child, &listed, &child_site)) return false;
      // One level of index only: an index listed in an index has no pages for this run.
      if (listed.kind == Sitemap::Kind::kPages) TakePages(child, child_site, listed);
    }
    return true;
  }

  std::vector<ListedPage> pages;

 private:
  // Whether an address listed by a sitemap from `site` ("" for a local file) may be taken.
  bool Allowed(const std::string& address, const std::string& site) {
    if (IsWebAddress(address) && (site.empty() || HostKey(address) == site)) return true;
    ++run_.summary.pages_disallowed;
    return false;
  }

  void TakePages(const std::string& sitemap_address, const std::string& site,
                 const Sitemap& sitemap) {
    run_.summary.pages_left_out += sitemap.passed_over;
    for (const std::string& address : sitemap.addresses) {
      if (!Allowed(address, site) || !seen_.insert(address).second) continue;
      if (pages.size() >= max_pages_) {
        ++run_.summary.pages_left_out;
        continue;
      }
      pages.push_back(ListedPage{address, sitemap_address});
    }
  }

  bool ReadOne(const std::string& address, Sitemap* sitemap, std::string* site);

  const RunSeams& seams_;
  RequestQueue& queue_;
  const size_t max_pages_;
  SitemapRun& run_;
  std::unordered_set<std::string> seen_;
};

bool SitemapReader::ReadOne(const std::string& address, Sitemap* sitemap, std::string* site) {
  std::string bytes;
  site->clear();
  if (!IsWebAddress(address)) {
    if (!seams_.disk.ReadWholeFile(address, &bytes, &run_.why)) {
      run_.unreadable = address;
      run_.summary.outcome = RunOutcome::kTargetUnreadable;
      return false;
    }
  } else {
    FetchResult fetched = std::move(FetchWebPages(queue_, {address}, [this] {
                                      return !seams_.abort.Raised() && seams_.view.KeepAlive();
                                    }).front());
    if (fetched.kind == FetchResult::Kind::kAbandoned || seams_.abort.Raised()) {
      run_.summary.outcome = RunOutcome::kAborted;
      return false;
    }
    if (fetched.kind != FetchResult::Kind::kOk) {
      run_.unreadable = address;
      run_.summary.fetch_answer = std::move(fetched.answer);
      run_.summary.outcome = RunOutcome::kTargetUnreadable;
      return false;
    }
    // Where the redirects ended is the site whose pages the sitemap may list.
    *site = HostKey(fetched.final_url.empty() ? address : fetched.final_url);
    bytes = std::move(fetched.page.bytes);
  }
  if (ReadSitemap(bytes, sitemap, &run_.why)) return true;
  run_.unreadable = address;
  run_.summary.outcome = RunOutcome::kTargetUnreadable;
  return false;
}

RunSummary Closed(const RunSeams& seams, RunSummary summary) {
  seams.view.RunClosed(summary.outcome, seams.results.Count());
  return summary;
}

}  // namespace

SitemapRun RunSitemap(const RunSeams& seams, const RunSettings& settings,
                      const std::string& sitemap, size_t max_pages) {
  SitemapRun run;
  RequestQueue queue(seams.http, LimitsOf(settings), seams.clock ? *seams.clock : SystemClock());
  SitemapReader reader(seams, queue, max_pages, run);
  if (!reader.Read(sitemap)) {
    if (run.summary.outcome == RunOutcome::kAborted) seams.view.Notify(notice::RunAborted{});
    run.summary = Closed(seams, std::move(run.summary));
    return run;
  }
  if (reader.pages.empty()) {
    run.unreadable = sitemap;
    run.why = "lists no page to check";
    run.summary.outcome = RunOutcome::kTargetUnreadable;
    run.summary = Closed(seams, std::move(run.summary));
    return run;
  }
  if (seams.view.Notify(notice::StartQuestion{reader.pages.size()}) != MessageAnswer::kOk) {
    run.summary.outcome = RunOutcome::kCancelled;
    run.summary = Closed(seams, std::move(run.summary));
    return run;
  }
  seams.results.Clear();
  seams.view.RunPreparing(false);
  // Pages of one site: a few more asked than its slots hold keep them busy while one is scanned.
  SitemapSource feed(std::move(reader.pages), queue,
                     static_cast<size_t>(std::max(1, settings.per_host)) * 2 + 2);
  RunSummary counted = std::move(run.summary);
  run.summary = CheckLinks({}, settings, seams, queue, &feed);
  run.summary.pages_left_out = counted.pages_left_out;
  run.summary.pages_disallowed = counted.pages_disallowed;
  run.summary = Closed(seams, std::move(run.summary));
  return run;
}

}  // namespace voxtrel
