#include "shell/win/tray_app.h"

#include "base/debug_log.h"
#include "base/file_helpers.h"
#include "base/text_helpers.h"
#include "core/request_builder.h"  // ReplaceAll
#include "platform/folders.h"
#include "shell/win/boxes.h"
#include "shell/win/clipboard.h"
#include "shell/win/single_instance.h"
#include "shell/win/tips.h"
#include "shell/win/tray_ids.h"

#include <windows.h>

namespace {

HICON LoadTrayIcon(HINSTANCE instance, int id) {
  // The small icon size of the screen the tray is on, for its DPI.
  return static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(id), IMAGE_ICON,
                                       GetSystemMetrics(SM_CXSMICON),
                                       GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR));
}

std::string VersionNumbers() {
  return std::to_string(TOLVANE_VERSION_MAJOR) + "." + std::to_string(TOLVANE_VERSION_MINOR) +
         "." + std::to_string(TOLVANE_VERSION_PATCH) + "." + std::to_string(TOLVANE_VERSION_TWEAK);
}

}  // namespace

TWinTrayApp::TWinTrayApp(HINSTANCE instance)
    : instance_(instance),
      core_(*this, *this),
      window_(instance, core_.Stack),
      requests_(instance),
      icon_(instance),
      timer_([this] { Guarded("TTimer", [&] { core_.Tick(); }); }) {
  bright_ = LoadTrayIcon(instance, IDI_TOLVANE_BRIGHT);
  dim_icon_ = LoadTrayIcon(instance, IDI_TOLVANE_DIM);
  ConnectViews();
  ConnectWindow();
}

TWinTrayApp::~TWinTrayApp() {
  timer_.Stop();
  if (started_) Finish();
  for (HICON icon : {bright_, dim_icon_}) {
    if (icon) DestroyIcon(icon);
  }
}

void TWinTrayApp::ConnectViews() {
  icon_.SetIcon(bright_);
  icon_.SetToolTip("Tolvane");
  icon_.OnClick = [this] { Guarded("TTaskIcon", [&] { core_.TrayClick(); }); };
  icon_.OnRightClick = [this](int, int) { Guarded("TTaskIcon", [&] { window_.ShowCentred(); }); };
  icon_.OnMessage = [this](unsigned msg, std::uintptr_t w, std::intptr_t l) {
    return WindowMessage(msg, w, l);
  };
  requests_.SetWindow([this] { return window_.Handle(); });
  requests_.SetBalloon([this](const std::string& text) { return icon_.ShowBalloon(text); });

  core_.Stack.Sender.AskPassword = [this](const std::string& prompt) {
    return requests_.AskPassword(prompt);
  };
  core_.Stack.Dispatcher.OnDispatched = [this](const std::string& url,
                                               TRequestDispatcher::TOutcome o) {
    core_.Answer(url, o);
    core_.UpdateTrayIcon();  // the send's bytes are on record only now
  };
}

void TWinTrayApp::ConnectWindow() {
  window_.OnOk = [this] { Guarded("TfrmProps", [&] { core_.Ok(); }); };
  window_.OnCancel = [this] { Guarded("TfrmProps", [&] { core_.Cancel(); }); };
  window_.OnUnload = [this] { Stop(); };
  window_.OnEnabled = [this](int index) { core_.EnabledClicked(index); };
  window_.OnTipNow = [this] { Guarded("TfrmProps", [&] { ShowTipOfTheDay(); }); };
  window_.OnShowTips = [this](bool on) {
    Guarded("TfrmProps", [&] {
      core_.Tips.Enabled = on;
      core_.Tips.Save();
    });
  };
  window_.OnHistoryShown = [this] { core_.HistoryShown(); };
  window_.NextTry = [this] { return core_.NextRound(); };
}

bool TWinTrayApp::WindowMessage(unsigned msg, std::uintptr_t wparam, std::intptr_t lparam) {
  if (clipboard_ && clipboard_->HandleMessage(msg, wparam, lparam)) return true;
  if (msg == ShowMainWindowMessage()) {
    // A later start asked for the window: it ends without one of its own.
    Guarded("TfrmProps", [&] { window_.ShowCentred(); });
    return true;
  }
  if (msg == WM_ENDSESSION && wparam) {
    // Windows ends: the history and the icon's state are saved as at Unload.
    Stop();
    Finish();
    started_ = false;
    return true;
  }
  return false;
}

void TWinTrayApp::Start() {
  if (started_) return;
  started_ = true;
  icon_.SetActive(true);
  Guarded("TfrmProps", [this] { StartSteps(); });
  // Without a notification area the window is the only way in.
  if (!icon_.Active()) {
    DebugLog("No notification area: showing the main window");
    window_.ShowCentred();
  }
}

void TWinTrayApp::StartSteps() {
  timer_.Start(kTimerMs);
  silent_ = core_.BeginStart(VersionPrefix() + " " + VersionNumbers(), [] { PumpEvents(); });

  window_.Hide();
  window_.LoadServers();
  core_.Stack.Servers = window_.Servers;
  core_.LoadRequests([](const std::function<void()>& round) { Guarded("TTimer", round); });
  if (!channel_name_.empty()) core_.ServeCommandLine(channel_name_);
  core_.LoadSettings();

  clipboard_ = std::make_unique<TWinClipboardWatch>(icon_.Handle());
  clipboard_->OnChange = [this] {
    bool wanted = false;
    Guarded("TfrmProps", [&] { wanted = core_.ClipboardChanged(); });
    return wanted;
  };
  clipboard_->OnText = [this](const std::string& text) {
    Guarded("TfrmProps", [&] { core_.Stack.Dispatcher.ClipboardChanged(text, true, true); });
  };
  window_.Hide();
  core_.CheckComplete();
  if (core_.Tips.Enabled && !silent_) ShowTipOfTheDay();
}

void TWinTrayApp::ShowTipOfTheDay() {
  if (core_.Tips.Showing) return;
  // The icon is away while the tip shows, as in the desktop shell.
  icon_.SetActive(false);
  ::ShowTipOfTheDay(instance_, window_.Handle(), core_.Tips);
  icon_.SetActive(true);
}

void TWinTrayApp::LeaveClipboard() { clipboard_.reset(); }

void TWinTrayApp::Finish() {
  Guarded("TfrmProps", [this] { core_.Finish(); });
  icon_.SetActive(false);
}

void TWinTrayApp::Stop() {
  stopping_ = true;
  PostQuitMessage(0);
}

int TWinTrayApp::Run() {
  MSG m;
  while (GetMessageW(&m, nullptr, 0, 0) > 0) {
    if (window_.PreTranslate(&m)) continue;
    TranslateMessage(&m);
    DispatchMessageW(&m);
  }
  return 0;
}

void TWinTrayApp::ShowTrayState(bool dim, const std::string& tip) {
  icon_.SetIcon(dim ? dim_icon_ : bright_);
  if (tip != icon_.ToolTip()) DebugLog("Tray tip: " + ReplaceAll("\n", tip, " / "));
  icon_.SetToolTip(tip);
}

TRequestUi::TAnswer TWinTrayApp::Confirm(const std::string& question) {
  if (stopping_) return TAnswer::No;
  const TAnswer answer = requests_.Confirm(question);
  // A stop closed the box: the request must not go out.
  return stopping_ ? TAnswer::No : answer;
}

void TWinTrayApp::ShowServerChoice(const std::string& text) {
  window_.ShowCentred();
  TopmostMessageDlg(text, TMsgDlgType::mtInformation, MB_OK, 4, window_.Handle());
  window_.FocusServerChoice();
}

void TWinTrayApp::Beep() { MessageBeep(MB_OK); }

void TWinTrayApp::UnhandledException(const std::exception& e) {
  AppExceptionAt("TfrmProps", e.what());
}
