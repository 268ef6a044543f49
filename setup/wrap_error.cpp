#include "setup/wrap_error.h"

#include <cstdio>
#include <cstring>

namespace wrap {

std::string ErrorText(int code) {
  // strerror makes up "Unknown error N" (msvcrt: "Unknown error") for
  // numbers the C library does not know; those get the launcher's own text.
  char buf[64];
  if (code > 0) {
    const std::string text = std::strerror(code);
    if (text.rfind("Unknown error", 0) != 0) return text;
    // msvcrt has no text for the errno values POSIX added.
    if (code == kInvalidData) return "Bad message";
  }
  std::snprintf(buf, sizeof buf, "Unknown error. Code = 0x%lx",
                static_cast<unsigned long>(static_cast<unsigned int>(code)));
  return buf;
}

EWrapError::EWrapError(int code) : std::runtime_error(ErrorText(code)), code_(code) {}

EWrapError::EWrapError(int code, const std::string& detail)
    : std::runtime_error(ErrorText(code) + ": " + detail), code_(code), detail_(detail) {}

void ThrowInvalidData(const std::string& detail) { throw EWrapError(kInvalidData, detail); }

}  // namespace wrap
