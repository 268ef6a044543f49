// The tray module's entry point, called by tolvane's main once it has
// loaded the module.
#include "app/tray_module.h"
#include "shell/app.h"

extern "C" int tolvane_tray_main(int argc, char** argv) { return RunTrayProgram(argc, argv); }
