#include "setup/wrap_error.h"

#include <cstdio>
#include <cstring>

namespace wrap {

std::string ErrorText(int code) {
  // strerrordesc_np gives no text for numbers the C library does not know,
  // where strerror would make one up.
  if (const char* text = code > 0 ? strerrordesc_np(code) : nullptr) return text;
  char buf[64];
  std::snprintf(buf, sizeof buf, "Unknown error. Code = 0x%lx",
                static_cast<unsigned long>(static_cast<unsigned int>(code)));
  return buf;
}

EWrapError::EWrapError(int code) : std::runtime_error(ErrorText(code)), code_(code) {}

EWrapError::EWrapError(int code, const std::string& detail)
    : std::runtime_error(ErrorText(code) + ": " + detail), code_(code) {}

void ThrowInvalidData(const std::string& detail) { throw EWrapError(kInvalidData, detail); }

}  // namespace wrap
