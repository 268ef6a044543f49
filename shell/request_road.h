// The road of a request inside the tray program: its request stack, the
// history list with its menu, the clipboard watch and the command line's
// channel. The request servers are the ones the main window's lists choose.
#pragma once

#include <QObject>

#include <list>
#include <memory>
#include <optional>
#include <string>

#include "app/request_channel.h"
#include "app/request_stack.h"
#include "core/dispatcher.h"

class QAction;
class TClipboardWatch;
class TfrmProps;
class TOutboxRoad;

class TRequestRoad : public QObject, private TRequestUi {
  Q_OBJECT

 public:
  explicit TRequestRoad(TfrmProps& main);
  ~TRequestRoad() override;

  // Start-up and shutdown steps of the main window.
  void LoadHistory();
  void JoinClipboard();
  void SaveHistory();
  void LeaveClipboard();

  // The clipboard changed (the handler of the clipboard notice); true when
  // its text is wanted for a dispatch.
  bool ClipboardChanged();

  // History menu.
  void mnuShowDetailClick();
  void mnuDeletefromHistoryClick();
  void mnuRequestAgainClick();

  TRequestStack& Stack() { return stack_; }
  TRequestDispatcher& Dispatcher() { return stack_.Dispatcher; }
  TOutboxRoad& OutboxRoad() { return *outbox_road_; }

  QAction* mnuShowDetail;
  QAction* mnuDeletefromHistory;
  QAction* mnuRequestAgain;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // TRequestUi
  TAnswer Confirm(const std::string& question) override;
  void OpenProgress(const std::string& label) override;
  void SetProgress(int position) override;
  void CloseProgress() override;
  void SetStatus(const std::string& status) override;
  std::string StatusLine() const override;
  void ShowBriefNotice(const std::string& text) override;
  void Beep() override;
  void ProcessMessages() override;
  void HistoryChanged() override;
  void SelectHistoryEntry(int index) override;
  void UnhandledException(const std::exception& e) override;
  bool Stopping() const override;

  void ShowHistory();
  // Hooks the history list and the server group once the window has them.
  void AttachControls();
  int SelectedEntry() const;
  void lstHistoryMouseDown(QPoint position);
  void Answer(const std::string& url, TRequestDispatcher::TOutcome outcome);
  std::optional<std::string> AskPassword(const std::string& prompt);

  TfrmProps& main_;
  TRequestStack stack_;
  bool auto_popup_ = false;
  std::unique_ptr<TClipboardWatch> clipboard_;
  // Requests handed over by the command line, waiting for their outcome.
  struct TWaiting {
    std::string url;
    TRequestServer::TReply reply;
  };
  std::list<TWaiting> waiting_;
  std::unique_ptr<TOutboxRoad> outbox_road_;
  std::unique_ptr<TRequestServer> channel_;
};

// Fills the main window's start-up and shutdown steps with the request road.
void InstallRequestRoad();

// The request road of the main window while it exists.
TRequestRoad* RequestRoad();
