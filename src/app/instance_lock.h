#pragma once

#include <string>

namespace voxtrel {

inline constexpr const char* kInstanceLockName = "Voxtrel.lock";

/// The single-instance lock: an exclusive flock on a file in the program folder. The kernel
/// drops it when the holding process ends in any way, so a killed instance never leaves a lock
/// that blocks the next start.
class InstanceLock {
 public:
  InstanceLock() = default;
  ~InstanceLock();
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;

  /// Takes the lock in `folder`; false when another process (or another InstanceLock) holds it.
  /// A folder where no lock file can be made counts as free: the program still starts.
  bool Acquire(const std::string& folder);
  /// Removes the lock file while still holding it, then lets go; used at the very end.
  void ReleaseAndRemove();
  bool held() const { return fd_ >= 0 || unlockable_; }

 private:
  int fd_ = -1;
  bool unlockable_ = false;
  std::string path_;
};

}  // namespace voxtrel
