#include "engine/check_loop.h"

#include <algorithm>
#include <chrono>
#include <deque>
#include <memory>
#include <optional>
#include <unordered_set>

#include "engine/archive_lookup.h"
#include "engine/local_links.h"
#include "engine/request_queue.h"
#include "engine/suspect_judge.h"
#include "web/page.h"

namespace voxtrel {
namespace {

// How long one wait on the network lasts before the view gets to handle input again.
constexpr int kWaitSliceMs = 50;

// What is asked for a link: the address a browser sends, or the address as found.
const std::string& RequestOf(const ScanItem& item) {
  return item.request.empty() ? AddressOf(item.link) : item.request;
}

// One step of the scan on its way to its commit.
struct Pending {
  enum class State {
    kWaiting,
    kJudging,
    kArchiving,
    kDone,
    kNoRequest,
    kPageEnd,
    kSkipped,
    kPassedOver,
    kIgnored
  };
  ScanItem item;
  State state = State::kWaiting;
  /// What the run knows the address by: as written, or as its feed knows it.
  std::string key;
  std::optional<Ticket> ticket;  // while its answer is out
  /// What the run's cache knows its outcome by; "" when the cache is not asked.
  std::string cache_key;
  bool from_cache = false;       // taken from the cache, unasked
  bool feed_page = false;        // at a page end: the page came from the feed
  CheckOutcome outcome;
  /// Held while its answer is judged or its copy looked up: a verdict or copy coming after the
  /// step is gone finds it expired.
  std::shared_ptr<char> judging;
};

// Scans ahead of the answers with many requests asked, and commits each link's row strictly in
// page and line order, so that rows, numbers, labels and messages are those a run asking one
// link at a time would give for the same answers. When requests start is the queue's affair.
class Pipeline {
 public:
  Pipeline(std::vector<PageToCheck> pages, const RunSettings& settings, const RunSeams& seams,
           RunSummary& summary, RequestQueue& queue, PageFeed* feed)
      : settings_(settings),
        seams_(seams),
        summary_(summary),
        queue_(queue),
        clock_(queue.clock()),
        feed_(feed),
        given_pages_(pages.size()),
        scanner_(std::move(pages), seams.disk,
                 ScanRule{{settings.https, settings.keep_query},
                          settings.all_links,
                          settings.root,
                          settings.max_links_per_page,
                          settings.stamp_pages},
                 &seams.abort),
        local_(seams.disk),
        // Enough look-ahead to keep every request slot busy past slow hosts, bounded so memory
        // does not grow with the site.
        max_pending_(static_cast<size_t>(std::max(1, settings.jobs)) * 4 + 16) {
    progress_.pages_found = summary.pages.size();
    if (settings.suspect.rules)
      judge_ = std::make_unique<SuspectJudge>(
          settings.suspect, queue, settings.all_links,
          [feed](const std::string& url) { return !feed || feed->RobotsAllow(feed->KeyOf(url)); });
    if (settings.archive.look_up)
      archive_ = std::make_unique<ArchiveLookup>(settings.archive, queue, seams.disk);
  }

  size_t probes() const { return judge_ ? judge_->probes() : 0; }
  size_t archive_lookups() const { return archive_ ? archive_->lookups() : 0; }
  std::map<std::string, PageStamp> TakeStamps() { return scanner_.TakeStamps(); }

  // Answers still out are no longer wanted: their sinks point into this pipeline.
  ~Pipeline() {
    for (Pending& pending : steps_)
      if (pending.ticket) queue_.Drop(*pending.ticket);
  }

  RunOutcome Run() {
    for (;;) {
      if (seams_.abort.Raised() || abandoned_) return RunOutcome::kAborted;
      const size_t moves = moves_;
      if (feed_) feed_->Advance();
      Fill();
      // A stop during a long scan ends the fill early, not as a finished crawl.
      if (seams_.abort.Raised()) return RunOutcome::kAborted;
      const Step step = Commit();
      TellProgress();
      switch (step) {
        case Step::kAborted: return RunOutcome::kAborted;
        case Step::kFinished: return RunOutcome::kDone;
        case Step::kWaiting: break;
      }
      if (feed_) feed_->Advance();
      // Links that need no answer (passed over, scripts, answers known) never wait: the loop
      // goes straight on to scan and commit more of them.
      if (queue_.Outstanding() > 0) {
        queue_.Pump(kWaitSliceMs);
        if (!seams_.view.KeepAlive()) abandoned_ = true;
      } else if (moves == moves_) {
        // Nothing asked and nothing moved: what is left waits for what nothing will bring.
        return RunOutcome::kDone;
      }
    }
  }

 private:
  enum class Step { kWaiting, kAborted, kFinished };

  void Fill() {
    ScanItem item;
    while (!scan_done_ && steps_.size() < max_pending_ && !seams_.abort.Raised()) {
      if (!scanner_.Next(&item)) {
        if (feed_ && NextFeedPage()) continue;
        scan_done_ = !feed_ || !feed_waits_;
        break;
      }
      Add(std::move(item));
    }
  }

  // The user set a link aside by its address or by the link as the page writes it.
  bool IsIgnored(const FoundLink& link) const {
    if (!settings_.ignored) return false;
    const std::string& address = AddressOf(link);
    return settings_.ignored(address) || (address != link.target && settings_.ignored(link.target));
  }

  void Add(ScanItem item) {
    ++moves_;
    Pending& pending = steps_.emplace_back();
    pending.item = std::move(item);
    if (pending.item.kind == ScanItem::Kind::kPageEnd) {
      if (pending.item.links_cut) summary_.pages_links_cut.push_back(pending.item.link.page);
      pending.state = Pending::State::kPageEnd;
      pending.feed_page = page_ends_++ >= given_pages_;
      return;
    }
    ++progress_.links_found;
    if (pending.item.kind == ScanItem::Kind::kHttpsSkipped ||
        (settings_.excluded && settings_.excluded(AddressOf(pending.item.link)))) {
      // Counted when their turn comes, so an aborted run counts only what it reached.
      pending.state = Pending::State::kPassedOver;
    } else if (IsIgnored(pending.item.link)) {
      pending.state = Pending::State::kIgnored;
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
      pending.key = feed_ ? feed_->KeyOf(url) : url;
      if (feed_ && feed_->Disallows(pending.key)) {
        // Kept from crawlers by robots.txt: neither asked nor listed nor counted, so it needs
        // no turn of its own.
        steps_.pop_back();
      } else if (!TakeFromCache(pending)) {
        return Ask(pending);
      }
    }
    ++progress_.links_answered;
  }

  // A ◎ the run's cache kept lately is this link's outcome, unasked; true when it was.
  bool TakeFromCache(Pending& pending) {
    if (!settings_.cache) return false;
    const FoundLink& link = pending.item.link;
    pending.cache_key = RequestOf(pending.item);
    // The judge looks for the anchor in the page: the outcome is the anchor's as well.
    if (judge_ && settings_.all_links && !link.anchor.empty())
      pending.cache_key += "#" + link.anchor;
    std::optional<CheckOutcome> kept = settings_.cache->Fresh(pending.cache_key);
    if (!kept) return false;
    pending.outcome = std::move(*kept);
    pending.state = Pending::State::kDone;
    pending.from_cache = true;
    return true;
  }

  void Ask(Pending& pending) {
    QueueAsk ask;
    ask.url = RequestOf(pending.item);
    ask.key = pending.key;
    ask.once = settings_.once;
    if (judge_) judge_->Prepare(pending.item.link, &ask);
    // Steps live in a deque that only grows at its back and shrinks at its front, so the
    // reference stays good until the step is committed or its ticket dropped.
    pending.ticket = queue_.Ask(std::move(ask), [this, &pending](Ticket, QueueAnswer& answer) {
      Answered(pending, answer);
    });
  }

  void Answered(Pending& pending, QueueAnswer& answer) {
    pending.ticket.reset();
    ++progress_.links_answered;
    // An answer this run already had (--once) was kept when it came.
    if (answer.cached) pending.cache_key.clear();
    if (answer.no_request) {
      pending.state = Pending::State::kNoRequest;
      return;
    }
    pending.outcome = OutcomeOf(answer, settings_.accept);
    if (!judge_) return Settle(pending);
    pending.state = Pending::State::kJudging;
    pending.judging = std::make_shared<char>();
    judge_->Judge(
        pending.item.link, pending.key, answer, pending.outcome,
        [this, &pending, alive = std::weak_ptr<char>(pending.judging)](CheckOutcome judged) {
          // A step skipped with the rest of its page stays skipped.
          if (alive.expired() || pending.state != Pending::State::kJudging) return;
          pending.outcome = std::move(judged);
          Settle(pending);
        });
    // Nothing of the body outlives its verdict.
    answer.answer.body = std::string();
    answer.answer.headers = HeaderFields();
  }

  // The answer is judged: the step is done, or done once its archived copy is looked up, so
  // that its row is committed whole.
  void Settle(Pending& pending) {
    if (!archive_ || !WantsArchivedCopy(pending.outcome)) {
      pending.state = Pending::State::kDone;
      pending.judging.reset();
      return;
    }
    pending.state = Pending::State::kArchiving;
    if (!pending.judging) pending.judging = std::make_shared<char>();
    archive_->LookUp(
        RequestOf(pending.item), pending.item.link.page,
        [&pending, alive = std::weak_ptr<char>(pending.judging)](const std::string& archived) {
          if (alive.expired() || pending.state != Pending::State::kArchiving) return;
          pending.outcome.archived = archived;
          pending.state = Pending::State::kDone;
          pending.judging.reset();
        });
  }

  // Hands the feed's next page to the scanner; false when none is ready (feed_waits_ says
  // whether one may still come).
  bool NextFeedPage() {
    PageToCheck page;
    bool cut = false;
    const PageFeed::Next next = feed_->NextPage(&page, &cut);
    feed_waits_ = next == PageFeed::Next::kWait;
    if (next != PageFeed::Next::kPage) return false;
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
    if (feed_) progress_.pages_found = feed_->pages_known();
    if (!steps_.empty() && steps_.front().ticket) {
      const Pending& head = steps_.front();
      if (const std::optional<QueueClock::TimePoint> started = queue_.StartedAt(*head.ticket)) {
        progress_.waiting_for = AddressOf(head.item.link);
        progress_.waiting_ms = static_cast<long>(
            std::chrono::duration_cast<std::chrono::milliseconds>(clock_.Now() - *started).count());
      }
    }
    seams_.view.Progress(progress_);
  }

  // Commits every step at the head that has what it needs; stops at the first still waiting.
  Step Commit() {
    for (; !steps_.empty(); ++moves_) {
      Pending& head = steps_.front();
      switch (head.state) {
        case Pending::State::kPageEnd:
          if (head.feed_page && !feed_->EndPage(&failed_pages_)) return Step::kWaiting;
          if (!ListFailedPages()) return Step::kAborted;
          ++progress_.pages_done;
          steps_.pop_front();
          if (Aborted()) return Step::kAborted;
          continue;
        case Pending::State::kSkipped:
          steps_.pop_front();
          continue;
        case Pending::State::kPassedOver:
          ++(head.item.kind == ScanItem::Kind::kHttpsSkipped ? summary_.https_skipped
                                                              : summary_.excluded);
          steps_.pop_front();
          continue;
        case Pending::State::kIgnored:
          ++summary_.ignored;
          steps_.pop_front();
          continue;
        default:
          break;
      }
      if (!CommitLink(head)) return Step::kWaiting;
      steps_.pop_front();
      announced_ = nullptr;
      if (head_was_row_ && Aborted()) return Step::kAborted;
    }
    return scan_done_ ? Step::kFinished : Step::kWaiting;
  }

  // Commits the link at the head; false while its answer is out.
  bool CommitLink(Pending& head) {
    const FoundLink& link = head.item.link;
    const bool script = head.outcome.kind == CheckOutcome::Kind::kScript;
    if (!script && announced_ != &head) {
      // The labels show the link whose row comes next, as a run asking one at a time does.
      seams_.view.PageStarted(link.page);
      seams_.view.LinkStarted(AddressOf(link));
      announced_ = &head;
    }
    head_was_row_ = false;
    if (head.state == Pending::State::kNoRequest) {
      // Without a request object no link of this page can be checked: say so once and go on
      // with the next page.
      seams_.view.Notify(notice::NoRequestObject{});
      SkipRestOfPage(link.page);
      return true;
    }
    if (head.state != Pending::State::kDone) return false;
    // What asking came to, before a crawled page's anchor decides this one link's row.
    if (head.from_cache)
      ++summary_.from_cache;
    else if (!head.cache_key.empty())
      settings_.cache->Keep(head.cache_key, head.outcome);
    if (feed_) CheckAnchor(head);
    if (IsListed(head.outcome, settings_.show_all)) {
      seams_.view.RowAdded(seams_.results.Add(link, head.outcome));
      ++summary_.rows_by_mark[MarkIndex(head.outcome)];
      // The link's own row shows a failed page: no second row for it.
      if (head.outcome.kind == CheckOutcome::Kind::kFailed) failed_shown_.insert(head.key);
    }
    ++summary_.links_checked;
    if (!script) seams_.view.CountChanged(seams_.results.Count());
    head_was_row_ = true;
    return true;
  }

  bool Aborted() {
    seams_.view.Yield();
    return seams_.abort.Raised();
  }

  // A link to a page of the feed that answered: its fragment must name an anchor there.
  void CheckAnchor(Pending& head) {
    CheckOutcome& outcome = head.outcome;
    // A page the crawl read is judged by its own anchors, whatever the judge found elsewhere.
    const bool judged_missing = outcome.kind == CheckOutcome::Kind::kSuspect &&
                                outcome.suspect == SuspectKind::kMissingAnchor;
    if (head.item.link.anchor.empty() ||
        (outcome.kind != CheckOutcome::Kind::kAnswered &&
         outcome.kind != CheckOutcome::Kind::kRefresh && !judged_missing) ||
        feed_->HasAnchor(head.key, head.item.link.anchor))
      return;
    outcome.kind = CheckOutcome::Kind::kFailed;
    outcome.reason = FailureReason::kAnchorNotFound;
    outcome.suspect = SuspectKind::kNone;
  }

  // At the end of a page: each page it was first to link to that could not be fetched, and
  // that no row of the page shows (a link classic mode does not list, an https:// link passed
  // over), gets a row of its own, so the crawl never hides what it asked for. False on abort.
  bool ListFailedPages() {
    summary_.pages_failed += failed_pages_.size();
    for (size_t i = 0; i < failed_pages_.size(); ++i) {
      UnfetchedPage& failed = failed_pages_[i];
      if (!failed_shown_.insert(failed.key).second) continue;
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
    failed_shown_.clear();
    return true;
  }

  void SkipRestOfPage(const std::string& page) {
    // The head is the page's first unchecked link; the rest of it is what the queue holds of
    // that page, and what the scanner has not read yet.
    for (Pending& pending : steps_) {
      if (pending.item.kind == ScanItem::Kind::kPageEnd) break;
      if (&pending == &steps_.front() || pending.item.link.page != page) continue;
      if (pending.ticket) {
        // Settled without an answer: it will never be handed over.
        queue_.Drop(*pending.ticket);
        pending.ticket.reset();
        ++progress_.links_answered;
      }
      pending.state = Pending::State::kSkipped;
    }
    scanner_.SkipRestOfPage();
  }

  const RunSettings& settings_;
  const RunSeams& seams_;
  RunSummary& summary_;
  RequestQueue& queue_;
  QueueClock& clock_;
  PageFeed* feed_;
  const size_t given_pages_;
  size_t page_ends_ = 0;  // scanned so far
  LinkScanner scanner_;
  LocalLinkChecker local_;
  std::vector<UnfetchedPage> failed_pages_;
  /// Keys of failed pages a row of the current page shows.
  std::unordered_set<std::string> failed_shown_;
  bool feed_waits_ = false;
  const size_t max_pending_;
  std::deque<Pending> steps_;
  bool scan_done_ = false;
  const Pending* announced_ = nullptr;
  bool head_was_row_ = false;
  RunProgress progress_;
  bool abandoned_ = false;
  size_t moves_ = 0;  // steps added and committed: whether a turn of the loop got anywhere
  /// After steps_, so they go first and their verdicts and copies never reach a step that is
  /// gone.
  std::unique_ptr<SuspectJudge> judge_;
  std::unique_ptr<ArchiveLookup> archive_;
};

}  // namespace

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
  ended.suspect = settings.suspect.rules != nullptr;
  ended.ignored = summary.ignored;
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
                      const RunSeams& seams, RequestQueue& queue, PageFeed* feed) {
  RunSummary summary;
  for (const PageToCheck& page : pages) summary.pages.push_back(page.source);
  seams.view.RunStarted(feed ? pages.size() + feed->pages_known() : pages.size());
  {
    Pipeline pipeline(std::move(pages), settings, seams, summary, queue, feed);
    summary.outcome = pipeline.Run();
    summary.probes = pipeline.probes();
    summary.archive_lookups = pipeline.archive_lookups();
    summary.page_stamps = pipeline.TakeStamps();
  }
  if (feed) feed->AddCounts(&summary);
  EndRun(settings, seams, summary, feed != nullptr);
  return summary;
}

}  // namespace voxtrel
