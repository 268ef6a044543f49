#include "setup/process.h"

#include <sys/wait.h>

#include <cerrno>
#include <csignal>

extern char** environ;

namespace wrap {
namespace {

constexpr int kSignals[] = {SIGHUP, SIGINT, SIGQUIT, SIGTERM};

volatile sig_atomic_t caught = 0;
volatile sig_atomic_t running = 0;  // pid of the child that runs, or 0

void OnSignal(int signal, siginfo_t* info, void*) {
  caught = signal;
  // One from the terminal went to the child's process group already.
  if (running > 0 && info->si_code != SI_KERNEL) ::kill(static_cast<pid_t>(running), signal);
}

sigset_t InterruptSet() {
  sigset_t set;
  sigemptyset(&set);
  for (int s : kSignals) sigaddset(&set, s);
  return set;
}

}  // namespace

void CatchInterrupts() {
  struct sigaction action {};
  action.sa_sigaction = OnSignal;
  // No SA_RESTART: a read from the terminal must end when the user quits.
  action.sa_flags = SA_SIGINFO;
  action.sa_mask = InterruptSet();
  for (int s : kSignals) {
    struct sigaction old {};
    ::sigaction(s, nullptr, &old);
    if (old.sa_handler != SIG_IGN) ::sigaction(s, &action, nullptr);
  }
}

int Interruption() { return caught; }

void ClearInterruption() { caught = 0; }

Child::~Child() {
  if (pid_ > 0) Wait();
}

int Child::Start(const std::string& program, const std::vector<std::string>& args,
                 const posix_spawn_file_actions_t* actions, bool search) {
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  // Blocked until the child is known, so that none slips past it; the child
  // starts with the mask the launcher had.
  const sigset_t block = InterruptSet();
  sigset_t old;
  ::sigprocmask(SIG_BLOCK, &block, &old);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  posix_spawnattr_setsigmask(&attr, &old);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK);
  pid_t pid = 0;
  const int rc = search
                     ? ::posix_spawnp(&pid, program.c_str(), actions, &attr, argv.data(), environ)
                     : ::posix_spawn(&pid, program.c_str(), actions, &attr, argv.data(), environ);
  posix_spawnattr_destroy(&attr);
  if (rc == 0) {
    pid_ = pid;
    running = pid;
  }
  ::sigprocmask(SIG_SETMASK, &old, nullptr);
  return rc;
}

int Child::Wait() {
  int status = 0;
  while (::waitpid(pid_, &status, 0) < 0) {
    if (errno != EINTR) {
      status = -1;
      break;
    }
  }
  running = 0;
  pid_ = -1;
  return status;
}

}  // namespace wrap
