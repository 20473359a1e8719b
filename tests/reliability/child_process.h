#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace voxtrel::test {

/// What became of a program run as a child process.
struct ChildOutcome {
  /// Exit status, or -1 when it ended by a signal (it was killed when it ran too long).
  int exit_status = -1;
  int signal = 0;
  bool killed_for_time = false;
  std::string out;
  std::string err;
  /// Peak resident set size of the child, in KiB (getrusage's ru_maxrss).
  long peak_rss_kib = 0;
  double elapsed_s = 0;
};

/// Runs `program` with `args` and the current environment plus `extra_env` ("NAME=value"),
/// collecting its output. A child still running after `time_limit_s` is killed (by its pid).
ChildOutcome RunChild(const std::string& program, const std::vector<std::string>& args,
                      const std::vector<std::string>& extra_env, double time_limit_s);

}  // namespace voxtrel::test

namespace voxtrel::test {

/// What became of a function run in a forked child.
struct ForkOutcome {
  int exit_status = -1;  // -1 when it ended by a signal
  int signal = 0;
  long peak_rss_kib = 0;
};

/// Runs `body` in a forked child whose address space is limited to `address_space_bytes` (0: no
/// limit) and which is killed by SIGALRM after `seconds`; the child exits with body's result,
/// 97 when it ran out of memory, 96 on any other exception.
/// Only for tests whose process runs no other threads at the time.
ForkOutcome RunInChild(const std::function<int()>& body, size_t address_space_bytes,
                       unsigned seconds);

}  // namespace voxtrel::test
