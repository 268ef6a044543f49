#include <windows.h>

#include <cstring>

#include "platform/errors.h"
#include "platform/lock_file.h"
#include "platform/windows_api.h"

namespace lock_file {
namespace {

[[noreturn]] void FailLast(const std::string& path) {
  throw EFileError("Cannot lock \"" + path +
                   "\": " + std::strerror(ErrnoFromSystemError(GetLastError())));
}

HANDLE AsHandle(THandle file) { return reinterpret_cast<HANDLE>(file); }

}  // namespace

THandle Open(const std::string& path) {
  // Shared for reading, writing and deleting: every process opens it, and
  // the byte lock below is what excludes.
  HANDLE h = CreateFileW(WideText(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) FailLast(path);
  return reinterpret_cast<THandle>(h);
}

bool TryLock(THandle file, const std::string& path) {
  // The first byte stands for the whole file; nothing is ever written there.
  OVERLAPPED at{};
  if (LockFileEx(AsHandle(file), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at))
    return true;
  if (GetLastError() == ERROR_LOCK_VIOLATION || GetLastError() == ERROR_IO_PENDING) return false;
  FailLast(path);
}

void Close(THandle file) { CloseHandle(AsHandle(file)); }

}  // namespace lock_file
