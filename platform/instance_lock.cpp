#include "platform/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
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

namespace {

// A folder only this user may enter: owned by us, not a link, mode 0700.
bool IsPrivateFolder(const std::string& folder) {
  struct stat st {};
  if (::lstat(folder.c_str(), &st) != 0) return false;
  return S_ISDIR(st.st_mode) && st.st_uid == ::getuid() && (st.st_mode & 077) == 0;
}

}  // namespace

std::string PrivateRuntimeFolder() {
  const char* dir = std::getenv("XDG_RUNTIME_DIR");
  if (dir && *dir && IsPrivateFolder(dir)) return RuntimeFolder();
  // The temp folder is shared by all users: one folder of our own in it.
  const std::string folder = TempFolder() + "tolvane-" + std::to_string(::getuid());
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return {};
  return IsPrivateFolder(folder) ? folder + "/" : std::string();
}

std::string InstanceBasePath(const std::string& programName) {
  const std::string folder = PrivateRuntimeFolder();
  return folder.empty() ? std::string() : folder + programName;
}

bool PeerIsSameUser(int socketFd) {
  struct ucred cred {};
  socklen_t size = sizeof cred;
  if (::getsockopt(socketFd, SOL_SOCKET, SO_PEERCRED, &cred, &size) != 0) return false;
  return cred.uid == ::getuid();
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
