#include "run/recheck.h"

#include <algorithm>
#include <map>
#include <memory>

#include "engine/archive_lookup.h"
#include "engine/local_links.h"
#include "engine/request_queue.h"
#include "engine/suspect_judge.h"

namespace voxtrel {
namespace {

// As in a run: how long one wait lasts before the view handles input again.
constexpr int kWaitSliceMs = 50;

// One address to ask again, for every row that names it.
struct Question {
  bool answered = false;
  /// No request could be made: its rows keep what they had.
  bool kept = false;
  /// The rows that take its answer.
  size_t rows = 0;
  CheckOutcome outcome;
};

// A row to update: its number and place (its link is read from the list only when shown: a
// copy for every row would cost more than the list), and the question whose answer it takes
// (none for a link looked up on the disk, whose outcome is known at once).
struct Update {
  int64_t number;
  size_t index;
  Question* question = nullptr;
  CheckOutcome outcome;
  /// A link to a missing anchor of another page: an answer says nothing of the anchor, so only
  /// a failure replaces it.
  bool anchor = false;
  /// The archived copy the row had: kept while the link stays dead, unless looked up again.
  std::string archived;
};

class Recheck {
 public:
  Recheck(const RunSeams& seams, const RunSettings& settings)
      : seams_(seams),
        cache_(settings.cache),
        accept_(settings.accept),
        local_(seams.disk),
        queue_(seams.http, LimitsOf(settings), seams.clock ? *seams.clock : SystemClock()) {
    // Anchors on other pages are not looked up again: only a failure replaces such a row.
    if (settings.suspect.rules)
      judge_ = std::make_unique<SuspectJudge>(settings.suspect, queue_, false,
                                              [](const std::string&) { return true; });
    if (settings.archive.look_up)
      archive_ = std::make_unique<ArchiveLookup>(settings.archive, queue_, seams.disk);
  }

  size_t probes() const { return judge_ ? judge_->probes() : 0; }
  size_t archive_lookups() const { return archive_ ? archive_->lookups() : 0; }

  RunOutcome Run(RunSummary& summary) {
    Collect();
    progress_.links_found = updates_.size();
    size_t next = 0;
    for (;;) {
      if (seams_.abort.Raised() || abandoned_) return RunOutcome::kAborted;
      for (; next < updates_.size(); ++next) {
        Update& update = updates_[next];
        if (update.question && !update.question->answered) break;
        if (!Commit(update)) return RunOutcome::kAborted;
        ++summary.links_checked;
      }
      if (next == updates_.size()) return RunOutcome::kDone;
      Announce(updates_[next]);
      seams_.view.Progress(progress_);
      queue_.Pump(kWaitSliceMs);
      if (!seams_.view.KeepAlive()) abandoned_ = true;
    }
  }

 private:
  // Gives the row its new outcome; false when the abort was raised meanwhile.
  bool Commit(const Update& update) {
    CheckOutcome outcome = update.question ? update.question->outcome : update.outcome;
    if (!archive_ && WantsArchivedCopy(outcome)) outcome.archived = update.archived;
    const bool no_request = update.question && update.question->kept;
    if (no_request && !warned_) {
      // As in a run: without a request object nothing can be asked, which is said once.
      seams_.view.Notify(notice::NoRequestObject{});
      warned_ = true;
    }
    const bool kept = no_request || (update.anchor && outcome.kind != CheckOutcome::Kind::kFailed);
    if (const std::optional<ResultRow> row =
            kept ? std::nullopt : seams_.results.ReplaceOutcome(update.number, outcome))
      seams_.view.RowUpdated(*row);
    seams_.view.Yield();
    return !seams_.abort.Raised();
  }

  void Collect() {
    std::map<std::string, Question*> by_url;
    for (size_t index = 0; index < seams_.results.Count(); ++index) {
      const ResultRow row = seams_.results.Row(index);
      // A doubt is asked and judged again as a failure is.
      if (row.outcome.kind != CheckOutcome::Kind::kFailed &&
          (!judge_ || row.outcome.kind != CheckOutcome::Kind::kSuspect))
        continue;
      Update& update = updates_.emplace_back(
          Update{row.number, index, nullptr, {}, false, row.outcome.archived});
      if (row.link.local) {
        update.outcome = local_.Check(row.link.resolved, row.link.anchor);
        ++progress_.links_answered;
        continue;
      }
      if (row.outcome.reason == FailureReason::kUnknownScheme) {  // still nothing to ask
        update.outcome = row.outcome;
        ++progress_.links_answered;
        continue;
      }
      const FoundLink& link = row.link;
      const std::string url = RequestAddressOf(link);
      Question*& question = by_url[url];
      if (!question) question = Ask(url, link);
      update.question = question;
      update.anchor = row.outcome.reason == FailureReason::kAnchorNotFound ||
                      row.outcome.suspect == SuspectKind::kMissingAnchor;
      ++question->rows;
    }
  }

  // Asks in list order, so the queue starts them in that order as its limits allow.
  Question* Ask(const std::string& url, const FoundLink& link) {
    Question* question = questions_.emplace_back(std::make_unique<Question>()).get();
    QueueAsk ask;
    ask.url = url;
    if (judge_) judge_->Prepare(link, &ask);
    queue_.Ask(std::move(ask), [this, question, url, link](Ticket, QueueAnswer& answer) {
      question->kept = answer.no_request;
      // Asked again on purpose: the cache is not looked at, but it learns the new answer.
      auto answered = [this, question, url, no_request = answer.no_request](CheckOutcome outcome) {
        if (cache_ && !no_request) cache_->Keep(url, outcome);
        question->outcome = std::move(outcome);
        question->answered = true;
        progress_.links_answered += question->rows;
      };
      // A link still dead has its archived copy looked up before its rows are updated.
      auto settled = [this, answered, url, page = link.page](CheckOutcome outcome) {
        if (!archive_ || !WantsArchivedCopy(outcome)) return answered(std::move(outcome));
        archive_->LookUp(url, page, [answered, outcome](const std::string& archived) mutable {
          outcome.archived = archived;
          answered(std::move(outcome));
        });
      };
      if (answer.no_request) return answered(OutcomeOf(answer, accept_));
      if (!judge_) return settled(OutcomeOf(answer, accept_));
      judge_->Judge(link, url, answer, OutcomeOf(answer, accept_), settled);
    });
    return question;
  }

  void Announce(const Update& head) {
    if (announced_ == &head) return;
    // The labels show the link whose row is updated next, as during a run.
    const ResultRow row = seams_.results.Row(head.index);
    seams_.view.PageStarted(row.link.page);
    seams_.view.LinkStarted(AddressOf(row.link));
    announced_ = &head;
  }

  const RunSeams& seams_;
  std::shared_ptr<OutcomeCache> cache_;
  const std::vector<std::pair<int, int>> accept_;
  LocalLinkChecker local_;
  std::vector<Update> updates_;
  std::vector<std::unique_ptr<Question>> questions_;
  const Update* announced_ = nullptr;
  RunProgress progress_;
  bool abandoned_ = false;
  bool warned_ = false;
  // Last, so it goes first: nothing it holds outlives the questions its sinks fill.
  RequestQueue queue_;
  // After the queue, so they go before it: they drop their requests there.
  std::unique_ptr<SuspectJudge> judge_;
  std::unique_ptr<ArchiveLookup> archive_;
};

}  // namespace

RunSummary RecheckFailed(const RunSeams& seams, const RunSettings& settings) {
  RunSummary summary;
  seams.view.RunPreparing(false);
  seams.view.RunStarted(0);
  {
    Recheck recheck(seams, settings);
    summary.outcome = recheck.Run(summary);
    summary.probes = recheck.probes();
    summary.archive_lookups = recheck.archive_lookups();
  }
  for (const ResultRow& row : seams.results.Rows()) ++summary.rows_by_mark[MarkIndex(row.outcome)];
  EndRun(settings, seams, summary);
  seams.view.RunClosed(summary.outcome, seams.results.Count());
  return summary;
}

}  // namespace voxtrel
