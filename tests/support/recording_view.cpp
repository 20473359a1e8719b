#include "support/recording_view.h"

namespace voxtrel::test {

void RecordingView::SetCaption(Control control, const std::string& text) {
  captions[control] = text;
  log.push_back(std::string("caption ") + ControlName(control) + "=" + text);
}

void RecordingView::SetVisible(Control control, bool shown) {
  visible[control] = shown;
  log.push_back(std::string(shown ? "show " : "hide ") + ControlName(control));
}

void RecordingView::Repaint(Control control) {
  log.push_back(std::string("repaint ") + ControlName(control));
}

void RecordingView::SetTextColor(Control control, LabelColor color) {
  colors[control] = color;
  log.push_back(std::string("color ") + ControlName(control) + "=" +
                (color == LabelColor::kPureBlue ? "blue" : "buttontext"));
}

void RecordingView::SetMenuEnabled(bool enabled) {
  menu_enabled = enabled;
  log.push_back(enabled ? "menu on" : "menu off");
}

void RecordingView::SetBusyCursor(bool on) {
  busy = on;
  log.push_back(on ? "cursor busy" : "cursor default");
}

void RecordingView::SetFocus(Control control) {
  log.push_back(std::string("focus ") + ControlName(control));
}

void RecordingView::RefreshResults() { log.push_back("refresh list"); }

void RecordingView::Yield() {
  ++yields;
  log.push_back("yield");
  if (on_yield) on_yield(yields);
}

bool RecordingView::KeepAlive() {
  ++keep_alives;
  if (on_keep_alive) on_keep_alive();
  return keep_alive_result;
}

MessageAnswer RecordingView::ShowMessage(const std::string& title, const std::string& text,
                                         MessageIcon icon, MessageButtons buttons) {
  messages.push_back({title, text, icon, buttons});
  log.push_back("message " + title + ": " + text);
  if (buttons == MessageButtons::kOk) return MessageAnswer::kOk;
  if (answers.empty()) return MessageAnswer::kOk;
  MessageAnswer answer = answers.front();
  answers.pop_front();
  return answer;
}

std::string RecordingView::Caption(Control control) const {
  auto it = captions.find(control);
  return it == captions.end() ? std::string() : it->second;
}

bool RecordingView::IsVisible(Control control) const {
  auto it = visible.find(control);
  return it != visible.end() && it->second;
}

}  // namespace voxtrel::test
