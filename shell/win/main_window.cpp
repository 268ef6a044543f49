#include "shell/win/main_window.h"

#include <stdexcept>

#include "base/debug_log.h"
#include "base/text_helpers.h"
#include "platform/folders.h"
#include "platform/windows_api.h"
#include "shell/win/boxes.h"
#include "shell/win/help.h"
#include "shell/win/version_info.h"
#include "shell/win/window_ids.h"

#include <windows.h>
// After <windows.h>, which it needs.
#include <commctrl.h>

#include "shell/win/main_window_impl.h"

namespace {

// The help topic of each control; the rest open the window's own topic.
struct TTopic {
  int id;
  int topic;
};
constexpr TTopic kTopics[] = {
    {IDC_HISTORY, 9},        {IDC_ENABLED_YES, 2},  {IDC_ENABLED_NO, 2}, {IDC_CONFIRM_ALL, 3},
    {IDC_CONFIRM_ZIP, 3},    {IDC_CONFIRM_NONE, 3}, {IDC_EMAIL, 2000},   {IDC_SMTP, 2001},
    {IDC_CHECK_HISTORY, 17}, {IDC_PAGES, 4},        {IDC_BINARY, 6},     {IDC_FTP, 7},
    {IDC_UNLOAD, 19},        {IDC_SECURITY, 22},    {IDC_USER, 22},      {IDC_PASSWORD, 22},
    {IDC_COLLECT, 23},       {IDC_SEND_AT, 23},
};

int TopicOf(int id) {
  for (const TTopic& t : kTopics) {
    if (t.id == id) return t.topic;
  }
  return 1;
}

struct THint {
  int id;
  const char* text;
};
constexpr THint kHints[] = {
    {IDC_ENABLED_YES, "When to make Tolvane active"},
    {IDC_ENABLED_NO, "When to make Tolvane active"},
    {IDC_CONFIRM_ALL, "User confirmation of requests"},
    {IDC_CONFIRM_ZIP, "User confirmation of requests"},
    {IDC_CONFIRM_NONE, "User confirmation of requests"},
    {IDC_EMAIL, "Your e-mail address for delivery of pages and files"},
    {IDC_SMTP, "The mail server used to send mail"},
    {IDC_CHECK_HISTORY, "Check History for duplicates"},
    {IDC_KEEP_FAILED, "Requests that failed while the line was down go out by themselves"},
    {IDOK, "Confirm the changes you made"},
    {IDCANCEL, "Close without changes"},
    {IDC_UNLOAD, "Remove Tolvane from memory"},
    {IDC_SECURITY, "How the connection to the mail server is encrypted"},
    {IDC_USER, "Your user name at the mail server; empty when it needs none"},
    {IDC_PASSWORD,
     "Ok stores it in the Windows Credential Manager; leave it empty to keep the stored one"},
    {IDC_COLLECT,
     "Copies wait in the list as held until Send Now, tolvane --flush or the time on the right"},
    {IDC_SEND_AT, "Each day at this time the held requests go; empty: only when you say"},
    {IDC_AUTOSTART, "Start Tolvane silently in the tray with your desktop"},
    {IDC_EDIT_SERVERS, "Open your own copy of the server list in an editor"},
    // The server lists' hints name where answers come from; set with them.
    {IDC_PAGES, ""},
    {IDC_BINARY, ""},
    {IDC_FTP, ""},
    {IDC_DIAL_ENTRY, ""},
    {IDC_HANG_UP, ""},
    {IDC_DIAL_LABEL, ""},
};

// Groups show their hint over their own area, between the controls.
constexpr THint kGroupHints[] = {
    {IDC_ENABLED_GROUP, "When to make Tolvane active"},
    {IDC_CONFIRM_GROUP, "User confirmation of requests"},
    {IDC_SERVERS_GROUP, "Leave these as they are or consult Help on Server Choice"},
};

TOOLINFOW ToolOf(HWND dialog, HWND control) {
  TOOLINFOW info{};
  info.cbSize = sizeof(info);
  info.hwnd = dialog;
  info.uId = reinterpret_cast<UINT_PTR>(control);
  info.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
  return info;
}

void AddRectTip(HWND tips, HWND dialog, HWND group, const std::string& text) {
  RECT r{};
  GetWindowRect(group, &r);
  MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
  std::wstring wide = WideText(text);
  TOOLINFOW info{};
  info.cbSize = sizeof(info);
  info.hwnd = dialog;
  info.uId = static_cast<UINT_PTR>(GetDlgCtrlID(group));
  info.uFlags = TTF_SUBCLASS;
  info.rect = r;
  info.lpszText = wide.data();
  SendMessageW(tips, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&info));
}

INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace

std::string TMainWindowState::Text(int id) const {
  HWND control = Item(id);
  const int length = GetWindowTextLengthW(control);
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  text.resize(static_cast<std::size_t>(GetWindowTextW(control, text.data(), length + 1)));
  return Utf8Text(text);
}

void TMainWindowState::SetText(int id, const std::string& text) {
  SetWindowTextW(Item(id), WideText(text).c_str());
}

bool TMainWindowState::Checked(int id) const {
  return IsDlgButtonChecked(dialog, id) == BST_CHECKED;
}

void TMainWindowState::Check(int id, bool on) {
  CheckDlgButton(dialog, id, on ? BST_CHECKED : BST_UNCHECKED);
}

int TMainWindowState::RadioIndex(int first, int count) const {
  for (int i = 0; i < count; ++i) {
    if (Checked(first + i)) return i;
  }
  return -1;
}

void TMainWindowState::SetRadioIndex(int first, int count, int index) {
  for (int i = 0; i < count; ++i) Check(first + i, i == index);
}

void TMainWindowState::Focus(int id) {
  SendMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(Item(id)), TRUE);
}

void TMainWindowState::AddTip(int id, const std::string& text) {
  TOOLINFOW info = ToolOf(dialog, Item(id));
  std::wstring wide = WideText(text);
  info.lpszText = wide.data();
  SendMessageW(tips, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&info));
}

void TMainWindowState::AddAskedTip(int id) {
  TOOLINFOW info = ToolOf(dialog, Item(id));
  info.lpszText = LPSTR_TEXTCALLBACKW;
  SendMessageW(tips, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&info));
}

void TMainWindowState::SetTip(int id, const std::string& text) {
  TOOLINFOW info = ToolOf(dialog, Item(id));
  std::wstring wide = WideText(text);
  info.lpszText = wide.data();
  SendMessageW(tips, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&info));
}

TWinMainWindow::TWinMainWindow(HINSTANCE__* instance, TRequestStack& stack)
    : Servers(SettingsFilePath()), impl_(std::make_unique<TImpl>(*this, stack)) {
  INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);
  impl_->instance = instance;
  impl_->dialog =
      CreateDialogParamW(instance, MAKEINTRESOURCEW(IDD_MAIN), nullptr, DialogProc,
                         reinterpret_cast<LPARAM>(static_cast<TMainWindowState*>(impl_.get())));
  if (!impl_->dialog) {
    throw std::runtime_error("The main window could not be made (Windows error " +
                             std::to_string(GetLastError()) + ")");
  }
  HWND dialog = impl_->dialog;
  impl_->tips = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP,
                                CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, dialog,
                                nullptr, instance, nullptr);
  SendMessageW(impl_->tips, TTM_SETMAXTIPWIDTH, 0, 400);
  for (const THint& hint : kHints) impl_->AddTip(hint.id, hint.text);
  impl_->AddAskedTip(IDC_HISTORY);
  impl_->AddAskedTip(IDC_HISTORY_LABEL);
  for (const THint& hint : kGroupHints) {
    AddRectTip(impl_->tips, dialog, impl_->Item(hint.id), hint.text);
  }
  impl_->SetText(IDC_VERSION, ProgramVersionText(instance));

  // Kept requests' rows: slanted, in the list's own font.
  LOGFONTW font{};
  GetObjectW(reinterpret_cast<HFONT>(SendMessageW(dialog, WM_GETFONT, 0, 0)), sizeof(font), &font);
  font.lfItalic = TRUE;
  impl_->slanted = CreateFontIndirectW(&font);
  TEXTMETRICW metrics{};
  HDC dc = GetDC(dialog);
  HGDIOBJ old = SelectObject(dc, impl_->slanted);
  GetTextMetricsW(dc, &metrics);
  SelectObject(dc, old);
  ReleaseDC(dialog, dc);
  SendMessageW(impl_->Item(IDC_HISTORY), LB_SETITEMHEIGHT, 0, metrics.tmHeight + 2);

  for (const char* item : {"None (port 25)", "STARTTLS (port 587)", "TLS (port 465)"}) {
    SendMessageW(impl_->Item(IDC_SECURITY), CB_ADDSTRING, 0,
                 reinterpret_cast<LPARAM>(WideText(item).c_str()));
  }
  SendMessageW(impl_->Item(IDC_PASSWORD), EM_SETCUEBANNER, FALSE,
               reinterpret_cast<LPARAM>(L"kept in the Credential Manager"));
  SendMessageW(impl_->Item(IDC_SEND_AT), EM_SETCUEBANNER, FALSE,
               reinterpret_cast<LPARAM>(L"hh:mm"));
  impl_->SetRadioIndex(IDC_ENABLED_YES, 2, 1);  // as designed; the settings replace it
  impl_->Check(IDC_HANG_UP, true);
  impl_->FillControls();
  impl_->FillServerLists();
  impl_->ShowAutostart();
  impl_->FillHistory();
}

TWinMainWindow::~TWinMainWindow() {
  if (impl_->dialog) DestroyWindow(impl_->dialog);
  if (impl_->slanted) DeleteObject(impl_->slanted);
}

HWND__* TWinMainWindow::Handle() const { return impl_->dialog; }

void TWinMainWindow::ShowCentred() {
  HWND dialog = impl_->dialog;
  if (IsIconic(dialog)) ShowWindow(dialog, SW_RESTORE);
  RECT outer{};
  GetWindowRect(dialog, &outer);
  MONITORINFO monitor{};
  monitor.cbSize = sizeof(monitor);
  GetMonitorInfoW(MonitorFromWindow(dialog, MONITOR_DEFAULTTOPRIMARY), &monitor);
  const RECT& area = monitor.rcMonitor;
  const FormPlace place = PlaceForm(area.right - area.left, area.bottom - area.top,
                                    outer.right - outer.left, outer.bottom - outer.top, 0.5, 0.5);
  SetWindowPos(dialog, HWND_TOP, area.left + place.left, area.top + place.top, 0, 0, SWP_NOSIZE);
  ShowWindow(dialog, SW_SHOW);  // WM_SHOWWINDOW, which SetWindowPos would not send
  SetForegroundWindow(dialog);
}

void TWinMainWindow::Hide() { ShowWindow(impl_->dialog, SW_HIDE); }

bool TWinMainWindow::Visible() const { return IsWindowVisible(impl_->dialog) != FALSE; }

void TWinMainWindow::FocusServerChoice() {
  ShowCentred();
  impl_->Focus(IDC_PAGES);
}

void TWinMainWindow::SetEnabledIndex(int index) {
  impl_->values.Enabled = index;
  impl_->filling = true;
  impl_->SetRadioIndex(IDC_ENABLED_YES, 2, index);
  impl_->filling = false;
}

void TWinMainWindow::SetShowTips(bool on) { impl_->Check(IDC_SHOW_TIPS, on); }

namespace {

void SuperDebugQuestion(HWND dialog) {
  const std::string text =
      std::string("Super debug status is: ") + (SuperDebug ? "ON" : "OFF") + ". Change?";
  // Only No keeps the switch; any other close flips it.
  const int answer = TopmostMessageDlg(text, TMsgDlgType::mtConfirmation, MB_YESNO, 0,
                                       IsWindowVisible(dialog) ? dialog : nullptr);
  if (answer != IDNO) SuperDebug = !SuperDebug;
}

bool KeyDown(const MSG& msg, WPARAM key) {
  return (msg.message == WM_KEYDOWN || msg.message == WM_SYSKEYDOWN) && msg.wParam == key;
}

}  // namespace

bool TWinMainWindow::PreTranslate(void* message) {
  MSG& msg = *static_cast<MSG*>(message);
  HWND dialog = impl_->dialog;
  if (!dialog || (msg.hwnd != dialog && !IsChild(dialog, msg.hwnd))) return false;
  if (msg.message == WM_MOUSEMOVE) impl_->HistoryMouseMove(msg);
  if (KeyDown(msg, VK_F1)) {
    ShowHelpTopic(TopicOf(GetDlgCtrlID(GetFocus())));
    return true;
  }
  if (KeyDown(msg, 'A') && GetKeyState(VK_CONTROL) < 0 && GetKeyState(VK_MENU) < 0) {
    Guarded("TfrmProps", [&] { SuperDebugQuestion(dialog); });
    return true;
  }
  return IsDialogMessageW(dialog, &msg) != FALSE;
}

namespace {

bool Command(TMainWindowState& impl, int id, int code) {
  TWinMainWindow& self = impl.self;
  const auto run = [](const std::function<void()>& handler) {
    if (handler) handler();
  };
  switch (id) {
    case IDOK:
      run(self.OnOk);
      return true;
    case IDCANCEL:
      run(self.OnCancel);
      return true;
    case IDC_UNLOAD:
      run(self.OnUnload);
      return true;
    case IDC_TIP_NOW:
      run(self.OnTipNow);
      return true;
    case IDC_HELP_BUTTON:
      ShowHelpTopic(1);
      return true;
    case IDC_SHOW_TIPS:
      if (self.OnShowTips) self.OnShowTips(impl.Checked(IDC_SHOW_TIPS));
      return true;
    case IDC_ENABLED_YES:
    case IDC_ENABLED_NO:
      if (code == BN_CLICKED && !impl.filling && self.OnEnabled)
        self.OnEnabled(id - IDC_ENABLED_YES);
      return true;
    case IDC_PAGES:
    case IDC_BINARY:
    case IDC_FTP:
      if (code == CBN_SELCHANGE) Guarded("TfrmProps", [&] { impl.ServerChosen(id); });
      return true;
    case IDC_SMTP:
      if (code == EN_CHANGE && !impl.filling) Guarded("TfrmProps", [&] { impl.SmtpEdited(); });
      return true;
    case IDC_AUTOSTART:
      Guarded("TfrmProps", [&] { impl.AutostartClicked(); });
      return true;
    case IDC_EDIT_SERVERS:
      Guarded("TfrmProps", [&] { impl.EditServers(); });
      return true;
    default:
      if (id >= IDM_SHOW_DETAIL && id <= IDM_HELP) {
        Guarded("TfrmProps", [&] { impl.MenuCommand(id); });
        return true;
      }
      return false;
  }
}

INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    SetWindowLongPtrW(dialog, DWLP_USER, lParam);
    reinterpret_cast<TMainWindowState*>(lParam)->dialog = dialog;
    return FALSE;
  }
  auto* impl = reinterpret_cast<TMainWindowState*>(GetWindowLongPtrW(dialog, DWLP_USER));
  if (!impl) return FALSE;
  switch (message) {
    case WM_COMMAND:
      return Command(*impl, LOWORD(wParam), HIWORD(wParam));
    case WM_CLOSE:
      // The close box is Cancel while the window shows.
      if (IsWindowVisible(dialog) && impl->self.OnCancel) impl->self.OnCancel();
      return TRUE;
    case WM_SYSCOMMAND:
      // Never sits minimised: the tray icon is the way back.
      if ((wParam & 0xFFF0) == SC_MINIMIZE) {
        ShowWindow(dialog, SW_HIDE);
        return TRUE;
      }
      return FALSE;
    case WM_SHOWWINDOW:
      // The user may have removed the entry in Windows' own settings.
      if (wParam) impl->ShowAutostart();
      return FALSE;
    case WM_HELP: {
      const auto* info = reinterpret_cast<const HELPINFO*>(lParam);
      ShowHelpTopic(TopicOf(info->iContextType == HELPINFO_WINDOW ? info->iCtrlId : 0));
      return TRUE;
    }
    case WM_CONTEXTMENU:
      Guarded("TfrmProps", [&] {
        impl->ContextMenu(
            reinterpret_cast<HWND>(wParam),
            POINT{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))});
      });
      return TRUE;
    case WM_NOTIFY: {
      auto* info = reinterpret_cast<NMTTDISPINFOW*>(lParam);
      if (info->hdr.code != TTN_GETDISPINFOW) return FALSE;
      impl->tipText = WideText(impl->HistoryTip());
      info->lpszText = impl->tipText.data();
      return TRUE;
    }
    case WM_DRAWITEM:
      if (wParam != IDC_HISTORY) return FALSE;
      impl->DrawRow(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace
