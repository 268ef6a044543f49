// Base64 line decoding: any line either decodes or raises EError.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "mail/codecs.h"
#include "platform/errors.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view line(reinterpret_cast<const char*>(data), size);
  try {
    const std::string bytes = Base64DecodeLine(line);
    if (bytes.size() > Base64DecodedMaxLength(line.size())) std::abort();
  } catch (const EError&) {
  }
  // What we encode always decodes back.
  const std::string chunk(line.substr(0, 57));
  if (Base64DecodeLine(Base64EncodeChunk(chunk)) != chunk) std::abort();
  return 0;
}
