#include <unistd.h>

#include "setup/self.h"

namespace wrap {

const char* const kProgramSuffix = "";

std::vector<std::string> ProgramArguments(int argc, char** argv) {
  return {argv + (argc > 0 ? 1 : 0), argv + argc};
}

std::string OwnExecutable() { return "/proc/self/exe"; }

std::string OwnFolder() {
  char buf[4096];
  const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return {};
  const std::string self(buf, static_cast<std::size_t>(n));
  return self.substr(0, self.find_last_of('/') + 1);
}

}  // namespace wrap
