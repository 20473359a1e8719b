#pragma once

#include <csignal>
#include <ostream>
#include <string>
#include <vector>

#include "platform/http.h"

namespace voxtrel {

/// Exit statuses of voxtrel-check.
inline constexpr int kExitClean = 0;
inline constexpr int kExitDeadLinks = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitInterrupted = 130;

/// What the checker takes from the process around it, so tests can run it in-process.
struct CheckerEnvironment {
  /// Progress goes to `err` only when it is a terminal.
  bool err_is_terminal = false;
  /// NO_COLOR is set: never colour the summary.
  bool no_color = false;
  HttpOptions http;
  /// Raised by the Ctrl-C handler: once means abort after the current link, twice abandons the
  /// request under way as well.
  const volatile std::sig_atomic_t* interrupts = nullptr;
};

/// Runs `voxtrel-check` with `args` (without the program name); rows go to `out` as UTF-8
/// comma-separated lines, progress and messages to `err`. Returns the exit status.
int RunChecker(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
               const CheckerEnvironment& env);

}  // namespace voxtrel
