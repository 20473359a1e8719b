#pragma once

#include <cstddef>
#include <deque>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "engine/link_scanner.h"
#include "engine/run_settings.h"
#include "web/link.h"
#include "web/page.h"
#include "web/robots.h"

namespace voxtrel {

/// The pages of one site a crawl has found and the order they are checked in: breadth first,
/// in order of first discovery. A page is read for its links and anchors as its answer comes
/// in, and kept as fetched only until it is handed on for its scan; every address is remembered
/// by its normalised form alone.
class CrawlFrontier {
 public:
  /// `start` is the start page as fetched, its source the address it was fetched from and
  /// `final_address` where the redirects ended ("" when none).
  /// The site is the final address's scheme, host and port, and paths under its folder.
  /// With `all_links`, the ids and <a name>s of every page read are kept for HasAnchor, and the
  /// site's style sheets its pages use are fetched and handed on too.
  CrawlFrontier(PageSource start, const std::string& final_address, RobotsRules robots,
                CrawlBounds bounds, bool keep_query, bool all_links = false);

  /// A page address waiting for its fetch: the frontier's number for it, the first link to it
  /// (as written, its name and page; `resolved` is the address to fetch), and that page's
  /// place in crawl order (the start page 0).
  struct Fetch {
    size_t candidate;
    FoundLink link;
    size_t from = 0;
  };

  /// Turns what the pages settled so far link to into pages to fetch, in order, appending them
  /// to *to_fetch; a page's links are settled as soon as it and every candidate before it are
  /// answered, before its turn to be handed on. False while it must wait for earlier fetches to
  /// tell whether another page still fits under max_pages.
  bool Settle(std::vector<Fetch>* to_fetch);

  /// What a fetch for the crawl brought.
  struct Answer {
    bool ok = false;            // a 2xx answer
    std::string final_address;  // where the redirects ended; "" when none
    std::string content_type;
    std::string body;
    bool cut = false;  // the body went on past its cap
  };
  /// The answer to a candidate's fetch; its body, when it is a page, is kept until its turn.
  void Answered(size_t candidate, Answer answer);
  /// The candidate's fetch came to nothing (no request could be made, or it was dropped).
  void Unanswered(size_t candidate);

  enum class Next { kPage, kWait, kDone };
  /// The next page in crawl order, decoded, once its links are settled; kWait while an earlier
  /// candidate's answer is still out. *cut says the page was cut at the page size cap.
  Next NextPage(PageToCheck* page, bool* cut);

  /// The key an address is known by: its normalised form.
  static std::string KeyOf(std::string_view address);
  /// Whether the site's robots.txt keeps crawlers from `key` (on the site's host); counts each
  /// such address once.
  bool Disallows(const std::string& key);
  /// The same question, counting nothing: for addresses that are never pages of the site.
  bool RobotsRefuse(const std::string& key) const;
  /// Whether the page known by `key` has an id or <a name> `anchor` (decoded, without "#").
  /// True for an empty anchor or "top", and for any address whose page was not read whole.
  bool HasAnchor(const std::string& key, const std::string& anchor) const;
  /// Once `abort` is raised, reading a page for its links and settling them stop early.
  void WatchAbort(const AbortSignal* abort) { abort_ = abort; }

  /// Pages handed on, plus candidates not yet settled as pages or not.
  size_t pages_known() const { return handed_on_ + (candidates_.size() - next_); }
  /// Candidates handed on or passed over as no page: those after it may wait with their pages.
  size_t candidates_passed() const { return next_; }
  /// Pages, in crawl order, whose links are all settled into fetches.
  size_t pages_settled() const { return pages_settled_; }
  size_t left_out() const { return left_out_; }
  size_t disallowed() const { return disallowed_keys_.size(); }
  /// Pages with more links than max_links_per_page: the rest were not followed.
  const std::vector<std::string>& links_cut() const { return links_cut_; }

 private:
  enum class State { kAsked, kPage, kNotPage };  // kAsked until its answer is in
  struct Candidate {
    std::string address;  // the final one once answered
    size_t depth = 0;
    State state = State::kAsked;
    std::optional<PageSource> page;
    bool cut = false;
    /// The links a page leads on by, read with its answer and followed when its turn comes:
    /// address, link as written and name of each, packed, as many pages may wait at once.
    std::string follow;
    bool sheet = false;  // a style sheet, not a page
  };
  /// Settles answered candidates in crawl order: a page unless its final address is one an
  /// earlier page already goes by.
  void Resolve();
  /// Takes the links of the next settled page to lead on by into found_; false when none is.
  bool TakeLinks();
  /// Whether `key` names a page of the site: same scheme, host and port, path under the folder.
  bool OnSite(const std::string& key) const;
  /// Whether `key` is on the site's scheme, host and port, in any folder.
  bool OnSiteHost(const std::string& key) const;
  /// Reads a page as its answer comes in: the links it leads on by, and its anchors under each
  /// of `keys`, so a link to it can be checked before the page's own turn.
  void ReadPage(Candidate& candidate, const std::vector<std::string>& keys);
  /// Reads a style sheet as its answer comes in: the sheets it imports.
  void ReadImports(Candidate& candidate);
  /// Packs a link to lead on by into *follow, once per address and only when it is on the site.
  void Follow(const std::string& address, std::string_view written, std::string_view name,
              std::unordered_set<std::string>* kept, std::string* follow) const;

  std::string scheme_authority_;  // "http://host:port" as normalised
  std::string folder_;            // the path prefix of the site's pages
  RobotsRules robots_;
  CrawlBounds bounds_;
  bool keep_query_;
  bool all_links_;
  std::vector<Candidate> candidates_;
  /// Every key met on the site: a candidate, one left out or disallowed.
  std::unordered_set<std::string> known_;
  /// The keys of the pages settled so far, by the address their redirects ended at.
  std::unordered_set<std::string> page_keys_;
  /// The links to follow of the page last taken: Settle takes them all before the next.
  std::deque<FoundLink> found_;
  size_t found_depth_ = 0;
  std::string found_on_;
  size_t found_from_ = 0;
  size_t take_next_ = 0;  // the next candidate whose links to take
  size_t pages_taken_ = 0;
  size_t pages_settled_ = 0;
  /// Hashes of "key" for each page read whole and "key#anchor" for each of its anchors: a few
  /// bytes an anchor, where a 64-bit collision is far rarer than a mistyped anchor.
  std::unordered_set<size_t> anchors_;
  size_t resolved_ = 0;  // candidates settled as page or not, in order
  size_t pages_ = 0;     // of those, pages
  size_t next_ = 0;      // the next candidate to hand on
  size_t handed_on_ = 0;
  size_t left_out_ = 0;
  std::unordered_set<std::string> disallowed_keys_;
  /// The hashes of keys robots.txt allows: a page repeats its links, and each is decided once.
  std::unordered_set<size_t> allowed_hashes_;
  const AbortSignal* abort_ = nullptr;
  std::vector<std::string> links_cut_;
};

}  // namespace voxtrel
