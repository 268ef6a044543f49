#include "app/console.h"

#include <windows.h>

int RunCommandMode(int, char**, const std::function<int()>& mode) { return mode(); }

// The NUL device counts as a character device for _isatty; only a console
// has a console mode.
bool InputIsTerminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
}
