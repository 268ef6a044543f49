#include "shell/win/tray_app.h"

#include "app/outbox_scheduler.h"
#include "app/secrets.h"
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
      stack_(*this, [this] { return settings_.Dispatch(); }),
      window_(instance, stack_),
      requests_(instance),
      icon_(instance),
      timer_([this] { Guarded("TTimer", [&] { Tick(); }); }) {
  bright_ = LoadTrayIcon(instance, IDI_TOLVANE_BRIGHT);
  dim_icon_ = LoadTrayIcon(instance, IDI_TOLVANE_DIM);
  ConnectViews();
  ConnectWindow();
}

TWinTrayApp::~TWinTrayApp() {
  timer_.Stop();
  if (started_) Guarded("TfrmProps", [this] { Finish(); });
  for (HICON icon : {bright_, dim_icon_}) {
    if (icon) DestroyIcon(icon);
  }
}

void TWinTrayApp::ConnectViews() {
  icon_.SetIcon(bright_);
  icon_.SetToolTip("Tolvane");
  icon_.OnClick = [this] { Guarded("TTaskIcon", [&] { TrayClick(); }); };
  icon_.OnRightClick = [this](int, int) { Guarded("TTaskIcon", [&] { window_.ShowCentred(); }); };
  icon_.OnMessage = [this](unsigned msg, std::uintptr_t w, std::intptr_t l) {
    return WindowMessage(msg, w, l);
  };
  requests_.SetWindow([this] { return window_.Handle(); });
  requests_.SetBalloon([this](const std::string& text) { return icon_.ShowBalloon(text); });

  stack_.Sender.AskPassword = [this](const std::string& prompt) {
    return requests_.AskPassword(prompt);
  };
  stack_.Dispatcher.OnDispatched = [this](const std::string&, TRequestDispatcher::TOutcome) {
    UpdateTrayIcon();  // the send's bytes are on record only now
  };
  stack_.Dispatcher.OnOutboxChanged = [this] { window_.ShowHistory(); };
}

void TWinTrayApp::ConnectWindow() {
  window_.OnOk = [this] { Guarded("TfrmProps", [&] { Ok(); }); };
  window_.OnCancel = [this] { Guarded("TfrmProps", [&] { Cancel(); }); };
  window_.OnUnload = [this] { Stop(); };
  window_.OnEnabled = [this](int index) { EnabledClicked(index); };
  window_.OnTipNow = [this] { Guarded("TfrmProps", [&] { ShowTip(); }); };
  window_.OnShowTips = [this](bool on) {
    Guarded("TfrmProps", [&] {
      tips_.Enabled = on;
      tips_.Save();
    });
  };
  tips_.OnSaved = [this] { window_.SetShowTips(tips_.Enabled); };
  window_.OnHistoryShown = [this] {
    UpdateTrayIcon();
    if (scheduler_) scheduler_->Arm();
  };
  window_.NextTry = [this] { return scheduler_ ? scheduler_->NextRound() : std::string(); };
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
    Guarded("TfrmProps", [&] { Finish(); });
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
  SuperDebug = false;
  tips_.Showing = false;
  ticks_ = 0;
  timer_.Start(kTimerMs);

  const std::string params = JoinedParams();
  DebugLog("Cmd:" + params);
  silent_ = params.find("/s") != std::string::npos;
  DebugLog(VersionPrefix() + " " + VersionNumbers());

  PumpEvents();
  TrimFileToSizeCosmetic(DebugLogPath(), kLogKeep);
  DebugLog("Log trimmed");

  window_.Hide();
  window_.LoadServers();
  stack_.Servers = window_.Servers;
  LoadRequests();
  LoadSettings();

  clipboard_ = std::make_unique<TWinClipboardWatch>(icon_.Handle());
  clipboard_->OnChange = [this] { return ClipboardChanged(); };
  clipboard_->OnText = [this](const std::string& text) {
    Guarded("TfrmProps", [&] { stack_.Dispatcher.ClipboardChanged(text, true, true); });
  };
  window_.Hide();
  complete_ = window_.CheckRequiredFields();
  if (tips_.Enabled && !silent_) ShowTip();
}

void TWinTrayApp::LoadRequests() {
  // The outbox first, so that no request is ever kept over one not yet read.
  try {
    stack_.Outbox.Load();
  } catch (const std::exception& e) {
    ShowError("Outbox", e.what());
  }
  stack_.History.Load();
  scheduler_ = std::make_unique<TOutboxScheduler>(
      stack_.Dispatcher, stack_.Outbox,
      [](const std::function<void()>& round) { Guarded("TTimer", round); });
  window_.ShowHistory();
}

void TWinTrayApp::LoadSettings() {
  const std::string file = SettingsFilePath();
  Checkpoint = 1006;  // where a load can fail: KeepFailed written to a new file
  const TSettings stored = TSettings::Load(file);
  if (!stored.SecurityProblem.empty()) ShowError("LoadSettings", stored.SecurityProblem);
  settings_ = stored;
  dim_ = stored.TrayIconDim;
  window_.SetValues(settings_);
  UpdateTrayIcon();
  tips_.Number = stored.TipNumber;
  tips_.Enabled = stored.TipEnabled;
  window_.SetShowTips(tips_.Enabled);
  Checkpoint = 1012;
  SaveLocalRoot(file, ProgramFolder());
  settings_loaded_ = true;
}

void TWinTrayApp::SaveSettings() {
  const TSettings edited = window_.Values();
  Checkpoint = 1102;
  edited.Save(SettingsFilePath());
  settings_ = edited;
  SavePassword();
  // Requests go to the servers now saved.
  stack_.Servers.Load();
}

// The typed password goes to the Credential Manager, never to the file; it
// also serves this run when the store cannot take it.
void TWinTrayApp::SavePassword() {
  const std::string password = window_.TakePassword();
  const TSmtpSettings& account = settings_.Account;
  if (password.empty() || account.User.empty()) return;
  const std::string host = SmtpHost(account.Smtp);
  RememberPassword(host, account.User, password);
  try {
    StorePassword(host, account.User, password);
  } catch (const std::exception& e) {
    ShowError("SaveSettings", std::string(e.what()) + "; it is kept until Tolvane ends");
  }
}

void TWinTrayApp::Ok() {
  complete_ = window_.CheckRequiredFields() && window_.CheckAddressField();
  if (!complete_ || !window_.CheckSendAtField()) return;
  SaveSettings();
  window_.Hide();
}

void TWinTrayApp::Cancel() {
  LoadSettings();
  window_.Hide();
}

void TWinTrayApp::ShowTip() {
  if (tips_.Showing) return;
  // The icon is away while the tip shows, as in the desktop shell.
  icon_.SetActive(false);
  ShowTipOfTheDay(instance_, window_.Handle(), tips_);
  icon_.SetActive(true);
}

void TWinTrayApp::Finish() {
  Checkpoint = 90010;
  try {
    stack_.History.Save();
  } catch (const std::exception& e) {
    DebugLog(std::string("History: ") + e.what());
  }
  // The clipboard is left whether or not the history could be saved.
  clipboard_.reset();
  scheduler_.reset();
  // A start that stopped before the settings were read must not write its
  // defaults over the stored value.
  Checkpoint = 90060;
  if (settings_loaded_) SaveTrayIconDim(SettingsFilePath(), dim_);
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

void TWinTrayApp::TrayClick() {
  dim_ = !dim_;
  settings_.Enabled = dim_ ? 1 : 0;
  window_.SetEnabledIndex(settings_.Enabled);
  UpdateTrayIcon();
}

void TWinTrayApp::EnabledClicked(int index) {
  settings_.Enabled = index;
  dim_ = index == 1;
  UpdateTrayIcon();
}

void TWinTrayApp::UpdateTrayIcon() {
  icon_.SetIcon(dim_ ? dim_icon_ : bright_);
  const std::string tip = TrayToolTip(dim_, stack_.Outbox, stack_.MonthBytes());
  if (tip != icon_.ToolTip()) DebugLog("Tray tip: " + ReplaceAll("\n", tip, " / "));
  icon_.SetToolTip(tip);
}

void TWinTrayApp::Tick() {
  // The program ends even when the flag cannot be deleted.
  if (TakeFlagFile(ProgramFolder() + "Installer.Flg")) Stop();
  SendHeldAtTheSetTime();
  ++ticks_;
  if (!stack_.Dispatcher.RequestBusy() && ticks_ > kTicksPerDay) {
    ticks_ = 0;
    TrimFileToSizeCosmetic(DebugLogPath(), kLogKeep);
    DebugLog("Log trimmed");
    if (tips_.Enabled) ShowTip();
  }
}

void TWinTrayApp::SendHeldAtTheSetTime() {
  if (!held_clock_.Due(SendAtMinutes(settings_.SendAt), ClockNow())) return;
  DebugLog("Sending the held requests at " + settings_.SendAt);
  stack_.Dispatcher.FlushOutbox(true);
}

bool TWinTrayApp::ClipboardChanged() {
  // Decided at the change: by the time the text is read, the switch may
  // have moved.
  const bool enabled = settings_.Enabled != 1;
  if (complete_ && enabled) return true;
  Guarded("TfrmProps", [&] { stack_.Dispatcher.ClipboardChanged({}, complete_, enabled); });
  return false;
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
