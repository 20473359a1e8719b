#include "app/link_main.h"

#include <QInputDialog>

#include "app/captions.h"

// The options menu's dialogs.

namespace voxtrel {

void Link_Main::Timeout_Click() {
  if (shutting_down_) return;
  if (const std::optional<int> seconds = AskTimeout(timeout_s_)) SetTimeout(*seconds);
}

std::optional<int> Link_Main::AskTimeout(int current) {
  return AskNumber(kTimeoutPrompt, current, kMinTimeoutS, kMaxTimeoutS);
}

void Link_Main::Retries_Click() {
  if (shutting_down_) return;
  if (const std::optional<int> count =
          AskNumber(kRetriesPrompt, settings_.retries, kMinRetryCount, kMaxRetryCount))
    SetRetries(*count);
}

void Link_Main::Rate_Click() {
  if (shutting_down_) return;
  if (const std::optional<int> per_second =
          AskNumber(kRatePrompt, static_cast<int>(settings_.rate), 0, kMaxRatePerHost))
    SetRate(*per_second);
}

std::optional<int> Link_Main::AskNumber(const char* prompt, int current, int least, int most) {
  bool ok = false;
  const int number = QInputDialog::getInt(this, QString::fromUtf8(kDesignTitle),
                                          QString::fromUtf8(prompt), current, least, most, 1, &ok);
  if (!ok) return std::nullopt;
  return number;
}

}  // namespace voxtrel
