#include "platform/folders.h"

#include <pwd.h>
#include <unistd.h>

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

std::string ConfigFolder() {
  std::string base = Env("XDG_CONFIG_HOME");
  // Relative values are invalid by the XDG rules and are ignored.
  if (base.empty() || base.front() != '/') {
    std::string home = Env("HOME");
    if (home.empty()) {
      if (const passwd* pw = ::getpwuid(::getuid()); pw != nullptr && pw->pw_dir != nullptr) {
        home = pw->pw_dir;
      }
    }
    if (home.empty()) home = "/tmp";
    base = WithSlash(home) + ".config";
  }
  return WithSlash(base) + "tolvane/";
}

std::string SettingsFilePath() { return ConfigFolder() + "TOLVANE.INI"; }

std::string TempFolder() {
  std::string tmp = Env("TMPDIR");
  if (tmp.empty()) tmp = "/tmp";
  return WithSlash(tmp);
}
