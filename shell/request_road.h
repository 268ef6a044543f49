// The road of a request inside the tray program: the main window's message
// and SMTP client, the history list with its menu, the clipboard watch and
// the command line's channel, all joined to the request dispatcher.
#pragma once

#include <QObject>

#include <list>
#include <memory>
#include <optional>
#include <string>

#include "app/request_channel.h"
#include "app/request_sender.h"
#include "core/dispatcher.h"
#include "core/history.h"
#include "core/outbox.h"
#include "mail/message.h"
#include "net/smtp.h"

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

  TmsMessage msMessage1;
  TmsSMTP msSMTP1;
  THistory History;
  TOutbox Outbox;
  TRequestDispatcher& Dispatcher() { return dispatcher_; }
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
  TSmtpRequestSender sender_;
  TRequestDispatcher dispatcher_;
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
