#include <cctype>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>

#include "mail/codecs.h"
#include "platform/errors.h"

namespace {

// Index 0 is the grave accent; index n is the character 32 + n.
char Encode6(unsigned v) { return v == 0 ? '`' : static_cast<char>(32 + v); }

// Value of a character; a blank also reads as 0 (older encoders wrote it).
unsigned Decode6(unsigned char c) {
  if (c == '`' || c == ' ') return 0;
  if (c > 32 && c < 96) return c - 32u;
  throw EFileError("Invalid Character");
}

constexpr std::size_t kFullLineBytes = 45;

}  // namespace

std::size_t UUEncodeChunk(const char* bytes, std::size_t n, char* out) {
  if (n > kUUMaxLineBytes) throw std::length_error("UUEncodeChunk: more than 63 bytes");
  // Bits beyond the data are zero: work on a zero-padded copy.
  unsigned char buf[kUUMaxLineBytes + 3] = {};
  if (n > 0) std::memcpy(buf, bytes, n);
  const std::size_t chars = n == kFullLineBytes ? 60 : n * 4 / 3 + 1;
  char* o = out;
  *o++ = Encode6(static_cast<unsigned>(n));
  for (std::size_t j = 0, b = 0; j < chars; j += 4, b += 3) {
    const std::uint32_t v = (std::uint32_t{buf[b]} << 16) | (std::uint32_t{buf[b + 1]} << 8) | buf[b + 2];
    const char group[4] = {Encode6(v >> 18), Encode6((v >> 12) & 63), Encode6((v >> 6) & 63), Encode6(v & 63)};
    const std::size_t take = chars - j < 4 ? chars - j : 4;
    std::memcpy(o, group, take);
    o += take;
  }
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
  auto at = [&](std::size_t j) -> std::uint32_t {
    return j < chars && 1 + j < line.size() ? Decode6(static_cast<unsigned char>(line[1 + j])) : 0;
  };
  std::size_t written = 0;
  for (std::size_t j = 0; written < n; j += 4) {
    const std::uint32_t v = (at(j) << 18) | (at(j + 1) << 12) | (at(j + 2) << 6) | at(j + 3);
    const unsigned char group[3] = {static_cast<unsigned char>(v >> 16), static_cast<unsigned char>(v >> 8),
                                    static_cast<unsigned char>(v)};
    for (int k = 0; k < 3 && written < n; ++k) out[written++] = static_cast<char>(group[k]);
  }
  return written;
}

std::string UUDecodeLine(std::string_view line) {
  char out[kUUMaxLineBytes];
  return std::string(out, UUDecodeLine(line, out));
}

bool IsUUBeginLine(std::string_view line) {
  if (line.size() <= 8) return false;
  for (std::size_t i = 0; i < 5; ++i) {
    if (std::toupper(static_cast<unsigned char>(line[i])) != "BEGIN"[i]) return false;
  }
  std::size_t i = 5;
  while (i < line.size() && line[i] == ' ') ++i;
  // The next three characters (fewer at the end of the line) must read as
  // an integer: the file mode.
  const std::string_view mode = line.substr(i, 3);
  std::size_t k = 0;
  if (k < mode.size() && (mode[k] == '+' || mode[k] == '-')) ++k;
  if (k == mode.size()) return false;
  for (; k < mode.size(); ++k) {
    if (!std::isdigit(static_cast<unsigned char>(mode[k]))) return false;
  }
  return true;
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
