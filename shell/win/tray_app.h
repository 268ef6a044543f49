// The Windows tray program's owner: the settings last saved, the request
// stack, the clipboard watch, the tray icon and the housekeeping timer. The
// main window and the request windows are its views; the dispatcher reaches
// them only through the TRequestUi this class implements.
#pragma once

#include <memory>
#include <string>
#include <utility>

#include "app/tray_core.h"
#include "net/event_loop.h"
#include "shell/win/main_window.h"
#include "shell/win/request_view.h"
#include "shell/win/task_icon.h"

struct HICON__;
struct HINSTANCE__;
class TWinClipboardWatch;

class TWinTrayApp : private TRequestUi, private TTrayView {
 public:
  static constexpr int kTimerMs = 6000;

  explicit TWinTrayApp(HINSTANCE__* instance);
  ~TWinTrayApp() override;
  TWinTrayApp(const TWinTrayApp&) = delete;
  TWinTrayApp& operator=(const TWinTrayApp&) = delete;

  // Adds the tray icon and runs the start-up steps: servers, outbox and
  // history, settings, the clipboard watch, the tip of the day. A step that
  // fails goes to the error box and ends the start-up there.
  void Start();
  // Runs the message loop until Stop; returns the exit code.
  int Run();

  bool SettingsLoaded() const { return core_.SettingsLoaded(); }
  TTipState& Tips() { return core_.Tips; }
  // The start-up serves the command line on the channel named after
  // `programName`: only for the instance that holds the lock.
  void ServeCommandLineAs(std::string programName) { channel_name_ = std::move(programName); }

  // Ends the message loop, an open box's included; a box closed by it
  // counts as No.
  void Stop() override;
  bool Stopping() const override { return stopping_; }

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
  void ProcessMessages() override { PumpEvents(); }
  void HistoryChanged() override { window_.ShowHistory(); }
  void SelectHistoryEntry(int index) override { window_.SelectHistoryEntry(index); }
  void UnhandledException(const std::exception& e) override;

  // TTrayView
  void SetValues(const TSettings& settings) override { window_.SetValues(settings); }
  TSettings Values() override { return window_.Values(); }
  std::string TakePassword() override { return window_.TakePassword(); }
  void SetEnabledIndex(int index) override { window_.SetEnabledIndex(index); }
  void SetShowTips(bool on) override { window_.SetShowTips(on); }
  bool CheckRequiredFields() override { return window_.CheckRequiredFields(); }
  bool CheckAddressField() override { return window_.CheckAddressField(); }
  bool CheckSendAtField() override { return window_.CheckSendAtField(); }
  void HideWindow() override { window_.Hide(); }
  void ShowHistory() override { window_.ShowHistory(); }
  void ShowTrayState(bool dim, const std::string& tip) override;
  void ShowTipOfTheDay() override;
  void LeaveClipboard() override;

  void ConnectViews();
  void ConnectWindow();
  bool WindowMessage(unsigned msg, std::uintptr_t wparam, std::intptr_t lparam);
  void StartSteps();
  void Finish();

  HINSTANCE__* instance_;
  bool started_ = false;
  bool silent_ = false;  // started with "/s"
  bool stopping_ = false;
  std::string channel_name_;  // empty: the command line is not served

  TTrayCore core_;
  TWinMainWindow window_;
  TWinRequestView requests_;
  TWinTaskIcon icon_;
  HICON__* bright_ = nullptr;
  HICON__* dim_icon_ = nullptr;
  TLoopTimer timer_;
  std::unique_ptr<TWinClipboardWatch> clipboard_;
};
