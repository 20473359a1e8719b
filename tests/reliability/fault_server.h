#pragma once

#include <atomic>
#include <cstddef>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace voxtrel::test {

/// How the fault server misbehaves on one path.
enum class Fault {
  kHealthy,             // /ok: 200 with a short page, then closes
  kSilent,              // accepts, reads the request, never answers
  kHeadersThenStall,    // a complete 200 head announcing a body that never comes
  kTrickle,             // the whole answer at one byte per second
  kResetMidBody,        // half the announced body, then a reset (SO_LINGER 0)
  kRedirectLoop,        // 302 to itself, for ever
  kRedirectToFtp,       // 302 to an ftp:// address
  kRedirectToFile,      // 302 to file:///etc/passwd
  kShortBodyThenClose,  // Content-Length larger than what is sent, then closes
  kShortBodyThenStall,  // Content-Length larger than what is sent, then waits
  kInvalidStatusLine,   // a first line that is no HTTP status line
  kHeadCutOff,          // the status line, then the connection closes mid-head
  kHugeBody,            // 200 with a 1 GiB body made on the fly
  kGzipBomb,            // 200, Content-Encoding gzip, 1 GiB of zeros once inflated
  kHoldOpenAfterBody,   // 200 without Content-Length: the body, then the connection stays open
  kHoldOpenWithLength,  // 200 with Content-Length and keep-alive; the connection stays open
  kEndlessHeaders,      // a status line, then header lines for ever
  kEndlessInterim,      // "100 Continue" answers for ever, never the final one
  kBogusChunkSize,      // chunked body whose first chunk claims 2^68 bytes
};

/// The path a fault is served on, such as "/silent".
const char* FaultPath(Fault fault);
/// A short name for tables and test names.
const char* FaultName(Fault fault);

/// A gzip stream (RFC 1952) that inflates to `size` zero bytes (a whole number of MiB); about
/// a thousandth of that size.
std::string GzipOfZeros(size_t size);

/// A raw-socket HTTP server on 127.0.0.1 that misbehaves on purpose. One thread per connection,
/// at most kMaxConnections at a time (more are closed at once); every wait wakes up at least
/// every 50 ms to see whether the server is stopping, so the destructor returns promptly.
class FaultServer {
 public:
  static constexpr size_t kMaxConnections = 32;
  static constexpr size_t kHugeBodySize = size_t{1} << 30;

  FaultServer() = default;
  ~FaultServer();
  FaultServer(const FaultServer&) = delete;
  FaultServer& operator=(const FaultServer&) = delete;

  /// Binds to a free port and starts accepting; returns "http://127.0.0.1:PORT", or "" on failure.
  std::string Start();
  void Stop();
  std::string Url(Fault fault) const { return base_ + FaultPath(fault); }
  /// Builds the compression bomb (about a second of work) so that its first request does not wait
  /// for it; called on that request otherwise.
  void PrepareGzipBomb();

  /// Connections accepted so far, and those refused for being over the limit.
  size_t accepted() const { return accepted_; }
  size_t refused() const { return refused_; }
  /// Body bytes written to clients on the huge body path, all connections together.
  size_t huge_bytes_sent() const { return huge_bytes_sent_; }
  /// Connections whose thread is still running.
  size_t active() const;

 private:
  struct Connection {
    std::thread thread;
    std::atomic<bool> done{false};
  };

  void AcceptLoop();
  void Serve(int fd);
  void ReapFinished();

  std::once_flag bomb_once_;
  std::string gzip_bomb_;
  std::string base_;
  int listen_fd_ = -1;
  std::atomic<bool> stopping_{false};
  std::thread acceptor_;
  mutable std::mutex mutex_;
  std::list<std::unique_ptr<Connection>> connections_;
  std::atomic<size_t> accepted_{0};
  std::atomic<size_t> refused_{0};
  std::atomic<size_t> huge_bytes_sent_{0};
};

}  // namespace voxtrel::test
