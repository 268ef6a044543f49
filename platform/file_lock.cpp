#include "platform/file_lock.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>

#include "platform/errors.h"
#include "platform/lock_file.h"

namespace {

struct THold {
  lock_file::THandle file = -1;
  int count = 0;
};

// The lock belongs to an open file: a second open in this process would
// wait for the first, so holds are counted per path instead.
std::mutex g_mutex;
std::map<std::string, THold>& Holds() {
  static std::map<std::string, THold> holds;
  return holds;
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
  const lock_file::THandle file = lock_file::Open(path);
  try {
    while (!lock_file::TryLock(file, path)) {
      if (wait && !wait())
        throw EFileError("Cannot lock \"" + path + "\": " + std::strerror(EBUSY));
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  } catch (...) {
    lock_file::Close(file);
    throw;
  }
  std::lock_guard guard(g_mutex);
  Holds()[path] = {file, 1};
}

TFileLock::~TFileLock() {
  std::lock_guard guard(g_mutex);
  auto it = Holds().find(path_);
  if (it == Holds().end() || --it->second.count > 0) return;
  // The file stays: removing it could let two processes lock two files.
  lock_file::Close(it->second.file);
  Holds().erase(it);
}
