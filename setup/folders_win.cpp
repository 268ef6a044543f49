#include <windows.h>
// After windows.h, which it needs.
#include <io.h>
#include <sddl.h>

#include <algorithm>
#include <memory>

#include "setup/folders.h"
#include "setup/wide.h"
#include "setup/wrap_error.h"

namespace wrap {
namespace {

struct LocalFreer {
  void operator()(void* p) const { ::LocalFree(p); }
};

// The running user's SID as text ("S-1-5-21-..."), or empty.
std::wstring UserSid() {
  HANDLE token = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return {};
  DWORD size = 0;
  ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  std::unique_ptr<BYTE[]> buf(new BYTE[size ? size : 1]);
  std::wstring text;
  LPWSTR sid = nullptr;
  if (::GetTokenInformation(token, TokenUser, buf.get(), size, &size) &&
      ::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buf.get())->User.Sid, &sid)) {
    text = sid;
    ::LocalFree(sid);
  }
  ::CloseHandle(token);
  return text;
}

// Read-only files cannot be deleted; one that a process just ended still
// holds may stay locked a moment.
void DeleteNow(const std::wstring& path) {
  ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  for (int i = 0; i < 20 && !::DeleteFileW(path.c_str()); ++i) {
    const DWORD err = ::GetLastError();
    if (err != ERROR_SHARING_VIOLATION && err != ERROR_ACCESS_DENIED) return;
    ::Sleep(50);
  }
}

}  // namespace

const char* const kPathSeparators = "/\\:";

std::string TempDirectory() {
  wchar_t buf[MAX_PATH + 2];
  const DWORD n = ::GetTempPathW(MAX_PATH + 1, buf);
  if (n == 0 || n > MAX_PATH + 1) return {};
  return Utf8(std::wstring(buf, n));
}

bool IsFolder(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesW(Wide(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

int MakePrivateFolder(const std::string& path) {
  // Full control for this user alone, nothing inherited from the parent.
  const std::wstring sid = UserSid();
  if (sid.empty()) return ErrnoFromWin32(::GetLastError());
  const std::wstring sddl = L"D:P(A;OICI;FA;;;" + sid + L")";
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                              &descriptor, nullptr))
    return ErrnoFromWin32(::GetLastError());
  std::unique_ptr<void, LocalFreer> owned(descriptor);
  SECURITY_ATTRIBUTES security{sizeof security, descriptor, FALSE};
  if (!::CreateDirectoryW(Wide(path).c_str(), &security)) return ErrnoFromWin32(::GetLastError());
  return 0;
}

int MakeFolder(const std::string& path) {
  return ::CreateDirectoryW(Wide(path).c_str(), nullptr) ? 0 : ErrnoFromWin32(::GetLastError());
}

void RemoveFile(const std::string& path) { DeleteNow(Wide(path)); }

void RemoveFolder(const std::string& path) { ::RemoveDirectoryW(Wide(path).c_str()); }

void RemoveFolderAndFiles(const std::string& path) {
  const std::wstring folder = Wide(path);
  const DWORD attributes = ::GetFileAttributesW(folder.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY) ||
      (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
    return;
  const std::wstring prefix = folder + L"\\";
  WIN32_FIND_DATAW found;
  const HANDLE find = ::FindFirstFileW((prefix + L"*").c_str(), &found);
  if (find != INVALID_HANDLE_VALUE) {
    std::vector<std::wstring> files;
    do {
      if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) files.push_back(found.cFileName);
    } while (::FindNextFileW(find, &found));
    // Closed first: an open search keeps the folder from going.
    ::FindClose(find);
    for (const auto& name : files) DeleteNow(prefix + name);
  }
  ::RemoveDirectoryW(folder.c_str());
}

void SetWriteTime(int fd, std::uint64_t fileTime) {
  FILETIME time{static_cast<DWORD>(fileTime), static_cast<DWORD>(fileTime >> 32)};
  ::SetFileTime(reinterpret_cast<HANDLE>(::_get_osfhandle(fd)), nullptr, nullptr, &time);
}

void MakeExecutable(const std::string&, const std::string&) {}

void SetMode(const std::string&, unsigned) {}

int ReplaceWith(const std::string& from, const std::string& to) {
  return ::MoveFileExW(Wide(from).c_str(), Wide(to).c_str(), MOVEFILE_REPLACE_EXISTING)
             ? 0
             : ErrnoFromWin32(::GetLastError());
}

std::vector<FolderEntry> ListFolder(const std::string& folder) {
  WIN32_FIND_DATAW found;
  const HANDLE find = ::FindFirstFileW((Wide(folder) + L"\\*").c_str(), &found);
  if (find == INVALID_HANDLE_VALUE) throw EWrapError(ErrnoFromWin32(::GetLastError()), folder);
  std::vector<FolderEntry> entries;
  do {
    const std::string name = Utf8(found.cFileName);
    if (name == "." || name == "..") continue;
    const bool plain = !(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    const bool readOnly = found.dwFileAttributes & FILE_ATTRIBUTE_READONLY;
    entries.push_back({name, plain, static_cast<std::uint16_t>(readOnly ? 0444 : 0644)});
  } while (::FindNextFileW(find, &found));
  ::FindClose(find);
  std::sort(entries.begin(), entries.end(),
            [](const FolderEntry& a, const FolderEntry& b) { return a.name < b.name; });
  return entries;
}

}  // namespace wrap
