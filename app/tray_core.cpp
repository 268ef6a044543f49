#include "app/tray_core.h"

#include "app/secrets.h"
#include "base/debug_log.h"
#include "base/file_helpers.h"
#include "base/text_helpers.h"
#include "platform/folders.h"

#include <utility>

TTrayCore::TTrayCore(TRequestUi& ui, TTrayView& view)
    : Stack(ui, [this] { return settings_.Dispatch(); }),
      view_(view),
      flush_poll_([this] {
        if (!Stack.Dispatcher.Idle()) return;
        flush_poll_.Stop();
        for (auto& done : std::exchange(flushes_, {})) done(Stack.Outbox.Count());
      }) {
  Tips.OnSaved = [this] { view_.SetShowTips(Tips.Enabled); };
  Stack.Dispatcher.OnOutboxChanged = [this] { view_.ShowHistory(); };
}

bool TTrayCore::BeginStart(const std::string& versionText,
                           const std::function<void()>& pumpEvents) {
  SuperDebug = false;
  Tips.Showing = false;
  ticks_ = 0;
  const std::string params = JoinedParams();
  DebugLog("Cmd:" + params);
  DebugLog(versionText);
  pumpEvents();
  TrimFileToSizeCosmetic(DebugLogPath(), kLogKeep);
  DebugLog("Log trimmed");
  return params.find("/s") != std::string::npos;
}

void TTrayCore::LoadRequests(TOutboxScheduler::TGuard guard) {
  // The outbox first, so that no request is ever kept over one not yet read.
  try {
    Stack.Outbox.Load();
  } catch (const std::exception& e) {
    ShowError("Outbox", e.what());
  }
  Stack.History.Load();
  scheduler_ = std::make_unique<TOutboxScheduler>(Stack.Dispatcher, Stack.Outbox, std::move(guard));
  view_.ShowHistory();
}

void TTrayCore::LoadSettings() {
  const std::string file = SettingsFilePath();
  Checkpoint = 1006;  // where a load can fail: KeepFailed written to a new file
  const TSettings stored = TSettings::Load(file);
  if (!stored.SecurityProblem.empty()) ShowError("LoadSettings", stored.SecurityProblem);
  settings_ = stored;
  dim_ = stored.TrayIconDim;
  view_.SetValues(settings_);
  UpdateTrayIcon();
  Tips.Number = stored.TipNumber;
  Tips.Enabled = stored.TipEnabled;
  view_.SetShowTips(Tips.Enabled);
  Checkpoint = 1012;
  SaveLocalRoot(file, ProgramFolder());
  settings_loaded_ = true;
}

void TTrayCore::CheckComplete() { complete_ = view_.CheckRequiredFields(); }

void TTrayCore::Ok() {
  complete_ = view_.CheckRequiredFields() && view_.CheckAddressField();
  if (!complete_ || !view_.CheckSendAtField()) return;
  SaveSettings();
  view_.HideWindow();
}

void TTrayCore::Cancel() {
  LoadSettings();
  view_.HideWindow();
}

void TTrayCore::SaveSettings() {
  const TSettings edited = view_.Values();
  Checkpoint = 1102;
  edited.Save(SettingsFilePath());
  settings_ = edited;
  SavePassword();
  // Requests go to the servers now saved.
  Stack.Servers.Load();
}

// The typed password goes to the system's secret store, never to the file;
// it also serves this run when the store cannot take it.
void TTrayCore::SavePassword() {
  const std::string password = view_.TakePassword();
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

void TTrayCore::Finish() {
  Checkpoint = 90010;
  try {
    Stack.History.Save();
  } catch (const std::exception& e) {
    DebugLog(std::string("History: ") + e.what());
  }
  // The clipboard is left whether or not the history could be saved.
  view_.LeaveClipboard();
  CloseChannel();
  scheduler_.reset();
  // A start that stopped before the settings were read must not write its
  // defaults over the stored value.
  Checkpoint = 90060;
  if (settings_loaded_) SaveTrayIconDim(SettingsFilePath(), dim_);
}

void TTrayCore::ServeCommandLine(const std::string& programName) {
  channel_ = std::make_unique<TRequestServer>(
      RequestSocketPath(programName),
      [this](const std::string& url, TRequestServer::TReply reply) {
        if (!complete_) {
          reply(SettingsIncompleteAnswer());
          return;
        }
        waiting_.push_back({WithSlashes(url), std::move(reply)});
        Stack.Dispatcher.DispatchRequest(url, true);
      },
      [this](const std::string&, TRequestServer::TReply reply) {
        Flush([reply](int left) {
          if (left < 0)
            reply({kRequestFailed, "Tolvane ended before the outbox was sent"});
          else if (left == 0)
            reply({kRequestSent, "nothing waits"});
          else
            reply({kRequestKept, std::to_string(left) + " still waiting"});
        });
      });
}

void TTrayCore::Answer(const std::string& url, TRequestDispatcher::TOutcome outcome) {
  for (auto it = waiting_.begin(); it != waiting_.end(); ++it) {
    // Sent without its password, the address is not the one handed over.
    if (it->url != url && WithoutCredentials(it->url) != url) continue;
    const TRequestServer::TReply reply = std::move(it->reply);
    waiting_.erase(it);
    reply(AnswerFor(outcome, url, Stack.Dispatcher.LastError()));
    return;
  }
}

void TTrayCore::Flush(std::function<void(int left)> done) {
  Stack.Dispatcher.FlushOutbox(true);
  if (Stack.Dispatcher.Idle()) {
    done(Stack.Outbox.Count());
    return;
  }
  // Queued behind a request that runs: answered once the queue is empty.
  flushes_.push_back(std::move(done));
  flush_poll_.Start(200);
}

// A command line still waiting hears that the program went (a flush: -1).
void TTrayCore::CloseChannel() {
  flush_poll_.Stop();
  for (auto& w : waiting_) w.reply({kRequestFailed, "Tolvane ended before the request was sent"});
  waiting_.clear();
  for (auto& done : std::exchange(flushes_, {})) done(-1);
  channel_.reset();
}

void TTrayCore::TrayClick() {
  dim_ = !dim_;
  settings_.Enabled = dim_ ? 1 : 0;
  view_.SetEnabledIndex(settings_.Enabled);
  UpdateTrayIcon();
}

void TTrayCore::EnabledClicked(int index) {
  settings_.Enabled = index;
  dim_ = index == 1;
  UpdateTrayIcon();
}

void TTrayCore::UpdateTrayIcon() {
  view_.ShowTrayState(dim_, TrayToolTip(dim_, Stack.Outbox, Stack.MonthBytes()));
}

void TTrayCore::HistoryShown() {
  UpdateTrayIcon();
  if (scheduler_) scheduler_->Arm();
}

void TTrayCore::Tick() {
  // The program ends even when the flag cannot be deleted.
  if (TakeFlagFile(ProgramFolder() + "Installer.Flg")) view_.Stop();
  SendHeldAtTheSetTime();
  ++ticks_;
  if (!Stack.Dispatcher.RequestBusy() && ticks_ > kTicksPerDay) {
    ticks_ = 0;
    TrimFileToSizeCosmetic(DebugLogPath(), kLogKeep);
    DebugLog("Log trimmed");
    if (Tips.Enabled) view_.ShowTipOfTheDay();
  }
}

void TTrayCore::SendHeldAtTheSetTime() {
  if (!held_clock_.Due(SendAtMinutes(settings_.SendAt), ClockNow())) return;
  DebugLog("Sending the held requests at " + settings_.SendAt);
  Stack.Dispatcher.FlushOutbox(true);
}

bool TTrayCore::ClipboardChanged() {
  // Decided at the change: by the time the text is read, the switch may
  // have moved.
  const bool enabled = settings_.Enabled != 1;
  if (complete_ && enabled) return true;
  Stack.Dispatcher.ClipboardChanged({}, complete_, enabled);
  return false;
}
