// The outbox in the tray program: its requests at the top of the history
// list, "Send Now" and "Discard" in the history menu, the count in the tray
// tool tip; the rounds that send them again by themselves are app/'s
// scheduler.
#pragma once

#include <QObject>

#include <functional>
#include <memory>
#include <string>

#include "app/outbox_scheduler.h"
#include "core/dispatcher.h"
#include "core/outbox.h"

class QAction;
class TfrmProps;

// The tray tool tip `base` with the number of requests that wait, if any.
std::string WithWaitingCount(const std::string& base);

class TOutboxRoad : public QObject {
  Q_OBJECT

 public:
  // `showHistory` refills the whole history list (which calls ShowKept).
  TOutboxRoad(TfrmProps& main, TRequestDispatcher& dispatcher, TOutbox& outbox,
              std::function<void()> showHistory);
  ~TOutboxRoad() override;

  // Puts the kept requests, greyed, above the history lines of the list,
  // counts them in the tool tip and runs the timer while any may go.
  void ShowKept();
  // Rows at the top of the list that are kept requests, not history.
  int KeptRows() const { return outbox_.Count(); }

  // Sends what waits; `done` hears how many are left once nothing runs.
  void Flush(std::function<void(int left)> done);

  void mnuSendNowClick();
  void mnuDiscardClick();

  QAction* mnuSendNow;
  QAction* mnuDiscard;

  // The text of a kept request's row.
  static std::string RowText(const TOutboxEntry& entry);

 private:
  void Changed();
  int SelectedKept() const;
  void MenuAboutToShow();

  TfrmProps& main_;
  TRequestDispatcher& dispatcher_;
  TOutbox& outbox_;
  std::function<void()> show_history_;
  TOutboxScheduler scheduler_;
};
