// The tray program below its windows, one for both desktop shells: the
// settings last read or saved, the request stack, the dim switch, and the
// steps that do not depend on a toolkit (loading and saving, the timer's
// tick, a clipboard change, the end). A shell implements the TRequestUi the
// stack reports to, and the TTrayView the core shows its state through.
#pragma once

#include <functional>
#include <list>
#include <memory>
#include <string>

#include "app/outbox_scheduler.h"
#include "app/request_channel.h"
#include "app/request_stack.h"
#include "app/settings.h"
#include "app/tips_state.h"
#include "app/tray_logic.h"
#include "net/event_loop.h"

class TTrayView {
 public:
  virtual ~TTrayView() = default;
  // The main window's values and checks.
  virtual void SetValues(const TSettings& settings) = 0;
  virtual TSettings Values() = 0;
  virtual std::string TakePassword() = 0;
  virtual void SetEnabledIndex(int index) = 0;
  virtual void SetShowTips(bool on) = 0;
  virtual bool CheckRequiredFields() = 0;
  virtual bool CheckAddressField() = 0;
  virtual bool CheckSendAtField() = 0;
  virtual void HideWindow() = 0;
  virtual void ShowHistory() = 0;
  // The tray icon: the dim or bright picture and the tool tip.
  virtual void ShowTrayState(bool dim, const std::string& tip) = 0;
  virtual void ShowTipOfTheDay() = 0;
  // The clipboard is left, and whatever else goes before the outbox rounds.
  virtual void LeaveClipboard() = 0;
  // Ends the program as Unload does.
  virtual void Stop() = 0;
};

class TTrayCore {
 public:
  static constexpr int kTicksPerDay = 14400;
  static constexpr std::size_t kLogKeep = 20000;

  TTrayCore(TRequestUi& ui, TTrayView& view);

  // The start-up's first steps: the switches cleared, the command line and
  // `versionText` logged, pending events run once, the log trimmed. True
  // for a silent start ("/s").
  bool BeginStart(const std::string& versionText, const std::function<void()>& pumpEvents);
  // The outbox, then the history, then the outbox's rounds, each run
  // through `guard`; the history is shown.
  void LoadRequests(TOutboxScheduler::TGuard guard);
  void LoadSettings();
  // Takes requests and flushes that the command line hands over on the
  // channel named after `programName`; only the instance that holds the
  // lock may call it.
  void ServeCommandLine(const std::string& programName);
  // The dispatcher's outcome for `url`: the command line waiting for it
  // hears it.
  void Answer(const std::string& url, TRequestDispatcher::TOutcome outcome);
  // Ok: the window's checks, then its values saved.
  void Ok();
  void Cancel();
  // History, clipboard, rounds, TrayIconDim: the order of a normal end.
  void Finish();

  void TrayClick();
  void EnabledClicked(int index);
  void UpdateTrayIcon();
  // The 6-second timer: the installer's stop flag, the held requests at the
  // set time, the daily log trim and tip.
  void Tick();
  // The clipboard changed; true when its text is wanted for a dispatch.
  bool ClipboardChanged();
  // The history was shown: the tip counts and the rounds follow it.
  void HistoryShown();
  // When the next round runs ("hh:mm"); empty when none is due.
  std::string NextRound() const { return scheduler_ ? scheduler_->NextRound() : std::string(); }

  const TSettings& Settings() const { return settings_; }
  bool SettingsLoaded() const { return settings_loaded_; }
  bool SettingsComplete() const { return complete_; }
  void CheckComplete();
  bool Dim() const { return dim_; }
  int TickCount() const { return ticks_; }
  void SetTickCount(int ticks) { ticks_ = ticks; }

  TRequestStack Stack;
  TTipState Tips;

 private:
  void SaveSettings();
  void SavePassword();
  void SendHeldAtTheSetTime();
  void Flush(std::function<void(int left)> done);
  void CloseChannel();

  TTrayView& view_;
  TSettings settings_;
  bool settings_loaded_ = false;
  bool complete_ = false;
  bool dim_ = false;
  int ticks_ = 0;
  THeldSendClock held_clock_;
  std::unique_ptr<TOutboxScheduler> scheduler_;
  // Requests handed over by the command line, waiting for their outcome.
  struct TWaiting {
    std::string url;
    TRequestServer::TReply reply;
  };
  std::list<TWaiting> waiting_;
  // Flushes queued behind a request that runs, answered once the queue is
  // empty.
  std::list<std::function<void(int left)>> flushes_;
  TLoopTimer flush_poll_;
  std::unique_ptr<TRequestServer> channel_;
};
