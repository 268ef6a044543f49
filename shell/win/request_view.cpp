#include "shell/win/request_view.h"

#include "app/tray_logic.h"
#include "base/debug_log.h"
#include "platform/windows_api.h"
#include "shell/win/boxes.h"
#include "shell/win/progress_ids.h"

#include <windows.h>
#include <commctrl.h>

namespace {

constexpr UINT_PTR kLingerTimer = 1;

INT_PTR CALLBACK ProgressProcedure(HWND window, UINT msg, WPARAM wparam, LPARAM) {
  if (msg == WM_TIMER && wparam == kLingerTimer) {
    KillTimer(window, kLingerTimer);
    ShowWindow(window, SW_HIDE);
    return TRUE;
  }
  return msg == WM_INITDIALOG;
}

struct TPasswordBox {
  std::wstring prompt;
  std::wstring typed;
};

INT_PTR CALLBACK PasswordProcedure(HWND box, UINT msg, WPARAM wparam, LPARAM lparam) {
  auto* data = reinterpret_cast<TPasswordBox*>(GetWindowLongPtrW(box, GWLP_USERDATA));
  if (msg == WM_INITDIALOG) {
    SetWindowLongPtrW(box, GWLP_USERDATA, lparam);
    data = reinterpret_cast<TPasswordBox*>(lparam);
    SetDlgItemTextW(box, IDC_PASSWORD_PROMPT, data->prompt.c_str());
    SetForegroundWindow(box);
    return TRUE;  // the focus goes to the edit, the first tab stop
  }
  if (msg != WM_COMMAND) return FALSE;
  const int id = LOWORD(wparam);
  if (id == IDOK) {
    const HWND edit = GetDlgItem(box, IDC_PASSWORD_EDIT);
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(edit)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(GetWindowTextW(edit, text.data(), static_cast<int>(text.size()))));
    data->typed = std::move(text);
  }
  if (id == IDOK || id == IDCANCEL) {
    EndDialog(box, id);
    return TRUE;
  }
  return FALSE;
}

}  // namespace

TWinRequestView::TWinRequestView(HINSTANCE instance) : instance_(instance) {}

TWinRequestView::~TWinRequestView() {
  if (progress_) DestroyWindow(progress_);
}

TRequestUi::TAnswer TWinRequestView::Confirm(const std::string& question) {
  const HWND window = window_ ? window_() : nullptr;
  const bool wasVisible = window && IsWindowVisible(window);
  if (wasVisible) ShowWindow(window, SW_HIDE);
  const int answer = TopmostMessageDlg(question, TMsgDlgType::mtConfirmation, MB_YESNO, 0, nullptr);
  if (wasVisible) ShowWindow(window, SW_SHOW);
  if (answer == IDNO) return TRequestUi::TAnswer::No;
  if (answer == IDYES) return TRequestUi::TAnswer::Yes;
  return TRequestUi::TAnswer::Closed;
}

TRequestUi::TCredentials TWinRequestView::AskAboutCredentials(const std::string& masked) {
  enum { kWithout = 100, kWith, kDont };
  const TASKDIALOG_BUTTON buttons[] = {{kWithout, L"Send &without the password"},
                                       {kWith, L"Send &with it"},
                                       {kDont, L"&Don't send"}};
  const std::wstring text =
      WideText("The address " + masked +
               " holds a password. The request server, and everyone on the way, would read it. "
               "Send it?");
  TASKDIALOGCONFIG box{};
  box.cbSize = sizeof box;
  box.hInstance = instance_;
  box.dwFlags = TDF_ALLOW_DIALOG_CANCELLATION | TDF_POSITION_RELATIVE_TO_WINDOW;
  box.pszWindowTitle = L"Tolvane";
  box.pszMainIcon = TD_WARNING_ICON;
  box.pszContent = text.c_str();
  box.cButtons = ARRAYSIZE(buttons);
  box.pButtons = buttons;
  box.nDefaultButton = kWithout;
  int pressed = kDont;
  if (FAILED(TaskDialogIndirect(&box, &pressed, nullptr, nullptr))) {
    DebugLog("The credentials question could not be shown: the address is not sent");
    return TRequestUi::TCredentials::No;
  }
  if (pressed == kWithout) return TRequestUi::TCredentials::WithoutThem;
  if (pressed == kWith) return TRequestUi::TCredentials::Send;
  return TRequestUi::TCredentials::No;
}

std::optional<std::string> TWinRequestView::AskPassword(const std::string& prompt) {
  TPasswordBox data{WideText(prompt + " (to keep it, type it in the Password field)"), {}};
  const INT_PTR result = DialogBoxParamW(instance_, MAKEINTRESOURCEW(IDD_PASSWORD), nullptr,
                                         &PasswordProcedure, reinterpret_cast<LPARAM>(&data));
  if (result != IDOK || data.typed.empty()) return std::nullopt;
  return Utf8Text(data.typed);
}

HWND TWinRequestView::MakeProgress() {
  if (!progress_) {
    progress_ = CreateDialogParamW(instance_, MAKEINTRESOURCEW(IDD_PROGRESS), nullptr,
                                   &ProgressProcedure, 0);
    if (!progress_) throw std::runtime_error("The progress window cannot be made");
  }
  return progress_;
}

void TWinRequestView::PlaceNearPointer(HWND window) {
  POINT cursor{};
  GetCursorPos(&cursor);
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  GetMonitorInfoW(MonitorFromPoint(cursor, MONITOR_DEFAULTTOPRIMARY), &monitor);
  const RECT screen = monitor.rcMonitor;
  RECT own{};
  GetWindowRect(window, &own);
  const TPlace place =
      ProgressPlace({cursor.x - screen.left, cursor.y - screen.top}, own.right - own.left,
                    own.bottom - own.top, screen.right - screen.left, screen.bottom - screen.top);
  SetWindowPos(window, HWND_TOPMOST, screen.left + place.x, screen.top + place.y, 0, 0,
               SWP_NOSIZE | SWP_NOACTIVATE);
}

void TWinRequestView::OpenProgress(const std::string& label) {
  const HWND window = MakeProgress();
  const bool stillUp = IsWindowVisible(window) != FALSE;
  KillTimer(window, kLingerTimer);
  SetDlgItemTextW(window, IDC_PROGRESS_LABEL, WideText(label).c_str());
  const HWND bar = GetDlgItem(window, IDC_PROGRESS_BAR);
  ShowWindow(bar, SW_SHOWNA);
  SendMessageW(bar, PBM_SETPOS, 0, 0);
  if (stillUp) return;  // where the last request put it
  PlaceNearPointer(window);
  ShowWindow(window, SW_SHOWNOACTIVATE);
}

void TWinRequestView::SetProgress(int position) {
  if (progress_) SendDlgItemMessageW(progress_, IDC_PROGRESS_BAR, PBM_SETPOS, position, 0);
}

void TWinRequestView::CloseProgress() {
  if (progress_ && IsWindowVisible(progress_)) SetTimer(progress_, kLingerTimer, kLingerMs, nullptr);
}

void TWinRequestView::SetStatus(const std::string& text) {
  status_ = text;
  DebugLog(text);
}

void TWinRequestView::ShowBriefNotice(const std::string& text) {
  ShowNotice(text);
  SetStatus("Requesting");
}

void TWinRequestView::ShowNotice(const std::string& text) {
  // A notice that cannot be shown is not worth a failure of its caller.
  try {
    if (balloon_ && balloon_(text)) {
      WaitNotice();
      return;
    }
    // No icon to show it at: the progress window, without its bar.
    const HWND window = MakeProgress();
    KillTimer(window, kLingerTimer);
    ShowWindow(GetDlgItem(window, IDC_PROGRESS_BAR), SW_HIDE);
    SetDlgItemTextW(window, IDC_PROGRESS_LABEL, WideText(text).c_str());
    PlaceNearPointer(window);
    ShowWindow(window, SW_SHOWNOACTIVATE);
    WaitNotice();
    ShowWindow(window, SW_HIDE);
  } catch (...) {
  }
}

// The caller waits while the program goes on handling its messages; a stop
// ends the wait.
void TWinRequestView::WaitNotice() {
  const ULONGLONG end = GetTickCount64() + kNoticeMs;
  for (;;) {
    const ULONGLONG now = GetTickCount64();
    MSG m;
    if (now >= end || PeekMessageW(&m, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE)) return;
    MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(end - now), QS_ALLINPUT, 0);
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
      if (m.message == WM_QUIT) {
        PostQuitMessage(static_cast<int>(m.wParam));  // for the loop that owns it
        return;
      }
      TranslateMessage(&m);
      DispatchMessageW(&m);
    }
  }
}
