#pragma once

// What every libcurl GET in this layer shares: global set-up, the address check, the options and
// the reading of each answer's head. Only the platform layer includes this.

#include <curl/curl.h>

#include <optional>
#include <string>
#include <string_view>

#include "platform/http_answer.h"
#include "platform/http_options.h"

namespace voxtrel::curl {

/// True once libcurl's global state is set up; false when it could not be.
bool Ready();

/// True for an address a GET may be sent to: no NUL, and parsed by libcurl as it stands with an
/// explicit http or https scheme.
bool IsRequestableUrl(const std::string& url);

/// The User-Agent `options` ask for: their own, or "Voxtrel/<version>" when empty.
std::string UserAgentOf(const HttpOptions& options);

/// The extra header lines of `options` as libcurl takes them; null when there are none (or no
/// memory for them). The caller frees the list with curl_slist_free_all.
curl_slist* HeaderListOf(const HttpOptions& options);

/// Sets on a fresh (or reset) handle everything a GET of `url` needs but the callbacks: the
/// allowed protocols, redirects, time-outs, User-Agent, extra headers, .netrc, decoding and
/// certificate store. `user_agent` and `headers` (HeaderListOf; may be null) must outlive the
/// transfer. False when libcurl refused an option.
bool ConfigureGet(CURL* easy, const HttpOptions& options, const std::string& user_agent,
                  curl_slist* headers, const std::string& url);

/// The head of the latest answer, read line by line as libcurl hands the lines over. libcurl
/// gives every answer's head in turn (interim 1xx ones, redirects): a status line starts afresh.
/// The status code of an HTTP status line ("HTTP/1.1 301 Moved"); 0 when it has none.
int StatusOf(std::string_view status_line);

class AnswerHead {
 public:
  /// Takes one header line, line end included; true when it starts a new answer.
  bool Take(std::string_view line);
  /// Whether the blank line ending the head arrived. libcurl reports a connection closed in the
  /// middle of the head as a complete answer without a body; it is none.
  bool complete() const { return complete_; }
  /// Whether any status line arrived at all.
  bool any_answer() const { return any_answer_; }
  /// The Content-Type value as sent, without surrounding blanks; "" when none.
  const std::string& content_type() const { return content_type_; }
  /// The Retry-After value in seconds from now (an HTTP date in the past gives 0); nothing when
  /// absent or unreadable.
  std::optional<long> RetryAfterSeconds() const;
  /// The latest answer's header fields: names in lower case, values trimmed.
  const HeaderFields& fields() const { return fields_; }
  HeaderFields TakeFields() { return std::move(fields_); }

 private:
  bool complete_ = false;
  bool any_answer_ = false;
  std::string content_type_;
  std::string retry_after_;
  HeaderFields fields_;
};

}  // namespace voxtrel::curl
