#include "shell/shell_state.h"

#include <QCoreApplication>

bool SettingsComplete = false;
bool TrayIconDim = false;
int TipNumber = 0;
bool TipEnabled = true;
bool TipShowing = false;
bool SilentStart = false;
bool RequestBusy = false;

TShellHooks& ShellHooks() {
  static TShellHooks hooks;
  return hooks;
}

bool StopRequested = false;

void RequestStop() {
  StopRequested = true;
  QCoreApplication::exit(0);  // quit() would ask the windows first
}
