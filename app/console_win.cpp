#include "app/console.h"

#include <io.h>
#include <windows.h>

#include <cstdio>

int RunCommandMode(int, char**, const std::function<int()>& mode) { return mode(); }

// The NUL device counts as a character device for _isatty; only a console
// has a console mode.
bool InputIsTerminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
}

namespace {

bool Valid(DWORD which) {
  const HANDLE handle = GetStdHandle(which);
  return handle && handle != INVALID_HANDLE_VALUE;
}

// The C runtime's stream and the system's handle both lead to the console.
void Reopen(DWORD which, const char* device, const char* mode, FILE* stream) {
  if (Valid(which) || !std::freopen(device, mode, stream)) return;
  SetStdHandle(which, reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream))));
}

}  // namespace

void UseParentConsole() {
  // Pipes or files handed over by the starter serve as they are.
  if (Valid(STD_INPUT_HANDLE) && Valid(STD_OUTPUT_HANDLE) && Valid(STD_ERROR_HANDLE)) return;
  if (!AttachConsole(ATTACH_PARENT_PROCESS)) return;  // started from the desktop: nowhere to write
  Reopen(STD_INPUT_HANDLE, "CONIN$", "r", stdin);
  Reopen(STD_OUTPUT_HANDLE, "CONOUT$", "w", stdout);
  Reopen(STD_ERROR_HANDLE, "CONOUT$", "w", stderr);
}
