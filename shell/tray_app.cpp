#include "shell/tray_app.h"

#include <QApplication>
#include <QComboBox>
#include <QPushButton>
#include <QStyle>


#include "app/outbox_scheduler.h"
#include "app/secrets.h"
#include "base/debug_log.h"
#include "base/file_helpers.h"
#include "base/text_helpers.h"
#include "platform/files.h"
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
      stack_(*this, [this] { return settings_.Dispatch(); }),
      history_(window_, stack_) {
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
  if (started_) Guarded(&window_, [this] { Finish(); });
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
          [this] { Guarded(&window_, [&] { ShowTipOfTheDay(tips_, &icon_); }); });
  connect(&window_, &TfrmProps::showTipsClicked, this, [this](bool on) {
    Guarded(&window_, [&] {
      tips_.Enabled = on;
      tips_.Save();
    });
  });
  tips_.OnSaved = [this] { window_.SetShowTips(tips_.Enabled); };

  icon_.SetTaskIconID(0);
  icon_.SetIcon(bright_);
  icon_.SetToolTip("Tolvane");
  icon_.OnClick = [this](QObject* s) { Guarded(s, [&] { TrayClick(); }); };
  icon_.OnRightClick = [this](QObject* s, Qt::MouseButton, Qt::KeyboardModifiers, int, int) {
    Guarded(s, [&] { window_.ShowCentred(); });
  };

  stack_.Sender.AskPassword = [this](const std::string& prompt) {
    return requests_.AskPassword(prompt);
  };
  stack_.Dispatcher.OnDispatched = [this](const std::string& url, TRequestDispatcher::TOutcome o) {
    Answer(url, o);
    UpdateTrayIcon();  // the send's bytes are on record only now
  };
  stack_.Dispatcher.OnOutboxChanged = [this] { history_.Show(); };
  history_.OnShown = [this] {
    UpdateTrayIcon();
    if (scheduler_) scheduler_->Arm();
  };
  history_.NextTry = [this] { return scheduler_ ? scheduler_->NextRound() : std::string(); };
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
  SuperDebug = false;
  tips_.Showing = false;
  ticks_ = 0;
  timer_.start();

  const std::string params = JoinedParams();
  DebugLog("Cmd:" + params);
  silent_ = params.find("/s") != std::string::npos;
  DebugLog(ProgramVersionInfo(VersionPrefix()));

  QCoreApplication::processEvents();
  TrimFileToSizeCosmetic(DebugLogPath(), kLogKeep);
  DebugLog("Log trimmed");

  window_.hide();
  window_.LoadServers();
  stack_.Servers = window_.Servers;
  LoadRequests();
  LoadSettings();

  clipboard_ = MakeClipboardWatch();
  clipboard_->OnChange = [this] { return ClipboardChanged(); };
  clipboard_->OnText = [this](const std::string& text) {
    Guarded(&window_, [&] { stack_.Dispatcher.ClipboardChanged(text, true, true); });
  };
  window_.hide();
  complete_ = window_.CheckRequiredFields();
  if (tips_.Enabled && !silent_) ShowTipOfTheDay(tips_, &icon_);
}

void TTrayApp::LoadRequests() {
  // The outbox first, so that no request is ever kept over one not yet read.
  try {
    stack_.Outbox.Load();
  } catch (const std::exception& e) {
    ShowError("Outbox", e.what());
  }
  stack_.History.Load();
  scheduler_ = std::make_unique<TOutboxScheduler>(
      stack_.Dispatcher, stack_.Outbox,
      [this](const std::function<void()>& round) { Guarded(&window_, round); });
  history_.Show();
  // Only the one instance that holds the lock serves the command line.
  if (previous_ && previous_->HoldsLock()) ServeCommandLine();
}

void TTrayApp::ServeCommandLine() {
  channel_ = std::make_unique<TRequestServer>(
      RequestSocketPath(previous_->ProgramName()),
      [this](const std::string& url, TRequestServer::TReply reply) {
        if (!complete_) {
          reply(SettingsIncompleteAnswer());
          return;
        }
        waiting_.push_back({WithSlashes(url), std::move(reply)});
        stack_.Dispatcher.DispatchRequest(url, true);
      },
      [this](const std::string&, TRequestServer::TReply reply) {
        Flush([reply](int left) {
          if (left == 0)
            reply({kRequestSent, "nothing waits"});
          else
            reply({kRequestKept, std::to_string(left) + " still waiting"});
        });
      });
}

void TTrayApp::LoadSettings() {
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

void TTrayApp::SaveSettings() {
  window_.EnsureControls();  // Ok is pressed in the window; the server lists live there
  const TSettings edited = window_.Values();
  Checkpoint = 1102;
  edited.Save(SettingsFilePath());
  settings_ = edited;
  SavePassword();
  // Requests go to the servers now saved.
  stack_.Servers.Load();
}

// The typed password goes to the keyring, never to the file; it also serves
// this run when the keyring cannot take it.
void TTrayApp::SavePassword() {
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

void TTrayApp::Finish() {
  Checkpoint = 90010;
  try {
    stack_.History.Save();
  } catch (const std::exception& e) {
    DebugLog(std::string("History: ") + e.what());
  }
  // The clipboard is left whether or not the history could be saved.
  clipboard_.reset();
  // A command line still waiting hears that the program went.
  for (auto& w : waiting_) w.reply({kRequestFailed, "Tolvane ended before the request was sent"});
  waiting_.clear();
  channel_.reset();
  scheduler_.reset();
  // A start that stopped before the settings were read must not write its
  // defaults over the stored value.
  Checkpoint = 90060;
  if (settings_loaded_) SaveTrayIconDim(SettingsFilePath(), dim_);
  icon_.SetActive(false);
}

void TTrayApp::Stop() {
  stopping_ = true;
  QCoreApplication::exit(0);  // quit() would ask the windows first
}

void TTrayApp::Ok() {
  complete_ = window_.CheckRequiredFields() && window_.CheckAddressField();
  if (!complete_ || !window_.CheckSendAtField()) return;
  SaveSettings();
  window_.hide();
}

void TTrayApp::Cancel() {
  LoadSettings();
  window_.hide();
}

void TTrayApp::TrayClick() {
  dim_ = !dim_;
  settings_.Enabled = dim_ ? 1 : 0;
  window_.SetEnabledIndex(settings_.Enabled);
  UpdateTrayIcon();
}

void TTrayApp::EnabledClicked(int index) {
  settings_.Enabled = index;
  dim_ = index == 1;
  UpdateTrayIcon();
}

void TTrayApp::UpdateTrayIcon() {
  icon_.SetIcon(dim_ ? dim_icon_ : bright_);
  icon_.SetToolTip(TrayToolTip(dim_, stack_.Outbox, stack_.MonthBytes()));
}

void TTrayApp::Tick() {
  // The program ends even when the flag cannot be deleted.
  if (TakeFlagFile(ProgramFolder() + "Installer.Flg")) Stop();
  SendHeldAtTheSetTime();
  ++ticks_;
  if (!stack_.Dispatcher.RequestBusy() && ticks_ > kTicksPerDay) {
    ticks_ = 0;
    TrimFileToSizeCosmetic(DebugLogPath(), kLogKeep);
    DebugLog("Log trimmed");
    if (tips_.Enabled) ShowTipOfTheDay(tips_, &icon_);
  }
}

void TTrayApp::SendHeldAtTheSetTime() {
  if (!held_clock_.Due(SendAtMinutes(settings_.SendAt), ClockNow())) return;
  DebugLog("Sending the held requests at " + settings_.SendAt);
  stack_.Dispatcher.FlushOutbox(true);
}

bool TTrayApp::ClipboardChanged() {
  // Decided at the change: by the time the text is read, the switch may
  // have moved.
  const bool enabled = settings_.Enabled != 1;
  if (complete_ && enabled) return true;
  Guarded(&window_, [&] { stack_.Dispatcher.ClipboardChanged({}, complete_, enabled); });
  return false;
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

void TTrayApp::Answer(const std::string& url, TRequestDispatcher::TOutcome outcome) {
  for (auto it = waiting_.begin(); it != waiting_.end(); ++it) {
    // Sent without its password, the address is not the one handed over.
    if (it->url != url && WithoutCredentials(it->url) != url) continue;
    const TRequestServer::TReply reply = std::move(it->reply);
    waiting_.erase(it);
    reply(AnswerFor(outcome, url, stack_.Dispatcher.LastError()));
    return;
  }
}

void TTrayApp::Flush(std::function<void(int left)> done) {
  stack_.Dispatcher.FlushOutbox(true);
  if (stack_.Dispatcher.Idle()) {
    done(stack_.Outbox.Count());
    return;
  }
  // Queued behind a request that runs: answer once the queue is empty.
  auto* poll = new QTimer(this);
  connect(poll, &QTimer::timeout, this, [this, poll, done] {
    if (!stack_.Dispatcher.Idle()) return;
    poll->stop();
    poll->deleteLater();
    done(stack_.Outbox.Count());
  });
  poll->start(200);
}
