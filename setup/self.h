// The running program: its arguments as UTF-8 and its own file.
#pragma once

#include <string>
#include <vector>

namespace wrap {

// The arguments after the program's name, as UTF-8 (on Windows from
// GetCommandLineW, whatever the code page).
std::vector<std::string> ProgramArguments(int argc, char** argv);
// A path that opens the running program's file: /proc/self/exe, or on
// Windows the module's file name.
std::string OwnExecutable();
// The folder holding the running program, ending in a separator; empty
// when it cannot be found.
std::string OwnFolder();
// How a program's file name ends: "" or ".exe".
extern const char* const kProgramSuffix;

}  // namespace wrap
