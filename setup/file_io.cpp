#include "setup/file_io.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "setup/wrap_error.h"

namespace wrap {

UniqueFd& UniqueFd::operator=(UniqueFd&& o) noexcept {
  if (this != &o) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = o.Release();
  }
  return *this;
}

UniqueFd::~UniqueFd() {
  if (fd_ >= 0) ::close(fd_);
}

void UniqueFd::Close() {
  int fd = Release();
  if (fd >= 0 && ::close(fd) != 0 && errno != EINTR) throw EWrapError(errno);
}

Bytes ReadWholeFile(const std::string& path) {
  UniqueFd fd = OpenRead(path);
  Bytes data;
  struct stat st {};
  if (::fstat(fd.Get(), &st) == 0 && S_ISREG(st.st_mode))
    data.reserve(static_cast<std::size_t>(st.st_size));
  std::uint8_t buf[1 << 16];
  for (;;) {
    ssize_t n = ::read(fd.Get(), buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw EWrapError(errno, path);
    }
    if (n == 0) break;
    data.insert(data.end(), buf, buf + n);
  }
  return data;
}

std::size_t ReadSome(int fd, std::uint8_t* out, std::size_t size) {
  for (;;) {
    const ssize_t n = ::read(fd, out, size);
    if (n >= 0) return static_cast<std::size_t>(n);
    if (errno != EINTR) throw EWrapError(errno);
  }
}

void WriteAll(int fd, ByteView data) {
  const std::uint8_t* p = data.data();
  std::size_t left = data.size();
  while (left > 0) {
    ssize_t n = ::write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw EWrapError(errno);
    }
    if (n == 0) throw EWrapError(ENOSPC);
    p += n;
    left -= static_cast<std::size_t>(n);
  }
}

void WriteWholeFile(const std::string& path, ByteView data, unsigned mode) {
  UniqueFd fd = CreateFile(path, mode);
  WriteAll(fd.Get(), data);
  fd.Close();
}

}  // namespace wrap
