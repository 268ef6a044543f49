#include "setup/asking.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

extern char** environ;

namespace wrap {
namespace {

void WriteText(int fd, const std::string& text) {
  try {
    WriteAll(fd, ByteView(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
  } catch (const std::exception&) {
    // Nowhere left to report a failed notice.
  }
}

// Runs the program with argv, standard error to /dev/null; its exit status,
// or -1 when it could not be started or did not exit normally.
int RunAndWait(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return -1;
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

Answer ZenityAsker::Ask(const std::string& title, const std::string& text, BoxType type) {
  const int savedErrno = errno;
  std::vector<std::string> args{program_};
  if (type == BoxType::YesNoExclamation) {
    args.insert(args.end(), {"--question", "--icon-name=dialog-warning", "--ok-label=Yes",
                             "--cancel-label=No"});
  } else {
    args.insert(args.end(), {"--warning", "--ok-label=OK"});
  }
  args.insert(args.end(), {"--title=" + title, "--text=" + text, "--no-markup"});
  const int status = RunAndWait(args);
  errno = savedErrno;
  if (type == BoxType::OkExclamation) return Answer::Ok;
  return status == 0 ? Answer::Yes : Answer::No;
}

Answer TerminalAsker::Ask(const std::string& title, const std::string& text, BoxType type) {
  const int savedErrno = errno;
  if (type == BoxType::OkExclamation) {
    WriteText(out_, title + "\n" + text + "\n");
    errno = savedErrno;
    return Answer::Ok;
  }
  WriteText(out_, title + "\n" + text + " [y/N] ");
  std::string line;
  char c = 0;
  for (;;) {
    const ssize_t n = ::read(in_, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0 || c == '\n') break;
    line.push_back(c);
  }
  errno = savedErrno;
  const std::size_t first = line.find_first_not_of(" \t");
  const bool yes = first != std::string::npos && (line[first] == 'y' || line[first] == 'Y');
  return yes ? Answer::Yes : Answer::No;
}

Answer SilentAsker::Ask(const std::string& title, const std::string& text, BoxType type) {
  const int savedErrno = errno;
  WriteText(STDERR_FILENO, title + ": " + text + "\n");
  errno = savedErrno;
  return type == BoxType::OkExclamation ? Answer::Ok : Answer::No;
}

std::string FindOnPath(const std::string& program) {
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/bin:/bin";
  std::size_t start = 0;
  while (start <= dirs.size()) {
    std::size_t colon = dirs.find(':', start);
    if (colon == std::string::npos) colon = dirs.size();
    std::string candidate = colon > start ? dirs.substr(start, colon - start) : std::string(".");
    candidate.append("/").append(program);
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    start = colon + 1;
  }
  return {};
}

std::unique_ptr<Asker> ChooseAsker() {
  const char* display = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  if ((display && *display) || (wayland && *wayland)) {
    std::string zenity = FindOnPath("zenity");
    if (!zenity.empty()) return std::make_unique<ZenityAsker>(zenity);
  }
  const int tty = ::open("/dev/tty", O_RDWR | O_CLOEXEC | O_NOCTTY);
  if (tty >= 0) return std::make_unique<TerminalAsker>(UniqueFd(tty));
  return std::make_unique<SilentAsker>();
}

}  // namespace wrap
