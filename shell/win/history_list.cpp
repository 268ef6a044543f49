// The main window's history list and its menu: the outbox's kept requests,
// greyed and slanted, above the history's lines, and the menu's commands on
// them (detail, delete, request again; send now, discard).
#include "app/history_rows.h"
#include "app/request_stack.h"
#include "platform/windows_api.h"
#include "shell/win/boxes.h"
#include "shell/win/help.h"
#include "shell/win/main_window.h"
#include "shell/win/window_ids.h"

#include <windows.h>
// After <windows.h>, which it needs.
#include <commctrl.h>

#include "shell/win/main_window_impl.h"

namespace {

// Row data: which rows are kept requests.
constexpr LPARAM kHistoryRow = 0;
constexpr LPARAM kKeptRow = 1;

void AddRow(HWND list, int at, const std::string& text, LPARAM kind) {
  const auto row = SendMessageW(list, LB_INSERTSTRING, static_cast<WPARAM>(at),
                                reinterpret_cast<LPARAM>(WideText(text).c_str()));
  SendMessageW(list, LB_SETITEMDATA, static_cast<WPARAM>(row), kind);
}

int SelectedRow(HWND list) { return static_cast<int>(SendMessageW(list, LB_GETCURSEL, 0, 0)); }

}  // namespace

void TWinMainWindow::ShowHistory() { impl_->FillHistory(); }

void TMainWindowState::FillHistory() {
  if (self.OnHistoryShown)
    self.OnHistoryShown();  // first: the rows tell when the next round is due
  HWND list = Item(IDC_HISTORY);
  SendMessageW(list, WM_SETREDRAW, FALSE, 0);
  SendMessageW(list, LB_RESETCONTENT, 0, 0);
  const std::string next = self.NextTry ? self.NextTry() : std::string();
  for (const TOutboxEntry& entry : stack.Outbox.Entries())
    AddRow(list, -1, KeptRowText(entry, next), kKeptRow);
  for (const std::string& line : stack.History.Items()) AddRow(list, -1, line, kHistoryRow);
  SendMessageW(list, LB_SETTOPINDEX, 0, 0);
  SendMessageW(list, WM_SETREDRAW, TRUE, 0);
  InvalidateRect(list, nullptr, TRUE);
}

std::string TMainWindowState::HistoryTip() const {
  POINT at{};
  GetCursorPos(&at);
  HWND list = Item(IDC_HISTORY);
  ScreenToClient(list, &at);
  const auto hit = SendMessageW(list, LB_ITEMFROMPOINT, 0, MAKELPARAM(at.x, at.y));
  const int entry = static_cast<int>(LOWORD(hit)) - KeptRows();
  if (HIWORD(hit) == 0 && entry >= 0 && entry < stack.History.Count()) {
    if (const auto bytes = stack.History.Bytes(entry)) return LinkBytesText(*bytes);
  }
  return MonthBytesText(stack.MonthBytes());
}

void TMainWindowState::HistoryMouseMove(const MSG& msg) {
  HWND list = Item(IDC_HISTORY);
  if (msg.hwnd != list) return;
  const auto hit = SendMessageW(list, LB_ITEMFROMPOINT, 0, msg.lParam);
  const int row = HIWORD(hit) == 0 ? static_cast<int>(LOWORD(hit)) : -1;
  if (row == hoveredRow) return;
  hoveredRow = row;
  SendMessageW(tips, TTM_POP, 0, 0);
}

void TWinMainWindow::SelectHistoryEntry(int index) {
  HWND list = impl_->Item(IDC_HISTORY);
  if (index < 0) return;
  index += impl_->KeptRows();
  if (index >= static_cast<int>(SendMessageW(list, LB_GETCOUNT, 0, 0))) return;
  SendMessageW(list, LB_SETCURSEL, static_cast<WPARAM>(index), 0);
  SendMessageW(list, LB_SETTOPINDEX, static_cast<WPARAM>(index), 0);
}

int TMainWindowState::KeptRows() const { return stack.Outbox.Count(); }

int TMainWindowState::SelectedKept() const {
  const int row = SelectedRow(Item(IDC_HISTORY));
  return row >= 0 && row < KeptRows() ? row : -1;
}

int TMainWindowState::SelectedEntry() const {
  const int row = SelectedRow(Item(IDC_HISTORY)) - KeptRows();
  return row >= 0 && row < stack.History.Count() ? row : -1;
}

void TMainWindowState::DrawRow(const DRAWITEMSTRUCT& item) {
  if (item.itemID == static_cast<UINT>(-1)) return;
  const bool selected = (item.itemState & ODS_SELECTED) != 0;
  const bool kept = SendMessageW(item.hwndItem, LB_GETITEMDATA, item.itemID, 0) == kKeptRow;
  FillRect(item.hDC, &item.rcItem, GetSysColorBrush(selected ? COLOR_HIGHLIGHT : COLOR_WINDOW));
  const int colour = selected ? COLOR_HIGHLIGHTTEXT : kept ? COLOR_GRAYTEXT : COLOR_WINDOWTEXT;
  SetTextColor(item.hDC, GetSysColor(colour));
  SetBkMode(item.hDC, TRANSPARENT);
  const auto length = SendMessageW(item.hwndItem, LB_GETTEXTLEN, item.itemID, 0);
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  SendMessageW(item.hwndItem, LB_GETTEXT, item.itemID, reinterpret_cast<LPARAM>(text.data()));
  text.resize(static_cast<std::size_t>(length));
  HGDIOBJ old = kept ? SelectObject(item.hDC, slanted) : nullptr;
  RECT r = item.rcItem;
  r.left += 2;
  DrawTextW(item.hDC, text.c_str(), static_cast<int>(text.size()), &r,
            DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
  if (old) SelectObject(item.hDC, old);
  if (item.itemState & ODS_FOCUS) DrawFocusRect(item.hDC, &item.rcItem);
}

namespace {

void AddItem(HMENU menu, int id, const char* caption) {
  AppendMenuW(menu, MF_STRING, static_cast<UINT_PTR>(id), WideText(caption).c_str());
}

// A kept request's row offers its own two commands, a history entry the rest.
HMENU HistoryMenu(bool kept) {
  HMENU menu = CreatePopupMenu();
  if (kept) {
    AddItem(menu, IDM_SEND_NOW, "Send &Now");
    AddItem(menu, IDM_DISCARD, "&Discard");
  } else {
    AddItem(menu, IDM_SHOW_DETAIL, "&Show Detail");
    AddItem(menu, IDM_DELETE_HISTORY, "&Delete from History");
    AddItem(menu, IDM_REQUEST_AGAIN, "Request &Again");
  }
  AddItem(menu, IDM_ASK_HELP, "Ask this server for its &help");
  AddItem(menu, IDM_HELP, "&Help");
  return menu;
}

bool Inside(HWND control, POINT at) {
  RECT r{};
  GetWindowRect(control, &r);
  return PtInRect(&r, at) != FALSE;
}

}  // namespace

// A right click on a row selects it and opens the menu; elsewhere in the
// list it clears the selection. The server group repeats the last menu.
void TMainWindowState::ContextMenu(HWND from, POINT at) {
  HWND list = Item(IDC_HISTORY);
  const bool byKey = at.x == -1 && at.y == -1;
  if (from == list && !byKey) {
    POINT client = at;
    ScreenToClient(list, &client);
    const auto hit = SendMessageW(list, LB_ITEMFROMPOINT, 0, MAKELPARAM(client.x, client.y));
    autoPopup = HIWORD(hit) == 0;
    SendMessageW(list, LB_SETCURSEL, autoPopup ? LOWORD(hit) : static_cast<WPARAM>(-1), 0);
  } else if (from == list) {
    autoPopup = SelectedRow(list) >= 0;
    RECT r{};
    SendMessageW(list, LB_GETITEMRECT, static_cast<WPARAM>(std::max(0, SelectedRow(list))),
                 reinterpret_cast<LPARAM>(&r));
    at = {r.left, r.bottom};
    ClientToScreen(list, &at);
  } else if (!Inside(Item(IDC_SERVERS_GROUP), at)) {
    return;
  }
  if (!autoPopup) return;
  HMENU menu = HistoryMenu(SelectedKept() >= 0);
  TrackPopupMenu(menu, TPM_RIGHTBUTTON, at.x, at.y, 0, dialog, nullptr);
  DestroyMenu(menu);
}

void TMainWindowState::MenuCommand(int id) {
  const int entry = SelectedEntry();
  const int kept = SelectedKept();
  switch (id) {
    case IDM_SHOW_DETAIL:
      if (entry < 0) return;
      MessageBoxW(dialog, WideText(THistory::DetailText(stack.History.Items()[entry])).c_str(),
                  L"Tolvane", MB_OK);
      return;
    case IDM_DELETE_HISTORY:
      if (entry < 0) return;
      stack.History.Delete(entry);
      return FillHistory();
    case IDM_REQUEST_AGAIN:
      if (entry >= 0) stack.Dispatcher.RequestAgain(entry);
      return;
    case IDM_SEND_NOW: {
      if (kept < 0) return;
      // A held request goes with every other held one: they travel together.
      const TOutboxEntry& request = stack.Outbox.Entries()[kept];
      if (TOutbox::Held(request)) return stack.Dispatcher.FlushOutbox(true);
      return stack.Dispatcher.SendKept(request.Url);
    }
    case IDM_DISCARD:
      if (kept < 0) return;
      stack.Outbox.Remove(stack.Outbox.Entries()[kept].Url);
      return FillHistory();
    case IDM_ASK_HELP: {
      // The server of the entry chosen, or the pages server chosen in the window.
      std::string server = stack.Servers.Choice().PagesServer;
      if (entry >= 0) {
        const std::string named = HistoryLineServer(stack.History.Items()[entry]);
        if (!named.empty()) server = named;
      }
      const bool sent = stack.Dispatcher.AskServerForHelp(server);
      MessageBoxW(dialog, WideText(AskHelpOutcome(server, sent)).c_str(), L"Tolvane",
                  MB_OK | MB_ICONINFORMATION);
      return;
    }
    case IDM_HELP:
      ShowHelpTopic(10);
      return;
    default:
      return;
  }
}
