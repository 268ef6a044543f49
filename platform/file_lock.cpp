#include "platform/file_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>

#include "platform/errors.h"

namespace {

struct THold {
  int fd = -1;
  int count = 0;
};

// flock belongs to an open file: a second open in this process would wait
// for the first, so holds are counted per path instead.
std::mutex g_mutex;
std::map<std::string, THold>& Holds() {
  static std::map<std::string, THold> holds;
  return holds;
}

[[noreturn]] void Fail(const std::string& path, int err) {
  throw EFileError("Cannot lock \"" + path + "\": " + std::strerror(err));
}

}  // namespace

TFileLock::TFileLock(const std::string& path, const std::function<bool()>& wait) : path_(path) {
  {
    std::lock_guard guard(g_mutex);
    if (auto it = Holds().find(path); it != Holds().end()) {
      ++it->second.count;
      return;
    }
  }
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) Fail(path, errno);
  while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int err = errno;
    if (err == EINTR) continue;
    if (err != EWOULDBLOCK || (wait && !wait())) {
      ::close(fd);
      Fail(path, err == EWOULDBLOCK ? EBUSY : err);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  std::lock_guard guard(g_mutex);
  Holds()[path] = {fd, 1};
}

TFileLock::~TFileLock() {
  std::lock_guard guard(g_mutex);
  auto it = Holds().find(path_);
  if (it == Holds().end() || --it->second.count > 0) return;
  // The file stays: removing it could let two processes lock two files.
  ::close(it->second.fd);
  Holds().erase(it);
}
