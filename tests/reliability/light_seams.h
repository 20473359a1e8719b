#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/run_view.h"
#include "platform/http.h"

namespace voxtrel::test {

/// A run view for runs of a million links: counts instead of logging every call.
class CountingView : public RunView {
 public:
  void SetCaption(Control control, const std::string& text) override {
    if (control == Control::kLabel7) label7 = text;
  }
  void Yield() override { ++yields; }
  MessageAnswer ShowMessage(const std::string&, const std::string& text, MessageIcon,
                            MessageButtons) override {
    messages.push_back(text);
    return MessageAnswer::kOk;
  }

  std::string label7;
  size_t yields = 0;
  std::vector<std::string> messages;
};

/// Answers every request at once with one status and an empty body. Counts the requests and
/// hands each address to `check`, so a million of them need not be kept.
class InstantHttpFactory : public HttpRequestFactory {
 public:
  explicit InstantHttpFactory(std::optional<int> status) : status_(status) {}

  std::unique_ptr<HttpRequest> Create(const std::string&) override {
    return std::make_unique<Request>(*this);
  }

  size_t requests = 0;
  /// Called with the request's index (from 0) and address.
  std::function<void(size_t, const std::string&)> check;

 private:
  class Request : public HttpRequest {
   public:
    explicit Request(InstantHttpFactory& factory) : factory_(factory) {}
    bool Open(const std::string&, const std::string& url) override {
      if (factory_.check) factory_.check(factory_.requests, url);
      ++factory_.requests;
      return true;
    }
    bool Send(const KeepAliveHook&) override { return factory_.status_.has_value(); }
    const std::string& ResponseBody() const override { return body_; }
    std::optional<int> Status() const override { return factory_.status_; }

   private:
    InstantHttpFactory& factory_;
    std::string body_;
  };

  std::optional<int> status_;
};

}  // namespace voxtrel::test
