// The tray program's entry on Windows: tolvane.exe with no mode, or "/s".
#include "app/tray_logic.h"
#include "app/tray_module.h"
#include "base/debug_log.h"
#include "base/text_helpers.h"
#include "platform/datetime.h"
#include "platform/windows_api.h"
#include "shell/win/boxes.h"
#include "shell/win/single_instance.h"
#include "shell/win/tray_app.h"

#include <windows.h>
#include <commctrl.h>

namespace {

int RefuseToStart(const std::string& text) {
  DebugLog(text);
  MessageBoxW(nullptr, WideText(text).c_str(), L"Tolvane", MB_OK | MB_ICONERROR | MB_TOPMOST);
  return 1;
}

}  // namespace

// The windows are in this program itself: nothing is loaded.
std::vector<std::string> TrayModulePaths() { return {}; }

int RunTrayModule(int argc, char** argv) {
  // Taken before anything else, and held until the process ends.
  const TWinInstance instance;
  SetProgramArguments(argc, argv);
  UseUserTimeLocale();
  ProgramFolder();
  DebugLog("Started Tolvane");
  InstallErrorBox();
  const INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX),
                                      ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);

  // Settled before the tray icon is added, so that a second start never
  // shows an icon of its own, even for a moment.
  switch (ChooseStart(ProgramFolder(), instance.LockFailed(), instance.OtherRuns(),
                      [] { TWinInstance::AskFirstToShow(); })) {
    case TStartChoice::EndRefused:
      return RefuseToStart(instance.RefusalText());
    case TStartChoice::EndRaised:
      return 0;  // nothing is saved
    case TStartChoice::Run:
      break;
  }
  int code = 0;
  {
    TWinTrayApp tray(GetModuleHandleW(nullptr));
    if (instance.HoldsLock()) tray.ServeCommandLineAs(argv[0]);
    tray.Start();
    // The tip steps forward once per start (not over the stored number when
    // the settings were never read).
    if (tray.SettingsLoaded() && !tray.Stopping()) StepTipOfTheDay(tray.Tips());
    // A stop during the start-up's boxes ended only their loops.
    if (!tray.Stopping()) code = tray.Run();
  }
  SetErrorBox({});
  return code;
}
