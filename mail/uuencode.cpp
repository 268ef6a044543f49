#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>

#include "mail/codecs.h"
#include "mail/pair_table.h"
#include "platform/errors.h"

namespace {

// Index 0 is the grave accent; index n is the character 32 + n.
constexpr char kAlphabet[] = "`!\"#$%&'()*+,-./0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_";
static_assert(sizeof kAlphabet == 65);

char Encode6(unsigned v) { return kAlphabet[v & 63]; }

constexpr TPairTable kPairs(kAlphabet);

// Value of each character; a blank also reads as 0 (older encoders wrote
// it). 0xFF marks a character outside the alphabet.
struct DecodeTable {
  std::uint8_t value[256];
  constexpr DecodeTable() : value() {
    for (auto& v : value) v = 0xFF;
    for (int i = 0; i < 64; ++i)
      value[static_cast<unsigned char>(kAlphabet[i])] = static_cast<std::uint8_t>(i);
    value[static_cast<unsigned char>(' ')] = 0;
  }
};
constexpr DecodeTable kDecode;

[[noreturn]] void InvalidCharacter() { throw EFileError("Invalid Character"); }

unsigned Decode6(unsigned char c) {
  const std::uint8_t v = kDecode.value[c];
  if (v == 0xFF) InvalidCharacter();
  return v;
}

constexpr std::size_t kFullLineBytes = 45;

}  // namespace

std::size_t UUEncodeChunk(const char* bytes, std::size_t n, char* out) {
  if (n > kUUMaxLineBytes) throw std::length_error("UUEncodeChunk: more than 63 bytes");
  const std::size_t chars = n == kFullLineBytes ? 60 : n * 4 / 3 + 1;
  const auto* p = reinterpret_cast<const unsigned char*>(bytes);
  char* o = out;
  *o++ = Encode6(static_cast<unsigned>(n));
  std::size_t b = 0;
  std::size_t j = 0;
  for (; b + 3 <= n && j + 4 <= chars; b += 3, j += 4, o += 4) {
    const std::uint32_t v = (std::uint32_t{p[b]} << 16) | (std::uint32_t{p[b + 1]} << 8) | p[b + 2];
    std::memcpy(o, kPairs.pair[v >> 12], 2);
    std::memcpy(o + 2, kPairs.pair[v & 0xFFF], 2);
  }
  // The tail: bits beyond the data are zero.
  unsigned char tail[3] = {};
  for (std::size_t k = 0; b + k < n && k < 3; ++k) tail[k] = p[b + k];
  const std::uint32_t v = (std::uint32_t{tail[0]} << 16) | (std::uint32_t{tail[1]} << 8) | tail[2];
  const char group[4] = {Encode6(v >> 18), Encode6(v >> 12), Encode6(v >> 6), Encode6(v)};
  for (std::size_t k = 0; j < chars; ++j, ++k) *o++ = group[k];
  return static_cast<std::size_t>(o - out);
}

std::string UUEncodeChunk(std::string_view bytes) {
  char out[kUUMaxLineLength];
  return std::string(out, UUEncodeChunk(bytes.data(), bytes.size(), out));
}

std::size_t UUDecodeLine(std::string_view line, char* out) {
  if (line.empty()) return 0;
  const std::size_t n = Decode6(static_cast<unsigned char>(line[0]));
  // Only the characters that carry the n bytes are read; missing ones at
  // the end count as zero.
  const std::size_t chars = (n * 4 + 2) / 3;
  const auto* p = reinterpret_cast<const unsigned char*>(line.data()) + 1;
  const std::size_t have = std::min(chars, line.size() - 1);
  auto* o = reinterpret_cast<unsigned char*>(out);
  std::size_t written = 0;
  std::size_t j = 0;
  for (; j + 4 <= have && written + 3 <= n; j += 4, written += 3) {
    const std::uint8_t a = kDecode.value[p[j]], b = kDecode.value[p[j + 1]],
                       c = kDecode.value[p[j + 2]], d = kDecode.value[p[j + 3]];
    if ((a | b | c | d) & 0xC0) InvalidCharacter();
    const std::uint32_t v =
        (std::uint32_t{a} << 18) | (std::uint32_t{b} << 12) | (std::uint32_t{c} << 6) | d;
    o[written] = static_cast<unsigned char>(v >> 16);
    o[written + 1] = static_cast<unsigned char>(v >> 8);
    o[written + 2] = static_cast<unsigned char>(v);
  }
  // The rest, one group at a time, with zero for missing characters.
  for (; written < n; j += 4) {
    std::uint32_t v = 0;
    for (std::size_t k = 0; k < 4; ++k) v = (v << 6) | (j + k < have ? Decode6(p[j + k]) : 0u);
    for (int k = 2; k >= 0 && written < n; --k)
      o[written++] = static_cast<unsigned char>(v >> (8 * k));
  }
  return written;
}

std::string UUDecodeLine(std::string_view line) {
  char out[kUUMaxLineBytes];
  return std::string(out, UUDecodeLine(line, out));
}

bool IsUUBeginLine(std::string_view line) {
  // Exactly "begin", a blank, a mode of three or four octal digits, a blank
  // and a name: ordinary text such as "Begin 2024 with a plan:" is text.
  if (!line.starts_with("begin ")) return false;
  std::size_t i = 6;
  while (i < line.size() && line[i] >= '0' && line[i] <= '7') ++i;
  const std::size_t digits = i - 6;
  return (digits == 3 || digits == 4) && i + 1 < line.size() && line[i] == ' ' &&
         line[i + 1] != ' ';
}

std::string UUBeginFileName(std::string_view line) {
  // "begin", blanks, the mode, blanks, then the name: a mode of any width
  // ("0644") keeps the name whole.
  std::size_t i = line.size() < 5 ? line.size() : 5;
  while (i < line.size() && line[i] == ' ') ++i;
  while (i < line.size() && line[i] != ' ') ++i;
  while (i < line.size() && line[i] == ' ') ++i;
  const std::string_view rest = line.substr(i);
  if (!rest.empty() && rest[0] == '"') {
    const std::size_t close = rest.find('"', 1);
    return close == std::string_view::npos ? std::string() : std::string(rest.substr(1, close - 1));
  }
  return std::string(rest.substr(0, rest.find(' ')));
}
