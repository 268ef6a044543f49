// Delivers one mail message to an SMTP server with the plain dialogue:
// greeting, HELO, MAIL FROM, RCPT TO per recipient, DATA, text, QUIT.
#pragma once

#include <memory>
#include <string>

#include "mail/message.h"
#include "mail/streams.h"
#include "net/socket.h"

// How the connection is secured: the plain dialogue, STARTTLS after the
// greeting, or TLS from the first byte.
enum class TSmtpSecurity { None, StartTls, Tls };

class TmsSMTP : public TmsMailBase {
 public:
  TmsSMTP();

  // The message to send; not owned.
  TmsMessage* MailMessage = nullptr;
  TNotifyEvent OnPrepare;
  TNotifyEvent OnSending;
  TNotifyEvent OnMailSent;

  TSmtpSecurity Security = TSmtpSecurity::None;
  std::string UserName;  // empty: no AUTH
  std::string Password;  // password or OAuth2 token; never logged
  std::string
      AuthMechanism;        // "" = best both offer; else "PLAIN", "LOGIN", "XOAUTH2", "OAUTHBEARER"
  std::string CAFile;       // PEM file with extra trust anchors
  std::string Fingerprint;  // SHA-256 pin, hex, colons optional

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

  std::unique_ptr<TTempFileStream> MessageStream;
  bool QuietReplies = false;
  std::string LastReply;
};
