// The Windows tray program's owner: the settings last saved, the request
// stack, the clipboard watch, the tray icon and the housekeeping timer. The
// main window and the request windows are its views; the dispatcher reaches
// them only through the TRequestUi this class implements.
#pragma once

#include <memory>
#include <string>

#include "app/request_stack.h"
#include "app/settings.h"
#include "app/tip_state.h"
#include "app/tray_logic.h"
#include "net/event_loop.h"
#include "shell/win/main_window.h"
#include "shell/win/request_view.h"
#include "shell/win/task_icon.h"

struct HICON__;
struct HINSTANCE__;
class TOutboxScheduler;
class TWinClipboardWatch;

class TWinTrayApp : private TRequestUi {
 public:
  static constexpr int kTimerMs = 6000;
  static constexpr int kTicksPerDay = 14400;
  static constexpr std::size_t kLogKeep = 20000;

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

  bool SettingsLoaded() const { return settings_loaded_; }
  bool Dim() const { return dim_; }

  // Ends the message loop, an open box's included; a box closed by it
  // counts as No.
  void Stop();
  bool Stopping() const override { return stopping_; }

  void TrayClick();
  void EnabledClicked(int index);
  // The 6-second timer: the installer's stop flag, the held requests at
  // the set time, the daily log trim and tip.
  void Tick();
  // The clipboard changed; true when its text is wanted for a dispatch.
  bool ClipboardChanged();

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

  void ConnectViews();
  void ConnectWindow();
  bool WindowMessage(unsigned msg, std::uintptr_t wparam, std::intptr_t lparam);
  void StartSteps();
  void LoadRequests();
  void LoadSettings();
  void SaveSettings();
  void SavePassword();
  void Ok();
  void Cancel();
  void ShowTip();
  void Finish();
  void UpdateTrayIcon();
  void SendHeldAtTheSetTime();

  HINSTANCE__* instance_;
  TSettings settings_;
  TTipState tips_;
  bool started_ = false;
  bool settings_loaded_ = false;
  bool complete_ = false;
  bool dim_ = false;
  bool silent_ = false;  // started with "/s"
  bool stopping_ = false;
  int ticks_ = 0;
  THeldSendClock held_clock_;

  TRequestStack stack_;
  TWinMainWindow window_;
  TWinRequestView requests_;
  TWinTaskIcon icon_;
  HICON__* bright_ = nullptr;
  HICON__* dim_icon_ = nullptr;
  TLoopTimer timer_;
  std::unique_ptr<TOutboxScheduler> scheduler_;
  std::unique_ptr<TWinClipboardWatch> clipboard_;
};
