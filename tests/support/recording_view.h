#pragma once

#include <algorithm>
#include <deque>
#include <string>
#include <variant>
#include <vector>

#include "engine/run_settings.h"
#include "engine/run_view.h"
#include "output/cells.h"

namespace voxtrel::test {

/// A notice's kind and figures on one line: "ended ×1 ◎2 △0 Ｐ0", "start? 2", "no pages".
inline std::string NoticeLine(const Notice& told) {
  static constexpr const char* kKinds[] = {
      "ended",      "aborted", "cut",    "no request", "folder refused", "no pages",
      "unreadable", "start?",  "crawl?", "overwrite?", "save failed"};
  std::string line = kKinds[told.index()];
  const auto n = [](size_t count) { return std::to_string(count); };
  if (const auto* e = std::get_if<notice::RunEnded>(&told)) {
    if (e->aborted) line += " aborted";
    for (size_t i = 0; i < 4; ++i) line += std::string(" ") + kMarks[i] + n(e->rows_by_mark[i]);
    if (e->https_skipped > 0) line += " https " + n(e->https_skipped);
    if (e->crawled)
      line += " pages " + n(e->pages) + "/" + n(e->pages_left_out) + "/" + n(e->pages_disallowed) +
              "/" + n(e->pages_failed);
  }
  if (const auto* u = std::get_if<notice::TargetUnreadable>(&told))
    line += " " + u->page + " " + ReasonText(u->reason);
  if (const auto* start = std::get_if<notice::StartQuestion>(&told)) line += " " + n(start->pages);
  return line;
}

/// A run view that records rows, notices and the closing outcome as strings, answers notices
/// from a queue (OK once it is empty) and can raise an abort as a given row arrives or
/// is updated.
class RecordingView : public RunView {
 public:
  void RowAdded(const ResultRow& row) override {
    events.push_back("row " + RowNumberText(row.number) + " " + MarkOf(row.outcome) + " " +
                     row.link.target + " [" + row.link.name + "] " + row.link.page);
    if (abort && ++rows_seen == abort_at_row) abort->Raise();
  }
  void RowUpdated(const ResultRow& row) override {
    events.push_back("updated " + RowNumberText(row.number) + " " + MarkOf(row.outcome));
    if (abort && ++rows_seen == abort_at_row) abort->Raise();
  }
  void RunClosed(RunOutcome outcome, size_t rows) override {
    events.push_back("closed " + std::to_string(static_cast<int>(outcome)) + " " +
                     std::to_string(rows));
  }
  void Progress(const RunProgress& progress) override {
    progress_ran_ahead |= progress.links_answered > progress.links_found ||
                          progress.pages_done > progress.pages_found;
    last_progress = progress;
    last_progress.waiting_for = {};
    longest_wait_ms = std::max(longest_wait_ms, progress.waiting_ms);
  }
  void Yield() override {}
  bool KeepAlive() override {
    ++waits;
    return keep_alive;
  }
  MessageAnswer Notify(const Notice& told) override {
    events.push_back(NoticeLine(told));
    if (answers.empty()) return MessageAnswer::kOk;
    MessageAnswer answer = answers.front();
    answers.pop_front();
    return answer;
  }

  std::vector<std::string> events;
  /// The last progress told, and whether any ever counted more done than found.
  RunProgress last_progress;
  bool progress_ran_ahead = false;
  long longest_wait_ms = 0;
  std::deque<MessageAnswer> answers;
  /// What KeepAlive says: false is a window closing while requests wait.
  bool keep_alive = true;
  /// How often the run waited (KeepAlive is asked once a wait).
  size_t waits = 0;
  /// Set both to have the abort raised as that row (1-based) is added.
  AbortSignal* abort = nullptr;
  size_t abort_at_row = 0;

 private:
  size_t rows_seen = 0;
};

}  // namespace voxtrel::test
