#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cerrno>

#include "setup/file_io.h"
#include "setup/wide.h"
#include "setup/wrap_error.h"

namespace wrap {

// Binary always (msvcrt opens text mode otherwise), and never inherited by
// SETUP.EXE.
UniqueFd OpenRead(const std::string& path) {
  int fd = ::_wopen(Wide(path).c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
  if (fd < 0) throw EWrapError(errno, path);
  return UniqueFd(fd);
}

UniqueFd CreateFile(const std::string& path, unsigned) {
  int fd = ::_wopen(Wide(path).c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY | _O_NOINHERIT,
                    _S_IREAD | _S_IWRITE);
  if (fd < 0) throw EWrapError(errno, path);
  return UniqueFd(fd);
}

std::uint64_t FileSize(int fd, const std::string& path) {
  const __int64 size = ::_filelengthi64(fd);
  if (size < 0) throw EWrapError(errno, path);
  return static_cast<std::uint64_t>(size);
}

// No pread in msvcrt: seek, then read. Nothing reads one descriptor from
// its position and at offsets both.
void ReadAllAt(int fd, std::uint64_t offset, std::uint8_t* out, std::size_t size) {
  if (::_lseeki64(fd, static_cast<__int64>(offset), SEEK_SET) < 0) throw EWrapError(errno);
  while (size > 0) {
    const unsigned piece = size > (1u << 30) ? (1u << 30) : static_cast<unsigned>(size);
    const int n = ::_read(fd, out, piece);
    if (n < 0) throw EWrapError(errno);
    if (n == 0) ThrowInvalidData("file ends early");
    out += n;
    size -= static_cast<std::size_t>(n);
  }
}

}  // namespace wrap
