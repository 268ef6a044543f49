// The tray program's owner: the settings last saved, the request stack, the
// clipboard watch, the tray icon, the instance lock's answer and the
// housekeeping timer. The windows are its views; the dispatcher reaches them
// only through the TRequestUi this class implements.
#pragma once

#include <QIcon>
#include <QObject>
#include <QTimer>

#include <memory>
#include <string>

#include "app/tray_core.h"
#include "shell/history_view.h"
#include "shell/main_window.h"
#include "shell/request_view.h"
#include "shell/task_icon.h"
#include "shell/tips.h"

class TClipboardWatch;
class TPreviousInstance;

class TTrayApp : public QObject, private TRequestUi, private TTrayView {
  Q_OBJECT

 public:
  static constexpr int kTimerMs = 6000;
  static constexpr int kTicksPerDay = TTrayCore::kTicksPerDay;

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
  bool SettingsLoaded() const { return core_.SettingsLoaded(); }
  // Both required fields passed the check at start-up or at the last Ok.
  bool SettingsComplete() const { return core_.SettingsComplete(); }
  // The settings last read or saved: what a request goes by.
  const TSettings& Settings() const { return core_.Settings(); }
  // Requests are off: the dim tray icon.
  bool Dim() const { return core_.Dim(); }

  // Ends every event loop, an open box's included; a box closed by it
  // counts as No, and a stop that comes before the message loop runs is
  // not lost.
  void Stop() override;
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
  TRequestStack& Stack() { return core_.Stack; }
  THistoryView& History() { return history_; }
  TRequestView& Requests() { return requests_; }
  TTipState& Tips() { return core_.Tips; }
  int TickCount() const { return core_.TickCount(); }
  void SetTickCount(int ticks) { core_.SetTickCount(ticks); }

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

  // TTrayView
  void SetValues(const TSettings& settings) override { window_.SetValues(settings); }
  TSettings Values() override;
  std::string TakePassword() override { return window_.TakePassword(); }
  void SetEnabledIndex(int index) override { window_.SetEnabledIndex(index); }
  void SetShowTips(bool on) override { window_.SetShowTips(on); }
  bool CheckRequiredFields() override { return window_.CheckRequiredFields(); }
  bool CheckAddressField() override { return window_.CheckAddressField(); }
  bool CheckSendAtField() override { return window_.CheckSendAtField(); }
  void HideWindow() override { window_.hide(); }
  void ShowHistory() override { history_.Show(); }
  void ShowTrayState(bool dim, const std::string& tip) override;
  void ShowTipOfTheDay() override;
  void LeaveClipboard() override;

  void ConnectViews();
  void StartSteps();

  TPreviousInstance* previous_;
  bool end_process_ = false;
  bool started_ = false;
  bool silent_ = false;  // started with "/s"
  bool stopping_ = false;

  TfrmProps window_;
  TRequestView requests_;
  TTaskIcon icon_;
  QIcon bright_;
  QIcon dim_icon_;
  QTimer timer_;
  TTrayCore core_;
  THistoryView history_;
  std::unique_ptr<TClipboardWatch> clipboard_;
};
