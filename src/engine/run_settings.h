#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/link_scanner.h"
#include "engine/page_mend.h"
#include "engine/run_view.h"
#include "web/link.h"
#include "web/suspect_rules.h"

namespace voxtrel {

/// Requests in flight at once, and to one host (scheme, host and port), unless asked otherwise.
/// Many in all, so a page of vanished hosts does not wait out their time-outs in small waves;
/// few to one host, so no server sees more than a browser would send it.
inline constexpr int kDefaultJobs = 128;
inline constexpr int kDefaultPerHost = 8;
inline constexpr int kDefaultRetries = 1;
inline constexpr int kMaxRetries = 10;

/// Whether and how answers are judged beyond their status, as a reader would judge the page.
struct SuspectSettings {
  /// Null: the old rule, a status alone decides.
  std::shared_ptr<const SuspectRules> rules;
  /// "YYYY-MM-DD": services closed on or before it count as closed.
  std::string today;
};

/// Where the copies of dead links are looked up (a web archive's availability API); off by
/// default: no request leaves for it unless asked.
struct ArchiveSettings {
  bool look_up = false;
  /// The API's address; "?url=…&timestamp=…" is added.
  std::string api = "https://archive.org/wayback/available";
};

/// Outcomes kept between runs. A ◎ of an address asked lately is taken from here and not asked
/// again; × and ？ are always asked again. Called from the run's own thread only.
class OutcomeCache {
 public:
  virtual ~OutcomeCache() = default;
  /// The kept outcome of `address` when it is a ◎ young enough to trust.
  virtual std::optional<CheckOutcome> Fresh(const std::string& address) = 0;
  /// Keeps what asking `address` came to.
  virtual void Keep(const std::string& address, const CheckOutcome& outcome) = 0;
};

/// How a run checks, chosen by a front end before it starts one.
struct RunSettings {
  /// List answered links (◎ and △) too, not only failures and script links.
  bool show_all = true;
  /// Find, check and list https:// links as http:// ones.
  bool https = false;
  /// Ask an address with what follows its "?"; it is cut off otherwise.
  bool keep_query = false;
  /// Check every link a browser would follow (relative links, images, style sheets, anchors),
  /// not only the old rule's absolute http:// links.
  bool all_links = false;
  /// Where "/…" links of local pages lead; empty: the checked folder, or a single page's own.
  std::string root;
  /// Requests in flight at once and to one host; 1 asks one at a time.
  int jobs = kDefaultJobs;
  int per_host = kDefaultPerHost;
  /// Ask each distinct address once per run; later occurrences take its answer.
  bool once = false;
  /// Links whose target this says yes to get no request and no row.
  std::function<bool(const std::string&)> excluded;
  /// A 429 answer is asked once more after its Retry-After (this when it has none), at most
  /// the cap; milliseconds.
  long retry_after_default_ms = 2000;
  long retry_after_cap_ms = 30000;
  /// A request that ends cut off, refused by a host that answered before, or with 502, 503 or
  /// 504 is asked again up to this many times (0 to 10), after a back-off of 1 s, doubling.
  int retries = kDefaultRetries;
  /// Requests started per second to one host at most; 0: no limit.
  double rate = 0;
  /// Links checked in one page at most; the rest of the page is passed over.
  size_t max_links_per_page = kDefaultMaxLinksPerPage;
  /// Judge answers beyond their status (？); off by default.
  SuspectSettings suspect;
  /// Links the user has set aside (.voxtrelignore): no request and no row, counted as ignored.
  std::function<bool(const std::string&)> ignored;
  /// Look up the copies of × (and ？) addresses in a web archive.
  ArchiveSettings archive;
  /// Statuses that count as answered (◎), as inclusive ranges; empty: the old rule, 200-299.
  std::vector<std::pair<int, int>> accept;
  /// Null: every address is asked.
  std::shared_ptr<OutcomeCache> cache;
  /// Keep a stamp of each local page read (RunSummary::page_stamps), for a change set after the
  /// run: hashing every page costs a run that will mend nothing a fifth of its scan.
  bool stamp_pages = false;
};

/// How far a crawl goes: pages in all (the start page included) and links followed from it.
struct CrawlBounds {
  size_t max_pages = 10000;
  size_t max_depth = 50;
  /// Links followed from one page at most, as the scan takes at most so many.
  size_t max_links_per_page = kDefaultMaxLinksPerPage;
};

/// The stop request of a run, owned by whoever started it (a button, a signal handler). Raised
/// at any time, before or during the run; the run never lowers it. Safe to raise from a signal
/// handler.
class AbortSignal {
 public:
  void Raise() { raised_.store(true); }
  /// For the owner only, before it starts another run.
  void Lower() { raised_.store(false); }
  bool Raised() const { return raised_.load(); }

 private:
  static_assert(std::atomic<bool>::is_always_lock_free);
  std::atomic<bool> raised_{false};
};

/// What a run came to.
struct RunSummary {
  RunOutcome outcome = RunOutcome::kDone;
  /// Links whose check was committed (listed or not).
  size_t links_checked = 0;
  /// Links passed over: https:// ones (when not checked) and excluded ones.
  size_t https_skipped = 0;
  size_t excluded = 0;
  /// Rows by their mark: ×, ◎, △, Ｐ, ？.
  std::array<size_t, kMarkCount> rows_by_mark{};
  /// Requests asked only to judge answers (a folder's made-up address), never a row of their own.
  size_t probes = 0;
  /// The pages checked (or found), in order: paths, or the address of a fetched page.
  std::vector<std::string> pages;
  /// Why a web page target could not be fetched (kTargetUnreadable).
  CheckOutcome fetch_answer;
  /// Pages too long to read whole, scanned up to the cap only.
  std::vector<std::string> pages_cut;
  /// Pages with more links than max_links_per_page, whose other links went unchecked.
  std::vector<std::string> pages_links_cut;
  /// In a crawl: pages past its bounds, addresses the site's robots.txt keeps crawlers from, and
  /// pages it could not fetch (each also a × row).
  size_t pages_left_out = 0;
  size_t pages_disallowed = 0;
  size_t pages_failed = 0;
  /// Links set aside by RunSettings::ignored.
  size_t ignored = 0;
  /// Outcomes taken from RunSettings::cache instead of asked.
  size_t from_cache = 0;
  /// Requests asked of the web archive.
  size_t archive_lookups = 0;
  /// What the run read of each local page, by path: a change set refuses a page changed since.
  std::map<std::string, PageStamp> page_stamps;
};

}  // namespace voxtrel
