// Profile text from a hand-edited file: reading, writing and reading back.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/profile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  TProfileText profile(text);
  for (const std::string& name : profile.SectionNames()) {
    const std::string type = profile.Read(name, "Type");
    if (type.size() > kProfileValueMax) std::abort();
    (void)ProfileTypeNumber(type);
    (void)ProfileSettingsNumber(profile.Read(name, "TipNumber"));
  }
  (void)ProfileTypeNumber(text.substr(0, 16));
  (void)ProfileSettingsNumber(text.substr(0, 16));

  // A write is read back whatever surrounds it.
  const std::string written = profile.Write("Servers", "HTTPPages", "pages@example.org");
  const TProfileText again(written);
  if (again.Read("servers", "httppages") != "pages@example.org") std::abort();
  return 0;
}
