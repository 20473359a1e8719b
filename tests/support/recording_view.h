#pragma once

#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "engine/run_view.h"

namespace voxtrel::test {

/// A message box as the logic showed it.
struct ShownMessage {
  std::string title;
  std::string text;
  MessageIcon icon;
  MessageButtons buttons;
};

/// A run view that records everything, answers message boxes from a script and lets a test act
/// during yields (an abort click, say).
class RecordingView : public RunView {
 public:
  void SetCaption(Control control, const std::string& text) override;
  void SetVisible(Control control, bool visible) override;
  void Repaint(Control control) override;
  void SetTextColor(Control control, LabelColor color) override;
  void SetMenuEnabled(bool enabled) override;
  void SetBusyCursor(bool busy) override;
  void SetFocus(Control control) override;
  void RefreshResults() override;
  void Yield() override;
  bool KeepAlive() override;
  MessageAnswer ShowMessage(const std::string& title, const std::string& text, MessageIcon icon,
                            MessageButtons buttons) override;

  /// Answers for the next message boxes, in order; OK when the script runs out.
  std::deque<MessageAnswer> answers;
  /// Runs inside every Yield() (and KeepAlive()) with the running count of yields.
  std::function<void(int yield_count)> on_yield;
  std::function<void()> on_keep_alive;
  /// What KeepAlive() returns.
  bool keep_alive_result = true;

  std::map<Control, std::string> captions;
  std::map<Control, bool> visible;
  std::map<Control, LabelColor> colors;
  bool menu_enabled = true;
  bool busy = false;
  int yields = 0;
  int keep_alives = 0;
  std::vector<ShownMessage> messages;
  /// Every call as one line, e.g. "caption Label7=3 件", "show Command1", "message ...".
  std::vector<std::string> log;

  std::string Caption(Control control) const;
  bool IsVisible(Control control) const;
};

}  // namespace voxtrel::test
