#pragma once

#include <algorithm>
#include <deque>
#include <string>
#include <vector>

#include "engine/run_settings.h"
#include "engine/run_view.h"
#include "output/cells.h"

namespace voxtrel::test {

/// A run view that records rows, messages and the closing outcome as strings, answers messages
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
  MessageAnswer ShowMessage(const std::string& /*title*/, const std::string& text,
                            MessageIcon /*icon*/, MessageButtons /*buttons*/) override {
    events.push_back("message " + text);
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
