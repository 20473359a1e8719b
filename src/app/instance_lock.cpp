#include "app/instance_lock.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "platform/disk.h"

namespace voxtrel {

InstanceLock::~InstanceLock() {
  if (fd_ >= 0) ::close(fd_);
}

bool InstanceLock::Acquire(const std::string& folder) {
  path_ = JoinPath(folder, kInstanceLockName);
  int fd = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  // flock needs no write access, so a lock file left read-only still works.
  if (fd < 0) fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    // No lock can be taken in a folder we cannot write (nor can another instance take one);
    // refusing to start would lock the user out of the program for good.
    unlockable_ = true;
    return true;
  }
  int rc;
  do {
    rc = ::flock(fd, LOCK_EX | LOCK_NB);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    ::close(fd);
    return false;
  }
  fd_ = fd;
  return true;
}

void InstanceLock::ReleaseAndRemove() {
  if (fd_ < 0) return;
  ::unlink(path_.c_str());
  ::close(fd_);
  fd_ = -1;
}

}  // namespace voxtrel
