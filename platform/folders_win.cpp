#include "platform/folders.h"

#include <shlobj.h>
#include <windows.h>

#include <filesystem>
#include <string_view>
#include <vector>

#include "platform/windows_api.h"

namespace {

// Paths inside use "/" as on every other system; the API takes both.
std::string Generic(std::string path) {
  for (char& c : path) {
    if (c == '\\') c = '/';
  }
  return path;
}

std::string WithSlash(std::string folder) {
  if (folder.empty() || folder.back() != '/') folder += '/';
  return folder;
}

// The variable's value when it names an absolute folder; else empty.
std::string EnvFolder(const wchar_t* name) {
  std::vector<wchar_t> buf(MAX_PATH);
  for (;;) {
    const DWORD n = GetEnvironmentVariableW(name, buf.data(), static_cast<DWORD>(buf.size()));
    if (n == 0) return {};
    if (n < buf.size()) {
      const std::wstring value(buf.data(), n);
      if (!std::filesystem::path(value).is_absolute()) return {};
      return WithSlash(Generic(Utf8Text(value)));
    }
    buf.resize(n);
  }
}

std::string KnownFolder(REFKNOWNFOLDERID id) {
  PWSTR path = nullptr;
  std::string out;
  if (SUCCEEDED(SHGetKnownFolderPath(id, KF_FLAG_CREATE, nullptr, &path))) {
    out = WithSlash(Generic(Utf8Text(path)));
  }
  CoTaskMemFree(path);
  return out;
}

// The variable as it is set in the user's environment (tests and portable
// setups point it elsewhere), else the known folder it stands for.
std::string UserFolder(const wchar_t* variable, REFKNOWNFOLDERID id) {
  std::string folder = EnvFolder(variable);
  if (folder.empty()) folder = KnownFolder(id);
  return folder.empty() ? TempFolder() : folder;
}

}  // namespace

std::string FolderOfPath(const std::string& path) {
  const auto slash = path.find_last_of("/\\");
  if (slash == std::string::npos) return path;
  return path.substr(0, slash + 1);
}

std::string ExecutableFolder() {
  std::vector<wchar_t> buf(MAX_PATH);
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
    if (n == 0) return "./";
    if (n < buf.size()) return FolderOfPath(Generic(Utf8Text(std::wstring_view(buf.data(), n))));
    buf.resize(buf.size() * 2);
  }
}

// Settings roam with the user; what Tolvane writes (outbox, history) stays
// on this machine.
std::string ConfigFolder() { return UserFolder(L"APPDATA", FOLDERID_RoamingAppData) + "Tolvane/"; }

std::string StateFolder() {
  return UserFolder(L"LOCALAPPDATA", FOLDERID_LocalAppData) + "Tolvane/";
}

std::string AutostartFolder() {
  const std::string folder = KnownFolder(FOLDERID_Startup);
  return folder.empty() ? ConfigFolder() : folder;
}

// The mode has no meaning here: a new folder takes the access list of the
// one above it, and the user's profile folders are the user's own.
bool MakeFolders(const std::string& folder, unsigned /*mode*/) {
  const std::filesystem::path path(WideText(folder));
  std::error_code ec;
  std::filesystem::create_directories(path, ec);
  return std::filesystem::is_directory(path, ec);
}

// GetTempPathW follows TMP, then TEMP, then the user's profile.
std::string TempFolder() {
  wchar_t buf[MAX_PATH + 1];
  const DWORD n = GetTempPathW(MAX_PATH + 1, buf);
  if (n == 0 || n > MAX_PATH) return "C:/Windows/Temp/";
  return WithSlash(Generic(Utf8Text(std::wstring_view(buf, n))));
}
