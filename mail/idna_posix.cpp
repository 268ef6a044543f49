#include "mail/idna.h"

#include <idn2.h>

#include <algorithm>
#include <memory>

std::optional<std::string> DomainToAscii(std::string_view domain) {
  if (std::all_of(domain.begin(), domain.end(),
                  [](char c) { return static_cast<unsigned char>(c) < 128; }))
    return std::string(domain);
  // The library reads up to a zero byte: one inside the name would cut it.
  if (domain.find('\0') != std::string_view::npos) return std::nullopt;
  const std::string input(domain);
  uint8_t* output = nullptr;
  if (idn2_lookup_u8(reinterpret_cast<const uint8_t*>(input.c_str()), &output,
                     IDN2_NONTRANSITIONAL) != IDN2_OK)
    return std::nullopt;
  const std::unique_ptr<uint8_t, decltype(&idn2_free)> owned(output, idn2_free);
  return std::string(reinterpret_cast<const char*>(output));
}
