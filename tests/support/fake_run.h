#pragma once

#include <gtest/gtest.h>

#include "engine/check_loop.h"
#include "support/fake_clock.h"
#include "support/fake_disk.h"
#include "support/fake_pool.h"
#include "support/recording_view.h"

namespace voxtrel::test {

/// A run's seams, all fakes: what a test of a whole run starts from.
class FakeRunTest : public ::testing::Test {
 protected:
  RecordingView view_;
  FakeDisk disk_;
  FakePool pool_;
  ResultList results_;
  RunSettings settings_;
  AbortSignal abort_;
  FakeClock clock_{pool_};
  const RunSeams seams_{view_, disk_, pool_, results_, abort_, &clock_};
};

}  // namespace voxtrel::test
