#pragma once

// The requests a server has in progress over time: the server process logs when each one starts
// and ends in memory it shares with the measuring process, which then tells how many of a
// checker's connection slots to that host were busy, on average and through the run.

#include <sys/mman.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <vector>

namespace voxtrel::bench {

struct SlotEvent {
  int64_t ns;  // steady clock, which both processes share
  int delta;   // +1 a request began, -1 it was answered
};

inline int64_t SteadyNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

class SlotLog {
 public:
  /// Must be made before the server process is forked, so both see the same memory.
  SlotLog() {
    void* shared =
        mmap(nullptr, sizeof(Shared), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (shared == MAP_FAILED) {
      std::perror("mmap");
      std::exit(1);
    }
    shared_ = new (shared) Shared;
  }
  ~SlotLog() { munmap(shared_, sizeof(Shared)); }
  SlotLog(const SlotLog&) = delete;
  SlotLog& operator=(const SlotLog&) = delete;

  void Began() { Add(+1); }
  void Answered() { Add(-1); }
  void Reset() { shared_->count.store(0); }
  /// What was logged since the last Reset(), in time order.
  std::vector<SlotEvent> Events() const {
    const uint32_t count = std::min<uint32_t>(shared_->count.load(), kCapacity);
    std::vector<SlotEvent> events(shared_->events, shared_->events + count);
    std::stable_sort(events.begin(), events.end(),
                     [](const SlotEvent& a, const SlotEvent& b) { return a.ns < b.ns; });
    return events;
  }
  bool Overflowed() const { return shared_->count.load() > kCapacity; }

 private:
  static constexpr uint32_t kCapacity = 1 << 16;  // a run of the benchmark's sites needs ~2500
  struct Shared {
    std::atomic<uint32_t> count{0};
    SlotEvent events[kCapacity];
  };

  void Add(int delta) {
    const uint32_t at = shared_->count.fetch_add(1);
    if (at < kCapacity) shared_->events[at] = {SteadyNs(), delta};
  }

  Shared* shared_ = nullptr;
};

constexpr int kSlotBuckets = 10;

struct SlotUse {
  double average = 0;                 // busy slots averaged over the whole run
  int peak = 0;                       // most requests in progress at once
  double full = 0;                    // share of the run with every slot busy
  double first_s = 0;                 // when the first request began, from the run's start
  double last_s = 0;                  // when the last answer was made, from the run's start
  double buckets[kSlotBuckets] = {};  // busy slots averaged over each tenth of the run
};

/// How busy the server was between `start_ns` and `end_ns` (the checker's run), from `events`
/// in time order.
inline SlotUse MeasureSlotUse(const std::vector<SlotEvent>& events, int64_t start_ns,
                              int64_t end_ns, int slots) {
  SlotUse use;
  const int64_t run = std::max<int64_t>(end_ns - start_ns, 1);
  auto bound = [&](int bucket) { return start_ns + run * bucket / kSlotBuckets; };
  int busy = 0;
  int64_t from = start_ns;
  // Each stretch between two events had `busy` requests in progress throughout. Whole
  // nanoseconds, so no rounding can keep a stretch from being used up.
  auto account = [&](int64_t to) {
    to = std::clamp(to, start_ns, end_ns);
    if (to <= from) return;
    if (busy >= slots) use.full += static_cast<double>(to - from) / run;
    use.average += static_cast<double>(busy) * (to - from) / run;
    for (int bucket = 0; bucket < kSlotBuckets; ++bucket) {
      const int64_t low = std::max(from, bound(bucket)), high = std::min(to, bound(bucket + 1));
      if (high > low)
        use.buckets[bucket] +=
            static_cast<double>(busy) * (high - low) / (bound(bucket + 1) - bound(bucket));
    }
    from = to;
  };
  if (!events.empty()) {
    use.first_s = static_cast<double>(events.front().ns - start_ns) / 1e9;
    use.last_s = static_cast<double>(events.back().ns - start_ns) / 1e9;
  }
  for (const SlotEvent& event : events) {
    account(event.ns);
    busy += event.delta;
    use.peak = std::max(use.peak, busy);
  }
  account(end_ns);
  return use;
}

}  // namespace voxtrel::bench
