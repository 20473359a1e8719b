#pragma once

#include <string>

namespace voxtrel {

/// Controls of the main window the logic talks to, by their given names.
enum class Control {
  kLabel1, kLabel2, kLabel3, kLabel4, kLabel5, kLabel7, kLabel8,
  kCommand1, kCommand2, kCommand3, kDir1, kText1, kMenuF000,
};

/// The given name of a control ("Label3", "Command1", "f000", ...).
const char* ControlName(Control control);

enum class MessageIcon { kWarning, kQuestion };
enum class MessageButtons { kOk, kOkCancel };
enum class MessageAnswer { kOk, kCancel };

/// Colours the logic sets on a label.
enum class LabelColor { kButtonText, kPureBlue };

inline constexpr const char* kMessageTitle = "Voxtrel";

/// Everything the run does to the window goes through here. The purely visual operations do
/// nothing unless a view has a screen to show them on; captions, yields and messages every view
/// must answer.
class RunView {
 public:
  virtual ~RunView() = default;
  virtual void SetCaption(Control control, const std::string& text) = 0;
  virtual void SetVisible(Control /*control*/, bool /*visible*/) {}
  /// Redraws one control at once.
  virtual void Repaint(Control /*control*/) {}
  virtual void SetTextColor(Control /*control*/, LabelColor /*color*/) {}
  virtual void SetMenuEnabled(bool /*enabled*/) {}
  virtual void SetBusyCursor(bool /*busy*/) {}
  virtual void SetFocus(Control /*control*/) {}
  /// Redraws the result list at once so a new row shows during the run.
  virtual void RefreshResults() {}
  /// Lets the user interface handle pending input and painting (abort clicks arrive here).
  virtual void Yield() = 0;
  /// Runs repeatedly while a request waits; false abandons the request (window closing).
  virtual bool KeepAlive() { return true; }
  virtual MessageAnswer ShowMessage(const std::string& title, const std::string& text,
                                    MessageIcon icon, MessageButtons buttons) = 0;
};

}  // namespace voxtrel
