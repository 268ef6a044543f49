// Delivers mail messages to an SMTP server. With no security, no user
// name and an ASCII envelope it speaks the plain dialogue: greeting, HELO,
// MAIL FROM, RCPT TO per recipient, DATA, text, QUIT. Otherwise it greets
// with EHLO and may run TLS (from the first byte or after STARTTLS) and AUTH
// before the envelope; a server that offers PIPELINING gets the envelope and
// DATA in one flight (behind AUTH PLAIN when sending), and the last
// message's end and QUIT in another.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "mail/message.h"
#include "mail/streams.h"
#include "net/esmtp.h"
#include "net/socket.h"

enum class TSmtpSecurity { None, StartTls, Tls };

class TmsSMTP : public TmsMailBase {
 public:
  TmsSMTP();

  // The message to send; not owned.
  TmsMessage* MailMessage = nullptr;
  TNotifyEvent OnPrepare;
  TNotifyEvent OnSending;
  // Just before the message's closing ".": a handler that raises keeps it
  // from going out (the server then drops the message).
  TNotifyEvent OnDataEnd;
  TNotifyEvent OnMailSent;

  TSmtpSecurity Security = TSmtpSecurity::None;
  std::string UserName;       // empty: no AUTH
  std::string Password;       // password or OAuth2 token; never logged
  std::string AuthMechanism;  // empty: the best both sides offer
  std::string CAFile;         // PEM file with extra trust anchors
  std::string Fingerprint;    // SHA-256 pin of the server's certificate

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
  // Sends each message in turn over one connection: connects once (the
  // first message's envelope chooses the greeting) and quits once. The
  // first failure ends it; MailMessage is left as it was.
  void SendMessages(const std::vector<TmsMessage*>& messages);

  // Refuses envelope addresses that hold a line break.
  void CheckEnvelope();
  // The first envelope address with a character beyond ASCII; "" when none.
  std::string NonAsciiAddress() const;

  // What the server offered in its reply to EHLO (empty after HELO).
  const TEsmtpExtensions& Extensions() const { return extensions_; }
  // The final "." of the last message went out; the server accepted it.
  bool DataSent() const { return data_sent_; }
  bool DataAccepted() const { return data_accepted_; }
  // The argument of HELO and EHLO: the host's name when it is fully
  // qualified, else the local address as a literal ("[192.0.2.7]",
  // "[IPv6:2001:db8::7]").
  std::string HeloName() const;

  std::unique_ptr<TTempFileStream> MessageStream;
  bool QuietReplies = false;
  std::string LastReply;

 protected:
  std::uint16_t ImpliedPort() const override;

 private:
  [[noreturn]] void RaiseReplyTooLong();
  void Helo();
  void Ehlo();
  void Authenticate();
  // Runs one AUTH exchange; raises unless the server answered 235.
  void AuthExchange(const std::string& mechanism);
  void ReadAuthReply();
  std::string MailParameters();
  // Writes the envelope and DATA and reads their replies: one at a time,
  // or all in one group when the server takes pipelined commands.
  void SendEnvelope(const TmsMessage& m);
  // `auth_first`: the first reply answers a pipelined AUTH.
  void ReadGroupReplies(std::size_t count, bool auth_first);
  void SendOne(bool last);
  [[noreturn]] void RaiseAuthFailed();

  TEsmtpExtensions extensions_;
  std::vector<std::string> reply_lines_;
  bool accept_any_reply_ = false;
  bool data_sent_ = false;
  bool data_accepted_ = false;
  bool quit_sent_ = false;  // went out behind the last message's end
  // While sending, AUTH PLAIN waits to go out in the first envelope's group:
  // one round trip less, which on a satellite link is most of a second.
  bool sending_ = false;
  std::string pending_auth_;  // the mechanism whose AUTH waits
};
