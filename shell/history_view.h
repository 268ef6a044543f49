// The main window's history list with its menu: the outbox's waiting
// requests, greyed, above the history's lines, and the menu's commands on
// them (detail, delete, request again; send now, discard).
#pragma once

#include <QObject>
#include <QPoint>

#include <functional>
#include <string>

class QAction;
class TfrmProps;
class TRequestStack;

class THistoryView : public QObject {
  Q_OBJECT

 public:
  THistoryView(TfrmProps& window, TRequestStack& stack);

  // Refills the list from the history and the outbox; the list waits for
  // the window's controls when they are not made yet.
  void Show();
  // Selects history entry `index` and scrolls it to the top.
  void Select(int index);
  // Rows at the top of the list that are kept requests, not history.
  int KeptRows() const;

  void mnuShowDetailClick();
  void mnuDeletefromHistoryClick();
  void mnuRequestAgainClick();
  void mnuSendNowClick();
  void mnuDiscardClick();
  void mnuAskHelpClick();

  QAction* mnuShowDetail;
  QAction* mnuDeletefromHistory;
  QAction* mnuRequestAgain;
  QAction* mnuSendNow;
  QAction* mnuDiscard;
  QAction* mnuAskHelp;

  // Runs at each refill: the tray app counts the waiting requests.
  std::function<void()> OnShown;
  // When the next round sends the waiting requests ("hh:mm"); empty: none.
  std::function<std::string()> NextTry;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // Hooks the list and the server group once the window has them.
  void AttachControls();
  void ShowKept();
  // The history entry selected, or the kept request selected; -1 for none.
  int SelectedEntry() const;
  int SelectedKept() const;
  void MouseDown(QPoint position);
  void MenuAboutToShow();

  TfrmProps& window_;
  TRequestStack& stack_;
  bool auto_popup_ = false;
};
