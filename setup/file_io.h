// Small file helpers over C runtime descriptors (UTF-8 paths); failures
// throw EWrapError with errno.
#pragma once

#include <string>

#include "setup/bytes.h"
#include "setup/unique_fd.h"

namespace wrap {

UniqueFd OpenRead(const std::string& path);
// Creates or truncates; never follows a symbolic link at the last component.
UniqueFd CreateFile(const std::string& path, unsigned mode = 0644);

Bytes ReadWholeFile(const std::string& path);
std::uint64_t FileSize(int fd, const std::string& path);
// Up to size bytes from the file position; 0 at its end.
std::size_t ReadSome(int fd, std::uint8_t* out, std::size_t size);
void ReadAllAt(int fd, std::uint64_t offset, std::uint8_t* out, std::size_t size);
void WriteAll(int fd, ByteView data);
void WriteWholeFile(const std::string& path, ByteView data, unsigned mode = 0644);

}  // namespace wrap
