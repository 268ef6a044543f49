// What a request shows while it runs: the confirmation and password boxes,
// its progress window, brief notices and the status line. The tray app
// hands these to the dispatcher.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "core/dispatcher.h"

class QTimer;
class QWidget;
class TfrmProgress;

class TRequestView {
 public:
  static constexpr int kLingerMs = 400;

  // Boxes belong to `window` (the main window), which a confirmation hides
  // while it asks.
  explicit TRequestView(QWidget& window);
  ~TRequestView();
  TRequestView(const TRequestView&) = delete;
  TRequestView& operator=(const TRequestView&) = delete;

  // "Request <url> by e-mail?" above everything; the address's "&" are shown
  // as they are.
  TRequestUi::TAnswer Confirm(const std::string& question);
  // The address holds a password: with it, without it, or not at all.
  TRequestUi::TCredentials AskAboutCredentials(const std::string& masked);
  // Asks for the mail server's password; nullopt when none was typed.
  std::optional<std::string> AskPassword(const std::string& prompt);

  // One progress window serves every request: it is shown and hidden, not
  // made anew each time, and it stays up a moment after a request so that
  // back-to-back requests keep it up. Fewer maps and unmaps also spare Qt
  // 6.4's Wayland client a race that brought it down in bursts.
  void OpenProgress(const std::string& label);
  void SetProgress(int position);
  void CloseProgress();
  // The progress window while a request runs; null otherwise.
  TfrmProgress* Progress() const;

  // The status line: the last status set, empty at start. Every change goes
  // to the debug log.
  const std::string& StatusLine() const { return status_; }
  void SetStatus(const std::string& text);

  // Shows `text` without a bar for 2.5 seconds and waits for it, handling
  // events meanwhile; then the status becomes "Requesting".
  void ShowBriefNotice(const std::string& text);
  // The same notice outside a request: the status stays.
  void ShowNotice(const std::string& text);

 private:
  QWidget& window_;
  std::unique_ptr<TfrmProgress> progress_;
  QTimer* hide_later_ = nullptr;  // owned by the progress window
  std::string status_;
};
