#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "cli/checker.h"
#include "run/outcome_cache.h"
#include "run/suspect_setup.h"

namespace {

voxtrel::AbortSignal g_abort;

extern "C" void OnInterrupt(int) { g_abort.Raise(); }

// VOXTREL_CHECK_TIMEOUT_MS shortens the request time-outs, so tests and CI jobs that point the
// checker at slow servers end in seconds. Only this front end reads it; anything that is not a
// positive number leaves the defaults.
void ApplyTimeoutOverride(voxtrel::HttpOptions* http) {
  const char* text = std::getenv("VOXTREL_CHECK_TIMEOUT_MS");
  if (!text || !*text) return;
  char* end = nullptr;
  long ms = std::strtol(text, &end, 10);
  if (*end != '\0' || ms <= 0) return;
  http->total_timeout_ms = ms;
  http->connect_timeout_ms = std::min(http->connect_timeout_ms, ms);
}

}  // namespace

int main(int argc, char** argv) {
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  // A reader that went away (`| head`) shows up as a failed write, which ends the run in order
  // and still writes the report; the signal would kill the process first.
  signal(SIGPIPE, SIG_IGN);

  voxtrel::CheckerEnvironment env;
  env.err_is_terminal = isatty(STDERR_FILENO) == 1;
  env.out_is_terminal = isatty(STDOUT_FILENO) == 1;
  env.abort = &g_abort;
  const char* no_color = std::getenv("NO_COLOR");
  env.no_color = no_color && *no_color;
  env.japanese = voxtrel::IsJapaneseLocale(std::getenv("LC_ALL"), std::getenv("LC_MESSAGES"),
                                           std::getenv("LANG"));
  ApplyTimeoutOverride(&env.http);
  env.user_rules = voxtrel::UserRulesPath(std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME"));
  env.cache_file = voxtrel::DefaultCachePath(std::getenv("XDG_CACHE_HOME"), std::getenv("HOME"));
  voxtrel::PosixDisk disk;
  env.disk = &disk;
  env.make_pool = [](const voxtrel::HttpOptions& options) {
    return std::make_unique<voxtrel::CurlPool>(options);
  };
  // env.clock stays null: the requests keep the system's steady clock.
  std::vector<std::string> args(argv + 1, argv + argc);
  return voxtrel::RunChecker(args, std::cout, std::cerr, env);
}
