#include "shell/win/task_icon.h"

#include <windows.h>
#include <shellapi.h>

#include <cwchar>

#include "platform/windows_api.h"

namespace {

constexpr UINT kCallback = WM_USER;
constexpr UINT kIconId = 0;

}  // namespace

const wchar_t TWinTaskIcon::kWindowClass[] = L"TolvaneTrayWindow";

TWinTaskIcon::TWinTaskIcon(HINSTANCE instance) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = reinterpret_cast<WNDPROC>(&Procedure);
  wc.hInstance = instance;
  wc.lpszClassName = kWindowClass;
  RegisterClassExW(&wc);  // a second registration fails harmlessly
  // Top-level, never shown: Explorer's restart is announced to top-level
  // windows only.
  window_ = CreateWindowExW(0, kWindowClass, L"Tolvane", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                            instance, this);
  taskbar_created_ = RegisterWindowMessageW(L"TaskbarCreated");
}

TWinTaskIcon::~TWinTaskIcon() {
  SetActive(false);
  if (window_) {
    SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
    DestroyWindow(window_);
  }
}

bool TWinTaskIcon::Notify(unsigned long what, unsigned flags) {
  NOTIFYICONDATAW data{};
  data.cbSize = sizeof data;
  data.hWnd = window_;
  data.uID = kIconId;
  data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP | flags;
  data.uCallbackMessage = kCallback;
  data.hIcon = icon_;
  // Cut to fit by SetToolTip.
  std::wcsncpy(data.szTip, WideText(tip_).c_str(), kToolTipChars);
  return Shell_NotifyIconW(what, &data) != FALSE;
}

void TWinTaskIcon::SetActive(bool on) {
  if (on == active_ || !window_) return;
  if (Notify(on ? NIM_ADD : NIM_DELETE, 0)) active_ = on;
}

void TWinTaskIcon::SetIcon(HICON icon) {
  if (icon == icon_) return;
  icon_ = icon;
  if (active_) Notify(NIM_MODIFY, 0);
}

void TWinTaskIcon::SetToolTip(const std::string& tip) {
  // Cut by whole UTF-16 units, kept as the UTF-8 that they read back as.
  std::wstring wide = WideText(tip);
  if (wide.size() > kToolTipChars) {
    // A character of two units goes whole or not at all.
    const bool split = wide[kToolTipChars - 1] >= 0xD800 && wide[kToolTipChars - 1] <= 0xDBFF;
    wide.resize(split ? kToolTipChars - 1 : kToolTipChars);
  }
  const std::string cut = Utf8Text(wide);
  if (cut == tip_) return;
  tip_ = cut;
  if (active_) Notify(NIM_MODIFY, 0);
}

bool TWinTaskIcon::ShowBalloon(const std::string& text) {
  if (!active_) return false;
  NOTIFYICONDATAW data{};
  data.cbSize = sizeof data;
  data.hWnd = window_;
  data.uID = kIconId;
  data.uFlags = NIF_INFO;
  const std::wstring wide = WideText(text);
  std::wcsncpy(data.szInfo, wide.c_str(), ARRAYSIZE(data.szInfo) - 1);
  std::wcsncpy(data.szInfoTitle, L"Tolvane", ARRAYSIZE(data.szInfoTitle) - 1);
  data.dwInfoFlags = NIIF_INFO;
  return Shell_NotifyIconW(NIM_MODIFY, &data) != FALSE;
}

LRESULT CALLBACK TWinTaskIcon::Procedure(HWND window, UINT msg, WPARAM wparam, LPARAM lparam) {
  if (msg == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lparam);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self = reinterpret_cast<TWinTaskIcon*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (!self || !self->window_) return DefWindowProcW(window, msg, wparam, lparam);
  return self->Dispatch(msg, wparam, lparam);
}

LRESULT TWinTaskIcon::Dispatch(UINT msg, WPARAM wparam, LPARAM lparam) {
  if (msg == kCallback) {
    if (wparam == kIconId) Callback(static_cast<unsigned>(lparam & 0xFFFF));
    return 0;
  }
  if (msg == taskbar_created_ && taskbar_created_ != 0) {
    // A new taskbar knows no icons: add ours again.
    if (active_) Notify(NIM_ADD, 0);
    return 0;
  }
  if (OnMessage && OnMessage(msg, wparam, lparam)) return 0;
  return DefWindowProcW(window_, msg, wparam, lparam);
}

void TWinTaskIcon::Callback(unsigned mouseMessage) {
  switch (mouseMessage) {
    case WM_LBUTTONUP:
      if (OnClick) OnClick();
      break;
    case WM_LBUTTONDBLCLK:
      if (OnDblClick) OnDblClick();
      break;
    case WM_RBUTTONUP:
      if (OnRightClick) {
        POINT at{};
        GetCursorPos(&at);
        OnRightClick(at.x, at.y);
      }
      break;
    default:
      break;
  }
}
