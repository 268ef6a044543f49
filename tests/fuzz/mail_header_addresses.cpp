// GetHeaderAddresses over a header list made of the input's lines, and
// every item through ParseAddress.
#include <cstdint>
#include <string>
#include <vector>

#include "mail/headers.h"
#include "platform/errors.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  TmsHeaders headers;
  for (std::size_t start = 0;;) {
    const std::size_t lf = input.find('\n', start);
    headers.push_back(input.substr(start, lf == std::string::npos ? std::string::npos : lf - start));
    if (lf == std::string::npos) break;
    start = lf + 1;
  }
  std::vector<std::string> items;
  for (const char* name : {"TO", "Cc", ""}) {
    try {
      GetHeaderAddresses(headers, name, items);
    } catch (const EError&) {
      continue;
    }
    for (const std::string& item : items) {
      std::string display, mailbox;
      try {
        ParseAddress(item, display, mailbox);
      } catch (const EError&) {
      }
    }
  }
  return 0;
}
