#include "platform/http_pool.h"

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "platform/curl_common.h"
#include "platform/text.h"

namespace voxtrel {

namespace {

using Clock = std::chrono::steady_clock;

// Below this many, the cache keeps libcurl's own default size.
constexpr size_t kSmallestConnectionCache = 16;

// `os_error` is the system's error number for the connection, as libcurl kept it.
HttpFailure FailureOf(CURLcode code, long os_error) {
  switch (code) {
    case CURLE_COULDNT_CONNECT:
      // A server that accepts and at once resets the connection fails the connect check too;
      // how far the request got before the reset depends on timing, so every stage reads alike.
      if (os_error == ECONNRESET || os_error == EPIPE) return HttpFailure::kCutOff;
      if (os_error == EHOSTUNREACH || os_error == ENETUNREACH) return HttpFailure::kUnreachable;
      return HttpFailure::kRefused;
    case CURLE_COULDNT_RESOLVE_HOST:
      return HttpFailure::kHostNotFound;
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_PROXY:
      return HttpFailure::kProxy;
    case CURLE_OPERATION_TIMEDOUT:
      return HttpFailure::kTimeout;
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
      return HttpFailure::kTls;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CLIENTCERT:
    case CURLE_USE_SSL_FAILED:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_SSL_ENGINE_INITFAILED:
      return HttpFailure::kTlsHandshake;
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_CERTPROBLEM:
      return HttpFailure::kCertificateFile;
    case CURLE_TOO_MANY_REDIRECTS:
      return HttpFailure::kTooManyRedirects;
    case CURLE_PARTIAL_FILE:
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_HTTP2_STREAM:
    case CURLE_SSL_SHUTDOWN_FAILED:
      return HttpFailure::kCutOff;
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_HTTP2:
    case CURLE_HTTP3:
      return HttpFailure::kBadAnswer;
    case CURLE_BAD_CONTENT_ENCODING:
      return HttpFailure::kBadEncoding;
    case CURLE_URL_MALFORMAT:
    case CURLE_UNSUPPORTED_PROTOCOL:
      return HttpFailure::kBadAddress;
    default:
      // Out of memory, a write the body sink refused and the like: nothing the server did.
      return HttpFailure::kOther;
  }
}

long MillisecondsSince(Clock::time_point start) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

}  // namespace

bool IsHtmlContentType(std::string_view content_type) {
  const std::string_view type = content_type.substr(0, content_type.find(';'));
  const std::string upper = AsciiUpper(TrimBlanks(type));
  return upper == "TEXT/HTML" || upper == "APPLICATION/XHTML+XML";
}

bool IsStyleSheetContentType(std::string_view content_type) {
  const std::string_view type = content_type.substr(0, content_type.find(';'));
  return AsciiUpper(TrimBlanks(type)) == "TEXT/CSS";
}

struct CurlPool::Transfer {
  Transfer(uint64_t id, HttpRequest request, size_t body_cap)
      : id(id),
        request(std::move(request)),
        body_cap(body_cap),
        keep_cap(this->request.keep_cap > 0 ? std::min(this->request.keep_cap, body_cap)
                                            : body_cap),
        start(Clock::now()) {}
  ~Transfer() { curl_easy_cleanup(easy); }
  Transfer(const Transfer&) = delete;
  Transfer& operator=(const Transfer&) = delete;

  static size_t OnBody(char* data, size_t size, size_t count, void* self);
  static size_t OnHeader(char* data, size_t size, size_t count, void* self);
  /// The answer once libcurl reported the transfer done with `result`.
  HttpAnswer Finish(CURLcode result);
  /// Whether the body of the answer on hand is stored.
  bool Keeps() const {
    return request.keep_body &&
           (!request.keep_pages_only || IsHtmlContentType(head.content_type()) ||
            IsStyleSheetContentType(head.content_type()));
  }

  uint64_t id;
  HttpRequest request;
  size_t body_cap;
  size_t keep_cap;  // the most body bytes stored
  Clock::time_point start;
  CURL* easy = nullptr;
  size_t received = 0;  // body bytes handed on, kept or not
  bool cap_reached = false;
  bool keep_cut = false;  // more came than was stored
  int first_status = 0;  // of the first answer, interim ones aside
  curl::AnswerHead head;
  std::string body;
};

size_t CurlPool::Transfer::OnBody(char* data, size_t size, size_t count, void* self) {
  auto* transfer = static_cast<Transfer*>(self);
  size_t bytes = size * count;
  size_t room = transfer->body_cap - std::min(transfer->received, transfer->body_cap);
  size_t taken = std::min(bytes, room);
  if (taken > 0) {
    std::string_view chunk(data, taken);
    if (transfer->Keeps()) {
      // Past keep_cap the body is still read (and handed to on_body) as far as body_cap, so a
      // refresh is found where it would be without keep_body; only the storing stops.
      const size_t keep_room =
          transfer->keep_cap - std::min(transfer->body.size(), transfer->keep_cap);
      transfer->body.append(chunk.substr(0, keep_room));
      if (chunk.size() > keep_room) transfer->keep_cut = true;
    }
    if (transfer->request.on_body) transfer->request.on_body(chunk);
    transfer->received += taken;
  }
  if (bytes > room) {
    // The rest of the body is never looked at; stopping here ends the transfer as a complete
    // answer.
    transfer->cap_reached = true;
    return 0;
  }
  return bytes;
}

size_t CurlPool::Transfer::OnHeader(char* data, size_t size, size_t count, void* self) {
  auto* transfer = static_cast<Transfer*>(self);
  size_t bytes = size * count;
  // A new status line starts a new answer (an interim 1xx, say): only the last one's body counts.
  std::string_view line(data, bytes);
  if (transfer->head.Take(line)) {
    int status = curl::StatusOf(line);
    if (transfer->first_status == 0 && status >= 200) transfer->first_status = status;
    transfer->body.clear();
    transfer->received = 0;
    transfer->cap_reached = false;
    transfer->keep_cut = false;
  }
  return bytes;
}

namespace {

// Where the user name and password of an address stand ("user:pw@"), or an empty span.
std::pair<size_t, size_t> UserInfoSpan(const std::string& url) {
  const size_t scheme = url.find("://");
  if (scheme == std::string::npos) return {0, 0};
  const size_t start = scheme + 3;
  const size_t end = std::min(url.find_first_of("/?#", start), url.size());
  const size_t at = url.rfind('@', end - 1);
  return at == std::string::npos || at < start ? std::pair<size_t, size_t>{0, 0}
                                               : std::pair<size_t, size_t>{start, at + 1 - start};
}

// libcurl writes the credentials it took from a netrc file into the address it ended at: they
// must not reach a row or a report as where a link now leads.
std::string WithoutAddedCredentials(std::string final_url, const std::string& asked) {
  const auto [start, length] = UserInfoSpan(final_url);
  if (length > 0 && UserInfoSpan(asked).second == 0) final_url.erase(start, length);
  return final_url;
}

}  // namespace

HttpAnswer CurlPool::Transfer::Finish(CURLcode result) {
  HttpAnswer answer;
  answer.elapsed_ms = MillisecondsSince(start);
  answer.body_cut = cap_reached || keep_cut;
  long redirects = 0;
  if (curl_easy_getinfo(easy, CURLINFO_REDIRECT_COUNT, &redirects) == CURLE_OK)
    answer.redirects = static_cast<int>(redirects);
  bool ended_well = result == CURLE_OK || (result == CURLE_WRITE_ERROR && cap_reached);
  long code = 0;
  if (ended_well && head.complete()) curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &code);
  if (code > 0) {
    answer.status = static_cast<int>(code);
    char* final_url = nullptr;
    if (answer.redirects > 0 &&
        curl_easy_getinfo(easy, CURLINFO_EFFECTIVE_URL, &final_url) == CURLE_OK && final_url) {
      answer.final_url = WithoutAddedCredentials(final_url, request.url);
      answer.moved_permanently = first_status == 301 || first_status == 308;
    }
    answer.retry_after_s = head.RetryAfterSeconds();
    answer.content_type = head.content_type();
    answer.body = std::move(body);
    if (request.keep_body) answer.headers = head.TakeFields();
    return answer;
  }
  if (ended_well) {
    answer.failure = head.any_answer() ? HttpFailure::kCutOff : HttpFailure::kBadAnswer;
  } else if ((result == CURLE_UNSUPPORTED_PROTOCOL || result == CURLE_URL_MALFORMAT) &&
             head.complete()) {
    // Only a redirect's target is looked at after a whole head; the link's own address was
    // checked before the request started.
    answer.failure = HttpFailure::kBadRedirect;
  } else if (result == CURLE_UNSUPPORTED_PROTOCOL) {
    // libcurl says this of a reply that is not HTTP at all, not only of a redirect.
    answer.failure = HttpFailure::kBadAnswer;
  } else {
    long os_error = 0;
    curl_easy_getinfo(easy, CURLINFO_OS_ERRNO, &os_error);
    answer.failure = FailureOf(result, os_error);
  }
  return answer;
}

CurlPool::CurlPool(HttpOptions options)
    : options_(std::move(options)),
      user_agent_(curl::UserAgentOf(options_)),
      headers_(curl::HeaderListOf(options_)) {
  if (!curl::Ready()) return;
  CURLM* multi = curl_multi_init();
  if (!multi) return;
  multi_ = multi;
  // Several transfers to one host ride one HTTP/2 connection where the server offers it.
  curl_multi_setopt(multi, CURLMOPT_PIPELINING, CURLPIPE_MULTIPLEX);
  // TLS sessions are kept per easy handle unless shared; sharing spares each new connection to a
  // known host the full handshake. Without the share, transfers simply do full handshakes.
  CURLSH* share = curl_share_init();
  if (share &&
      curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION) == CURLSHE_OK) {
    share_ = share;
  } else if (share) {
    curl_share_cleanup(share);
  }
  GrowConnectionCache();
}

CurlPool::~CurlPool() {
  CancelAll();
  if (multi_) curl_multi_cleanup(multi_);
  // The share goes last: easy handles and the multi's cached connections may still point at it.
  if (share_) curl_share_cleanup(share_);
  curl_slist_free_all(static_cast<curl_slist*>(headers_));
}

bool CurlPool::Configure(Transfer& transfer) {
  CURL* easy = transfer.easy;
  bool ok = curl::ConfigureGet(easy, options_, user_agent_, static_cast<curl_slist*>(headers_),
                               transfer.request.url);
  auto set = [&ok](CURLcode code) { ok = ok && code == CURLE_OK; };
  set(curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Transfer::OnBody));
  set(curl_easy_setopt(easy, CURLOPT_WRITEDATA, &transfer));
  set(curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &Transfer::OnHeader));
  set(curl_easy_setopt(easy, CURLOPT_HEADERDATA, &transfer));
  // A transfer to an https host whose connection is still being set up waits to learn whether
  // it can share it (HTTP/2, told during the handshake) rather than opening one more. A plain
  // http connection only tells with its first answer, a whole server latency later, so those
  // transfers never wait.
  if (StartsWithNoCase(transfer.request.url, "HTTPS://")) set(curl_easy_setopt(easy, CURLOPT_PIPEWAIT, 1L));
  if (share_) set(curl_easy_setopt(easy, CURLOPT_SHARE, share_));
  return ok;
}

bool CurlPool::Start(uint64_t id, HttpRequest request) {
  if (!multi_) return false;
  if (!curl::IsRequestableUrl(request.url)) {
    HttpAnswer answer;
    answer.failure = HttpFailure::kBadAddress;
    bad_addresses_.emplace_back(id, std::move(answer));
    return true;
  }
  const size_t cap = request.body_cap > 0 ? request.body_cap : options_.body_cap;
  auto transfer = std::make_unique<Transfer>(id, std::move(request), cap);
  transfer->easy = curl_easy_init();
  if (!transfer->easy || !Configure(*transfer)) return false;
  if (curl_multi_add_handle(multi_, transfer->easy) != CURLM_OK) return false;
  transfers_.push_back(std::move(transfer));
  GrowConnectionCache();
  return true;
}

bool CurlPool::Collect(std::vector<std::pair<uint64_t, HttpAnswer>>* finished) {
  bool any = false;
  int left = 0;
  while (CURLMsg* message = curl_multi_info_read(multi_, &left)) {
    if (message->msg != CURLMSG_DONE) continue;
    CURL* easy = message->easy_handle;
    CURLcode result = message->data.result;
    auto it = std::find_if(transfers_.begin(), transfers_.end(),
                           [easy](const auto& transfer) { return transfer->easy == easy; });
    if (it == transfers_.end()) continue;
    // Removing the handle hands its connection back to the cache for the next request.
    curl_multi_remove_handle(multi_, easy);
    finished->emplace_back((*it)->id, (*it)->Finish(result));
    transfers_.erase(it);
    any = true;
  }
  return any;
}

void CurlPool::Wait(int timeout_ms, std::vector<std::pair<uint64_t, HttpAnswer>>* finished) {
  bool any = !bad_addresses_.empty();
  for (auto& bad : bad_addresses_) finished->push_back(std::move(bad));
  bad_addresses_.clear();
  if (!multi_) return;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    int running = 0;
    curl_multi_perform(multi_, &running);
    any = Collect(finished) || any;
    if (any || transfers_.empty()) return;
    long left_ms = -MillisecondsSince(deadline);
    if (left_ms <= 0) return;
    // libcurl shortens the wait to its own next time-out, so the loop runs its timers in time.
    curl_multi_poll(multi_, nullptr, 0, static_cast<int>(left_ms), nullptr);
  }
}

void CurlPool::CancelAll() {
  bad_addresses_.clear();
  for (auto& transfer : transfers_) curl_multi_remove_handle(multi_, transfer->easy);
  transfers_.clear();
}

size_t CurlPool::InFlight() const { return transfers_.size() + bad_addresses_.size(); }

void CurlPool::GrowConnectionCache() {
  size_t wanted = std::max(kSmallestConnectionCache, 2 * transfers_.size());
  if (!multi_ || wanted <= connection_cache_) return;
  if (curl_multi_setopt(multi_, CURLMOPT_MAXCONNECTS, static_cast<long>(wanted)) == CURLM_OK)
    connection_cache_ = wanted;
}

}  // namespace voxtrel
