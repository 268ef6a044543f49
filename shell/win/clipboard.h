// The clipboard watch of the Windows shell: a format listener on the tray
// icon's hidden window. A change is asked about at once and its text read a
// moment later from the window's own queue: reading inside the notification
// re-enters the window procedure under Wine.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

struct HWND__;

class TWinClipboardWatch {
 public:
  // Clipboard text longer than this is not read.
  static constexpr std::size_t kTextCap = 1 << 20;

  // Watches while it lives; `window` hands its messages to HandleMessage.
  explicit TWinClipboardWatch(HWND__* window);
  ~TWinClipboardWatch();
  TWinClipboardWatch(const TWinClipboardWatch&) = delete;
  TWinClipboardWatch& operator=(const TWinClipboardWatch&) = delete;

  bool Watching() const { return watching_; }

  // Asked at each change, at once: true when the text is wanted.
  std::function<bool()> OnChange;
  // The text of a change that wanted it; empty when there is none, or when a
  // password manager marked the copy as not for clipboard watchers.
  std::function<void(const std::string& text)> OnText;

  // True when `msg` was the watch's.
  bool HandleMessage(unsigned msg, std::uintptr_t wparam, std::intptr_t lparam);

 private:
  void Read();

  HWND__* window_;
  bool watching_ = false;
};

// The clipboard's text now; empty when it holds none, or when it is not
// read, and then `why` says why (a password manager's mark, the size).
std::string ReadClipboardText(HWND__* owner, std::string& why);
