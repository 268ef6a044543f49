// SHA-256 (FIPS 180-4), for the checksums the bundle records of its parts.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "setup/bytes.h"

namespace wrap {

using Digest = std::array<std::uint8_t, 32>;

class Sha256 {
 public:
  Sha256();
  void Update(ByteView data);
  // The digest of everything given so far; the object is spent afterwards.
  Digest Finish();

 private:
  void Block(const std::uint8_t* block);

  std::array<std::uint32_t, 8> state_;
  std::uint8_t buffer_[64];
  std::size_t buffered_ = 0;
  std::uint64_t length_ = 0;
};

Digest Sha256Of(ByteView data);
std::string HexDigest(const Digest& digest);

}  // namespace wrap
