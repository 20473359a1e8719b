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
  bool ok = false;
  const int seconds =
      QInputDialog::getInt(this, QString::fromUtf8(kDesignTitle), QString::fromUtf8(kTimeoutPrompt),
                           current, kMinTimeoutS, kMaxTimeoutS, 1, &ok);
  if (!ok) return std::nullopt;
  return seconds;
}

}  // namespace voxtrel
