#pragma once

#include <string>
#include <vector>

#include "run/run.h"

namespace voxtrel {

enum class MessageIcon { kWarning, kQuestion, kInformation };
enum class MessageButtons { kOk, kOkCancel };

inline constexpr const char* kMessageTitle = "Voxtrel";

/// A message box as the window shows it; a text's carriage returns and blanks are its own.
struct WindowMessage {
  std::string title = kMessageTitle;
  std::string text;
  /// A selectable line under the text; empty for none.
  std::string detail;
  MessageIcon icon = MessageIcon::kWarning;
  MessageButtons buttons = MessageButtons::kOk;
};

/// How the window tells `notice`: a question asks OK or cancel, the end of a run with a × row
/// warns, any other end informs.
WindowMessage WindowMessageFor(const Notice& notice);

/// The warning before a run judging answers whose rules files have lines it passed over: one
/// "FILE:LINE: why" detail line for each.
WindowMessage RulesProblemsMessage(const std::vector<RulesProblem>& problems);

}  // namespace voxtrel
