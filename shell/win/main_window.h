// The main window of the Windows shell: history, settings and server
// choice in one dialog made from its resource template, hidden almost all
// the time. A view: the tray app gives it the settings to show and hears its
// buttons through the callbacks.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "app/settings.h"
#include "app/version_texts.h"
#include "core/server_list.h"

struct HWND__;
struct HINSTANCE__;
class TRequestStack;

class TWinMainWindow {
 public:
  // Makes the dialog, hidden. `stack` serves the history list and its menu.
  TWinMainWindow(HINSTANCE__* instance, TRequestStack& stack);
  ~TWinMainWindow();
  TWinMainWindow(const TWinMainWindow&) = delete;
  TWinMainWindow& operator=(const TWinMainWindow&) = delete;

  HWND__* Handle() const;

  // The settings as the controls show them now, with the request servers
  // the drop-down lists choose.
  TSettings Values() const;
  // Shows `settings`; keys without a control are kept and come back with
  // Values().
  void SetValues(const TSettings& settings);
  // Chooses "Y&es" (0) or "&No" (1) of the Enabled group without a click.
  void SetEnabledIndex(int index);
  void SetShowTips(bool on);
  // The password typed since the last call; the field is emptied.
  std::string TakePassword();

  // Fills the three drop-down lists from the server list; raises what Load
  // raises, the lists then empty.
  void LoadServers();
  TServerList Servers;

  // Both required fields hold text; otherwise says which is empty and shows
  // the window with the focus there.
  bool CheckRequiredFields();
  // Ok's further checks: an e-mail address; the send time empty or a time
  // of day.
  bool CheckAddressField();
  bool CheckSendAtField();

  // Centres the window on its screen, shows it and brings it to the front.
  void ShowCentred();
  void Hide();
  bool Visible() const;
  // Shows the window and puts the focus on the pages server's list.
  void FocusServerChoice();

  // Refills the history list from the history and the outbox; selects
  // history entry `index` (scrolled to the top) when not -1.
  void ShowHistory();
  void SelectHistoryEntry(int index);
  // Runs at each refill: the tray app counts the waiting requests.
  std::function<void()> OnHistoryShown;
  // When the next round sends the waiting requests ("hh:mm"); empty: none.
  std::function<std::string()> NextTry;

  // What the buttons report; each runs guarded by the caller.
  std::function<void()> OnOk;
  std::function<void()> OnCancel;  // also the close box while visible
  std::function<void()> OnUnload;
  std::function<void()> OnTipNow;
  std::function<void(bool on)> OnShowTips;
  std::function<void(int index)> OnEnabled;

  // The dialog's messages that the tray app's message loop must hand over
  // (IsDialogMessage for keyboard navigation).
  bool PreTranslate(void* msg);

 private:
  struct TImpl;
  std::unique_ptr<TImpl> impl_;
};
