#include "shell/tray_app.h"

#include <QApplication>
#include <QComboBox>
#include <QPushButton>
#include <QStyle>


#include "base/debug_log.h"
#include "base/file_helpers.h"
#include "base/text_helpers.h"
#include "platform/folders.h"
#include "shell/clipboard_watch.h"
#include "shell/dialogs.h"
#include "shell/single_instance.h"
#include "shell/ui_style.h"
#include "shell/version_label.h"

TTrayApp::TTrayApp(TPreviousInstance* previous, TfrmProps::TControls controls)
    : previous_(previous),
      window_(controls),
      requests_(window_),
      core_(*this, *this),
      history_(window_, core_.Stack) {
  // Settled before the tray icon is added, so that a second start never
  // shows an icon of its own, even for a moment.
  end_process_ = TJustOne32(ProgramFolder(), previous_).EndThisProcess();
  if (end_process_) return;
  bright_ = LoadIcon("bright", QStyle::SP_DialogYesButton);
  dim_icon_ = LoadIcon("dim", QStyle::SP_DialogNoButton);
  timer_.setInterval(kTimerMs);
  connect(&timer_, &QTimer::timeout, this, [this] { Guarded(&window_, [&] { Tick(); }); });
  ConnectViews();
}

TTrayApp::~TTrayApp() {
  timer_.stop();
  if (started_) {
    Guarded(&window_, [this] { core_.Finish(); });
    icon_.SetActive(false);
  }
}

void TTrayApp::ConnectViews() {
  // An error is reported as the button's, read at the click: the controls
  // may be made after this.
  connect(&window_, &TfrmProps::okClicked, this, [this] { Guarded(window_.btnOk, [&] { Ok(); }); });
  connect(&window_, &TfrmProps::cancelClicked, this,
          [this] { Guarded(window_.btnCancel, [&] { Cancel(); }); });
  connect(&window_, &TfrmProps::unloadClicked, this, [this] { Stop(); });
  connect(&window_, &TfrmProps::enabledClicked, this, [this](int index) { EnabledClicked(index); });
  connect(&window_, &TfrmProps::nowClicked, this,
          [this] { Guarded(&window_, [&] { ShowTipOfTheDay(); }); });
  connect(&window_, &TfrmProps::showTipsClicked, this, [this](bool on) {
    Guarded(&window_, [&] {
      core_.Tips.Enabled = on;
      core_.Tips.Save();
    });
  });

  icon_.SetTaskIconID(0);
  icon_.SetIcon(bright_);
  icon_.SetToolTip("Tolvane");
  icon_.OnClick = [this](QObject* s) { Guarded(s, [&] { TrayClick(); }); };
  icon_.OnRightClick = [this](QObject* s, Qt::MouseButton, Qt::KeyboardModifiers, int, int) {
    Guarded(s, [&] { window_.ShowCentred(); });
  };

  core_.Stack.Sender.AskPassword = [this](const std::string& prompt) {
    return requests_.AskPassword(prompt);
  };
  core_.Stack.Dispatcher.OnDispatched = [this](const std::string& url,
                                               TRequestDispatcher::TOutcome o) {
    core_.Answer(url, o);
    core_.UpdateTrayIcon();  // the send's bytes are on record only now
  };
  history_.OnShown = [this] { core_.HistoryShown(); };
  history_.NextTry = [this] { return core_.NextRound(); };
}

void TTrayApp::Start() {
  if (end_process_ || started_) return;
  started_ = true;
  icon_.SetActive(true);
  Guarded(&window_, [this] { StartSteps(); });
  // Without a tray the window is the only way in; under X11 the program runs
  // on unseen, as it always did.
  if (!icon_.Active() && OnWayland()) {
    DebugLog("No StatusNotifierWatcher on the session bus: showing the main window");
    window_.ShowCentred();
  }
}

void TTrayApp::StartSteps() {
  timer_.start();
  silent_ = core_.BeginStart(ProgramVersionInfo(VersionPrefix()),
                             [] { QCoreApplication::processEvents(); });

  window_.hide();
  window_.LoadServers();
  core_.Stack.Servers = window_.Servers;
  core_.LoadRequests([this](const std::function<void()>& round) { Guarded(&window_, round); });
  // Only the one instance that holds the lock serves the command line.
  if (previous_ && previous_->HoldsLock()) core_.ServeCommandLine(previous_->ProgramName());
  core_.LoadSettings();

  clipboard_ = MakeClipboardWatch();
  clipboard_->OnChange = [this] { return ClipboardChanged(); };
  clipboard_->OnText = [this](const std::string& text) {
    Guarded(&window_, [&] { core_.Stack.Dispatcher.ClipboardChanged(text, true, true); });
  };
  window_.hide();
  core_.CheckComplete();
  if (core_.Tips.Enabled && !silent_) ShowTipOfTheDay();
}

TSettings TTrayApp::Values() {
  window_.EnsureControls();  // Ok is pressed in the window; the server lists live there
  return window_.Values();
}

void TTrayApp::ShowTrayState(bool dim, const std::string& tip) {
  icon_.SetIcon(dim ? dim_icon_ : bright_);
  icon_.SetToolTip(tip);
}

void TTrayApp::ShowTipOfTheDay() { ::ShowTipOfTheDay(core_.Tips, &icon_); }

void TTrayApp::LeaveClipboard() {
  clipboard_.reset();
}

void TTrayApp::Stop() {
  stopping_ = true;
  QCoreApplication::exit(0);  // quit() would ask the windows first
}

void TTrayApp::Ok() { core_.Ok(); }

void TTrayApp::Cancel() { core_.Cancel(); }

void TTrayApp::TrayClick() { core_.TrayClick(); }

void TTrayApp::EnabledClicked(int index) { core_.EnabledClicked(index); }

void TTrayApp::Tick() { core_.Tick(); }

bool TTrayApp::ClipboardChanged() {
  bool wanted = false;
  Guarded(&window_, [&] { wanted = core_.ClipboardChanged(); });
  return wanted;
}

TRequestUi::TAnswer TTrayApp::Confirm(const std::string& question) {
  if (stopping_) return TAnswer::No;
  const TAnswer answer = requests_.Confirm(question);
  // A stop closed the box: the request must not go out.
  return stopping_ ? TAnswer::No : answer;
}

void TTrayApp::ShowServerChoice(const std::string& text) {
  window_.ShowCentred();
  TopmostMessageDlg(text, TMsgDlgType::mtInformation, QMessageBox::Ok | QMessageBox::Help, 4,
                    &window_);
  window_.cboHTTPServersPages->setFocus(Qt::OtherFocusReason);
}

void TTrayApp::Beep() { QApplication::beep(); }

void TTrayApp::ProcessMessages() { QCoreApplication::processEvents(); }

void TTrayApp::UnhandledException(const std::exception& e) { AppException(&window_, e.what()); }
