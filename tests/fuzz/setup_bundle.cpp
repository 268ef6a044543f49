// The launcher's resource bundle from a damaged executable image: every
// outcome is a sound bundle or invalid data, and whatever passes its
// checksums also reads as a payload or is refused as invalid data.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "setup/bundle.h"
#include "setup/payload.h"
#include "setup/wrap_error.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  try {
    const wrap::Bundle b = wrap::Bundle::Parse(wrap::Bytes(data, data + size));
    for (std::uint16_t id : {1, 2, 3, 101, 102}) (void)b.Load(wrap::ResourceType::RawData, id);
    (void)b.LoadString(1, 49);
    (void)b.LoadString(2, 259);
    if (!b.FindDamaged()) {
      (void)wrap::ReadPayload(b);
      (void)wrap::ReadFileTime(b);
    }
  } catch (const wrap::EWrapError& e) {
    if (e.Code() != wrap::kInvalidData) std::abort();
  }
  return 0;
}
