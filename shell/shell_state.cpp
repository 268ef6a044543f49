#include "shell/shell_state.h"

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
