// Child processes and the four signals that end a launcher run (SIGHUP,
// SIGINT, SIGQUIT, SIGTERM). Once caught they are recorded instead of ending
// the launcher, so that it can remove what it unpacked; one sent to the
// launcher while a child runs is passed on to the child.
#pragma once

#include <spawn.h>
#include <sys/types.h>

#include <string>
#include <vector>

namespace wrap {

// Installs the handlers; a signal found ignored stays ignored.
void CatchInterrupts();
// The last of the four signals caught, or 0.
int Interruption();
// Forgets a caught signal (for tests).
void ClearInterruption();

class Child {
 public:
  Child() = default;
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;
  // Waits for a child still running.
  ~Child();

  // posix_spawn (or posix_spawnp when search is set); 0 or the error number.
  int Start(const std::string& program, const std::vector<std::string>& args,
            const posix_spawn_file_actions_t* actions = nullptr, bool search = false);
  // Waits for the end, whatever signals come meanwhile; the wait status.
  int Wait();

 private:
  pid_t pid_ = -1;
};

}  // namespace wrap
