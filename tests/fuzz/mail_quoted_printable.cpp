// Quoted-printable: the input split at LF is a list of lines to decode,
// and is also encoded as bytes; encoding then decoding gives the bytes
// back with CR LF line breaks, and no line break added at the end.
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "mail/codecs.h"
#include "platform/errors.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> lines;
  for (std::size_t start = 0;;) {
    const std::size_t lf = input.find('\n', start);
    lines.push_back(input.substr(start, lf == std::string::npos ? std::string::npos : lf - start));
    if (lf == std::string::npos) break;
    start = lf + 1;
  }
  try {
    std::stringstream out(std::ios::in | std::ios::out | std::ios::binary);
    TQuotedPrintable(out, lines).Decode();
  } catch (const EError&) {
  }
  (void)QDecodeText(input);

  std::stringstream bytes(input, std::ios::in | std::ios::out | std::ios::binary);
  std::vector<std::string> encoded;
  try {
    TQuotedPrintable(bytes, encoded).Encode();
  } catch (const EError&) {
    return 0;  // a paragraph beyond the limit
  }
  for (const std::string& line : encoded) {
    if (line.size() > kQPLineCut * 3 + 1) std::abort();
    if (!line.empty() && (line.back() == ' ' || line.back() == '\t')) std::abort();
  }
  std::stringstream back(std::ios::in | std::ios::out | std::ios::binary);
  try {
    TQuotedPrintable(back, encoded).Decode();
  } catch (const EError&) {
    std::abort();
  }
  // Without line-break bytes and end-of-file marks, the round trip is exact.
  if (input.find_first_of(std::string("\r\n\x1A", 3)) == std::string::npos && back.str() != input) {
    std::abort();
  }
  return 0;
}
