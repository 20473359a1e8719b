#include "engine/request_queue.h"

#include <algorithm>
#include <cmath>
#include <deque>
#include <list>
#include <map>
#include <set>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/http_pool.h"
#include "platform/text.h"
#include "web/answer_outcome.h"
#include "web/refresh_detector.h"

namespace voxtrel {
namespace {

using TimePoint = QueueClock::TimePoint;
using std::chrono::milliseconds;

class SteadyClock : public QueueClock {
 public:
  TimePoint Now() const override { return std::chrono::steady_clock::now(); }
  void SleepUntil(TimePoint until) override { std::this_thread::sleep_until(until); }
};

long MsUntil(TimePoint from, TimePoint to) {
  if (to <= from) return 0;
  // Rounded up, so a wait never ends just before what it waits for.
  return static_cast<long>(std::chrono::ceil<milliseconds>(to - from).count());
}

}  // namespace

QueueClock& SystemClock() {
  static SteadyClock clock;
  return clock;
}

QueueLimits LimitsOf(const RunSettings& settings) {
  QueueLimits limits;
  limits.jobs = std::max(1, settings.jobs);
  limits.per_host = std::max(1, settings.per_host);
  limits.retries = std::clamp(settings.retries, 0, kMaxRetries);
  limits.rate = std::max(0.0, settings.rate);
  limits.retry_after_default_ms = settings.retry_after_default_ms;
  limits.retry_after_cap_ms = settings.retry_after_cap_ms;
  return limits;
}

std::chrono::milliseconds RetryAfter(const HttpAnswer& answer, const QueueLimits& limits) {
  const long wait_ms =
      answer.retry_after_s ? *answer.retry_after_s * 1000 : limits.retry_after_default_ms;
  return milliseconds(std::min(wait_ms, limits.retry_after_cap_ms));
}

CheckOutcome OutcomeOf(const QueueAnswer& answer, const std::vector<std::pair<int, int>>& accept) {
  CheckOutcome outcome = AnswerOutcome(answer.answer, answer.refresh, accept);
  // A cached answer took no request of its own; the link's row counts the one it shares.
  outcome.tries = std::max(1, answer.tries);
  return outcome;
}

std::string HostKey(const std::string& url) {
  const size_t scheme_end = url.find("://");
  if (scheme_end == std::string::npos) return url;
  const std::string scheme = AsciiUpper(std::string_view(url).substr(0, scheme_end));
  const size_t start = scheme_end + 3;
  size_t end = url.find_first_of("/?#", start);
  if (end == std::string::npos) end = url.size();
  std::string authority = AsciiUpper(std::string_view(url).substr(start, end - start));
  const size_t at = authority.rfind('@');
  if (at != std::string::npos) authority.erase(0, at + 1);
  const bool has_port =
      authority.find(':', authority.rfind(']') == std::string::npos ? 0 : authority.rfind(']')) !=
      std::string::npos;
  if (!has_port) authority += scheme == "HTTPS" ? ":443" : ":80";
  return scheme + "://" + authority;
}

// One ask on its way to its answer.
struct Entry {
  Ticket ticket = 0;
  QueueAsk ask;
  std::string host;
  bool on_wire = false;
  bool blocked = false;  // an earlier ask of its key is not answered yet
  bool waited_429 = false;
  int retried = 0;
  int tries = 0;
  TimePoint not_before{};
  std::optional<TimePoint> started;
  /// Shared with the request's body sink, which may still be called after the entry is gone.
  std::shared_ptr<RefreshDetector> refresh;
};

struct RequestQueue::State {
  State(HttpPool& pool, QueueLimits limits, QueueClock& clock)
      : pool(pool), limits(limits), clock(clock) {}

  HttpPool& pool;
  const QueueLimits limits;
  QueueClock& clock;
  std::list<Entry> entries;  // in ask order
  std::map<Ticket, std::list<Entry>::iterator> by_ticket;
  std::map<Ticket, AnswerSink> sinks;  // of tickets not handed over or dropped
  std::unordered_map<std::string, std::deque<Ticket>> by_key;  // in ask order
  std::map<uint64_t, Ticket> on_wire;                          // request id → its ticket
  std::map<uint64_t, std::string> abandoned;  // dropped requests still on the wire → host
  std::map<std::string, int> host_load;
  std::set<std::string> slowed_hosts;
  std::set<std::string> answered_hosts;
  std::map<std::string, TimePoint> next_slot;  // the rate's next start to a host
  std::map<std::string, QueueAnswer> cache;
  std::vector<std::pair<Ticket, QueueAnswer>> ready;
  std::vector<std::pair<uint64_t, HttpAnswer>> finished;
  Ticket next_ticket = 1;
  uint64_t next_id = 1;

  int HostLimit(const std::string& host) const {
    return slowed_hosts.count(host) ? 1 : std::max(1, limits.per_host);
  }

  // The wait between two starts to one host under the rate; none without one.
  milliseconds RateSpacing() const {
    if (limits.rate <= 0) return milliseconds(0);
    return milliseconds(static_cast<long>(std::ceil(1000.0 / limits.rate)));
  }

  // Forgets the entry; the next ask of its key may go on.
  void Forget(std::list<Entry>::iterator it) {
    auto key = by_key.find(it->ask.key);
    std::deque<Ticket>& tickets = key->second;
    const bool first = tickets.front() == it->ticket;
    tickets.erase(std::find(tickets.begin(), tickets.end(), it->ticket));
    if (tickets.empty())
      by_key.erase(key);
    else if (first)
      by_ticket.at(tickets.front())->blocked = false;
    by_ticket.erase(it->ticket);
    entries.erase(it);
  }

  // Hands the entry's answer over at the next hand-over and forgets the entry.
  void Settle(std::list<Entry>::iterator it, QueueAnswer answer) {
    ready.emplace_back(it->ticket, std::move(answer));
    Forget(it);
  }

  // Starts what the limits allow, in ask order. A key is never asked twice at once: a later
  // ask of it waits until every earlier one has its answer, then may take that answer.
  void StartReady() {
    const TimePoint now = clock.Now();
    for (auto it = entries.begin(); it != entries.end();) {
      auto next = std::next(it);
      if (on_wire.size() + abandoned.size() >= static_cast<size_t>(std::max(1, limits.jobs)))
        return;
      Entry& entry = *it;
      if (entry.on_wire || entry.blocked || now < entry.not_before) {
        it = next;
        continue;
      }
      if (entry.ask.once && (!entry.ask.keep_body || entry.ask.body_optional) && entry.tries == 0) {
        auto known = cache.find(entry.ask.key);
        if (known != cache.end()) {
          QueueAnswer answer = known->second;
          answer.tries = 0;
          answer.cached = true;
          Settle(it, std::move(answer));
          it = next;
          continue;
        }
      }
      if (host_load[entry.host] < HostLimit(entry.host) && RateAllows(entry.host, now)) {
        if (!Start(entry, now)) {
          QueueAnswer answer;
          answer.no_request = true;
          answer.tries = entry.tries;
          Settle(it, std::move(answer));
        }
      }
      it = next;
    }
  }

  bool RateAllows(const std::string& host, TimePoint now) const {
    auto slot = next_slot.find(host);
    return slot == next_slot.end() || now >= slot->second;
  }

  bool Start(Entry& entry, TimePoint now) {
    const uint64_t id = next_id++;
    HttpRequest request;
    request.url = entry.ask.url;
    request.keep_body = entry.ask.keep_body;
    request.keep_pages_only = entry.ask.keep_pages_only;
    request.body_cap = entry.ask.body_cap;
    request.keep_cap = entry.ask.keep_cap;
    entry.refresh = std::make_shared<RefreshDetector>();
    request.on_body = [refresh = entry.refresh](std::string_view chunk) { refresh->Feed(chunk); };
    if (!pool.Start(id, std::move(request))) return false;
    entry.on_wire = true;
    ++entry.tries;
    if (!entry.started) entry.started = now;
    on_wire[id] = entry.ticket;
    ++host_load[entry.host];
    if (limits.rate > 0) next_slot[entry.host] = now + RateSpacing();
    return true;
  }

  // A failure that says "try again": the answer was cut short, a host that answered before
  // refused, or a gateway or the server itself said it is busy. A time-out or an unknown host
  // is not retried: a page of dead hosts must not cost more for it.
  bool Passing(const Entry& entry, const HttpAnswer& answer) const {
    if (answer.failure == HttpFailure::kCutOff) return true;
    if (answer.failure == HttpFailure::kRefused) return answered_hosts.count(entry.host) > 0;
    return answer.status == 502 || answer.status == 503 || answer.status == 504;
  }

  // Sends the entry back to wait when its answer is to be asked again; false when it stands.
  bool AskAgain(Entry& entry, const HttpAnswer& answer, TimePoint now) {
    if (answer.status == 429 && !entry.waited_429) {
      // Too many requests is the server asking us to slow down, not a dead link: wait as it
      // says, ask once more, and ask that host one thing at a time from now on.
      entry.waited_429 = true;
      entry.not_before = now + RetryAfter(answer, limits);
      slowed_hosts.insert(entry.host);
      return true;
    }
    if (entry.retried >= limits.retries || !Passing(entry, answer)) return false;
    const long backoff = limits.backoff_ms << std::min(entry.retried, 30);
    ++entry.retried;
    entry.not_before =
        now + milliseconds(std::min(answer.retry_after_s ? *answer.retry_after_s * 1000 : backoff,
                                    limits.retry_after_cap_ms));
    return true;
  }

  void Finish(uint64_t id, HttpAnswer& answer) {
    if (auto dropped = abandoned.find(id); dropped != abandoned.end()) {
      --host_load[dropped->second];
      abandoned.erase(dropped);
      return;
    }
    auto found = on_wire.find(id);
    if (found == on_wire.end()) return;
    const auto it = by_ticket.at(found->second);
    on_wire.erase(found);
    Entry& entry = *it;
    entry.on_wire = false;
    --host_load[entry.host];
    const TimePoint now = clock.Now();
    const bool again = AskAgain(entry, answer, now);
    if (answer.status || answer.failure == HttpFailure::kCutOff) answered_hosts.insert(entry.host);
    if (again) return;
    QueueAnswer done;
    done.answer = std::move(answer);
    done.refresh = entry.refresh->IsRefresh();
    done.tries = entry.tries;
    if (entry.ask.once || entry.ask.keep_body) {
      QueueAnswer& cached = cache[entry.ask.key] = done;
      cached.answer.body.clear();
      cached.answer.body.shrink_to_fit();
      cached.answer.headers.clear();
      cached.answer.headers.shrink_to_fit();
    }
    Settle(it, std::move(done));
  }

  // When the next entry kept waiting by time (a 429 wait, a back-off, a rate slot) may start;
  // those due already wait for a slot, which only an answer frees.
  std::optional<TimePoint> NextDue(TimePoint now) const {
    std::optional<TimePoint> due;
    for (const Entry& entry : entries) {
      if (entry.on_wire) continue;
      TimePoint at = entry.not_before;
      if (auto slot = next_slot.find(entry.host); slot != next_slot.end())
        at = std::max(at, slot->second);
      if (at > now && (!due || at < *due)) due = at;
    }
    return due;
  }

  void HandOver() {
    std::vector<std::pair<Ticket, QueueAnswer>> handed;
    handed.swap(ready);
    for (auto& [ticket, answer] : handed) {
      auto found = sinks.find(ticket);
      if (found == sinks.end()) continue;  // dropped by an earlier sink
      AnswerSink sink = std::move(found->second);
      sinks.erase(found);
      // A sink may ask, drop or remember: nothing here is held across the call.
      if (sink) sink(ticket, answer);
    }
  }
};

RequestQueue::RequestQueue(HttpPool& pool, QueueLimits limits, QueueClock& clock)
    : state_(std::make_unique<State>(pool, limits, clock)) {}

RequestQueue::~RequestQueue() { state_->pool.CancelAll(); }

Ticket RequestQueue::Ask(QueueAsk ask, AnswerSink sink) {
  State& s = *state_;
  Entry& entry = s.entries.emplace_back();
  entry.ticket = s.next_ticket++;
  if (ask.key.empty()) ask.key = ask.url;
  entry.host = HostKey(ask.url);
  entry.ask = std::move(ask);
  s.sinks[entry.ticket] = std::move(sink);
  std::deque<Ticket>& same_key = s.by_key[entry.ask.key];
  entry.blocked = !same_key.empty();
  same_key.push_back(entry.ticket);
  s.by_ticket[entry.ticket] = std::prev(s.entries.end());
  return entry.ticket;
}

void RequestQueue::Drop(Ticket ticket) {
  State& s = *state_;
  s.sinks.erase(ticket);
  s.ready.erase(std::remove_if(s.ready.begin(), s.ready.end(),
                               [ticket](const auto& r) { return r.first == ticket; }),
                s.ready.end());
  auto found = s.by_ticket.find(ticket);
  if (found == s.by_ticket.end()) return;
  for (auto it = s.on_wire.begin(); it != s.on_wire.end(); ++it) {
    if (it->second != ticket) continue;
    // Its answer still comes and frees the slot then.
    s.abandoned[it->first] = found->second->host;
    s.on_wire.erase(it);
    break;
  }
  s.Forget(found->second);
}

void RequestQueue::Remember(const std::string& key, const QueueAnswer& answer) {
  QueueAnswer& cached = state_->cache[key] = answer;
  cached.answer.body.clear();
  cached.answer.headers.clear();
}

void RequestQueue::Pump(int slice_ms) {
  State& s = *state_;
  s.StartReady();
  if (s.ready.empty()) {
    const TimePoint now = s.clock.Now();
    const std::optional<TimePoint> due = s.NextDue(now);
    long wait_ms = std::max(0, slice_ms);
    if (due) wait_ms = std::min(wait_ms, MsUntil(now, *due));
    if (!s.on_wire.empty() || !s.abandoned.empty()) {
      s.finished.clear();
      s.pool.Wait(static_cast<int>(wait_ms), &s.finished);
      for (auto& [id, answer] : s.finished) s.Finish(id, answer);
      s.StartReady();
    } else if (due) {
      // Nothing on the wire but a wait: slept in slices so the caller stays alive.
      s.clock.SleepUntil(now + milliseconds(wait_ms));
      s.StartReady();
    }
  }
  s.HandOver();
}

size_t RequestQueue::Outstanding() const { return state_->sinks.size(); }

size_t RequestQueue::InFlight() const { return state_->on_wire.size() + state_->abandoned.size(); }

std::optional<QueueClock::TimePoint> RequestQueue::StartedAt(Ticket ticket) const {
  auto found = state_->by_ticket.find(ticket);
  if (found == state_->by_ticket.end()) return std::nullopt;
  return found->second->started;
}

QueueClock& RequestQueue::clock() const { return state_->clock; }

}  // namespace voxtrel
