#include "reliability/child_process.h"

#include <fcntl.h>
#include <malloc.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <new>

extern char** environ;

namespace voxtrel::test {
namespace {

std::vector<char*> Pointers(std::vector<std::string>& strings) {
  std::vector<char*> pointers;
  for (std::string& s : strings) pointers.push_back(s.data());
  pointers.push_back(nullptr);
  return pointers;
}

}  // namespace

ChildOutcome RunChild(const std::string& program, const std::vector<std::string>& args,
                      const std::vector<std::string>& extra_env, double time_limit_s) {
  ChildOutcome outcome;
  // Everything the child needs is built before fork: between fork and exec only
  // async-signal-safe calls may run, since the test process has other threads.
  std::vector<std::string> argv_strings{program};
  argv_strings.insert(argv_strings.end(), args.begin(), args.end());
  std::vector<std::string> env_strings;
  for (char** e = environ; *e; ++e) env_strings.emplace_back(*e);
  env_strings.insert(env_strings.end(), extra_env.begin(), extra_env.end());
  std::vector<char*> argv = Pointers(argv_strings);
  std::vector<char*> envp = Pointers(env_strings);

  int out_pipe[2];
  int err_pipe[2];
  if (pipe2(out_pipe, O_CLOEXEC) != 0) return outcome;
  if (pipe2(err_pipe, O_CLOEXEC) != 0) {
    close(out_pipe[0]);
    close(out_pipe[1]);
    return outcome;
  }
  // A forked child starts with this process's resident pages, and the kernel counts them in the
  // child's peak even after exec; giving freed heap back first keeps the figure the checker's.
  malloc_trim(0);
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = fork();
  if (pid == 0) {
    dup2(out_pipe[1], STDOUT_FILENO);
    dup2(err_pipe[1], STDERR_FILENO);
    execve(program.c_str(), argv.data(), envp.data());
    _exit(127);
  }
  close(out_pipe[1]);
  close(err_pipe[1]);
  if (pid < 0) {
    close(out_pipe[0]);
    close(err_pipe[0]);
    return outcome;
  }

  pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
  std::string* sinks[2] = {&outcome.out, &outcome.err};
  int open_pipes = 2;
  char buffer[65536];
  while (open_pipes > 0) {
    double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (elapsed > time_limit_s && !outcome.killed_for_time) {
      kill(pid, SIGKILL);
      outcome.killed_for_time = true;
    }
    int ready = poll(fds, 2, 100);
    if (ready < 0 && errno != EINTR) break;
    for (int k = 0; k < 2; ++k) {
      if (fds[k].fd < 0 || !(fds[k].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      ssize_t got = read(fds[k].fd, buffer, sizeof buffer);
      if (got > 0) {
        sinks[k]->append(buffer, static_cast<size_t>(got));
      } else if (got == 0 || errno != EINTR) {
        close(fds[k].fd);
        fds[k].fd = -1;
        --open_pipes;
      }
    }
  }
  for (pollfd& p : fds) {
    if (p.fd >= 0) close(p.fd);
  }

  int status = 0;
  rusage usage{};
  while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
  }
  outcome.elapsed_s =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  outcome.peak_rss_kib = usage.ru_maxrss;
  if (WIFEXITED(status)) {
    outcome.exit_status = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    outcome.signal = WTERMSIG(status);
  }
  return outcome;
}

}  // namespace voxtrel::test

namespace voxtrel::test {

ForkOutcome RunInChild(const std::function<int()>& body, size_t address_space_bytes,
                       unsigned seconds) {
  ForkOutcome outcome;
  std::fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    if (address_space_bytes > 0) {
      rlimit limit{address_space_bytes, address_space_bytes};
      setrlimit(RLIMIT_AS, &limit);
    }
    alarm(seconds);
    int status = 98;
    // Nothing may unwind into the test framework's copy in this child: it would go on running
    // the other tests here.
    try {
      status = body();
    } catch (const std::bad_alloc&) {
      std::fprintf(stderr, "child: out of memory\n");
      status = 97;
    } catch (...) {
      status = 96;
    }
    std::fflush(nullptr);
    _exit(status);
  }
  if (pid < 0) return outcome;
  int status = 0;
  rusage usage{};
  while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
  }
  outcome.peak_rss_kib = usage.ru_maxrss;
  if (WIFEXITED(status)) outcome.exit_status = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) outcome.signal = WTERMSIG(status);
  return outcome;
}

}  // namespace voxtrel::test
