#include "run/recheck.h"

#include <algorithm>
#include <chrono>
#include <map>
#include <memory>
#include <set>
#include <thread>

#include "engine/local_links.h"
#include "engine/request_queue.h"
#include "web/answer_outcome.h"
#include "web/refresh_detector.h"
#include "web/url.h"

namespace voxtrel {
namespace {

using Clock = std::chrono::steady_clock;

// As in a run: how long one wait lasts before the view handles input again.
constexpr int kWaitSliceMs = 50;

// One address to ask again, for every row that names it.
struct Question {
  std::string url;
  std::string host;
  bool asked = false;
  bool answered = false;
  bool retried = false;
  /// No request could be made: its rows keep what they had.
  bool kept = false;
  /// The rows that take its answer.
  size_t rows = 0;
  Clock::time_point not_before{};
  RefreshDetector refresh;
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
};

class Recheck {
 public:
  Recheck(const RunSeams& seams, const RunSettings& settings)
      : seams_(seams), settings_(settings), local_(seams.disk) {}
  ~Recheck() { seams_.http.CancelAll(); }

  RunOutcome Run(RunSummary& summary) {
    Collect();
    progress_.links_found = updates_.size();
    size_t next = 0;
    for (;;) {
      if (seams_.abort.Raised() || abandoned_) return RunOutcome::kAborted;
      StartReady();
      for (; next < updates_.size(); ++next) {
        Update& update = updates_[next];
        if (update.question && !update.question->answered) break;
        const CheckOutcome& outcome = update.question ? update.question->outcome : update.outcome;
        const bool kept =
            update.question && (update.question->kept ||
                                (update.anchor && outcome.kind != CheckOutcome::Kind::kFailed));
        if (const std::optional<ResultRow> row =
                kept ? std::nullopt : seams_.results.ReplaceOutcome(update.number, outcome))
          seams_.view.RowUpdated(*row);
        ++summary.links_checked;
        seams_.view.Yield();
        if (seams_.abort.Raised()) return RunOutcome::kAborted;
      }
      if (next == updates_.size()) return RunOutcome::kDone;
      Announce(updates_[next]);
      seams_.view.Progress(progress_);
      WaitForAnswers();
    }
  }

 private:
  void Collect() {
    std::map<std::string, Question*> by_url;
    for (size_t index = 0; index < seams_.results.Count(); ++index) {
      const ResultRow row = seams_.results.Row(index);
      if (row.outcome.kind != CheckOutcome::Kind::kFailed) continue;
      Update& update = updates_.emplace_back(Update{row.number, index, nullptr, {}});
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
      // A row of the old rule holds its link as cut from the page, references and all.
      const FoundLink& link = row.link;
      const std::string url = BrowserAddress(
          link.resolved.empty() ? DecodeCharacterReferences(link.target) : link.resolved);
      Question*& question = by_url[url];
      if (!question) {
        questions_.push_back(std::make_unique<Question>());
        question = questions_.back().get();
        question->url = url;
        question->host = HostKey(url);
      }
      update.question = question;
      update.anchor = row.outcome.reason == FailureReason::kAnchorNotFound;
      ++question->rows;
    }
  }

  void StartReady() {
    const Clock::time_point now = Clock::now();
    for (const auto& owned : questions_) {
      Question& question = *owned;
      if (by_id_.size() >= static_cast<size_t>(std::max(1, settings_.jobs))) return;
      if (question.asked || now < question.not_before) continue;
      const int limit = slowed_hosts_.count(question.host) ? 1 : std::max(1, settings_.per_host);
      if (host_load_[question.host] >= limit) continue;
      HttpRequest request;
      request.url = question.url;
      question.refresh = RefreshDetector();
      RefreshDetector* refresh = &question.refresh;
      request.on_body = [refresh](std::string_view chunk) { refresh->Feed(chunk); };
      question.asked = true;
      const uint64_t id = next_id_++;
      if (!seams_.http.Start(id, std::move(request))) {
        question.kept = true;
        Answered(question);
        continue;
      }
      by_id_[id] = &question;
      ++host_load_[question.host];
    }
  }

  void WaitForAnswers() {
    finished_.clear();
    if (!by_id_.empty())
      seams_.http.Wait(kWaitSliceMs, &finished_);
    else  // only 429 waits left: slept in slices so the window stays alive
      std::this_thread::sleep_for(std::chrono::milliseconds(kWaitSliceMs));
    for (const auto& [id, answer] : finished_) {
      auto found = by_id_.find(id);
      if (found == by_id_.end()) continue;
      Question& question = *found->second;
      by_id_.erase(found);
      --host_load_[question.host];
      if (answer.status == 429 && !question.retried) {
        // The server asks us to slow down: wait as it says, once, then one at a time.
        question.retried = true;
        question.asked = false;
        question.not_before = Clock::now() + RetryAfter(answer, LimitsOf(settings_));
        slowed_hosts_.insert(question.host);
        continue;
      }
      question.outcome = AnswerOutcome(answer, question.refresh.IsRefresh());
      Answered(question);
    }
    if (!seams_.view.KeepAlive()) abandoned_ = true;
  }

  void Answered(Question& question) {
    question.answered = true;
    progress_.links_answered += question.rows;
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
  const RunSettings& settings_;
  LocalLinkChecker local_;
  std::vector<Update> updates_;
  std::vector<std::unique_ptr<Question>> questions_;
  std::map<uint64_t, Question*> by_id_;
  std::map<std::string, int> host_load_;
  std::set<std::string> slowed_hosts_;
  std::vector<std::pair<uint64_t, HttpAnswer>> finished_;
  const Update* announced_ = nullptr;
  RunProgress progress_;
  uint64_t next_id_ = 1;
  bool abandoned_ = false;
};

}  // namespace

RunSummary RecheckFailed(const RunSeams& seams, const RunSettings& settings) {
  RunSummary summary;
  seams.view.RunPreparing(false);
  seams.view.RunStarted(0);
  {
    Recheck recheck(seams, settings);
    summary.outcome = recheck.Run(summary);
  }
  for (const ResultRow& row : seams.results.Rows()) ++summary.rows_by_mark[MarkIndex(row.outcome)];
  EndRun(settings, seams, summary);
  seams.view.RunClosed(summary.outcome, seams.results.Count());
  return summary;
}

}  // namespace voxtrel
