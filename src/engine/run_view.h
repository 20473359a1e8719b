#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "engine/notice.h"
#include "engine/result_list.h"

namespace voxtrel {

enum class MessageAnswer { kOk, kCancel };

/// How a run, or the attempt to start one, ended.
enum class RunOutcome {
  kDone,               // every page was checked
  kAborted,            // the user stopped it
  kFolderRefused,      // the folder may not be checked
  kNoPages,            // the folder holds no pages
  kCancelled,          // the user said no to the confirmation or closed the dialog
  kTargetUnreadable,   // the single page could not be read or fetched
};

/// How far a run has come. Links are answered when their answer is in, committed or not.
struct RunProgress {
  size_t pages_done = 0;
  size_t pages_found = 0;
  size_t links_answered = 0;
  size_t links_found = 0;
  /// The address the next row waits for, and since how long; empty when it waits for none.
  /// Valid during the call only.
  std::string_view waiting_for;
  long waiting_ms = 0;
};

/// What a run tells its front end, by meaning; each front end shows it its own way. Every event
/// has a default that ignores it; yields and notices every view must answer.
class RunView {
 public:
  virtual ~RunView() = default;

  /// A folder run was asked for: the page count and current page shown before are stale.
  virtual void FolderRunRequested() {}
  /// The search for pages begins; `text` progress follows (a folder or a page found).
  virtual void SearchStarted() {}
  virtual void SearchProgress(const std::string& /*text*/) {}
  virtual void SearchFinished(size_t /*pages*/) {}
  /// The start question has been answered (or, without pages, was never asked).
  virtual void SearchClosed() {}

  /// The result list was cleared for a new run; `folder_run` tells which kind.
  virtual void RunPreparing(bool /*folder_run*/) {}
  /// The check of `pages` pages begins.
  virtual void RunStarted(size_t /*pages*/) {}
  /// The next row to come belongs to this page (its file column text).
  virtual void PageStarted(const std::string& /*file_column*/) {}
  /// The next row to come is this link's.
  virtual void LinkStarted(const std::string& /*target*/) {}
  virtual void RowAdded(const ResultRow& /*row*/) {}
  /// A row was asked again and has a new outcome; its number and place stayed.
  virtual void RowUpdated(const ResultRow& /*row*/) {}
  virtual void CountChanged(size_t /*rows*/) {}
  /// Told often while a run goes on (every pass of its loop): a view shows it when it likes.
  virtual void Progress(const RunProgress& /*progress*/) {}
  /// The user asked to stop; the run stops at the next row.
  virtual void AbortRequested() {}
  /// The run has ended; the RunEnded notice follows.
  virtual void RunFinished(RunOutcome /*outcome*/, size_t /*rows*/) {}
  /// Everything about the run is over (after its end notice, or after a refusal).
  virtual void RunClosed(RunOutcome /*outcome*/, size_t /*rows*/) {}

  /// Lets the user interface handle pending input and painting (abort clicks arrive here).
  virtual void Yield() = 0;
  /// Runs repeatedly while requests wait; false abandons them (the window is closing).
  virtual bool KeepAlive() { return true; }
  /// Tells the user what happened; a question's answer, kOk for anything else.
  virtual MessageAnswer Notify(const Notice& notice) = 0;
};

}  // namespace voxtrel
