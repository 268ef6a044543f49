#include "platform/folders.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

namespace {

std::string WithSlash(std::string folder) {
  if (folder.empty() || folder.back() != '/') folder += '/';
  return folder;
}

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v != nullptr ? std::string(v) : std::string();
}

std::string Home() {
  std::string home = Env("HOME");
  if (home.empty()) {
    if (const passwd* pw = ::getpwuid(::getuid()); pw != nullptr && pw->pw_dir != nullptr) {
      home = pw->pw_dir;
    }
  }
  return home.empty() ? std::string("/tmp") : home;
}

// $<variable>, or ~/<fallback> when it is unset or relative (relative values
// are invalid by the base-directory rules), with a trailing "/".
std::string XdgFolder(const char* variable, const char* fallback) {
  std::string base = Env(variable);
  if (base.empty() || base.front() != '/') base = WithSlash(Home()) + fallback;
  return WithSlash(base);
}

}  // namespace

std::string FolderOfPath(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return path;
  return path.substr(0, slash + 1);
}

std::string ExecutableFolder() {
  std::vector<char> buf(4096);
  for (;;) {
    const ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size());
    if (n < 0) break;
    if (static_cast<std::size_t>(n) < buf.size()) {
      return FolderOfPath(std::string(buf.data(), static_cast<std::size_t>(n)));
    }
    buf.resize(buf.size() * 2);
  }
  // No /proc: the current folder is the best guess left.
  std::vector<char> cwd(4096);
  if (::getcwd(cwd.data(), cwd.size()) != nullptr) return WithSlash(cwd.data());
  return "./";
}

std::string ConfigFolder() { return XdgFolder("XDG_CONFIG_HOME", ".config") + "tolvane/"; }

std::string AutostartFolder() { return XdgFolder("XDG_CONFIG_HOME", ".config") + "autostart/"; }

std::string StateFolder() { return XdgFolder("XDG_STATE_HOME", ".local/state") + "tolvane/"; }

bool MakeFolders(const std::string& folder, unsigned mode) {
  struct stat st {};
  if (::stat(folder.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  std::string path;
  for (std::size_t pos = 0; pos != std::string::npos;) {
    const auto slash = folder.find('/', pos + 1);
    path = folder.substr(0, slash);
    pos = slash;
    if (path.empty() || path == "/") continue;
    if (::mkdir(path.c_str(), static_cast<mode_t>(mode)) != 0 && errno != EEXIST) return false;
  }
  return ::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string TempFolder() {
  std::string tmp = Env("TMPDIR");
  if (tmp.empty()) tmp = "/tmp";
  return WithSlash(tmp);
}
