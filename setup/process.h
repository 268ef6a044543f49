// Child processes and the events that end a launcher run: on POSIX the four
// signals SIGHUP, SIGINT, SIGQUIT and SIGTERM, on Windows the console's
// Ctrl+C, Ctrl+Break, close, logoff and shutdown. Once caught they are
// recorded instead of ending the launcher, so that it can remove what it
// unpacked; one sent to the launcher while a child runs is passed on to the
// child.
#pragma once

#ifndef _WIN32
#include <spawn.h>
#include <sys/types.h>
#endif

#include <string>
#include <vector>

namespace wrap {

// Installs the handlers; a signal found ignored stays ignored.
void CatchInterrupts();
// The last of the events caught (a signal number; on Windows the console
// event plus one), or 0.
int Interruption();
// Forgets a caught event (for tests).
void ClearInterruption();

// On Windows the child runs in a job object that ends with the launcher:
// killing the launcher ends SETUP.EXE and everything it started.
class Child {
 public:
  Child() = default;
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;
  // Waits for a child still running.
  ~Child();

#ifdef _WIN32
  // CreateProcessW with the arguments quoted as CommandLineToArgvW splits
  // them; 0 or the errno value closest to the Windows error.
  int Start(const std::string& program, const std::vector<std::string>& args);
  // Waits for the end; its exit code (-1 when it cannot be had). Processes
  // it left running end with the job.
  int Wait();
#else
  // posix_spawn (or posix_spawnp when search is set); 0 or the error number.
  int Start(const std::string& program, const std::vector<std::string>& args,
            const posix_spawn_file_actions_t* actions = nullptr, bool search = false);
  // Waits for the end, whatever signals come meanwhile; the wait status.
  int Wait();
#endif

 private:
#ifdef _WIN32
  void* process_ = nullptr;  // HANDLE
  void* job_ = nullptr;
#else
  pid_t pid_ = -1;
#endif
};

// The command line that CommandLineToArgvW splits into args.
std::string QuoteArguments(const std::vector<std::string>& args);

}  // namespace wrap
