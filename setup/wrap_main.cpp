// wrap: the setup launcher. Its payload is the bundle at the end of its own
// executable. It always exits with 0; failures are shown, not returned.
#include <cerrno>
#include <optional>

#include "setup/asking.h"
#include "setup/bundle.h"
#include "setup/launcher.h"
#include "setup/wrap_error.h"

int main() {
  try {
    auto asker = wrap::ChooseAsker();
    std::optional<wrap::Bundle> bundle;
    try {
      bundle = wrap::Bundle::Open("/proc/self/exe");
    } catch (const wrap::EWrapError&) {
      // Run() reports a launcher without a sound bundle.
    }
    wrap::Launcher launcher(bundle ? &*bundle : nullptr, *asker, wrap::TempDirectory());
    launcher.Run();
  } catch (...) {
    // Out of memory and the like: nothing sensible left to show.
  }
  return 0;
}
