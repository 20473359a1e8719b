#include "reliability/fault_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <vector>

namespace voxtrel::test {
namespace {

// Every blocking wait is cut into slices this long, so a stopping server is noticed quickly.
constexpr int kSliceMs = 50;
constexpr size_t kMaxRequestHead = 16 * 1024;
constexpr size_t kHugeChunk = 64 * 1024;

/// One accepted socket and the stop flag it must watch.
class Peer {
 public:
  Peer(int fd, const std::atomic<bool>& stopping) : fd_(fd), stopping_(stopping) {}

  int fd() const { return fd_; }

  /// Reads up to the blank line ending the request head; the path of its first line, or "" when
  /// the client went away, sent too much or the server is stopping.
  std::string ReadRequestPath() {
    std::string head;
    char buffer[2048];
    while (head.find("\r\n\r\n") == std::string::npos) {
      if (head.size() > kMaxRequestHead || !WaitFor(POLLIN)) return "";
      ssize_t got = recv(fd_, buffer, sizeof buffer, 0);
      if (got <= 0) return "";
      head.append(buffer, static_cast<size_t>(got));
    }
    size_t first = head.find(' ');
    if (first == std::string::npos) return "";
    size_t second = head.find_first_of(" ?\r", first + 1);
    return head.substr(first + 1, second - first - 1);
  }

  /// Sends everything; false once the client has gone or the server is stopping.
  bool Send(const char* data, size_t size) {
    while (size > 0) {
      if (!WaitFor(POLLOUT)) return false;
      ssize_t sent = send(fd_, data, size, MSG_NOSIGNAL);
      if (sent < 0) {
        if (errno == EINTR || errno == EAGAIN) continue;
        return false;
      }
      data += sent;
      size -= static_cast<size_t>(sent);
    }
    return true;
  }
  bool Send(const std::string& text) { return Send(text.data(), text.size()); }

  /// Waits, reading and dropping whatever arrives, until the client closes or the server stops.
  void HoldUntilClosed() {
    char buffer[4096];
    while (WaitFor(POLLIN)) {
      ssize_t got = recv(fd_, buffer, sizeof buffer, 0);
      if (got <= 0) return;
    }
  }

  /// Sleeps `ms`, cut short when the server stops; false when it stopped.
  bool Sleep(int ms) {
    for (int waited = 0; waited < ms; waited += kSliceMs) {
      if (stopping_) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(std::min(kSliceMs, ms - waited)));
    }
    return !stopping_;
  }

  /// Closes with a reset instead of an orderly end.
  void Reset() {
    linger hard{1, 0};
    setsockopt(fd_, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
  }

 private:
  // Polls in slices until `events` is ready; false when the server stops or the socket fails.
  bool WaitFor(short events) {
    for (;;) {
      if (stopping_) return false;
      pollfd p{fd_, events, 0};
      int ready = poll(&p, 1, kSliceMs);
      if (ready < 0 && errno != EINTR) return false;
      if (ready > 0) {
        if (p.revents & (POLLERR | POLLNVAL)) return false;
        // A hang-up still lets a reader see the end (recv gives 0); a writer has nobody left.
        if ((p.revents & POLLHUP) && events == POLLOUT) return false;
        return true;
      }
    }
  }

  int fd_;
  const std::atomic<bool>& stopping_;
};

std::string Head(const std::string& status, const std::string& fields) {
  return "HTTP/1.1 " + status + "\r\n" + fields + "\r\n";
}

}  // namespace

const char* FaultPath(Fault fault) {
  switch (fault) {
    case Fault::kHealthy:
      return "/ok";
    case Fault::kSilent:
      return "/silent";
    case Fault::kHeadersThenStall:
      return "/stall";
    case Fault::kTrickle:
      return "/trickle";
    case Fault::kResetMidBody:
      return "/reset";
    case Fault::kRedirectLoop:
      return "/loop";
    case Fault::kRedirectToFtp:
      return "/to-ftp";
    case Fault::kRedirectToFile:
      return "/to-file";
    case Fault::kShortBodyThenClose:
      return "/short-close";
    case Fault::kShortBodyThenStall:
      return "/short-stall";
    case Fault::kInvalidStatusLine:
      return "/bad-status";
    case Fault::kHeadCutOff:
      return "/head-cut";
    case Fault::kHugeBody:
      return "/huge";
    case Fault::kGzipBomb:
      return "/bomb";
    case Fault::kHoldOpenAfterBody:
      return "/hold";
    case Fault::kHoldOpenWithLength:
      return "/hold-length";
    case Fault::kEndlessHeaders:
      return "/endless-headers";
    case Fault::kEndlessInterim:
      return "/endless-100";
    case Fault::kBogusChunkSize:
      return "/bogus-chunk";
  }
  return "/";
}

const char* FaultName(Fault fault) {
  switch (fault) {
    case Fault::kHealthy:
      return "Healthy";
    case Fault::kSilent:
      return "AcceptsNeverAnswers";
    case Fault::kHeadersThenStall:
      return "HeadersThenStall";
    case Fault::kTrickle:
      return "OneBytePerSecond";
    case Fault::kResetMidBody:
      return "ResetMidBody";
    case Fault::kRedirectLoop:
      return "RedirectLoop";
    case Fault::kRedirectToFtp:
      return "RedirectToFtp";
    case Fault::kRedirectToFile:
      return "RedirectToFile";
    case Fault::kShortBodyThenClose:
      return "ShortBodyThenClose";
    case Fault::kShortBodyThenStall:
      return "ShortBodyThenStall";
    case Fault::kInvalidStatusLine:
      return "InvalidStatusLine";
    case Fault::kHeadCutOff:
      return "HeadCutOff";
    case Fault::kHugeBody:
      return "HugeBody1GiB";
    case Fault::kGzipBomb:
      return "GzipBomb1GiB";
    case Fault::kHoldOpenAfterBody:
      return "HoldOpenNoLength";
    case Fault::kHoldOpenWithLength:
      return "HoldOpenWithLength";
    case Fault::kEndlessHeaders:
      return "EndlessHeaders";
    case Fault::kEndlessInterim:
      return "Endless100Continue";
    case Fault::kBogusChunkSize:
      return "BogusChunkSize";
  }
  return "?";
}

std::string GzipOfZeros(size_t size) {
  // Deflating a gigabyte takes seconds; instead one mebibyte is deflated into blocks that end in a
  // full flush, which resets the window, so those bytes can simply be repeated. The size must be
  // a whole number of mebibytes.
  constexpr size_t kChunk = 1 << 20;
  std::vector<unsigned char> zeros(kChunk, 0);
  std::vector<unsigned char> out(1 << 16);
  z_stream zs{};
  if (deflateInit2(&zs, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY) != Z_OK) return "";
  auto drain = [&](int flush, std::string* into) {
    do {
      zs.next_out = out.data();
      zs.avail_out = static_cast<uInt>(out.size());
      deflate(&zs, flush);
      into->append(reinterpret_cast<const char*>(out.data()), out.size() - zs.avail_out);
    } while (zs.avail_out == 0);
  };
  std::string block;
  zs.next_in = zeros.data();
  zs.avail_in = static_cast<uInt>(kChunk);
  drain(Z_FULL_FLUSH, &block);
  std::string ending;
  zs.avail_in = 0;
  drain(Z_FINISH, &ending);
  deflateEnd(&zs);

  const size_t chunks = size / kChunk;
  const uLong chunk_crc = crc32(0L, zeros.data(), static_cast<uInt>(kChunk));
  uLong crc = chunks > 0 ? chunk_crc : crc32(0L, Z_NULL, 0);
  for (size_t k = 1; k < chunks; ++k) crc = crc32_combine(crc, chunk_crc, kChunk);

  std::string gzip("\x1f\x8b\x08\x00\x00\x00\x00\x00\x02\x03", 10);
  gzip.reserve(gzip.size() + block.size() * chunks + ending.size() + 8);
  for (size_t k = 0; k < chunks; ++k) gzip += block;
  gzip += ending;
  const uint32_t trailer[2] = {static_cast<uint32_t>(crc), static_cast<uint32_t>(size)};
  for (uint32_t word : trailer) {
    for (int shift = 0; shift < 32; shift += 8) gzip += static_cast<char>((word >> shift) & 0xFF);
  }
  return gzip;
}

FaultServer::~FaultServer() { Stop(); }

void FaultServer::PrepareGzipBomb() {
  std::call_once(bomb_once_, [this] { gzip_bomb_ = GzipOfZeros(kHugeBodySize); });
}

std::string FaultServer::Start() {
  listen_fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listen_fd_ < 0) return "";
  int on = 1;
  setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  socklen_t length = sizeof address;
  if (bind(listen_fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(listen_fd_, 64) != 0 ||
      getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    close(listen_fd_);
    listen_fd_ = -1;
    return "";
  }
  base_ = "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port));
  acceptor_ = std::thread([this] { AcceptLoop(); });
  return base_;
}

void FaultServer::Stop() {
  stopping_ = true;
  if (acceptor_.joinable()) acceptor_.join();
  std::list<std::unique_ptr<Connection>> connections;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    connections.swap(connections_);
  }
  for (auto& connection : connections) {
    if (connection->thread.joinable()) connection->thread.join();
  }
  if (listen_fd_ >= 0) {
    close(listen_fd_);
    listen_fd_ = -1;
  }
}

size_t FaultServer::active() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<size_t>(std::count_if(connections_.begin(), connections_.end(),
                                           [](const auto& c) { return !c->done; }));
}

void FaultServer::ReapFinished() {
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto it = connections_.begin(); it != connections_.end();) {
    if ((*it)->done) {
      (*it)->thread.join();
      it = connections_.erase(it);
    } else {
      ++it;
    }
  }
}

void FaultServer::AcceptLoop() {
  while (!stopping_) {
    pollfd p{listen_fd_, POLLIN, 0};
    if (poll(&p, 1, kSliceMs) <= 0) continue;
    int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    ++accepted_;
    ReapFinished();
    std::lock_guard<std::mutex> lock(mutex_);
    if (connections_.size() >= kMaxConnections) {
      ++refused_;
      close(fd);
      continue;
    }
    auto connection = std::make_unique<Connection>();
    Connection* raw = connection.get();
    raw->thread = std::thread([this, fd, raw] {
      Serve(fd);
      close(fd);
      raw->done = true;
    });
    connections_.push_back(std::move(connection));
  }
}

void FaultServer::Serve(int fd) {
  Peer peer(fd, stopping_);
  const std::string path = peer.ReadRequestPath();
  const std::string page = "<html><body>fine</body></html>";

  if (path == FaultPath(Fault::kHealthy)) {
    peer.Send(Head("200 OK", "Content-Type: text/html\r\nContent-Length: " +
                                 std::to_string(page.size()) + "\r\nConnection: close\r\n") +
              page);
  } else if (path == FaultPath(Fault::kSilent)) {
    peer.HoldUntilClosed();
  } else if (path == FaultPath(Fault::kHeadersThenStall)) {
    if (peer.Send(Head("200 OK", "Content-Type: text/html\r\nContent-Length: 1000\r\n")))
      peer.HoldUntilClosed();
  } else if (path == FaultPath(Fault::kTrickle)) {
    const std::string answer =
        Head("200 OK",
             "Content-Type: text/html\r\nContent-Length: " + std::to_string(page.size()) + "\r\n") +
        page;
    for (char c : answer) {
      if (!peer.Send(&c, 1) || !peer.Sleep(1000)) break;
    }
  } else if (path == FaultPath(Fault::kResetMidBody)) {
    std::string half(50000, 'x');
    if (peer.Send(Head("200 OK", "Content-Type: text/html\r\nContent-Length: 100000\r\n")) &&
        peer.Send(half)) {
      peer.Sleep(100);  // let the client take in the first half before the reset
    }
    peer.Reset();
  } else if (path == FaultPath(Fault::kRedirectLoop)) {
    peer.Send(Head("302 Found", std::string("Location: ") + FaultPath(Fault::kRedirectLoop) +
                                    "\r\nContent-Length: 0\r\nConnection: close\r\n"));
  } else if (path == FaultPath(Fault::kRedirectToFtp)) {
    std::string ftp = "ftp://" + base_.substr(std::strlen("http://")) + "/file.htm";
    peer.Send(
        Head("302 Found", "Location: " + ftp + "\r\nContent-Length: 0\r\nConnection: close\r\n"));
  } else if (path == FaultPath(Fault::kRedirectToFile)) {
    peer.Send(Head("302 Found",
                   "Location: file:///etc/passwd\r\nContent-Length: 0\r\nConnection: close\r\n"));
  } else if (path == FaultPath(Fault::kShortBodyThenClose)) {
    peer.Send(Head("200 OK", "Content-Type: text/html\r\nContent-Length: 1000\r\n") + page);
  } else if (path == FaultPath(Fault::kShortBodyThenStall)) {
    if (peer.Send(Head("200 OK", "Content-Type: text/html\r\nContent-Length: 1000\r\n") + page))
      peer.HoldUntilClosed();
  } else if (path == FaultPath(Fault::kInvalidStatusLine)) {
    peer.Send("SPDY/9 banana\r\nContent-Length: 2\r\n\r\nok");
  } else if (path == FaultPath(Fault::kHeadCutOff)) {
    peer.Send("HTTP/1.1 200 OK\r\nContent-Type: te");
  } else if (path == FaultPath(Fault::kHugeBody)) {
    if (!peer.Send(Head("200 OK", "Content-Type: text/html\r\nContent-Length: " +
                                      std::to_string(kHugeBodySize) + "\r\n")))
      return;
    const std::string chunk(kHugeChunk, 'x');
    for (size_t sent = 0; sent < kHugeBodySize; sent += chunk.size()) {
      if (!peer.Send(chunk)) break;
      huge_bytes_sent_ += chunk.size();
    }
  } else if (path == FaultPath(Fault::kGzipBomb)) {
    PrepareGzipBomb();
    if (peer.Send(Head("200 OK",
                       "Content-Type: text/html\r\nContent-Encoding: gzip\r\n"
                       "Content-Length: " +
                           std::to_string(gzip_bomb_.size()) + "\r\n")) &&
        peer.Send(gzip_bomb_)) {
      peer.HoldUntilClosed();
    }
  } else if (path == FaultPath(Fault::kHoldOpenAfterBody)) {
    if (peer.Send(Head("200 OK", "Content-Type: text/html\r\n") + page)) peer.HoldUntilClosed();
  } else if (path == FaultPath(Fault::kHoldOpenWithLength)) {
    if (peer.Send(Head("200 OK",
                       "Content-Type: text/html\r\nConnection: keep-alive\r\n"
                       "Content-Length: " +
                           std::to_string(page.size()) + "\r\n") +
                  page)) {
      peer.HoldUntilClosed();
    }
  } else if (path == FaultPath(Fault::kEndlessHeaders)) {
    if (!peer.Send(std::string("HTTP/1.1 200 OK\r\n"))) return;
    const std::string line = "X-Filler: " + std::string(1000, 'f') + "\r\n";
    std::string lines;
    for (int k = 0; k < 64; ++k) lines += line;
    while (peer.Send(lines)) {
    }
  } else if (path == FaultPath(Fault::kEndlessInterim)) {
    std::string interim;
    for (int k = 0; k < 256; ++k) interim += "HTTP/1.1 100 Continue\r\n\r\n";
    while (peer.Send(interim)) {
    }
  } else if (path == FaultPath(Fault::kBogusChunkSize)) {
    if (peer.Send(Head("200 OK", "Content-Type: text/html\r\nTransfer-Encoding: chunked\r\n") +
                  "100000000000000000\r\n" + page))
      peer.HoldUntilClosed();
  } else if (!path.empty()) {
    peer.Send(Head("404 Not Found", "Content-Length: 0\r\nConnection: close\r\n"));
  }
}

}  // namespace voxtrel::test
