#include "platform/curl_common.h"

#include <algorithm>
#include <cstring>
#include <ctime>

#include "platform/text.h"
#include "version.h"

namespace voxtrel::curl {
namespace {

constexpr const char* kAllowedProtocols = "http,https";
// Retry-After seconds past this are read as this: a day is already longer than any run waits.
constexpr long kLongestRetryAfter = 1L << 30;

std::string_view TrimHeaderBlanks(std::string_view text) {
  size_t begin = 0;
  size_t end = text.size();
  auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (begin < end && blank(text[begin])) ++begin;
  while (end > begin && blank(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

/// The value of `line` when it is the header `name` (any letter case), else nothing.
std::optional<std::string_view> HeaderValue(std::string_view line, std::string_view name) {
  if (line.size() <= name.size() || line[name.size()] != ':' ||
      !StartsWithNoCase(line, AsciiUpper(name)))
    return std::nullopt;
  return TrimHeaderBlanks(line.substr(name.size() + 1));
}

std::string AsciiLower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return lower;
}

}  // namespace

bool Ready() {
  // Runs once, on whichever thread gets here first; C++ makes the initialisation thread-safe.
  static const bool ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
  return ready;
}

bool IsRequestableUrl(const std::string& url) {
  // libcurl takes the address as a C string: one holding a NUL would be cut there and another
  // address asked for in its place.
  if (url.find('\0') != std::string::npos) return false;
  // Without the parse, libcurl would guess a scheme for "http//host" and send a request to a
  // host named "http".
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

std::string UserAgentOf(const HttpOptions& options) {
  return options.user_agent.empty() ? std::string("Voxtrel/") + kVersionString : options.user_agent;
}

curl_slist* HeaderListOf(const HttpOptions& options) {
  curl_slist* list = nullptr;
  for (const std::string& header : options.headers) {
    curl_slist* longer = curl_slist_append(list, header.c_str());
    if (!longer) {
      curl_slist_free_all(list);
      return nullptr;
    }
    list = longer;
  }
  return list;
}

bool ConfigureGet(CURL* easy, const HttpOptions& options, const std::string& user_agent,
                  curl_slist* headers, const std::string& url) {
  bool ok = true;
  auto set = [&ok](CURLcode code) { ok = ok && code == CURLE_OK; };
  set(curl_easy_setopt(easy, CURLOPT_URL, url.c_str()));
  set(curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L));
  set(curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L));
  set(curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, kAllowedProtocols));
  set(curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, kAllowedProtocols));
  set(curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L));
  set(curl_easy_setopt(easy, CURLOPT_MAXREDIRS, options.max_redirects));
  set(curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, options.connect_timeout_ms));
  set(curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, options.total_timeout_ms));
  set(curl_easy_setopt(easy, CURLOPT_USERAGENT, user_agent.c_str()));
  if (headers) set(curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers));
  if (options.netrc) {
    // Optional: a host the file does not name is asked without credentials, as without --netrc.
    set(curl_easy_setopt(easy, CURLOPT_NETRC, static_cast<long>(CURL_NETRC_OPTIONAL)));
    if (!options.netrc_file.empty())
      set(curl_easy_setopt(easy, CURLOPT_NETRC_FILE, options.netrc_file.c_str()));
  }
  // An empty list asks for every encoding this libcurl can decode, and decodes the answer.
  set(curl_easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, ""));
  set(curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L));
  set(curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L));
  if (!options.ca_file.empty()) {
    // The given file is the whole trust store: the system's certificates must not vouch too.
    set(curl_easy_setopt(easy, CURLOPT_CAINFO, options.ca_file.c_str()));
    set(curl_easy_setopt(easy, CURLOPT_CAPATH, nullptr));
  }
  return ok;
}

int StatusOf(std::string_view status_line) {
  size_t blank = status_line.find(' ');
  if (blank == std::string_view::npos || status_line.size() < blank + 4) return 0;
  int status = 0;
  for (char c : status_line.substr(blank + 1, 3)) {
    if (c < '0' || c > '9') return 0;
    status = status * 10 + (c - '0');
  }
  return status;
}

bool AnswerHead::Take(std::string_view line) {
  if (line.size() >= 5 && line.substr(0, 5) == "HTTP/") {
    *this = AnswerHead();
    any_answer_ = true;
    return true;
  }
  if (line == "\r\n" || line == "\n") {
    complete_ = true;
    return false;
  }
  if (auto type = HeaderValue(line, "Content-Type")) {
    content_type_ = std::string(*type);
  } else if (auto retry = HeaderValue(line, "Retry-After")) {
    retry_after_ = std::string(*retry);
  }
  const size_t colon = line.find(':');
  // A folded continuation line (one starting with a blank) carries no name of its own.
  if (colon != std::string_view::npos && colon > 0 && line[0] != ' ' && line[0] != '\t')
    fields_.emplace_back(AsciiLower(TrimHeaderBlanks(line.substr(0, colon))),
                         std::string(TrimHeaderBlanks(line.substr(colon + 1))));
  return false;
}

std::optional<long> AnswerHead::RetryAfterSeconds() const {
  if (retry_after_.empty()) return std::nullopt;
  if (retry_after_.find_first_not_of("0123456789") == std::string::npos) {
    long seconds = 0;
    for (char c : retry_after_) {
      seconds = seconds * 10 + (c - '0');
      if (seconds >= kLongestRetryAfter) return kLongestRetryAfter;
    }
    return seconds;
  }
  time_t when = curl_getdate(retry_after_.c_str(), nullptr);
  if (when == -1) return std::nullopt;
  time_t now = std::time(nullptr);
  if (when <= now) return 0L;
  return static_cast<long>(std::min<time_t>(when - now, kLongestRetryAfter));
}

}  // namespace voxtrel::curl
