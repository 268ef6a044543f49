// Encoded words in a header value.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "mail/codecs.h"
#include "platform/errors.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  try {
    const std::string decoded = DecodeHeaderWords(text);
    if (text.size() <= 255 && decoded.size() > 255) std::abort();
  } catch (const EError&) {
  }
  return 0;
}
