#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "mail/stream_files.h"

namespace stream_files {

THandle Open(const std::string& name, TFileMode mode) {
  int flags = O_CLOEXEC;
  switch (mode) {
    case TFileMode::fmCreate:
      flags |= O_RDWR | O_CREAT | O_TRUNC;
      break;
    case TFileMode::fmOpenRead:
      flags |= O_RDONLY;
      break;
    case TFileMode::fmOpenReadWrite:
      flags |= O_RDWR;
      break;
  }
  const int fd = ::open(name.c_str(), flags, 0644);
  if (fd < 0) return kNone;
  struct stat st {};
  if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fd);
    return kNone;
  }
  return fd;
}

THandle CreateTemp(std::string& name) {
  std::string dir;
  if (const char* t = std::getenv("TMPDIR"); t != nullptr && *t != '\0') dir = t;
  if (dir.empty()) dir = "/tmp";
  if (dir.back() != '/') dir += '/';
  name = dir + "msXXXXXX";
  std::vector<char> buf(name.begin(), name.end());
  buf.push_back('\0');
  const int fd = ::mkstemp(buf.data());
  if (fd < 0) return kNone;
  ::fcntl(fd, F_SETFD, FD_CLOEXEC);
  name = buf.data();
  return fd;
}

std::ptrdiff_t Read(THandle file, void* buffer, std::size_t count) {
  for (;;) {
    const ssize_t n = ::read(static_cast<int>(file), buffer, count);
    if (n >= 0 || errno != EINTR) return n;
  }
}

std::ptrdiff_t Write(THandle file, const void* buffer, std::size_t count) {
  for (;;) {
    const ssize_t n = ::write(static_cast<int>(file), buffer, count);
    if (n >= 0 || errno != EINTR) return n;
  }
}

std::int64_t Seek(THandle file, std::int64_t offset, TSeekOrigin origin) {
  const int whence = origin == TSeekOrigin::soBeginning ? SEEK_SET
                     : origin == TSeekOrigin::soCurrent ? SEEK_CUR
                                                        : SEEK_END;
  return ::lseek(static_cast<int>(file), static_cast<off_t>(offset), whence);
}

std::int64_t Size(THandle file) {
  struct stat st {};
  if (::fstat(static_cast<int>(file), &st) != 0) return -1;
  return st.st_size;
}

bool Truncate(THandle file, std::int64_t size) {
  return ::ftruncate(static_cast<int>(file), static_cast<off_t>(size)) == 0;
}

void Close(THandle file) { ::close(static_cast<int>(file)); }

void Remove(const std::string& name) { ::unlink(name.c_str()); }

}  // namespace stream_files
