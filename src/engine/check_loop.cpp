#include "engine/check_loop.h"

#include <algorithm>
#include <chrono>
#include <deque>
#include <map>
#include <memory>
#include <set>
#include <thread>
#include <unordered_set>

#include "engine/local_links.h"
#include "platform/text.h"
#include "web/answer_outcome.h"
#include "web/fetch_web_page.h"
#include "web/refresh_detector.h"

namespace voxtrel {
namespace {

using Clock = std::chrono::steady_clock;

// How long one wait on the network lasts before the view gets to handle input again.
constexpr int kWaitSliceMs = 50;

// What is asked for a step: the address a browser sends, or a crawl's page address as found.
const std::string& RequestOf(const ScanItem& item) {
  return item.request.empty() ? AddressOf(item.link) : item.request;
}

// One step of the scan on its way to its commit.
struct Pending {
  enum class State { kWaiting, kInFlight, kDone, kNoRequest, kPageEnd, kSkipped, kPassedOver };
  ScanItem item;
  State state = State::kWaiting;
  std::string host;
  /// What the run knows the address by: as written, or in a crawl its normalised form.
  std::string key;
  /// A crawl's fetch of a page of the site, not a link: it has no row, and its answer is also
  /// that of every link to the page.
  std::optional<size_t> candidate;
  bool disallowed = false;  // robots.txt keeps crawlers away: neither asked nor listed
  bool fetch_failed = false;  // a crawl's page fetch that failed
  CheckOutcome outcome;
  /// Shared with the request's body sink: a request dropped with its page still delivers its
  /// body after its step is gone.
  std::shared_ptr<RefreshDetector> refresh;
  bool retried = false;
  Clock::time_point not_before{};
  Clock::time_point started{};
};

// A page of the crawl that could not be fetched, waiting for the end of the page that first
// linked to it.
struct FailedPage {
  std::string key;
  FoundLink link;
  CheckOutcome outcome;
};

// Scans ahead of the answers with many requests in flight, and commits each link's row strictly
// in page and line order, so that rows, numbers, labels and messages are those a run asking one
// link at a time would give for the same answers.
class Pipeline {
 public:
  Pipeline(std::vector<PageToCheck> pages, const RunSettings& settings, const RunSeams& seams,
           RunSummary& summary, CrawlFrontier* crawl)
      : settings_(settings),
        seams_(seams),
        summary_(summary),
        scanner_(std::move(pages), seams.disk,
                 ScanRule{{settings.https, settings.keep_query},
                          settings.all_links,
                          settings.root,
                          settings.max_links_per_page},
                 &seams.abort),
        local_(seams.disk),
        crawl_(crawl),
        jobs_(std::max(1, settings.jobs)),
        // Enough look-ahead to keep every request slot busy past slow hosts, bounded so memory
        // does not grow with the site.
        max_pending_(static_cast<size_t>(jobs_) * 4 + 16) {
    progress_.pages_found = summary.pages.size();
    if (crawl_) {
      crawl_->WatchAbort(&seams.abort);
      // The start page was fetched before the run: its links take its answer.
      for (const std::string& key : crawl_->start_keys()) answers_[key] = crawl_->start_outcome();
    }
  }

  ~Pipeline() { seams_.http.CancelAll(); }

  RunOutcome Run() {
    for (;;) {
      if (seams_.abort.Raised() || abandoned_) return RunOutcome::kAborted;
      Fill();
      // A stop during a long scan ends the fill early, not as a finished crawl.
      if (seams_.abort.Raised()) return RunOutcome::kAborted;
      StartReady();
      const Step step = Commit();
      TellProgress();
      switch (step) {
        case Step::kAborted: return RunOutcome::kAborted;
        case Step::kFinished: return RunOutcome::kDone;
        case Step::kWaiting: break;
      }
      // A crawl page whose fetch nothing will make: never wait for it.
      if (crawl_waits_ && queue_.empty() && InFlight() == 0 && !RetryDue())
        return RunOutcome::kDone;
      // Links that need no request (passed over, scripts, answers known) never wait: the
      // loop goes straight on to scan and commit more of them.
      if (InFlight() > 0 || RetryDue()) WaitForAnswers();
    }
  }

 private:
  enum class Step { kWaiting, kAborted, kFinished };

  void Fill() {
    ScanItem item;
    while (!scan_done_ && queue_.size() < max_pending_ && !seams_.abort.Raised()) {
      if (crawl_ && !SettleCrawl()) break;
      if (!scanner_.Next(&item)) {
        if (crawl_ && NextCrawlPage()) continue;
        scan_done_ = !crawl_ || !crawl_waits_;
        break;
      }
      Pending& pending = queue_.emplace_back();
      pending.item = std::move(item);
      if (pending.item.kind == ScanItem::Kind::kPageEnd) {
        if (pending.item.links_cut) summary_.pages_links_cut.push_back(pending.item.link.page);
        pending.state = Pending::State::kPageEnd;
        continue;
      }
      ++progress_.links_found;
      if (pending.item.kind == ScanItem::Kind::kHttpsSkipped ||
          (settings_.excluded && settings_.excluded(AddressOf(pending.item.link)))) {
        // Counted when their turn comes, so an aborted run counts only what it reached.
        pending.state = Pending::State::kPassedOver;
      } else if (pending.item.fails != FailureReason::kNone) {
        pending.outcome.reason = pending.item.fails;
        pending.state = Pending::State::kDone;
      } else if (IsScriptLink(pending.item.link)) {
        pending.outcome.kind = CheckOutcome::Kind::kScript;
        pending.state = Pending::State::kDone;
      } else if (pending.item.link.local) {
        pending.outcome = local_.Check(pending.item.link.resolved, pending.item.link.anchor,
                                       pending.item.root_size);
        pending.state = Pending::State::kDone;
      } else {
        const std::string& url = RequestOf(pending.item);
        pending.key = crawl_ ? CrawlFrontier::KeyOf(url) : url;
        if (pending.key.empty()) pending.key = url;
        if (crawl_ && crawl_->Disallows(pending.key)) {
          pending.disallowed = true;
          pending.state = Pending::State::kPassedOver;
        } else {
          pending.host = HostKey(url);
          continue;
        }
      }
      ++progress_.links_answered;
    }
  }

  // Queues the fetches of the pages the crawl found; false while it has to wait for answers.
  bool SettleCrawl() {
    fetches_.clear();
    const bool settled = crawl_->Settle(&fetches_);
    for (CrawlFrontier::Fetch& fetch : fetches_) {
      // What the user keeps out of the run is not fetched for the crawl either.
      if (settings_.excluded && settings_.excluded(fetch.link.resolved)) {
        crawl_->Unanswered(fetch.candidate);
        continue;
      }
      Pending& pending = queue_.emplace_back();
      pending.item.link = std::move(fetch.link);
      pending.key = CrawlFrontier::KeyOf(pending.item.link.resolved);
      pending.host = HostKey(pending.item.link.resolved);
      pending.candidate = fetch.candidate;
    }
    progress_.pages_found = crawl_->pages_known();
    return settled;
  }

  // Hands the crawl's next page to the scanner; false when none is ready (crawl_waits_ says
  // whether one may still come).
  bool NextCrawlPage() {
    PageToCheck page;
    bool cut = false;
    const CrawlFrontier::Next next = crawl_->NextPage(&page, &cut);
    crawl_waits_ = next == CrawlFrontier::Next::kWait;
    if (next != CrawlFrontier::Next::kPage) return false;
    summary_.pages.push_back(page.source);
    if (cut) {
      summary_.pages_cut.push_back(page.source);
      seams_.view.Notify(PageCutOf(page.source));
    }
    scanner_.AddPage(std::move(page));
    return true;
  }

  void TellProgress() {
    progress_.waiting_for = {};
    progress_.waiting_ms = 0;
    if (!queue_.empty() && queue_.front().state == Pending::State::kInFlight) {
      const Pending& head = queue_.front();
      progress_.waiting_for = AddressOf(head.item.link);
      progress_.waiting_ms = static_cast<long>(
          std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - head.started)
              .count());
    }
    seams_.view.Progress(progress_);
  }

  // Requests started and not yet answered, those of skipped pages included.
  size_t InFlight() const { return by_id_.size() + discarded_.size(); }

  int HostLimit(const std::string& host) const {
    return slowed_hosts_.count(host) ? 1 : std::max(1, settings_.per_host);
  }

  // Starts what the limits allow, in page order. An address is never asked twice at once: a
  // later occurrence waits until every earlier one has its answer.
  void StartReady() {
    const Clock::time_point now = Clock::now();
    std::set<std::string_view> unanswered;
    for (Pending& pending : queue_) {
      if (InFlight() >= static_cast<size_t>(jobs_)) return;
      if (pending.state != Pending::State::kWaiting && pending.state != Pending::State::kInFlight)
        continue;
      const bool blocked = !unanswered.insert(pending.key).second;
      if (pending.state != Pending::State::kWaiting || blocked || now < pending.not_before)
        continue;
      if (pending.candidate && page_ends_.count(pending.key)) {
        // Another fetch of the crawl was redirected here: the page is known, and not asked again.
        crawl_->Unanswered(*pending.candidate);
        pending.state = Pending::State::kDone;
        unanswered.erase(pending.key);
        continue;
      }
      // A page of the crawl is fetched for its text even when a link asked its address before.
      if (settings_.once && !pending.candidate) {
        auto known = answers_.find(pending.key);
        if (known != answers_.end()) {
          pending.outcome = known->second;
          pending.state = Pending::State::kDone;
          ++progress_.links_answered;
          unanswered.erase(pending.key);
          continue;
        }
      }
      if (host_load_[pending.host] >= HostLimit(pending.host)) continue;
      Start(pending);
    }
  }

  void Start(Pending& pending) {
    const uint64_t id = next_id_++;
    HttpRequest request;
    request.url = RequestOf(pending.item);
    pending.refresh = std::make_shared<RefreshDetector>();
    request.on_body = [refresh = pending.refresh](std::string_view chunk) { refresh->Feed(chunk); };
    if (pending.candidate) {
      request.keep_body = true;
      request.keep_pages_only = true;
      request.body_cap = kPageCap;
    }
    if (!seams_.http.Start(id, std::move(request))) {
      pending.state = Pending::State::kNoRequest;
      // A crawl's page fetch is no link of its own: its links count when they take its answer.
      if (pending.candidate)
        crawl_->Unanswered(*pending.candidate);
      else
        ++progress_.links_answered;
      return;
    }
    pending.state = Pending::State::kInFlight;
    if (!pending.retried) pending.started = Clock::now();
    by_id_[id] = &pending;
    ++host_load_[pending.host];
  }

  void Finish(uint64_t id, HttpAnswer& answer) {
    auto found = by_id_.find(id);
    if (found == by_id_.end()) return;
    Pending& pending = *found->second;
    by_id_.erase(found);
    --host_load_[pending.host];
    if (answer.status == 429 && !pending.retried) {
      // Too many requests is the server asking us to slow down, not a dead link: wait as it
      // says, ask once more, and ask that host one thing at a time from now on.
      pending.retried = true;
      pending.not_before = Clock::now() + RetryAfter(answer, settings_);
      pending.state = Pending::State::kWaiting;
      slowed_hosts_.insert(pending.host);
      return;
    }
    pending.outcome = AnswerOutcome(answer, pending.refresh->IsRefresh());
    const CheckOutcome& outcome = pending.outcome;
    if (settings_.once) answers_[pending.key] = outcome;
    if (pending.candidate) {
      if (!answer.final_url.empty() && answer.status && *answer.status / 100 == 2) {
        // Where the redirects ended answered without any: a later link there is not asked.
        HttpAnswer direct;
        direct.status = answer.status;
        direct.content_type = answer.content_type;
        const std::string end = CrawlFrontier::KeyOf(answer.final_url);
        answers_.emplace(end, AnswerOutcome(direct, pending.refresh->IsRefresh()));
        page_ends_.insert(end);
      }
      pending.fetch_failed = outcome.kind == CheckOutcome::Kind::kFailed;
      crawl_->Answered(*pending.candidate, answer);
    }
    pending.state = Pending::State::kDone;
    if (!pending.candidate) ++progress_.links_answered;
  }

  // Commits every step at the head that has what it needs; stops at the first still waiting.
  Step Commit() {
    while (!queue_.empty()) {
      Pending& head = queue_.front();
      if (head.state == Pending::State::kPageEnd) {
        if (!ListFailedPages()) return Step::kAborted;
        ++progress_.pages_done;
        queue_.pop_front();
        if (Aborted()) return Step::kAborted;
        continue;
      }
      if (head.state == Pending::State::kSkipped) {
        queue_.pop_front();
        continue;
      }
      if (head.state == Pending::State::kPassedOver) {
        if (!head.disallowed)
          ++(head.item.kind == ScanItem::Kind::kHttpsSkipped ? summary_.https_skipped
                                                              : summary_.excluded);
        queue_.pop_front();
        continue;
      }
      if (head.candidate) {
        // A page fetched for the crawl: its row, if any, is that of a link to it.
        if (head.state != Pending::State::kDone && head.state != Pending::State::kNoRequest)
          return Step::kWaiting;
        if (head.fetch_failed) {
          // Its fetches come before the linking page's links, so this page's end lists it.
          ++summary_.pages_failed;
          failed_keys_.insert(head.key);
          failed_pages_.push_back({head.key, std::move(head.item.link), head.outcome});
        }
        queue_.pop_front();
        continue;
      }
      const FoundLink& link = head.item.link;
      const bool script = head.outcome.kind == CheckOutcome::Kind::kScript;
      if (!script && announced_ != &head) {
        // The labels show the link whose row comes next, as a run asking one at a time does.
        seams_.view.PageStarted(link.page);
        seams_.view.LinkStarted(AddressOf(link));
        announced_ = &head;
      }
      if (head.state == Pending::State::kNoRequest) {
        // Without a request object no link of this page can be checked: say so once and go
        // on with the next page.
        seams_.view.Notify(notice::NoRequestObject{});
        SkipRestOfPage(link.page);
        queue_.pop_front();
        announced_ = nullptr;
        continue;
      }
      if (head.state != Pending::State::kDone) return Step::kWaiting;
      if (crawl_) CheckAnchor(head);
      if (IsListed(head.outcome, settings_.show_all)) {
        seams_.view.RowAdded(seams_.results.Add(link, head.outcome));
        ++summary_.rows_by_mark[MarkIndex(head.outcome)];
        // The link's own row shows the failed page: no second row for it.
        if (head.outcome.kind == CheckOutcome::Kind::kFailed) failed_keys_.erase(head.key);
      }
      ++summary_.links_checked;
      if (!script) seams_.view.CountChanged(seams_.results.Count());
      queue_.pop_front();
      announced_ = nullptr;
      if (Aborted()) return Step::kAborted;
    }
    return scan_done_ ? Step::kFinished : Step::kWaiting;
  }

  bool Aborted() {
    seams_.view.Yield();
    return seams_.abort.Raised();
  }

  // A link to a page of the crawl that answered: its fragment must name an anchor there.
  void CheckAnchor(Pending& head) {
    CheckOutcome& outcome = head.outcome;
    if (head.item.link.anchor.empty() ||
        (outcome.kind != CheckOutcome::Kind::kAnswered &&
         outcome.kind != CheckOutcome::Kind::kRefresh) ||
        crawl_->HasAnchor(head.key, head.item.link.anchor))
      return;
    outcome.kind = CheckOutcome::Kind::kFailed;
    outcome.reason = FailureReason::kAnchorNotFound;
  }

  // At the end of a page: each page it was first to link to that could not be fetched, and
  // that no row of the page shows (a link classic mode does not list, an https:// link passed
  // over), gets a row of its own, so the crawl never hides what it asked for. False on abort.
  bool ListFailedPages() {
    for (size_t i = 0; i < failed_pages_.size(); ++i) {
      FailedPage& failed = failed_pages_[i];
      if (!failed_keys_.count(failed.key)) continue;
      failed_keys_.erase(failed.key);
      seams_.view.PageStarted(failed.link.page);
      seams_.view.LinkStarted(AddressOf(failed.link));
      seams_.view.RowAdded(seams_.results.Add(failed.link, failed.outcome));
      ++summary_.rows_by_mark[MarkIndex(failed.outcome)];
      // A link the crawl found and asked, though the scan had none: counted as every link is.
      ++summary_.links_checked;
      ++progress_.links_found;
      ++progress_.links_answered;
      seams_.view.CountChanged(seams_.results.Count());
      if (Aborted()) return false;
    }
    failed_pages_.clear();
    failed_keys_.clear();
    return true;
  }

  void SkipRestOfPage(const std::string& page) {
    // The head is the page's first unchecked link; the rest of it is what the queue holds of
    // that page, and what the scanner has not read yet.
    for (Pending& pending : queue_) {
      if (pending.item.kind == ScanItem::Kind::kPageEnd) return;
      if (&pending != &queue_.front() && pending.item.link.page == page) Drop(pending);
    }
    scanner_.SkipRestOfPage();
  }

  void Drop(Pending& pending) {
    for (auto it = by_id_.begin(); it != by_id_.end(); ++it) {
      if (it->second != &pending) continue;
      // Its answer still comes, and is then only counted off.
      discarded_[it->first] = pending.host;
      by_id_.erase(it);
      break;
    }
    // Settled without an answer: it will never be asked.
    if (pending.state == Pending::State::kWaiting || pending.state == Pending::State::kInFlight) {
      ++progress_.links_answered;
      if (pending.candidate) crawl_->Unanswered(*pending.candidate);
    }
    pending.state = Pending::State::kSkipped;
  }

  void WaitForAnswers() {
    finished_.clear();
    if (InFlight() > 0) {
      seams_.http.Wait(kWaitSliceMs, &finished_);
    } else {
      // Nothing on the wire but a 429 wait: slept in slices so the window stays alive.
      std::this_thread::sleep_until(
          std::min(*RetryDue(), Clock::now() + std::chrono::milliseconds(kWaitSliceMs)));
    }
    for (auto& [id, answer] : finished_) {
      auto dropped = discarded_.find(id);
      if (dropped == discarded_.end()) {
        Finish(id, answer);
        continue;
      }
      --host_load_[dropped->second];
      discarded_.erase(dropped);
    }
    if (!seams_.view.KeepAlive()) abandoned_ = true;
  }

  // When the earliest 429 wait ends, if one is running.
  std::optional<Clock::time_point> RetryDue() const {
    std::optional<Clock::time_point> due;
    for (const Pending& pending : queue_) {
      if (pending.state == Pending::State::kWaiting && pending.retried &&
          (!due || pending.not_before < *due))
        due = pending.not_before;
    }
    return due;
  }

  const RunSettings& settings_;
  const RunSeams& seams_;
  RunSummary& summary_;
  LinkScanner scanner_;
  LocalLinkChecker local_;
  CrawlFrontier* crawl_;
  std::vector<CrawlFrontier::Fetch> fetches_;
  std::vector<FailedPage> failed_pages_;
  /// Those of failed_pages_ no row has shown yet.
  std::unordered_set<std::string> failed_keys_;
  bool crawl_waits_ = false;
  const int jobs_;
  const size_t max_pending_;
  std::deque<Pending> queue_;
  bool scan_done_ = false;
  std::map<uint64_t, Pending*> by_id_;
  std::map<std::string, int> host_load_;
  std::set<std::string> slowed_hosts_;
  std::map<std::string, CheckOutcome> answers_;
  std::set<std::string> page_ends_;  // where a crawl fetch's redirects ended
  std::vector<std::pair<uint64_t, HttpAnswer>> finished_;
  std::map<uint64_t, std::string> discarded_;
  const Pending* announced_ = nullptr;
  RunProgress progress_;
  uint64_t next_id_ = 1;
  bool abandoned_ = false;
};

}  // namespace

std::chrono::milliseconds RetryAfter(const HttpAnswer& answer, const RunSettings& settings) {
  const long wait_ms =
      answer.retry_after_s ? *answer.retry_after_s * 1000 : settings.retry_after_default_ms;
  return std::chrono::milliseconds(std::min(wait_ms, settings.retry_after_cap_ms));
}

std::string HostKey(const std::string& url) {
  const size_t scheme_end = url.find("://");
  if (scheme_end == std::string::npos) return url;
  const std::string scheme = AsciiUpper(std::string_view(url).substr(0, scheme_end));
  const size_t start = scheme_end + 3;
  size_t end = url.find_first_of("/?#", start);
  if (end == std::string::npos) end = url.size();
  std::string authority = AsciiUpper(std::string_view(url).substr(start, end - start));
  const size_t at = authority.rfind('@');
  if (at != std::string::npos) authority.erase(0, at + 1);
  const bool has_port = authority.find(':', authority.rfind(']') == std::string::npos
                                                ? 0
                                                : authority.rfind(']')) != std::string::npos;
  if (!has_port) authority += scheme == "HTTPS" ? ":443" : ":80";
  return scheme + "://" + authority;
}

void EndRun(const RunSettings& settings, const RunSeams& seams, const RunSummary& summary,
            bool crawled) {
  seams.view.Yield();
  seams.view.RunFinished(summary.outcome, seams.results.Count());
  notice::RunEnded ended;
  ended.aborted = summary.outcome == RunOutcome::kAborted;
  ended.rows_by_mark = summary.rows_by_mark;
  // https links passed over unasked would otherwise go unnoticed.
  if (!settings.https) ended.https_skipped = summary.https_skipped;
  ended.crawled = crawled;
  if (crawled) {
    ended.pages = summary.pages.size();
    ended.pages_left_out = summary.pages_left_out;
    ended.pages_disallowed = summary.pages_disallowed;
    ended.pages_failed = summary.pages_failed;
  }
  seams.view.Notify(ended);
}

notice::PageCut PageCutOf(const std::string& page) { return {page, kPageCap >> 20}; }

RunSummary CheckLinks(std::vector<PageToCheck> pages, const RunSettings& settings,
                      const RunSeams& seams, CrawlFrontier* crawl) {
  RunSummary summary;
  for (const PageToCheck& page : pages) summary.pages.push_back(page.source);
  seams.view.RunStarted(crawl ? crawl->pages_known() : pages.size());
  {
    Pipeline pipeline(std::move(pages), settings, seams, summary, crawl);
    summary.outcome = pipeline.Run();
  }
  if (crawl) {
    summary.pages_left_out = crawl->left_out();
    summary.pages_disallowed = crawl->disallowed();
    for (const std::string& page : crawl->links_cut())
      if (std::find(summary.pages_links_cut.begin(), summary.pages_links_cut.end(), page) ==
          summary.pages_links_cut.end())
        summary.pages_links_cut.push_back(page);
  }
  EndRun(settings, seams, summary, crawl != nullptr);
  return summary;
}

}  // namespace voxtrel
