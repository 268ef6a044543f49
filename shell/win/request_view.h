// What a request shows while it runs in the Windows shell: the confirmation,
// credentials and password boxes, the progress window, brief notices and
// the status line. The tray app hands these to the dispatcher.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "core/dispatcher.h"

struct HWND__;
struct HINSTANCE__;

class TWinRequestView {
 public:
  static constexpr int kLingerMs = 400;
  static constexpr int kNoticeMs = 2500;

  explicit TWinRequestView(HINSTANCE__* instance);
  ~TWinRequestView();
  TWinRequestView(const TWinRequestView&) = delete;
  TWinRequestView& operator=(const TWinRequestView&) = delete;

  // The main window, hidden while a confirmation asks; brief notices go to
  // the tray icon's balloon while it is there (`balloon` true when shown).
  void SetWindow(std::function<HWND__*()> window) { window_ = std::move(window); }
  void SetBalloon(std::function<bool(const std::string&)> balloon) {
    balloon_ = std::move(balloon);
  }

  // "Request <url> by e-mail?" above everything; a "&" shows as it is.
  TRequestUi::TAnswer Confirm(const std::string& question);
  // The address holds a password: with it, without it, or not at all.
  TRequestUi::TCredentials AskAboutCredentials(const std::string& masked);
  // Asks for the mail server's password; nullopt when none was typed.
  std::optional<std::string> AskPassword(const std::string& prompt);

  // One progress window serves every request: it stays up a moment after a
  // request so that back-to-back requests keep it up.
  void OpenProgress(const std::string& label);
  void SetProgress(int position);
  void CloseProgress();

  const std::string& StatusLine() const { return status_; }
  void SetStatus(const std::string& text);

  // A notice for 2.5 seconds, then the status becomes "Requesting".
  void ShowBriefNotice(const std::string& text);
  // The same notice outside a request: the status stays.
  void ShowNotice(const std::string& text);

 private:
  HWND__* MakeProgress();
  void PlaceNearPointer(HWND__* window);
  void WaitNotice();

  HINSTANCE__* instance_;
  std::function<HWND__*()> window_;
  std::function<bool(const std::string&)> balloon_;
  HWND__* progress_ = nullptr;
  std::string status_;
};
