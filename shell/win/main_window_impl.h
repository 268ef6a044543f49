// What the main window's .cpp files share: the dialog's handle and state
// (TImpl is this, under the name the public header keeps private).
// Included only by shell/win/main_window*.cpp and history_list.cpp, after
// <windows.h>.
#pragma once

#include <string>

#include "app/settings.h"
#include "shell/win/main_window.h"

class TRequestStack;

struct TMainWindowState {
  TWinMainWindow& self;
  TRequestStack& stack;
  HINSTANCE instance = nullptr;
  HWND dialog = nullptr;
  HWND tips = nullptr;      // the tool tip control
  HFONT slanted = nullptr;  // kept requests' rows
  // Keys without a control, kept for Values().
  TSettings values;
  bool filling = false;    // controls change by code, not by the user
  bool autoPopup = false;  // the last right click was on a row
  int hoveredRow = -1;     // the history row the mouse was last over
  std::wstring tipText;    // the history list's hint as last asked for

  TMainWindowState(TWinMainWindow& owner, TRequestStack& requests) : self(owner), stack(requests) {}

  HWND Item(int id) const { return GetDlgItem(dialog, id); }
  std::string Text(int id) const;
  void SetText(int id, const std::string& text);
  bool Checked(int id) const;
  void Check(int id, bool on);
  int RadioIndex(int first, int count) const;
  void SetRadioIndex(int first, int count, int index);
  void Focus(int id);

  // Tool tips: fixed ones at creation, the server lists' as they change.
  void AddTip(int id, const std::string& text);
  void SetTip(int id, const std::string& text);
  // A hint asked for each time it shows (HistoryTip).
  void AddAskedTip(int id);

  // main_window_values.cpp
  void FillControls();
  void FillServerLists();
  void ShowReplyHints();
  void ServerChosen(int id);
  void SmtpEdited();
  void FillDialup(const std::string& chosen);
  void ShowAutostart();
  void AutostartClicked();
  void EditServers();
  bool FieldMissing(const std::string& text, const char* caption, int helpTopic, int id);

  // history_list.cpp
  void FillHistory();
  void DrawRow(const DRAWITEMSTRUCT& item);
  void ContextMenu(HWND from, POINT at);
  void MenuCommand(int id);
  int KeptRows() const;
  int SelectedKept() const;
  int SelectedEntry() const;
  // The bytes of the history row under the mouse, else the month's.
  std::string HistoryTip() const;
  // A new row under the mouse takes the old row's hint down.
  void HistoryMouseMove(const MSG& msg);
};

struct TWinMainWindow::TImpl : TMainWindowState {
  using TMainWindowState::TMainWindowState;
};
