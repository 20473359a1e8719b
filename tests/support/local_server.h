#pragma once

#include <httplib.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace voxtrel::test {

/// An address whose host cannot be resolved, without any query leaving this machine: the
/// resolver refuses a label longer than 63 characters before it sends anything.
inline const std::string kUnknownHostUrl = "http://" + std::string(70, 'u') + ".invalid/";

/// An HTTP server on 127.0.0.1 at a free port, running on its own thread until destroyed.
/// Register handlers on server() before calling Start().
class LocalServer {
 public:
  LocalServer() : server_(std::make_unique<httplib::Server>()) {}
  /// Serves https with the PEM certificate and key at these paths.
  LocalServer(const std::string& cert, const std::string& key)
      : server_(std::make_unique<httplib::SSLServer>(cert.c_str(), key.c_str())),
        scheme_("https") {}
  ~LocalServer() { Stop(); }
  LocalServer(const LocalServer&) = delete;
  LocalServer& operator=(const LocalServer&) = delete;

  httplib::Server& server() { return *server_; }

  /// Binds and starts serving; returns the base address such as "http://127.0.0.1:34567".
  std::string Start() {
    port_ = server_->bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_->listen_after_bind(); });
    // stop() does nothing until the listening thread is running; without this wait a test that
    // ends at once would join a thread that then listens for ever.
    while (port_ > 0 && !server_->is_running())
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return Base();
  }
  std::string Base() const { return scheme_ + "://127.0.0.1:" + std::to_string(port_); }
  void Stop() {
    if (thread_.joinable()) {
      server_->stop();
      thread_.join();
    }
  }

 private:
  std::unique_ptr<httplib::Server> server_;
  std::string scheme_ = "http";
  std::thread thread_;
  int port_ = 0;
};

}  // namespace voxtrel::test
