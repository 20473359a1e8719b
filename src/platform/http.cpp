#include "platform/http.h"

#include <curl/curl.h>

#include <algorithm>
#include <cstring>
#include <utility>

#include "version.h"

namespace voxtrel {

namespace {

constexpr const char* kAllowedProtocols = "http,https";

bool CurlReady() {
  // Runs once, on whichever thread gets here first; C++ makes the initialisation thread-safe.
  static const bool ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
  return ready;
}

bool IsGet(const std::string& method) {
  return method.size() == 3 && (method[0] | 0x20) == 'g' && (method[1] | 0x20) == 'e' &&
         (method[2] | 0x20) == 't';
}

/// True when curl can parse `url` as it stands, with an explicit http or https scheme. Without
/// this, libcurl would guess a scheme for "http//host" and send a request to a host named "http".
bool IsHttpUrl(const std::string& url) {
  CURLU* parsed = curl_url();
  if (!parsed) return false;
  bool ok = false;
  if (curl_url_set(parsed, CURLUPART_URL, url.c_str(), 0) == CURLUE_OK) {
    char* scheme = nullptr;
    if (curl_url_get(parsed, CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK && scheme) {
      ok = std::strcmp(scheme, "http") == 0 || std::strcmp(scheme, "https") == 0;
      curl_free(scheme);
    }
  }
  curl_url_cleanup(parsed);
  return ok;
}

class CurlRequest : public HttpRequest {
 public:
  CurlRequest(CURL* easy, HttpOptions options) : easy_(easy), options_(std::move(options)) {}
  ~CurlRequest() override { curl_easy_cleanup(easy_); }
  CurlRequest(const CurlRequest&) = delete;
  CurlRequest& operator=(const CurlRequest&) = delete;

  bool Open(const std::string& method, const std::string& url) override;
  bool Send(const KeepAliveHook& keep_alive) override;
  const std::string& ResponseBody() const override { return body_; }
  std::optional<int> Status() const override { return status_; }

 private:
  static size_t OnBody(char* data, size_t size, size_t count, void* self);
  static size_t OnHeader(char* data, size_t size, size_t count, void* self);
  bool Configure(const std::string& url);
  /// Runs the transfer on a multi handle; false when it was abandoned or could not run.
  bool Transfer(const KeepAliveHook& keep_alive, CURLcode* result);

  CURL* easy_;
  HttpOptions options_;
  std::string user_agent_;
  bool opened_ = false;
  bool cap_reached_ = false;
  /// Whether the blank line ending the last answer's head arrived. libcurl reports a connection
  /// closed in the middle of the head as a complete answer without a body; it is none.
  bool head_complete_ = false;
  std::string body_;
  std::optional<int> status_;
};

size_t CurlRequest::OnBody(char* data, size_t size, size_t count, void* self) {
  auto* request = static_cast<CurlRequest*>(self);
  size_t bytes = size * count;
  size_t room =
      request->options_.body_cap - std::min(request->body_.size(), request->options_.body_cap);
  request->body_.append(data, std::min(bytes, room));
  if (bytes > room) {
    // The rest of the body is never stored; stopping here ends the transfer as a complete answer.
    request->cap_reached_ = true;
    return 0;
  }
  return bytes;
}

size_t CurlRequest::OnHeader(char* data, size_t size, size_t count, void* self) {
  auto* request = static_cast<CurlRequest*>(self);
  size_t bytes = size * count;
  // A new status line starts a new answer (an interim 1xx, say): only the last one's body counts.
  if (bytes >= 5 && std::memcmp(data, "HTTP/", 5) == 0) {
    request->body_.clear();
    request->cap_reached_ = false;
    request->head_complete_ = false;
  } else if ((bytes == 2 && data[0] == '\r' && data[1] == '\n') ||
             (bytes == 1 && data[0] == '\n')) {
    request->head_complete_ = true;
  }
  return bytes;
}

bool CurlRequest::Configure(const std::string& url) {
  curl_easy_reset(easy_);
  if (user_agent_.empty())
    user_agent_ = options_.user_agent.empty() ? std::string("Voxtrel/") + kVersionString
                                              : options_.user_agent;
  bool ok = true;
  auto set = [&ok](CURLcode code) { ok = ok && code == CURLE_OK; };
  set(curl_easy_setopt(easy_, CURLOPT_URL, url.c_str()));
  set(curl_easy_setopt(easy_, CURLOPT_HTTPGET, 1L));
  set(curl_easy_setopt(easy_, CURLOPT_NOSIGNAL, 1L));
  set(curl_easy_setopt(easy_, CURLOPT_PROTOCOLS_STR, kAllowedProtocols));
  set(curl_easy_setopt(easy_, CURLOPT_REDIR_PROTOCOLS_STR, kAllowedProtocols));
  set(curl_easy_setopt(easy_, CURLOPT_FOLLOWLOCATION, 1L));
  set(curl_easy_setopt(easy_, CURLOPT_MAXREDIRS, options_.max_redirects));
  set(curl_easy_setopt(easy_, CURLOPT_CONNECTTIMEOUT_MS, options_.connect_timeout_ms));
  set(curl_easy_setopt(easy_, CURLOPT_TIMEOUT_MS, options_.total_timeout_ms));
  set(curl_easy_setopt(easy_, CURLOPT_USERAGENT, user_agent_.c_str()));
  // An empty list asks for every encoding this libcurl can decode, and decodes the answer.
  set(curl_easy_setopt(easy_, CURLOPT_ACCEPT_ENCODING, ""));
  set(curl_easy_setopt(easy_, CURLOPT_WRITEFUNCTION, &CurlRequest::OnBody));
  set(curl_easy_setopt(easy_, CURLOPT_WRITEDATA, this));
  set(curl_easy_setopt(easy_, CURLOPT_HEADERFUNCTION, &CurlRequest::OnHeader));
  set(curl_easy_setopt(easy_, CURLOPT_HEADERDATA, this));
  return ok;
}

bool CurlRequest::Open(const std::string& method, const std::string& url) {
  opened_ = false;
  status_.reset();
  body_.clear();
  // libcurl takes the address as a C string: one holding a NUL would be cut there and another
  // address asked for in its place.
  if (!IsGet(method) || url.find('\0') != std::string::npos || !IsHttpUrl(url)) return false;
  opened_ = Configure(url);
  return opened_;
}

bool CurlRequest::Transfer(const KeepAliveHook& keep_alive, CURLcode* result) {
  CURLM* multi = curl_multi_init();
  if (!multi) return false;
  if (curl_multi_add_handle(multi, easy_) != CURLM_OK) {
    curl_multi_cleanup(multi);
    return false;
  }
  int interval_ms = static_cast<int>(std::clamp(options_.keep_alive_interval_ms, 1L, 60000L));
  bool finished = false;
  for (;;) {
    int running = 0;
    if (curl_multi_perform(multi, &running) != CURLM_OK) break;
    if (running == 0) {
      int left = 0;
      while (CURLMsg* message = curl_multi_info_read(multi, &left)) {
        if (message->msg == CURLMSG_DONE && message->easy_handle == easy_) {
          *result = message->data.result;
          finished = true;
        }
      }
      break;
    }
    if (curl_multi_poll(multi, nullptr, 0, interval_ms, nullptr) != CURLM_OK) break;
    if (keep_alive && !keep_alive()) break;
  }
  curl_multi_remove_handle(multi, easy_);
  curl_multi_cleanup(multi);
  return finished;
}

bool CurlRequest::Send(const KeepAliveHook& keep_alive) {
  status_.reset();
  body_.clear();
  cap_reached_ = false;
  head_complete_ = false;
  if (!opened_) return false;
  opened_ = false;  // one Send per Open: the handle's state is spent
  CURLcode result = CURLE_OK;
  bool finished = Transfer(keep_alive, &result);
  bool complete = finished && head_complete_ &&
                  (result == CURLE_OK || (result == CURLE_WRITE_ERROR && cap_reached_));
  long code = 0;
  if (complete) curl_easy_getinfo(easy_, CURLINFO_RESPONSE_CODE, &code);
  if (code <= 0) {
    // A failed request reports neither status nor a partial body.
    body_.clear();
    return false;
  }
  status_ = static_cast<int>(code);
  return true;
}

}  // namespace

CurlRequestFactory::CurlRequestFactory(HttpOptions options) : options_(std::move(options)) {}

std::unique_ptr<HttpRequest> CurlRequestFactory::Create(const std::string& /*prog_id*/) {
  // Every identifier the callers use names the same kind of request here.
  if (!CurlReady()) return nullptr;
  CURL* easy = curl_easy_init();
  if (!easy) return nullptr;
  return std::make_unique<CurlRequest>(easy, options_);
}

}  // namespace voxtrel
