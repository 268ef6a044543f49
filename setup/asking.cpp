#include "setup/asking.h"

#include <unistd.h>

#include <cerrno>

#include "setup/file_io.h"
#include "setup/process.h"
#include "setup/wrap_error.h"

namespace wrap {
namespace {

void WriteText(int fd, const std::string& text) {
  try {
    WriteAll(fd, ByteView(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
  } catch (const std::exception&) {
    // Nowhere left to report a failed notice.
  }
}

}  // namespace

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
    if (n < 0 && errno == EINTR && !Interruption()) continue;
    if (n <= 0 || c == '\n') break;
    line.push_back(c);
  }
  const bool interrupted = Interruption() != 0;
  if (interrupted) WriteText(out_, "\n");
  errno = savedErrno;
  const std::size_t first = line.find_first_not_of(" \t");
  const bool yes =
      !interrupted && first != std::string::npos && (line[first] == 'y' || line[first] == 'Y');
  return yes ? Answer::Yes : Answer::No;
}

Answer SilentAsker::Ask(const std::string& title, const std::string& text, BoxType type) {
  const int savedErrno = errno;
  std::string shown = title + ": " + text + "\n";
  if (type == BoxType::YesNoExclamation) shown += "Answered No: " + reason_ + ".\n";
  WriteText(STDERR_FILENO, shown);
  errno = savedErrno;
  return type == BoxType::OkExclamation ? Answer::Ok : Answer::No;
}

}  // namespace wrap
