#include "shell/win/single_instance.h"

#include "app/tray_logic.h"
#include "platform/windows_api.h"
#include "shell/win/task_icon.h"

#include <windows.h>

namespace {

std::string ProgramFileName() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n < path.size()) {
      path.resize(n);
      break;
    }
    path.resize(path.size() * 2);
  }
  const std::size_t slash = path.find_last_of(L"\\/");
  return Utf8Text(slash == std::wstring::npos ? path : path.substr(slash + 1));
}

std::string LockPath() {
  const std::string base = InstanceBasePath(ProgramFileName());
  return base.empty() ? std::string() : base + ".lock";
}

}  // namespace

unsigned ShowMainWindowMessage() {
  static const UINT message = RegisterWindowMessageW(L"Tolvane.ShowMainWindow");
  return message;
}

TWinInstance::TWinInstance() : lock_(LockPath()) {}

std::string TWinInstance::RefusalText() const {
  return ::RefusalText(lock_.Error());
}

bool TWinInstance::AskFirstToShow() {
  const HWND first = FindWindowW(TWinTaskIcon::kWindowClass, nullptr);
  if (!first) return false;
  // Only a process that has the foreground may hand it on.
  DWORD process = 0;
  GetWindowThreadProcessId(first, &process);
  if (process) AllowSetForegroundWindow(process);
  return PostMessageW(first, ShowMainWindowMessage(), 0, 0) != FALSE;
}
