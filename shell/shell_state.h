// Process-wide values of the desktop program (all on the GUI thread).
#pragma once

#include <functional>

// Both required fields passed the check at start-up or at the last Ok.
extern bool SettingsComplete;
// True while Tolvane is disabled: the dim tray icon.
extern bool TrayIconDim;
// Index of the current tip and whether tips are shown.
extern int TipNumber;
extern bool TipEnabled;
// A tip window is on screen.
extern bool TipShowing;
// The parameters held "/s".
extern bool SilentStart;
// A request is being dispatched; the daily housekeeping waits for it.
extern bool RequestBusy;

class TfrmProps;

// Steps of start-up and shutdown that other parts of the program fill in:
// the request history and the clipboard watch. An unset step is skipped.
struct TShellHooks {
  std::function<void(TfrmProps&)> LoadHistory;     // start-up, after the servers
  std::function<void(TfrmProps&)> JoinClipboard;   // start-up, after the settings
  std::function<void(TfrmProps&)> SaveHistory;     // shutdown, first step
  std::function<void(TfrmProps&)> LeaveClipboard;  // shutdown, after the history
};
TShellHooks& ShellHooks();

// A stop was asked for (Unload, Installer.Flg, a stop signal). It ends every
// event loop, an open modal box's included; a box closed by it counts as No,
// and a stop that comes before the message loop runs is not lost.
extern bool StopRequested;
void RequestStop();
