#include "shell/win/tips.h"

#include <vector>

#include "app/tips_state.h"
#include "platform/windows_api.h"
#include "shell/win/boxes.h"
#include "shell/win/help.h"
#include "shell/win/window_ids.h"

#include <windows.h>

namespace {

struct TTipWindow {
  TTipState& state;
  std::vector<std::string> tips;
  int helpTopic = 0;
  HWND dialog = nullptr;
  HFONT title = nullptr;
  HFONT text = nullptr;

  ~TTipWindow() {
    if (title) DeleteObject(title);
    if (text) DeleteObject(text);
  }

  void Display() {
    const TTip tip = TipAt(state, tips);
    SetDlgItemTextW(dialog, IDC_TIP_TEXT, WideText(tip.Text).c_str());
    InvalidateRect(GetDlgItem(dialog, IDC_TIP_TEXT), nullptr, TRUE);
    helpTopic = 0;
    EnableWindow(GetDlgItem(dialog, IDC_TIP_HELP), FALSE);
    helpTopic = tip.HelpTopic();
    EnableWindow(GetDlgItem(dialog, IDC_TIP_HELP), helpTopic != 0);
  }
  void Next() {
    NextTip(state, tips.size());
    Display();
  }
  void Previous() {
    PreviousTip(state, tips.size());
    Display();
  }
  // Reads the tips anew and steps forward once, as Next does.
  void Open() {
    if (state.Enabled) CheckDlgButton(dialog, IDC_TIP_SHOW, BST_CHECKED);
    tips = LoadTips();
    Next();
  }
};

// The dialog's font at `points`, bold or not.
HFONT FontOf(HWND dialog, int points, bool bold) {
  LOGFONTW font{};
  GetObjectW(reinterpret_cast<HFONT>(SendMessageW(dialog, WM_GETFONT, 0, 0)), sizeof(font), &font);
  HDC dc = GetDC(dialog);
  font.lfHeight = -MulDiv(points, GetDeviceCaps(dc, LOGPIXELSY), 72);
  ReleaseDC(dialog, dc);
  if (bold) font.lfWeight = FW_BOLD;
  return CreateFontIndirectW(&font);
}

void Init(TTipWindow& w) {
  w.title = FontOf(w.dialog, 12, true);
  w.text = FontOf(w.dialog, 10, false);
  SendDlgItemMessageW(w.dialog, IDC_TIP_TITLE, WM_SETFONT, reinterpret_cast<WPARAM>(w.title),
                      FALSE);
  SendDlgItemMessageW(w.dialog, IDC_TIP_IMAGE, STM_SETICON,
                      reinterpret_cast<WPARAM>(LoadIconW(nullptr, IDI_INFORMATION)), 0);
  // Failures go to the error box; the window opens with what was done.
  Guarded("TfrmTips", [&] { w.Open(); });
}

bool Command(TTipWindow& w, int id) {
  switch (id) {
    case IDOK:
    case IDCANCEL:
      EndDialog(w.dialog, id);
      return true;
    case IDC_TIP_NEXT:
      Guarded("TfrmTips", [&] { w.Next(); });
      return true;
    case IDC_TIP_PREVIOUS:
      Guarded("TfrmTips", [&] { w.Previous(); });
      return true;
    case IDC_TIP_HELP:
      ShowHelpTopic(w.helpTopic);
      EndDialog(w.dialog, IDOK);
      return true;
    case IDC_TIP_SHOW:
      Guarded("TfrmTips", [&] {
        w.state.Enabled = IsDlgButtonChecked(w.dialog, IDC_TIP_SHOW) == BST_CHECKED;
        w.state.Save();
      });
      return true;
    default:
      return false;
  }
}

// The tip centred both ways in a sunken panel, in a text field's colours
// so that a dark scheme stays readable.
void DrawTipText(const DRAWITEMSTRUCT& item, HFONT font) {
  RECT panel = item.rcItem;
  FillRect(item.hDC, &panel, GetSysColorBrush(COLOR_WINDOW));
  DrawEdge(item.hDC, &panel, EDGE_SUNKEN, BF_RECT | BF_ADJUST);
  InflateRect(&panel, -4, -4);
  const int length = GetWindowTextLengthW(item.hwndItem);
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  text.resize(static_cast<std::size_t>(GetWindowTextW(item.hwndItem, text.data(), length + 1)));
  HGDIOBJ old = SelectObject(item.hDC, font);
  SetTextColor(item.hDC, GetSysColor(COLOR_WINDOWTEXT));
  SetBkMode(item.hDC, TRANSPARENT);
  const UINT format = DT_CENTER | DT_WORDBREAK | DT_NOPREFIX;
  RECT measured = panel;
  DrawTextW(item.hDC, text.c_str(), static_cast<int>(text.size()), &measured, format | DT_CALCRECT);
  const int height = measured.bottom - measured.top;
  if (height < panel.bottom - panel.top) panel.top += (panel.bottom - panel.top - height) / 2;
  DrawTextW(item.hDC, text.c_str(), static_cast<int>(text.size()), &panel, format);
  SelectObject(item.hDC, old);
}

INT_PTR CALLBACK TipProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto* w = reinterpret_cast<TTipWindow*>(lParam);
    SetWindowLongPtrW(dialog, DWLP_USER, lParam);
    w->dialog = dialog;
    Init(*w);
    SetFocus(GetDlgItem(dialog, IDOK));
    return FALSE;
  }
  auto* w = reinterpret_cast<TTipWindow*>(GetWindowLongPtrW(dialog, DWLP_USER));
  if (!w) return FALSE;
  if (message == WM_COMMAND) return Command(*w, LOWORD(wParam));
  if (message == WM_DRAWITEM && wParam == IDC_TIP_TEXT) {
    DrawTipText(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam), w->text);
    return TRUE;
  }
  return FALSE;
}

}  // namespace

void ShowTipOfTheDay(HINSTANCE__* instance, HWND__* owner, TTipState& state) {
  if (state.Showing) return;
  state.Showing = true;
  // However the window ends, the flag clears.
  struct Restore {
    TTipState& state;
    ~Restore() { state.Showing = false; }
  } restore{state};
  TTipWindow window{state, {}};
  DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_TIPS), owner, TipProc,
                  reinterpret_cast<LPARAM>(&window));
}
