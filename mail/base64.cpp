#include <cstdint>
#include <cstring>
#include <string>

#include "mail/codecs.h"
#include "mail/pair_table.h"
#include "platform/errors.h"

namespace {

constexpr char kAlphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// 6-bit value of each character; "=" reads as zero bits; 0xFF marks a
// character outside the alphabet.
struct DecodeTable {
  std::uint8_t value[256];
  constexpr DecodeTable() : value() {
    for (auto& v : value) v = 0xFF;
    for (int i = 0; i < 64; ++i) value[static_cast<unsigned char>(kAlphabet[i])] = static_cast<std::uint8_t>(i);
    value[static_cast<unsigned char>('=')] = 0;
  }
};
constexpr DecodeTable kDecode;

constexpr TPairTable kPairs(kAlphabet);

[[noreturn]] void InvalidCharacter() { throw EFileError("Invalid Character"); }

}  // namespace

std::size_t Base64EncodeChunk(const char* bytes, std::size_t n, char* out) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes);
  char* o = out;
  std::size_t i = 0;
  for (; i + 3 <= n; i += 3, o += 4) {
    const std::uint32_t v = (std::uint32_t{p[i]} << 16) | (std::uint32_t{p[i + 1]} << 8) | p[i + 2];
    std::memcpy(o, kPairs.pair[v >> 12], 2);
    std::memcpy(o + 2, kPairs.pair[v & 0xFFF], 2);
  }
  if (const std::size_t rest = n - i; rest > 0) {
    const std::uint32_t v = (std::uint32_t{p[i]} << 16) | (rest == 2 ? std::uint32_t{p[i + 1]} << 8 : 0);
    o[0] = kAlphabet[v >> 18];
    o[1] = kAlphabet[(v >> 12) & 63];
    o[2] = rest == 2 ? kAlphabet[(v >> 6) & 63] : '=';
    o[3] = '=';
    o += 4;
  }
  return static_cast<std::size_t>(o - out);
}

std::string Base64EncodeChunk(std::string_view bytes) {
  std::string out(Base64EncodedLength(bytes.size()), '\0');
  out.resize(Base64EncodeChunk(bytes.data(), bytes.size(), out.data()));
  return out;
}

std::size_t Base64DecodeLine(std::string_view line, char* out) {
  const auto* p = reinterpret_cast<const unsigned char*>(line.data());
  const std::size_t n = line.size();
  auto* o = reinterpret_cast<unsigned char*>(out);
  std::size_t i = 0;
  for (; i + 4 <= n; i += 4, o += 3) {
    const std::uint8_t a = kDecode.value[p[i]], b = kDecode.value[p[i + 1]],
                       c = kDecode.value[p[i + 2]], d = kDecode.value[p[i + 3]];
    if ((a | b | c | d) & 0xC0) InvalidCharacter();
    const std::uint32_t v = (std::uint32_t{a} << 18) | (std::uint32_t{b} << 12) | (std::uint32_t{c} << 6) | d;
    o[0] = static_cast<unsigned char>(v >> 16);
    o[1] = static_cast<unsigned char>(v >> 8);
    o[2] = static_cast<unsigned char>(v);
  }
  // One to three characters left: 6, 12 or 18 bits, of which only whole
  // bytes count.
  std::uint32_t v = 0;
  const std::size_t rest = n - i;
  for (std::size_t k = 0; k < rest; ++k) {
    const std::uint8_t x = kDecode.value[p[i + k]];
    if (x & 0xC0) InvalidCharacter();
    v = (v << 6) | x;
  }
  if (rest == 2) {
    *o++ = static_cast<unsigned char>(v >> 4);
  } else if (rest == 3) {
    *o++ = static_cast<unsigned char>(v >> 10);
    *o++ = static_cast<unsigned char>(v >> 2);
  }
  std::size_t count = static_cast<std::size_t>(o - reinterpret_cast<unsigned char*>(out));
  // Each pad character at the end stands for one byte that is not there.
  for (std::size_t k = n; k > 0 && p[k - 1] == '=' && count > 0; --k) --count;
  return count;
}

std::string Base64DecodeLine(std::string_view line) {
  std::string out(Base64DecodedMaxLength(line.size()), '\0');
  out.resize(Base64DecodeLine(line, out.data()));
  return out;
}
