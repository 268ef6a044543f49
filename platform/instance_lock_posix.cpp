#include "platform/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "platform/folders.h"

namespace {

// A folder only this user may enter: owned by us, not a link, mode 0700.
bool IsPrivateFolder(const std::string& folder) {
  struct stat st {};
  if (::lstat(folder.c_str(), &st) != 0) return false;
  return S_ISDIR(st.st_mode) && st.st_uid == ::getuid() && (st.st_mode & 077) == 0;
}

// Nobody but this user (and root) can rename, replace or repoint any step
// of `path`: each step belongs to us or root, and a folder others may write
// to is sticky (as /tmp is), so they cannot move what is ours in it.
bool NoOtherUserOnTheWay(const std::string& path) {
  for (std::size_t end = path.find('/', 1);; end = path.find('/', end + 1)) {
    const std::string step = path.substr(0, end);
    struct stat st {};
    if (!step.empty() && step.back() != '/') {
      if (::lstat(step.c_str(), &st) != 0) return false;
      if (st.st_uid != ::getuid() && st.st_uid != 0) return false;
      if (S_ISDIR(st.st_mode) && (st.st_mode & 022) != 0 && (st.st_mode & S_ISVTX) == 0) {
        return false;
      }
    }
    if (end == std::string::npos) return true;
  }
}

// The user's state folder, made 0700: unlike the temp folder, nobody else can
// make it first. Links on the way are followed, so both the path as written
// and the one it leads to are checked.
std::string PrivateStateFolder() {
  std::string folder = StateFolder();
  if (!MakeFolders(folder, 0700)) return {};
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  char real[PATH_MAX];
  if (::realpath(folder.c_str(), real) == nullptr) return {};
  if (!NoOtherUserOnTheWay(folder) || !NoOtherUserOnTheWay(real)) return {};
  return IsPrivateFolder(real) ? std::string(real) + "/" : std::string();
}

}  // namespace

std::string PrivateRuntimeFolder() {
  const char* dir = std::getenv("XDG_RUNTIME_DIR");
  if (dir && *dir && IsPrivateFolder(dir)) {
    std::string folder = dir;
    if (folder.back() != '/') folder += '/';
    return folder;
  }
  return PrivateStateFolder();
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
  if (path.empty()) {
    error_ = "no folder of this user's own for it (" + StateFolder() +
             " cannot be made, is not of mode 0700, or another user may change a folder "
             "above it)";
    return;
  }
  fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd_ < 0) {
    error_ = path + ": " + std::strerror(errno);
    return;
  }
  if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) {
    state_ = State::Held;
    return;
  }
  const int err = errno;
  state_ = (err == EWOULDBLOCK) ? State::HeldByOther : State::Failed;
  if (state_ == State::Failed) error_ = path + ": " + std::strerror(err);
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
