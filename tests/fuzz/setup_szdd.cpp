// The SZDD expander on arbitrary input; what it expands, the compressor
// packs and the expander gives back unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "setup/szdd.h"
#include "setup/wrap_error.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  wrap::Bytes out;
  try {
    out = wrap::SzddExpandToMemory(wrap::ByteView(data, size));
  } catch (const wrap::EWrapError& e) {
    if (e.Code() != wrap::kInvalidData) std::abort();
    return 0;
  }
  if (out.size() != wrap::ReadSzddHeader(wrap::ByteView(data, size))->length) std::abort();
  if (wrap::SzddExpandToMemory(wrap::SzddCompress(out)) != out) std::abort();
  return 0;
}
