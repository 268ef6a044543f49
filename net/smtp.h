// Delivers one mail message to an SMTP server with the plain dialogue:
// greeting, HELO, MAIL FROM, RCPT TO per recipient, DATA, text, QUIT.
#pragma once

#include <memory>
#include <string>

#include "mail/message.h"
#include "mail/streams.h"
#include "net/socket.h"

class TmsSMTP : public TmsMailBase {
 public:
  TmsSMTP();

  // The message to send; not owned.
  TmsMessage* MailMessage = nullptr;
  TNotifyEvent OnPrepare;
  TNotifyEvent OnSending;
  TNotifyEvent OnMailSent;

  void Open() override;
  void CheckReply(const std::string& line) override;
  void Login() override;
  void Logout() override;

  // Reads one complete reply into LastReply. A reply cut off by the peer
  // closing the connection is an error unless `closing` says the close is
  // expected.
  void ReadReply(bool closing = false);
  void SendMail();
  // Connect and SendMail; disconnects however they end.
  void Send();

  // Refuses envelope addresses that hold a line break.
  void CheckEnvelope();

  // Of the last SendMail: the final "." went out; the server's 250 to it came.
  bool DataSent() const { return data_sent_; }
  bool DataAccepted() const { return data_accepted_; }

  std::unique_ptr<TTempFileStream> MessageStream;
  bool QuietReplies = false;
  std::string LastReply;

 private:
  bool data_sent_ = false;
  bool data_accepted_ = false;
};
