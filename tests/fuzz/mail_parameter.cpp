// GetParameter and FirstToken: the first line of the input is the
// parameter name, the rest the value.
#include <cstdint>
#include <string>

#include "mail/headers.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t lf = input.find('\n');
  const std::string_view name = input.substr(0, lf);
  const std::string_view value = lf == std::string_view::npos ? input : input.substr(lf + 1);
  (void)GetParameter(name, value);
  (void)GetParameter("boundary", value);
  (void)GetParameter("name", value);
  (void)FirstToken(value);
  (void)Unquote(value);
  (void)ContentTypeOfFile(value);
  return 0;
}
