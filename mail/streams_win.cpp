#include <windows.h>

#include <algorithm>

#include "mail/stream_files.h"
#include "platform/temp_name.h"
#include "platform/windows_api.h"

namespace stream_files {
namespace {

// As on POSIX, an open stream keeps no one else from reading, writing or
// replacing the file. No security attributes: children inherit no handle.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

HANDLE AsHandle(THandle file) { return reinterpret_cast<HANDLE>(file); }

THandle Checked(HANDLE h) {
  if (h == INVALID_HANDLE_VALUE) return kNone;
  BY_HANDLE_FILE_INFORMATION info{};
  if (GetFileInformationByHandle(h, &info) &&
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    CloseHandle(h);
    return kNone;
  }
  return reinterpret_cast<THandle>(h);
}

DWORD Chunk(std::size_t count) { return static_cast<DWORD>(std::min<std::size_t>(count, 1 << 30)); }

}  // namespace

THandle Open(const std::string& name, TFileMode mode) {
  DWORD access = GENERIC_READ | GENERIC_WRITE;
  DWORD disposition = OPEN_EXISTING;
  if (mode == TFileMode::fmCreate) disposition = CREATE_ALWAYS;
  if (mode == TFileMode::fmOpenRead) access = GENERIC_READ;
  return Checked(CreateFileW(WideText(name).c_str(), access, kShareAll, nullptr, disposition,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
}

THandle CreateTemp(std::string& name) {
  wchar_t folder[MAX_PATH + 1];
  const DWORD n = GetTempPathW(MAX_PATH + 1, folder);
  const std::string dir = n > 0 && n <= MAX_PATH ? Utf8Text({folder, n}) : std::string(".\\");
  // Deleted on close as well, so that a program that dies leaves none behind.
  for (int attempt = 0; attempt < 100; ++attempt) {
    name = dir + "ms" + RandomNameSuffix() + ".tmp";
    HANDLE h =
        CreateFileW(WideText(name).c_str(), GENERIC_READ | GENERIC_WRITE, kShareAll, nullptr,
                    CREATE_NEW, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (h != INVALID_HANDLE_VALUE) return reinterpret_cast<THandle>(h);
    if (GetLastError() != ERROR_FILE_EXISTS) break;
  }
  return kNone;
}

std::ptrdiff_t Read(THandle file, void* buffer, std::size_t count) {
  DWORD n = 0;
  if (!ReadFile(AsHandle(file), buffer, Chunk(count), &n, nullptr)) return -1;
  return n;
}

std::ptrdiff_t Write(THandle file, const void* buffer, std::size_t count) {
  DWORD n = 0;
  if (!WriteFile(AsHandle(file), buffer, Chunk(count), &n, nullptr)) return -1;
  return n;
}

std::int64_t Seek(THandle file, std::int64_t offset, TSeekOrigin origin) {
  const DWORD method = origin == TSeekOrigin::soBeginning ? FILE_BEGIN
                       : origin == TSeekOrigin::soCurrent ? FILE_CURRENT
                                                          : FILE_END;
  LARGE_INTEGER to{};
  to.QuadPart = offset;
  LARGE_INTEGER at{};
  if (!SetFilePointerEx(AsHandle(file), to, &at, method)) return -1;
  return at.QuadPart;
}

std::int64_t Size(THandle file) {
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(AsHandle(file), &size)) return -1;
  return size.QuadPart;
}

bool Truncate(THandle file, std::int64_t size) {
  FILE_END_OF_FILE_INFO end{};
  end.EndOfFile.QuadPart = size;
  return SetFileInformationByHandle(AsHandle(file), FileEndOfFileInfo, &end, sizeof end) != 0;
}

void Close(THandle file) { CloseHandle(AsHandle(file)); }

void Remove(const std::string& name) { DeleteFileW(WideText(name).c_str()); }

}  // namespace stream_files
