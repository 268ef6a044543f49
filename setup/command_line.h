// The launcher's command line. Without arguments it runs its main sequence
// and always exits with 0; every option reports on standard output and
// error and through its exit status instead of boxes.
#pragma once

#include <string>
#include <vector>

namespace wrap {

struct CommandLine {
  enum class Action { Install, Help, List, Check, Target, NoExec };
  Action action = Action::Install;
  bool accept = false;
  bool options = false;  // any option given
  std::string target;
  std::vector<std::string> setupArgs;  // after "--"
  std::string error;                   // why the line cannot be used
};

CommandLine ParseCommandLine(const std::vector<std::string>& args);

extern const char* const kLauncherUsage;

// Runs what the command line asks for on the launcher at exePath; the
// process's exit status.
int RunLauncher(const CommandLine& line, const std::string& exePath);

}  // namespace wrap
