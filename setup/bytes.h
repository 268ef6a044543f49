// Little-endian fields of the bundle, the file list and SZDD headers.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace wrap {

using Bytes = std::vector<std::uint8_t>;
using ByteView = std::span<const std::uint8_t>;

inline std::uint64_t GetLE(ByteView b, std::size_t at, int width) {
  std::uint64_t v = 0;
  for (int i = width - 1; i >= 0; --i) v = (v << 8) | b[at + static_cast<std::size_t>(i)];
  return v;
}

inline void PutLE(Bytes& out, std::uint64_t v, int width) {
  for (int i = 0; i < width; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

}  // namespace wrap
