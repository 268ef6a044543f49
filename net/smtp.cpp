#include "net/smtp.h"

#include "platform/errors.h"
#include "platform/messages.h"

TmsSMTP::TmsSMTP() {
  ServiceName = "smtp";
  DefaultPort = 25;
}

void TmsSMTP::CheckEnvelope() {
  if (!MailMessage) return;
  const TmsMessage& m = *MailMessage;
  CheckLineSafe(m.Sender().Address());
  for (const TmsAddressList* list : {&m.Recipients(), &m.CC(), &m.BCC()})
    for (int i = 0; i < list->Count(); ++i) CheckLineSafe(list->Items(i).Address());
}

void TmsSMTP::Open() {
  if (Server.empty()) RaiseSocketError(msg::kServerRequired);
  // Refuse text that could smuggle commands before any connection exists.
  CheckLineSafe(Server);
  CheckEnvelope();
  Reset();
  data_sent_ = data_accepted_ = false;
  TmsMailBase::Open();
}

void TmsSMTP::CheckReply(const std::string& line) {
  if (line.size() >= 4 && line[3] == '-') return;
  if (line.size() >= 4 && line[0] == '2') return;
  if (line.size() >= 4 && line.compare(0, 3, "354") == 0) return;
  std::string text = line;
  if (!QuietReplies && OnError) OnError(*this, text);
  throw ESocketError(text);
}

void TmsSMTP::ReadReply(bool closing) {
  auto final_line = [this] { return LastReply.size() > 4 && LastReply[3] != '-'; };
  do {
    ReadLine(LastReply);
  } while (!PeerClosed && !final_line());
  // A reply the server never finished is no acceptance.
  if (!final_line() && !closing) RaiseSocketError(ws::kEConnReset);
}

void TmsSMTP::Login() {
  ConnectSocket();
  ReadReply();
  QuietReplies = true;
  try {
    WriteLine("HELO " + LocalHostName);
    ReadReply();
  } catch (...) {
    QuietReplies = false;
    WriteLine("HELO");
    ReadReply();
  }
  QuietReplies = false;
}

void TmsSMTP::Logout() {
  PumpOnce();
  WriteLine("QUIT");
  ReadReply(true);
}

void TmsSMTP::SendMail() {
  if (!MailMessage) RaiseSocketError(msg::kMailMessageRequired);
  data_sent_ = data_accepted_ = false;
  TmsMessage& m = *MailMessage;
  m.Validate();
  // Nothing goes out when any envelope address could smuggle a command.
  CheckEnvelope();

  MessageStream = std::make_unique<TTempFileStream>();
  struct Guard {
    std::unique_ptr<TTempFileStream>& s;
    ~Guard() { s.reset(); }
  } guard{MessageStream};

  if (OnPrepare) OnPrepare(*this);
  m.SaveToStream(*MessageStream);

  if (OnSending) OnSending(*this);
  if (!m.Sender().Address().empty()) {
    WriteLine("MAIL FROM:<" + m.Sender().Address() + ">");
    ReadReply();
  }
  for (const TmsAddressList* list : {&m.Recipients(), &m.CC(), &m.BCC()}) {
    for (int i = 0; i < list->Count(); ++i) {
      WriteLine("RCPT TO:<" + list->Items(i).Address() + ">");
      ReadReply();
    }
  }
  WriteLine("DATA");
  ReadReply();
  SendStream(*MessageStream, true);
  WriteLine("");
  // Set before the write: a "." cut off halfway may still have arrived.
  data_sent_ = true;
  WriteLine(".");
  ReadReply();
  data_accepted_ = true;
  if (OnMailSent) OnMailSent(*this);
}

void TmsSMTP::Send() {
  try {
    Connect();
    SendMail();
  } catch (...) {
    // The first failure is the one to report; a failing goodbye after it
    // adds nothing.
    try {
      Disconnect();
    } catch (const std::exception&) {
    }
    throw;
  }
  Disconnect();
}
