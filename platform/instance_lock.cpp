#include "platform/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/folders.h"

std::string RuntimeFolder() {
  const char* dir = std::getenv("XDG_RUNTIME_DIR");
  if (dir && *dir) {
    std::string folder = dir;
    if (folder.back() != '/') folder += '/';
    return folder;
  }
  return TempFolder();
}

std::string InstanceBasePath(const std::string& programName) {
  const char* dir = std::getenv("XDG_RUNTIME_DIR");
  if (dir && *dir) return RuntimeFolder() + programName;
  // The temp folder is shared by all users: keep one lock per user.
  return TempFolder() + programName + "-" + std::to_string(::getuid());
}

InstanceLock::InstanceLock(const std::string& path) : path_(path) {
  fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd_ < 0) {
    state_ = State::Failed;
    return;
  }
  if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) {
    state_ = State::Held;
    return;
  }
  state_ = (errno == EWOULDBLOCK) ? State::HeldByOther : State::Failed;
  ::close(fd_);
  fd_ = -1;
}

InstanceLock::~InstanceLock() { Release(); }

void InstanceLock::Release() {
  if (fd_ >= 0) {
    // The file stays: removing it could let two later starts lock two files.
    ::close(fd_);
    fd_ = -1;
  }
}
