// ParseAddress: parses or raises, and never leaves a field over 255.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "mail/headers.h"
#include "platform/errors.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::string name = "n", address = "a";
  try {
    ParseAddress(text, name, address);
  } catch (const EError&) {
    if (name != "n" || address != "a") std::abort();
    return 0;
  }
  if (name.size() > 255 || address.size() > 255) std::abort();
  return 0;
}
