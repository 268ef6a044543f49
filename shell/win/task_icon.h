// The tray icon of the Windows shell, on a hidden top-level window of its own
// class. The same window hears the clipboard's changes and a later
// instance's call (both handed on through OnMessage), and is how a later
// instance finds this one.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

struct HWND__;
struct HICON__;
struct HINSTANCE__;

class TWinTaskIcon {
 public:
  // The hidden window's class: a later start looks for it.
  static const wchar_t kWindowClass[];
  // The system cuts a longer tool tip; it is cut here first so that the
  // text kept is the text shown.
  static constexpr std::size_t kToolTipChars = 127;

  explicit TWinTaskIcon(HINSTANCE__* instance);
  ~TWinTaskIcon();
  TWinTaskIcon(const TWinTaskIcon&) = delete;
  TWinTaskIcon& operator=(const TWinTaskIcon&) = delete;

  HWND__* Handle() const { return window_; }

  // Adds or removes the icon; stays as it was when the system refuses.
  void SetActive(bool on);
  bool Active() const { return active_; }
  // Each change that differs is sent at once while the icon is present.
  void SetIcon(HICON__* icon);
  void SetToolTip(const std::string& tip);
  const std::string& ToolTip() const { return tip_; }
  // A balloon beside the icon; false when there is no icon to show it at.
  bool ShowBalloon(const std::string& text);

  std::function<void()> OnClick;
  std::function<void()> OnDblClick;
  std::function<void(int x, int y)> OnRightClick;  // the pointer, screen coordinates
  // The window's other messages; true when handled.
  std::function<bool(unsigned msg, std::uintptr_t wparam, std::intptr_t lparam)> OnMessage;

 private:
  static std::intptr_t __stdcall Procedure(HWND__* window, unsigned msg, std::uintptr_t wparam,
                                           std::intptr_t lparam);
  std::intptr_t Dispatch(unsigned msg, std::uintptr_t wparam, std::intptr_t lparam);
  bool Notify(unsigned long what, unsigned flags);
  void Callback(unsigned mouseMessage);

  HWND__* window_ = nullptr;
  HICON__* icon_ = nullptr;
  std::string tip_;
  bool active_ = false;
  unsigned taskbar_created_ = 0;
};
