// Message boxes of the launcher: zenity on a desktop, else the terminal,
// else none (every question answered No).
#pragma once

#include <memory>
#include <string>

#include "setup/file_io.h"

namespace wrap {

enum class BoxType { YesNoExclamation, OkExclamation };
enum class Answer { Yes, No, Ok };

class Asker {
 public:
  virtual ~Asker() = default;
  virtual Answer Ask(const std::string& title, const std::string& text, BoxType type) = 0;
};

// zenity dialogs; closing the window counts as No.
class ZenityAsker : public Asker {
 public:
  explicit ZenityAsker(std::string program = "zenity") : program_(std::move(program)) {}
  Answer Ask(const std::string& title, const std::string& text, BoxType type) override;

 private:
  std::string program_;
};

// Questions on a terminal: Yes only for an answer starting with "y" or "Y";
// the end of input is No. Notices are printed and need no answer.
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

// Nobody to ask: questions are No; notices go to standard error.
class SilentAsker : public Asker {
 public:
  Answer Ask(const std::string& title, const std::string& text, BoxType type) override;
};

// zenity when a display is set and zenity is on PATH, else the controlling
// terminal, else silence.
std::unique_ptr<Asker> ChooseAsker();

// The full path of an executable found on PATH, or empty.
std::string FindOnPath(const std::string& program);

}  // namespace wrap
