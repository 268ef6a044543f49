// A private folder per test, removed at the end; small file helpers; an
// environment variable set for one scope.
#pragma once

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <random>
#include <string>

// A cross-check whose peer is a Linux program (Python, coreutils, sharutils)
// skips in the Windows build, saying which peer it lacks.
#ifdef _WIN32
#define SKIP_WITHOUT_LINUX_PEER(peer) GTEST_SKIP() << (peer) << " does not run in the Windows build"
#else
#define SKIP_WITHOUT_LINUX_PEER(peer) static_cast<void>(0)
#endif

class TempFolder {
 public:
  TempFolder() {
    std::random_device seed;
    const auto base = std::filesystem::temp_directory_path();
    for (int tries = 0; tries < 100 && path_.empty(); ++tries) {
      const auto dir = base / ("tolvane-test-" + std::to_string(seed()));
      if (std::filesystem::create_directory(dir)) path_ = dir.generic_string() + "/";
    }
    if (path_.empty()) std::abort();
  }
  ~TempFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  // The folder with a trailing "/".
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + name; }

 private:
  std::string path_;
};

// Runs a shell command; returns its exit status (-1 when it did not exit).
inline int RunCommand(const std::string& command) {
  const int status = std::system(command.c_str());
#ifdef _WIN32
  return status;
#else
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
}

// What a shell command writes to its standard output.
inline std::string CommandOutput(const std::string& command) {
  std::string out;
#ifdef _WIN32
  if (std::FILE* p = ::_popen(command.c_str(), "rb")) {
#else
  if (std::FILE* p = ::popen(command.c_str(), "r")) {
#endif
    char buf[4096];
    while (std::size_t n = std::fread(buf, 1, sizeof buf, p)) out.append(buf, n);
#ifdef _WIN32
    ::_pclose(p);
#else
    ::pclose(p);
#endif
  }
  return out;
}

// `text` as one word of a shell command.
inline std::string Quote(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

inline void PutFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

inline std::string GetFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Names in the folder, the folder itself excluded.
inline int EntryCount(const std::string& folder) {
  int n = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(folder)) ++n;
  return n;
}

// Sets (or with no value, leaves) one environment variable and restores it
// at the end of the scope.
class EnvGuard {
 public:
  explicit EnvGuard(const char* name) : name_(name) {
    if (const char* v = std::getenv(name)) old_ = v;
  }
  EnvGuard(const char* name, const std::string& value) : EnvGuard(name) { Set(name, &value); }
  ~EnvGuard() { Set(name_, old_ ? &*old_ : nullptr); }
  EnvGuard(const EnvGuard&) = delete;
  EnvGuard& operator=(const EnvGuard&) = delete;

 private:
  static void Set(const char* name, const std::string* value) {
#ifdef _WIN32
    // An empty value removes the variable there: tests set none empty.
    ::_putenv_s(name, value ? value->c_str() : "");
#else
    if (value)
      ::setenv(name, value->c_str(), 1);
    else
      ::unsetenv(name);
#endif
  }

  const char* name_;
  std::optional<std::string> old_;
};
