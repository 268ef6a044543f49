// The tray program's owner: the settings last saved, the request stack, the
// clipboard watch, the tray icon, the instance lock's answer and the
// housekeeping timer. The windows are its views; the dispatcher reaches them
// only through the TRequestUi this class implements.
#pragma once

#include <QIcon>
#include <QObject>
#include <QTimer>

#include <list>
#include <memory>
#include <string>

#include "app/request_channel.h"
#include "app/request_stack.h"
#include "app/settings.h"
#include "app/tray_logic.h"
#include "shell/history_view.h"
#include "shell/main_window.h"
#include "shell/request_view.h"
#include "shell/task_icon.h"
#include "shell/tips.h"

class TClipboardWatch;
class TOutboxScheduler;
class TPreviousInstance;

class TTrayApp : public QObject, private TRequestUi {
  Q_OBJECT

 public:
  static constexpr int kTimerMs = 6000;
  static constexpr int kTicksPerDay = 14400;
  static constexpr std::size_t kLogKeep = 20000;

  // Makes the windows and settles the single-instance question: when this
  // process must end (another instance runs), EndThisProcess() is true.
  // `previous` may be null: no other instance is looked for.
  explicit TTrayApp(TPreviousInstance* previous,
                    TfrmProps::TControls controls = TfrmProps::TControls::Now);
  ~TTrayApp() override;

  bool EndThisProcess() const { return end_process_; }
  // Adds the tray icon and runs the start-up steps: servers, outbox and
  // history, settings, the clipboard watch, the tip of the day. A step that
  // fails goes to the error box and ends the start-up there.
  void Start();

  // The settings file was read at start-up (a failed start stops before).
  bool SettingsLoaded() const { return settings_loaded_; }
  // Both required fields passed the check at start-up or at the last Ok.
  bool SettingsComplete() const { return complete_; }
  // The settings last read or saved: what a request goes by.
  const TSettings& Settings() const { return settings_; }
  // Requests are off: the dim tray icon.
  bool Dim() const { return dim_; }

  // Ends every event loop, an open box's included; a box closed by it
  // counts as No, and a stop that comes before the message loop runs is
  // not lost.
  void Stop();
  bool Stopping() const override { return stopping_; }

  // What the views and the icon report.
  void Ok();
  void Cancel();
  void TrayClick();
  void EnabledClicked(int index);
  // The 6-second timer: the installer's stop flag, the daily log trim and tip.
  void Tick();
  // The clipboard changed; true when its text is wanted for a dispatch.
  bool ClipboardChanged();

  TfrmProps& Window() { return window_; }
  TTaskIcon& Icon() { return icon_; }
  TRequestStack& Stack() { return stack_; }
  THistoryView& History() { return history_; }
  TRequestView& Requests() { return requests_; }
  TTipState& Tips() { return tips_; }
  int TickCount() const { return ticks_; }
  void SetTickCount(int ticks) { ticks_ = ticks; }

 private:
  // TRequestUi
  TAnswer Confirm(const std::string& question) override;
  void OpenProgress(const std::string& label) override { requests_.OpenProgress(label); }
  void SetProgress(int position) override { requests_.SetProgress(position); }
  void CloseProgress() override { requests_.CloseProgress(); }
  void SetStatus(const std::string& status) override { requests_.SetStatus(status); }
  std::string StatusLine() const override { return requests_.StatusLine(); }
  void ShowBriefNotice(const std::string& text) override { requests_.ShowBriefNotice(text); }
  void ShowNotice(const std::string& text) override { requests_.ShowNotice(text); }
  void ShowServerChoice(const std::string& text) override;
  TCredentials AskAboutCredentials(const std::string& masked) override {
    return stopping_ ? TCredentials::No : requests_.AskAboutCredentials(masked);
  }
  void Beep() override;
  void ProcessMessages() override;
  void HistoryChanged() override { history_.Show(); }
  void SelectHistoryEntry(int index) override { history_.Select(index); }
  void UnhandledException(const std::exception& e) override;

  void ConnectViews();
  void StartSteps();
  void LoadRequests();
  void ServeCommandLine();
  void LoadSettings();
  void SaveSettings();
  void SavePassword();
  void Finish();
  void UpdateTrayIcon();
  void SendHeldAtTheSetTime();
  void Answer(const std::string& url, TRequestDispatcher::TOutcome outcome);
  void Flush(std::function<void(int left)> done);

  TPreviousInstance* previous_;
  TSettings settings_;
  TTipState tips_;
  bool end_process_ = false;
  bool started_ = false;
  bool settings_loaded_ = false;
  bool complete_ = false;
  bool dim_ = false;
  bool silent_ = false;  // started with "/s"
  bool stopping_ = false;
  int ticks_ = 0;
  THeldSendClock held_clock_;

  TfrmProps window_;
  TRequestView requests_;
  TTaskIcon icon_;
  QIcon bright_;
  QIcon dim_icon_;
  QTimer timer_;
  TRequestStack stack_;
  THistoryView history_;
  std::unique_ptr<TOutboxScheduler> scheduler_;
  std::unique_ptr<TClipboardWatch> clipboard_;
  // Requests handed over by the command line, waiting for their outcome.
  struct TWaiting {
    std::string url;
    TRequestServer::TReply reply;
  };
  std::list<TWaiting> waiting_;
  std::unique_ptr<TRequestServer> channel_;
};
