// What the command-line modes need of the system around them.
#pragma once

#include <functional>

// Runs `mode` with the event loop that the sockets' waits turn: on Linux an
// application object must exist for the run; on Windows the socket layer
// pumps its own message loop and nothing is needed.
int RunCommandMode(int argc, char** argv, const std::function<int()>& mode);

// True when someone at a terminal can answer a question on standard input.
bool InputIsTerminal();

// The command-line modes of a program built for the GUI subsystem write to
// the standard handles it inherited, or else to the console of the program
// that started it (a command prompt). Nothing to do elsewhere.
void UseParentConsole();
