// Uuencoded lines and begin lines.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "mail/codecs.h"
#include "platform/errors.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view line(reinterpret_cast<const char*>(data), size);
  try {
    if (UUDecodeLine(line).size() > kUUMaxLineBytes) std::abort();
  } catch (const EError&) {
  }
  if (IsUUBeginLine(line)) (void)UUBeginFileName(line);
  (void)UUBeginFileName(line);
  const std::string chunk(line.substr(0, 45));
  if (UUDecodeLine(UUEncodeChunk(chunk)) != chunk) std::abort();
  return 0;
}
