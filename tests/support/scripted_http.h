#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/http.h"

namespace voxtrel::test {

/// What a scripted request answers.
struct ScriptedAnswer {
  /// The status after Send, or nothing for a request that fails outright.
  std::optional<int> status;
  std::string body;
  /// How often Send runs the keep-alive hook before it answers (a slow answer).
  int keep_alive_calls = 0;
};

/// A request factory answering from a script and recording what was asked of it.
class ScriptedHttpFactory : public HttpRequestFactory {
 public:
  std::unique_ptr<HttpRequest> Create(const std::string& prog_id) override;

  /// Answers `url` with `status` and `body`.
  void Answer(const std::string& url, int status, std::string body = "", int keep_alive_calls = 0);
  /// Makes requests for `url` fail without a status.
  void Fail(const std::string& url);

  /// The answer for addresses the script does not name; failure without a status by default.
  ScriptedAnswer default_answer;
  /// Creation by the primary identifier always fails (the fallback still works).
  bool fail_primary = false;
  /// Creation always fails, whatever the identifier.
  bool fail_all = false;
  /// The next this-many creations fail, whatever the identifier.
  int fail_next_creations = 0;
  /// Whether to keep `requested` (benchmarks switch it off).
  bool record = true;

  /// Every identifier creation was asked for, in order, failed ones included.
  std::vector<std::string> created_ids;
  /// Every address a request was opened for, in order.
  std::vector<std::string> requested;
  /// How many Send calls were abandoned because the keep-alive hook said so.
  int abandoned = 0;
  /// Runs inside every Send, before the answer is set (to act "while the request waits").
  std::function<void(const std::string& url)> during_send;

 private:
  friend class ScriptedRequest;
  std::map<std::string, ScriptedAnswer> script_;
};

}  // namespace voxtrel::test
