// wrap: the setup launcher. Its payload is the bundle at the end of its own
// executable. Without arguments it always exits with 0; failures are shown,
// not returned.
#include <string>
#include <vector>

#include "setup/command_line.h"
#include "setup/self.h"

int main(int argc, char** argv) {
  try {
    return wrap::RunLauncher(wrap::ParseCommandLine(wrap::ProgramArguments(argc, argv)),
                             wrap::OwnExecutable());
  } catch (...) {
    // Out of memory and the like: nothing sensible left to show.
  }
  return 0;
}
