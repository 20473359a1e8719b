#include "support/scripted_http.h"

#include <utility>

#include "web/web_check.h"

namespace voxtrel::test {

class ScriptedRequest : public HttpRequest {
 public:
  explicit ScriptedRequest(ScriptedHttpFactory& factory) : factory_(factory) {}

  bool Open(const std::string& method, const std::string& url) override {
    method_ = method;
    url_ = url;
    if (factory_.record) factory_.requested.push_back(url);
    return true;
  }

  bool Send(const KeepAliveHook& keep_alive) override {
    auto it = factory_.script_.find(url_);
    const ScriptedAnswer& answer =
        it == factory_.script_.end() ? factory_.default_answer : it->second;
    for (int k = 0; k < answer.keep_alive_calls; ++k) {
      if (keep_alive && !keep_alive()) {
        ++factory_.abandoned;
        return false;
      }
    }
    if (factory_.during_send) factory_.during_send(url_);
    status_ = answer.status;
    body_ = answer.body;
    return status_.has_value();
  }

  const std::string& ResponseBody() const override { return body_; }
  std::optional<int> Status() const override { return status_; }

 private:
  ScriptedHttpFactory& factory_;
  std::string method_;
  std::string url_;
  std::string body_;
  std::optional<int> status_;
};

std::unique_ptr<HttpRequest> ScriptedHttpFactory::Create(const std::string& prog_id) {
  if (record) created_ids.push_back(prog_id);
  if (fail_all) return nullptr;
  if (fail_next_creations > 0) {
    --fail_next_creations;
    return nullptr;
  }
  if (fail_primary && prog_id == kPrimaryProgId) return nullptr;
  return std::make_unique<ScriptedRequest>(*this);
}

void ScriptedHttpFactory::Answer(const std::string& url, int status, std::string body,
                                 int keep_alive_calls) {
  script_[url] = ScriptedAnswer{status, std::move(body), keep_alive_calls};
}

void ScriptedHttpFactory::Fail(const std::string& url) { script_[url] = ScriptedAnswer{}; }

}  // namespace voxtrel::test
