#pragma once

#include <algorithm>
#include <chrono>

#include "engine/request_queue.h"
#include "support/fake_pool.h"

namespace voxtrel::test {

/// The virtual time of a FakePool as the request queue's clock: a sleep moves it forward.
class FakeClock : public QueueClock {
 public:
  explicit FakeClock(FakePool& pool) : pool_(pool) {}
  TimePoint Now() const override { return TimePoint() + std::chrono::milliseconds(pool_.now_ms); }
  void SleepUntil(TimePoint until) override {
    ++sleeps;
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(until - TimePoint()).count();
    pool_.now_ms = std::max(pool_.now_ms, static_cast<long>(ms));
  }
  int sleeps = 0;

 private:
  FakePool& pool_;
};

}  // namespace voxtrel::test
