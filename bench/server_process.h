#pragma once

// The benchmarks' servers in a process of their own: Linux hands the spawning process's peak RSS
// on to a child's ru_maxrss, so the checkers must be spawned from a process that never held the
// servers' threads and buffers.

#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <new>
#include <vector>

namespace voxtrel::bench {

class ServerProcess {
 public:
  /// Binds and serves in a forked process: `serve` counts each request in served[host], writes
  /// each of `hosts` bound ports to ports_fd and returns once stop_fd reaches its end.
  using Serve = std::function<void(std::atomic<long>* served, int ports_fd, int stop_fd)>;

  ServerProcess(int hosts, const Serve& serve) : hosts_(hosts) {
    void* shared = mmap(nullptr, Bytes(), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1,
                        0);
    if (shared == MAP_FAILED) {
      std::perror("mmap");
      std::exit(1);
    }
    served_ = static_cast<std::atomic<long>*>(shared);
    for (int i = 0; i < hosts_; ++i) new (&served_[i]) std::atomic<long>(0);
    int ports[2], stop[2];
    if (pipe(ports) != 0 || pipe(stop) != 0 || (pid_ = fork()) < 0) {
      std::perror("server process");
      std::exit(1);
    }
    if (pid_ == 0) {
      close(ports[0]);
      close(stop[1]);  // its own copy would keep it waiting for ever
      serve(served_, ports[1], stop[0]);
      _exit(0);  // the servers' threads end with the process
    }
    close(ports[1]);
    close(stop[0]);
    stop_fd_ = stop[1];
    for (int port = 0, i = 0; i < hosts_; ++i) {
      if (read(ports[0], &port, sizeof port) != sizeof port) {
        std::fprintf(stderr, "the servers did not start\n");
        std::exit(1);
      }
      ports_.push_back(port);
    }
    close(ports[0]);
  }
  ~ServerProcess() {
    close(stop_fd_);
    waitpid(pid_, nullptr, 0);
    munmap(served_, Bytes());
  }
  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;

  const std::vector<int>& ports() const { return ports_; }
  long served(int host) const { return served_[host].load(); }
  long served_in_all() const {
    long sum = 0;
    for (int i = 0; i < hosts_; ++i) sum += served_[i].load();
    return sum;
  }
  void Reset() {
    for (int i = 0; i < hosts_; ++i) served_[i].store(0);
  }

 private:
  // A mapping of no bytes cannot be made; a run without servers still has its counter.
  size_t Bytes() const {
    return sizeof(std::atomic<long>) * static_cast<size_t>(std::max(hosts_, 1));
  }

  int hosts_;
  pid_t pid_ = -1;
  int stop_fd_ = -1;
  std::atomic<long>* served_ = nullptr;
  std::vector<int> ports_;
};

}  // namespace voxtrel::bench
