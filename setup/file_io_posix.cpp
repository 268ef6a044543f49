#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "setup/file_io.h"
#include "setup/wrap_error.h"

namespace wrap {

UniqueFd OpenRead(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw EWrapError(errno, path);
  return UniqueFd(fd);
}

UniqueFd CreateFile(const std::string& path, unsigned mode) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW,
                  static_cast<mode_t>(mode));
  if (fd < 0) throw EWrapError(errno, path);
  return UniqueFd(fd);
}

std::uint64_t FileSize(int fd, const std::string& path) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) throw EWrapError(errno, path);
  return static_cast<std::uint64_t>(st.st_size);
}

void ReadAllAt(int fd, std::uint64_t offset, std::uint8_t* out, std::size_t size) {
  while (size > 0) {
    ssize_t n = ::pread(fd, out, size, static_cast<off_t>(offset));
    if (n < 0) {
      if (errno == EINTR) continue;
      throw EWrapError(errno);
    }
    if (n == 0) ThrowInvalidData("file ends early");
    out += n;
    offset += static_cast<std::uint64_t>(n);
    size -= static_cast<std::size_t>(n);
  }
}

}  // namespace wrap
