// The tray program lives in a module of its own (Qt Widgets and Gui, the
// windows, the clipboard watch), loaded only when it runs, so that the
// command line never maps those libraries.
#pragma once

#include <string>
#include <vector>

// The module's one entry point: the tray program's main. The module takes
// everything below the windows from the executable that loads it.
extern "C" int tolvane_tray_main(int argc, char** argv);

// Where the module is looked for, in order: beside the executable (the
// build folder, an unpacked archive), then where an install puts it.
std::vector<std::string> TrayModulePaths();

// Loads the first module found and runs its entry point; 1 when none can
// be loaded (the reason goes to standard error).
int RunTrayModule(int argc, char** argv);
