// The tray program has no Windows build yet: only the command-line modes run.
#include "app/tray_module.h"

#include <iostream>

std::vector<std::string> TrayModulePaths() { return {}; }

int RunTrayModule(int, char**) {
  std::cerr << "tolvane: the tray program is not available in this build; the command-line "
               "modes work without it\n";
  return 1;
}
