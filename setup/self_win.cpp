#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include "setup/self.h"
#include "setup/wide.h"

namespace wrap {

const char* const kProgramSuffix = ".exe";

std::vector<std::string> ProgramArguments(int, char**) {
  int count = 0;
  LPWSTR* words = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  std::vector<std::string> args;
  for (int i = 1; words && i < count; ++i) args.push_back(Utf8(words[i]));
  ::LocalFree(words);
  return args;
}

std::string OwnExecutable() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return {};
    if (n < path.size()) return Utf8(path.substr(0, n));
    path.resize(path.size() * 2);
  }
}

std::string OwnFolder() {
  const std::string self = OwnExecutable();
  const std::size_t end = self.find_last_of("\\/");
  return end == std::string::npos ? std::string() : self.substr(0, end + 1);
}

}  // namespace wrap
