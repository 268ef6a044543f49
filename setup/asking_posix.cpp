#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "setup/asking.h"
#include "setup/file_io.h"
#include "setup/process.h"
#include "setup/wrap_error.h"

namespace wrap {
namespace {

constexpr std::size_t kMaxErrorText = 1 << 16;

// Everything the other end writes until it closes, up to a limit.
std::string Drain(int fd) {
  std::string text;
  char buf[4096];
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return text;
    if (text.size() < kMaxErrorText) text.append(buf, static_cast<std::size_t>(n));
  }
}

}  // namespace

std::optional<Answer> ZenityAsker::Ask(const std::string& title, const std::string& text,
                                       BoxType type) {
  const int savedErrno = errno;
  std::vector<std::string> args{program_};
  if (type == BoxType::YesNoExclamation) {
    args.insert(args.end(), {"--question", "--icon-name=dialog-warning", "--ok-label=Yes",
                             "--cancel-label=No"});
  } else {
    args.insert(args.end(), {"--warning", "--ok-label=OK"});
  }
  args.insert(args.end(), {"--title=" + title, "--text=" + text, "--no-markup"});
  // Its error text tells a display it cannot open from a No.
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
    problem_ = "zenity: " + ErrorText(errno);
    errno = savedErrno;
    return std::nullopt;
  }
  UniqueFd readEnd(pipeFds[0]), writeEnd(pipeFds[1]);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, writeEnd.Get(), STDERR_FILENO);
  Child child;
  const int rc = child.Start(program_, args, &actions, true);
  posix_spawn_file_actions_destroy(&actions);
  writeEnd = UniqueFd();
  std::string errors;
  int status = -1;
  if (rc == 0) {
    errors = Drain(readEnd.Get());
    status = child.Wait();
  }
  errno = savedErrno;
  if (rc != 0) {
    problem_ = program_ + " did not start: " + ErrorText(rc);
    return std::nullopt;
  }
  const bool exited = WIFEXITED(status);
  const std::size_t at = errors.find("cannot open display");
  if ((!exited || WEXITSTATUS(status) != 0) && at != std::string::npos) {
    problem_ = "zenity " + errors.substr(at, errors.find('\n', at) - at);
    return std::nullopt;
  }
  if (type == BoxType::OkExclamation) return Answer::Ok;
  return exited && WEXITSTATUS(status) == 0 ? Answer::Yes : Answer::No;
}

UserAsker::UserAsker(std::optional<ZenityAsker> zenity, std::string noDisplay, UniqueFd tty)
    : zenity_(std::move(zenity)), reason_(std::move(noDisplay)), tty_(std::move(tty)) {}

Answer UserAsker::Ask(const std::string& title, const std::string& text, BoxType type) {
  if (zenity_) {
    if (auto answer = zenity_->Ask(title, text, type)) return *answer;
    reason_ = zenity_->Problem();
    zenity_.reset();
  }
  if (!next_) {
    if (tty_.Get() >= 0) {
      next_ = std::make_unique<TerminalAsker>(std::move(tty_));
    } else {
      next_ = std::make_unique<SilentAsker>(reason_ + "; no terminal");
    }
  }
  return next_->Ask(title, text, type);
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
  std::optional<ZenityAsker> zenity;
  std::string reason = "no display";
  if ((display && *display) || (wayland && *wayland)) {
    std::string path = FindOnPath("zenity");
    if (!path.empty()) {
      zenity.emplace(path);
    } else {
      reason = "zenity not found";
    }
  }
  UniqueFd tty(::open("/dev/tty", O_RDWR | O_CLOEXEC | O_NOCTTY));
  return std::make_unique<UserAsker>(std::move(zenity), reason, std::move(tty));
}

}  // namespace wrap
