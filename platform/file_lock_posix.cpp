#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/errors.h"
#include "platform/lock_file.h"

namespace lock_file {
namespace {

[[noreturn]] void Fail(const std::string& path, int err) {
  throw EFileError("Cannot lock \"" + path + "\": " + std::strerror(err));
}

}  // namespace

THandle Open(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) Fail(path, errno);
  return fd;
}

bool TryLock(THandle file, const std::string& path) {
  for (;;) {
    if (::flock(static_cast<int>(file), LOCK_EX | LOCK_NB) == 0) return true;
    if (errno == EWOULDBLOCK) return false;
    if (errno != EINTR) Fail(path, errno);
  }
}

void Close(THandle file) { ::close(static_cast<int>(file)); }

}  // namespace lock_file
