#include "platform/files.h"

#include <windows.h>

#include <cerrno>
#include <cstring>

#include "platform/errors.h"
#include "platform/temp_name.h"
#include "platform/windows_api.h"

namespace {

// Our readers share delete access, so that a reader never stops another
// process from putting a new file in place.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

[[noreturn]] void Fail(const std::string& what, const std::string& path, int err) {
  throw EFileError(what + " \"" + path + "\": " + std::strerror(err));
}

[[noreturn]] void FailLast(const std::string& what, const std::string& path) {
  Fail(what, path, ErrnoFromSystemError(GetLastError()));
}

// A symbolic link stays a link: the file it points to is replaced.
std::wstring ResolveTarget(const std::wstring& path) {
  const DWORD attrs = GetFileAttributesW(path.c_str());
  if (attrs == INVALID_FILE_ATTRIBUTES || (attrs & FILE_ATTRIBUTE_REPARSE_POINT) == 0) return path;
  HANDLE h = CreateFileW(path.c_str(), 0, kShareAll, nullptr, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return path;
  std::wstring final(MAX_PATH, L'\0');
  DWORD n = GetFinalPathNameByHandleW(h, final.data(), MAX_PATH, FILE_NAME_NORMALIZED);
  if (n >= MAX_PATH) {
    final.resize(n);
    n = GetFinalPathNameByHandleW(h, final.data(), n, FILE_NAME_NORMALIZED);
  }
  CloseHandle(h);
  if (n == 0 || n >= final.size()) return path;
  final.resize(n);
  return final;
}

bool WriteAll(HANDLE h, std::string_view text) {
  while (!text.empty()) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(text.size(), 1 << 30));
    DWORD written = 0;
    if (!WriteFile(h, text.data(), chunk, &written, nullptr)) return false;
    text.remove_prefix(written);
  }
  return true;
}

bool Transient(DWORD err) {
  return err == ERROR_SHARING_VIOLATION || err == ERROR_ACCESS_DENIED ||
         err == ERROR_LOCK_VIOLATION || err == ERROR_UNABLE_TO_REMOVE_REPLACED;
}

// ReplaceFileW keeps the old file's attributes and security; a new file is
// moved with the move itself written through. A scanner or indexer that
// holds the old file without sharing delete gets a moment to let go.
bool PutInPlace(const std::wstring& temp, const std::wstring& target, bool existed) {
  for (int attempt = 0;; ++attempt) {
    DWORD err = ERROR_FILE_NOT_FOUND;
    if (existed) {
      if (ReplaceFileW(target.c_str(), temp.c_str(), nullptr,
                       REPLACEFILE_IGNORE_MERGE_ERRORS | REPLACEFILE_IGNORE_ACL_ERRORS, nullptr,
                       nullptr))
        return true;
      err = GetLastError();
    }
    // With no backup name, a failed rename of the replacement has removed
    // the old file already: the move puts the new one in its place.
    if (err == ERROR_FILE_NOT_FOUND || err == ERROR_UNABLE_TO_MOVE_REPLACEMENT) {
      if (MoveFileExW(temp.c_str(), target.c_str(),
                      MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
      err = GetLastError();
    }
    if (!Transient(err) || attempt >= 10) {
      SetLastError(err);
      return false;
    }
    Sleep(50);
  }
}

}  // namespace

bool FileExists(const std::string& path) {
  return GetFileAttributesW(WideText(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

void ReplaceFileAtomically(const std::string& path, std::string_view text, int* step) {
  auto set_step = [step](int n) {
    if (step != nullptr) *step = n;
  };
  set_step(1);
  const std::wstring target = ResolveTarget(WideText(path));
  const DWORD old = GetFileAttributesW(target.c_str());
  const bool existed = old != INVALID_FILE_ATTRIBUTES;
  if (existed && (old & FILE_ATTRIBUTE_DIRECTORY) != 0) Fail("Cannot create file", path, EISDIR);

  const std::string target_utf8 = Utf8Text(target);
  std::wstring temp;
  HANDLE h = INVALID_HANDLE_VALUE;
  for (int attempt = 0; attempt < 100 && h == INVALID_HANDLE_VALUE; ++attempt) {
    temp = WideText(TempNameBeside(target_utf8, "/\\"));
    h = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                    nullptr);
    if (h == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS)
      FailLast("Cannot create file", path);
  }
  if (h == INVALID_HANDLE_VALUE) Fail("Cannot create file", path, EEXIST);

  set_step(2);
  if (!WriteAll(h, text) || !FlushFileBuffers(h)) {
    const DWORD err = GetLastError();
    CloseHandle(h);
    DeleteFileW(temp.c_str());
    Fail("Cannot write file", path, ErrnoFromSystemError(err));
  }

  set_step(3);
  // Windows renames only a closed file.
  if (!CloseHandle(h)) {
    const DWORD err = GetLastError();
    DeleteFileW(temp.c_str());
    Fail("Cannot close file", path, ErrnoFromSystemError(err));
  }
  if (!PutInPlace(temp, target, existed)) {
    const DWORD err = GetLastError();
    DeleteFileW(temp.c_str());
    Fail("Cannot replace file", path, ErrnoFromSystemError(err));
  }
}

bool AppendToFile(const std::string& path, std::string_view text) {
  // Append-only access: every write goes to the end, whoever else appends.
  HANDLE h = CreateFileW(WideText(path).c_str(), FILE_APPEND_DATA, kShareAll, nullptr, OPEN_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  const bool ok = WriteAll(h, text);
  return CloseHandle(h) && ok;
}

std::optional<std::string> ReadWholeFile(const std::string& path) {
  const std::wstring wide = WideText(path);
  const DWORD attrs = GetFileAttributesW(wide.c_str());
  if (attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY) != 0)
    Fail("Cannot open file", path, EISDIR);
  HANDLE h = CreateFileW(wide.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                         FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const int err = ErrnoFromSystemError(GetLastError());
    if (err == ENOENT || err == ENOTDIR) return std::nullopt;
    Fail("Cannot open file", path, err);
  }
  std::string text;
  LARGE_INTEGER size{};
  if (GetFileSizeEx(h, &size) && size.QuadPart > 0)
    text.reserve(static_cast<std::size_t>(size.QuadPart));
  char buf[65536];
  for (;;) {
    DWORD n = 0;
    if (!ReadFile(h, buf, sizeof buf, &n, nullptr)) {
      const DWORD err = GetLastError();
      CloseHandle(h);
      Fail("Cannot open file", path, ErrnoFromSystemError(err));
    }
    if (n == 0) break;
    text.append(buf, n);
  }
  CloseHandle(h);
  return text;
}
