// GetHeaderValue over a header list made of the input's lines.
#include <cstdint>
#include <string>

#include "mail/headers.h"
#include "platform/errors.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  // The first line is the name to look up.
  TmsHeaders headers;
  std::string name;
  for (std::size_t start = 0, n = 0;; ++n) {
    const std::size_t lf = input.find('\n', start);
    std::string line = input.substr(start, lf == std::string::npos ? std::string::npos : lf - start);
    if (n == 0) name = std::move(line); else headers.push_back(std::move(line));
    if (lf == std::string::npos) break;
    start = lf + 1;
  }
  for (const std::string& n : {name, std::string("Subject"), std::string("Content-Type")}) {
    try {
      (void)GetHeaderValue(headers, n);
    } catch (const EError&) {
    }
  }
  TmsHeaders copy = headers;
  RemoveHeader(copy, name);
  return 0;
}
