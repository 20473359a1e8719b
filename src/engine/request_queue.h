#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "engine/run_settings.h"
#include "platform/http_answer.h"
#include "web/link.h"

namespace voxtrel {

class HttpPool;

/// Time as the request queue sees it: the system's steady clock in a run, virtual time in tests,
/// so no test waits out a 429, a back-off or a rate for real.
class QueueClock {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;
  virtual ~QueueClock() = default;
  virtual TimePoint Now() const = 0;
  /// Called when nothing is on the wire and the next request may start only at `until`.
  virtual void SleepUntil(TimePoint until) = 0;
};

/// The steady clock; sleeps for real.
QueueClock& SystemClock();

/// What the queue holds every request of a run to.
struct QueueLimits {
  int jobs = kDefaultJobs;          // requests in flight at once
  int per_host = kDefaultPerHost;   // of those, to one host (HostKey)
  int retries = kDefaultRetries;    // passing failures asked again at most so many times
  double rate = 0;                  // requests started per second to one host; 0: no limit
  long retry_after_default_ms = 2000;  // a 429 without Retry-After is waited out so long
  long retry_after_cap_ms = 30000;     // no wait (429 or back-off) is longer
  long backoff_ms = 1000;              // the first retry's back-off; doubled each time
};

/// The limits a run's settings ask for.
QueueLimits LimitsOf(const RunSettings& settings);

/// What a client asks of the web.
struct QueueAsk {
  std::string url;  // what is requested, as sent
  /// What the address is known by: never two requests for one key at once, and the cache is
  /// kept by it. "" is the url.
  std::string key;
  bool keep_body = false;        // the answer carries the body (a page, a robots.txt)
  bool keep_pages_only = false;  // with keep_body: only an HTML page's or style sheet's
  size_t body_cap = 0;           // 0: the pool's cap
  /// May take the answer the key already has (each address asked once). A body is never
  /// taken from the cache: an ask with keep_body is always asked, unless body_optional. The
  /// answer of an ask with once or keep_body is cached (without its body and headers).
  bool once = false;
  /// With keep_body and once: an answer from the cache, without body or headers, will do.
  bool body_optional = false;
  size_t keep_cap = 0;  // with keep_body: the most body bytes stored (0: body_cap)
};

/// What a ticket comes to.
struct QueueAnswer {
  HttpAnswer answer;
  bool refresh = false;      // the body holds a refresh page (watched on every request)
  int tries = 1;             // requests it took; 0 for a cached answer or no request
  bool no_request = false;   // no request could be created for it: `answer` says nothing
  bool cached = false;       // taken from the answer of an earlier ask of the key
};

using Ticket = uint64_t;
using AnswerSink = std::function<void(Ticket, QueueAnswer&)>;

/// The only road to the web: every request of a run goes through one queue, which owns the
/// request ids, the limits in all and per host, the per-host rate, the merging of asks of one
/// address, the cache of answers, 429 waits and retries, and the body sinks. Clients ask and
/// get a ticket; each answer is handed to the sink given with its ask, from inside Pump.
/// Asks are started in the order they were made, as far as the limits allow.
class RequestQueue {
 public:
  RequestQueue(HttpPool& pool, QueueLimits limits, QueueClock& clock = SystemClock());
  ~RequestQueue();  // abandons whatever is on the wire
  RequestQueue(const RequestQueue&) = delete;
  RequestQueue& operator=(const RequestQueue&) = delete;

  Ticket Ask(QueueAsk ask, AnswerSink sink);
  /// The ticket's answer is no longer wanted: never handed over. A request on the wire for it
  /// still holds its slot until it ends.
  void Drop(Ticket ticket);
  /// Gives `key` an answer known without asking (a start page fetched before, where a
  /// redirect ended): a later ask of it with `once` takes it.
  void Remember(const std::string& key, const QueueAnswer& answer);

  /// Starts what the limits allow, then hands over what is answered: at once when something
  /// is (a cached answer, a failed start), else after waiting at most `slice_ms` for the
  /// network or for the next 429 wait, back-off or rate slot to end.
  void Pump(int slice_ms);
  /// Tickets asked and not yet handed over or dropped.
  size_t Outstanding() const;
  /// Requests on the wire, dropped ones included.
  size_t InFlight() const;
  /// When the ticket's first request started; nothing before it started or once handed over.
  std::optional<QueueClock::TimePoint> StartedAt(Ticket ticket) const;
  QueueClock& clock() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

/// How long to wait before asking again after a 429 answer: its Retry-After, else the
/// default, at most the cap.
std::chrono::milliseconds RetryAfter(const HttpAnswer& answer, const QueueLimits& limits);

/// Scheme, host and port of an address, upper-cased, the port filled in: what the per-host
/// limit and rate count by.
std::string HostKey(const std::string& url);

/// What an answer the queue handed over comes to for a link, with the requests it took; the
/// statuses `accept` names count as answered (empty: 200-299).
CheckOutcome OutcomeOf(const QueueAnswer& answer,
                       const std::vector<std::pair<int, int>>& accept = {});

}  // namespace voxtrel
