#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/http_pool.h"

namespace voxtrel::test {

/// How the fake answers one request.
struct FakeAnswer {
  std::optional<int> status = 200;  // nothing with a failure
  HttpFailure failure = HttpFailure::kNone;
  /// Virtual milliseconds from the start of the request to its answer.
  long delay_ms = 0;
  std::string body = "fine";
  std::string content_type = "text/html";
  std::optional<long> retry_after_s{};
  int redirects = 0;
  std::string final_url{};  // where the redirects ended
  bool cut = false;         // the body is what came before the request's cap, as a longer one's
  HeaderFields headers{};   // handed over only with keep_body, as the real pool does
};

/// A connection pool that asks nobody: each request is answered from `script` (the address and
/// how many times it was asked, from 1) after its delay in virtual time, which Wait advances to
/// the next answer due, or by its time-out when that comes first. Records what was asked and how
/// much was in flight.
class FakePool : public HttpPool {
 public:
  FakePool();

  bool Start(uint64_t id, HttpRequest request) override;
  void Wait(int timeout_ms, std::vector<std::pair<uint64_t, HttpAnswer>>* finished) override;
  void CancelAll() override;
  size_t InFlight() const override { return flying_.size(); }

  std::function<FakeAnswer(const std::string& url, int n)> script;
  /// Addresses for which no request can be created.
  std::function<bool(const std::string& url)> cannot_start;

  /// Requests started per address, and every address in the order started.
  std::map<std::string, int> asked;
  std::vector<std::string> started;
  /// For each request in `started`, how many its host had in flight with it.
  std::vector<int> host_load;
  /// The most requests ever in flight at once: in all, to one host (scheme://host:port), and to
  /// one address.
  size_t most_in_flight = 0;
  std::map<std::string, int> most_per_host;
  int most_per_url = 0;
  long now_ms = 0;
  int waits = 0;  // calls of Wait
  size_t bodies_kept = 0;  // requests that asked to keep the body

 private:
  struct Flying {
    uint64_t id;
    long due_ms;
    HttpRequest request;
    FakeAnswer answer;
  };
  std::vector<Flying> flying_;
};

}  // namespace voxtrel::test
