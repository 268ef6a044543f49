// Message boxes of the launcher: on POSIX zenity on a desktop, else the
// terminal, else none (every question answered No, and why printed on
// standard error); on Windows MessageBoxW, else none.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "setup/unique_fd.h"

namespace wrap {

enum class BoxType { YesNoExclamation, OkExclamation };
enum class Answer { Yes, No, Ok };

class Asker {
 public:
  virtual ~Asker() = default;
  virtual Answer Ask(const std::string& title, const std::string& text, BoxType type) = 0;
};

// Questions on a terminal: Yes only for an answer starting with "y" or "Y";
// the end of input, or a signal while waiting, is No. Notices are printed
// and need no answer.
class TerminalAsker : public Asker {
 public:
  TerminalAsker(int in, int out) : in_(in), out_(out) {}
  explicit TerminalAsker(UniqueFd tty) : in_(tty.Get()), out_(tty.Get()), tty_(std::move(tty)) {}
  Answer Ask(const std::string& title, const std::string& text, BoxType type) override;

 private:
  int in_;
  int out_;
  UniqueFd tty_;
};

// Nobody to ask: notices go to standard error; questions too, followed by
// the reason why they are answered No.
class SilentAsker : public Asker {
 public:
  explicit SilentAsker(std::string reason = "nobody to ask") : reason_(std::move(reason)) {}
  Answer Ask(const std::string& title, const std::string& text, BoxType type) override;

 private:
  std::string reason_;
};

#ifdef _WIN32
// MessageBoxW; when no box can be shown (no desktop), the silent way.
class MessageBoxAsker : public Asker {
 public:
  Answer Ask(const std::string& title, const std::string& text, BoxType type) override;

 private:
  std::unique_ptr<Asker> silent_;
};
#else
// zenity dialogs; closing the window counts as No.
class ZenityAsker {
 public:
  explicit ZenityAsker(std::string program = "zenity") : program_(std::move(program)) {}
  // Nothing when zenity could not show the box (no display it can open, or
  // it did not start); Problem() then says why.
  std::optional<Answer> Ask(const std::string& title, const std::string& text, BoxType type);
  const std::string& Problem() const { return problem_; }

 private:
  std::string program_;
  std::string problem_;
};

// zenity while it can reach a display, then the controlling terminal, then
// silence; a way that failed once is not tried again.
class UserAsker : public Asker {
 public:
  UserAsker(std::optional<ZenityAsker> zenity, std::string noDisplay, UniqueFd tty);
  Answer Ask(const std::string& title, const std::string& text, BoxType type) override;

 private:
  std::optional<ZenityAsker> zenity_;
  std::string reason_;  // why the ways dropped so far could not ask
  UniqueFd tty_;
  std::unique_ptr<Asker> next_;
};

// The full path of an executable found on PATH, or empty.
std::string FindOnPath(const std::string& program);
#endif

std::unique_ptr<Asker> ChooseAsker();

}  // namespace wrap
