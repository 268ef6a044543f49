// What a request goes through below the windows: the server list, the
// history and outbox files, the message, the SMTP client with its sender,
// and the dispatcher that joins them. The tray program and the command line
// each own one; they differ in the user interface and the settings they
// hand it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/request_sender.h"
#include "core/dispatcher.h"
#include "core/history.h"
#include "core/outbox.h"
#include "core/server_list.h"
#include "mail/message.h"
#include "net/ras_run.h"
#include "net/smtp.h"

class TRequestStack {
 public:
  // `choice` names the request servers; unset, the choice of Servers. The
  // sender reads the mail server's keys from TOLVANE.INI at each send and
  // asks no one for a password until told otherwise.
  TRequestStack(TRequestUi& ui, std::function<TDispatchSettings()> settings,
                std::function<TServerChoice()> choice = nullptr);
  TRequestStack(const TRequestStack&) = delete;
  TRequestStack& operator=(const TRequestStack&) = delete;

  // Reads the server list, the history and the outbox; raises what fails.
  void Load();

  // The bytes recorded for this calendar month, by every program that
  // shares the history.
  std::uint64_t MonthBytes() const;

  TServerList Servers;
  THistory History;
  TOutbox Outbox;
  TmsMessage Message;
  // Brings up the connection that [General] DialEntry names before a send
  // and takes it down after the last mail of a run (TSendRun).
  TRasRun Dialup;
  TmsSMTP Smtp;
  TSmtpRequestSender Sender;
  TRequestDispatcher Dispatcher;

 private:
  void RecordBytes(const TLinkBytes& bytes);

  // History entries added during the send under way.
  std::vector<std::string> sent_;
};

// "1.4 MB", "930 KB", "512 bytes".
std::string ByteCountText(std::uint64_t bytes);
