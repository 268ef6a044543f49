#include "shell/win/clipboard.h"

#include "app/tray_logic.h"
#include "base/debug_log.h"
#include "platform/windows_api.h"

#include <windows.h>

namespace {

// Posted to the window by the notification; the text is read when it comes.
constexpr UINT kReadClipboard = WM_APP + 0x41;

// Password managers mark what they copy with these formats: the first's mere
// presence, the second with a DWORD of 0, keep clipboard watchers out.
bool MarkedSecret() {
  static const UINT exclude =
      RegisterClipboardFormatW(L"ExcludeClipboardContentFromMonitorProcessing");
  static const UINT history = RegisterClipboardFormatW(L"CanIncludeInClipboardHistory");
  if (exclude && IsClipboardFormatAvailable(exclude)) return true;
  if (!history || !IsClipboardFormatAvailable(history)) return false;
  HANDLE data = GetClipboardData(history);
  const void* value = data ? GlobalLock(data) : nullptr;
  if (!value) return true;  // marked, unreadable: taken as secret
  const bool secret = GlobalSize(data) < sizeof(DWORD) || *static_cast<const DWORD*>(value) == 0;
  GlobalUnlock(data);
  return secret;
}

// Another program may hold the clipboard for a moment.
bool OpenClipboardSoon(HWND owner) {
  for (int attempt = 0; attempt < 10; ++attempt) {
    if (OpenClipboard(owner)) return true;
    Sleep(20);
  }
  return false;
}

std::string TextOf(HANDLE data, std::string& why) {
  const auto* text = data ? static_cast<const wchar_t*>(GlobalLock(data)) : nullptr;
  if (!text) return {};
  const std::size_t room = GlobalSize(data) / sizeof(wchar_t);
  std::size_t n = 0;
  while (n < room && text[n] != 0) ++n;
  std::string utf8 = Utf8Text(std::wstring_view(text, n));
  GlobalUnlock(data);
  if (utf8.size() > TWinClipboardWatch::kTextCap) {
    why = "Clipboard text not read: longer than " + std::to_string(TWinClipboardWatch::kTextCap) +
          " bytes";
    return {};
  }
  return utf8;
}

}  // namespace

std::string ReadClipboardText(HWND owner, std::string& why) {
  why.clear();
  if (!OpenClipboardSoon(owner)) {
    why = "Clipboard text not read: another program holds the clipboard";
    return {};
  }
  std::string text;
  if (MarkedSecret()) {
    why = kSecretNotRead;
  } else if (IsClipboardFormatAvailable(CF_UNICODETEXT)) {
    text = TextOf(GetClipboardData(CF_UNICODETEXT), why);
  }
  CloseClipboard();
  return text;
}

TWinClipboardWatch::TWinClipboardWatch(HWND window) : window_(window) {
  watching_ = window_ && AddClipboardFormatListener(window_);
  DebugLog(watching_ ? "Watching the clipboard" : "The clipboard cannot be watched: copies go unseen");
}

TWinClipboardWatch::~TWinClipboardWatch() {
  if (watching_) RemoveClipboardFormatListener(window_);
}

bool TWinClipboardWatch::HandleMessage(unsigned msg, std::uintptr_t, std::intptr_t) {
  if (msg == WM_CLIPBOARDUPDATE) {
    // Decided at the change; read once the notification has returned.
    if (OnChange && OnChange()) PostMessageW(window_, kReadClipboard, 0, 0);
    return true;
  }
  if (msg == kReadClipboard) {
    Read();
    return true;
  }
  return false;
}

void TWinClipboardWatch::Read() {
  std::string why;
  const std::string text = ReadClipboardText(window_, why);
  if (!why.empty()) DebugLog(why);
  if (OnText) OnText(text);
}
