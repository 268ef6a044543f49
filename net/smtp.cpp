#include "net/smtp.h"

#include <cctype>
#include <utility>

#include "mail/codecs.h"
#include "net/dot_stuffing.h"
#include "platform/errors.h"
#include "platform/messages.h"

namespace {

bool HasCode(const std::string& reply, const char* code) { return reply.compare(0, 3, code) == 0; }

// A reply may not grow without end: a broken or hostile server would fill
// memory and the protocol log.
constexpr std::size_t kMaxReplyLines = 1000;
constexpr std::size_t kMaxReplyBytes = 64 * 1024;

bool StartsWithCode(const std::string& line) {
  return line.size() >= 3 && std::isdigit(static_cast<unsigned char>(line[0])) &&
         std::isdigit(static_cast<unsigned char>(line[1])) &&
         std::isdigit(static_cast<unsigned char>(line[2]));
}

// "250-...": more lines of the same reply follow.
bool ContinuesReply(const std::string& line) {
  return StartsWithCode(line) && line.size() > 3 && line[3] == '-';
}

// "250" or "250 text": the reply's last line.
bool EndsReply(const std::string& line) {
  return StartsWithCode(line) && (line.size() == 3 || line[3] == ' ');
}

bool Accepts(const std::string& line) {
  return EndsReply(line) && (line[0] == '2' || HasCode(line, "354"));
}

bool IsAscii(const std::string& text) {
  for (unsigned char c : text)
    if (c >= 0x80) return false;
  return true;
}

bool StreamHas8Bit(TStream& stream) {
  stream.SetPosition(0);
  char block[16384];
  std::size_t n;
  bool found = false;
  while (!found && (n = stream.Read(block, sizeof block)) > 0)
    found = !IsAscii(std::string(block, n));
  stream.SetPosition(0);
  return found;
}

}  // namespace

TmsSMTP::TmsSMTP() {
  ServiceName = "smtp";
  DefaultPort = 25;
}

std::string TmsSMTP::NonAsciiAddress() const {
  if (!MailMessage) return "";
  const TmsMessage& m = *MailMessage;
  if (!IsAscii(m.Sender().Address())) return m.Sender().Address();
  for (const TmsAddressList* list : {&m.Recipients(), &m.CC(), &m.BCC()})
    for (int i = 0; i < list->Count(); ++i)
      if (!IsAscii(list->Items(i).Address())) return list->Items(i).Address();
  return "";
}

std::uint16_t TmsSMTP::ImpliedPort() const {
  // The submission ports: STARTTLS on 587, TLS from the first byte on 465.
  switch (Security) {
    case TSmtpSecurity::StartTls:
      return 587;
    case TSmtpSecurity::Tls:
      return 465;
    case TSmtpSecurity::None:
      break;
  }
  return 0;
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
  data_sent_ = data_accepted_ = quit_sent_ = false;
  TmsMailBase::Open();
}

void TmsSMTP::CheckReply(const std::string& line) {
  if (accept_any_reply_ || ContinuesReply(line)) return;
  if (Accepts(line)) return;
  std::string text = line;
  if (!QuietReplies && OnError) OnError(*this, text);
  throw ESocketError(text);
}

void TmsSMTP::ReadReply(bool closing) {
  reply_lines_.clear();
  std::size_t bytes = 0;
  // The time-out bounds the whole reply: a server that sends one line now
  // and then must not hold the client for ever.
  BeginDeadline();
  struct Guard {
    TmsSMTP& s;
    ~Guard() { s.EndDeadline(); }
  } guard{*this};
  do {
    ReadLine(LastReply);
    bytes += LastReply.size() + 2;
    if (reply_lines_.size() == kMaxReplyLines || bytes > kMaxReplyBytes) RaiseReplyTooLong();
    reply_lines_.push_back(LastReply);
    if (ContinuesReply(LastReply) && DeadlinePassed()) RaiseTimedOut();
  } while (!PeerClosed() && ContinuesReply(LastReply));
  // A reply the server never finished is no acceptance.
  if ((LastReply.empty() || ContinuesReply(LastReply)) && !closing)
    RaiseSocketError(ws::kEConnReset);
}

void TmsSMTP::RaiseReplyTooLong() {
  StopTimer();
  std::string text = MessageText(ws::kEMsgSize);
  if (OnError) OnError(*this, text);
  // The rest of the reply would still be coming: the connection is useless.
  Close();
  throw ESocketError(text);
}

std::string TmsSMTP::HeloName() const {
  // Strict servers refuse a bare host name: RFC 5321 asks for a fully
  // qualified name or an address literal.
  if (LocalHostName().find('.') != std::string::npos &&
      Winsock().inet_addr(LocalHostName().c_str()) == ws::kInaddrNone)
    return LocalHostName();
  const std::optional<TIpAddress> local = LocalIpAddress();
  return local ? local->Literal() : LocalHostName();
}

void TmsSMTP::Helo() {
  QuietReplies = true;
  try {
    WriteLine("HELO " + HeloName());
    ReadReply();
  } catch (...) {
    QuietReplies = false;
    // A time-out or cancel closed the connection: its own error is the one
    // to report, not the bare HELO's missing socket.
    if (!Connected()) throw;
    WriteLine("HELO");
    ReadReply();
  }
  QuietReplies = false;
}

void TmsSMTP::Ehlo() {
  WriteLine("EHLO " + HeloName());
  ReadReply();
  extensions_ = ParseEhloReply(reply_lines_);
}

void TmsSMTP::Login() {
  ConnectSocket();
  extensions_ = {};
  // An IPv6 server is checked against the certificate's IP addresses
  // without the brackets of the setting.
  const TTlsConfig tls{SplitServer(Server).host, CAFile, Fingerprint, Port()};
  if (Security == TSmtpSecurity::Tls) StartTls(tls);
  ReadReply();
  // Only the extended greeting can learn whether the server takes
  // addresses beyond ASCII.
  if (Security == TSmtpSecurity::None && UserName.empty() && NonAsciiAddress().empty()) {
    Helo();
    return;
  }
  Ehlo();
  if (Security == TSmtpSecurity::StartTls) {
    // Never fall back to plain text: that is what an attacker would arrange.
    if (!extensions_.startTls)
      RaiseText("The server does not offer STARTTLS; the connection is not encrypted");
    WriteLine("STARTTLS");
    ReadReply();
    StartTls(tls);
    Ehlo();
  }
  if (!UserName.empty()) Authenticate();
}

void TmsSMTP::Authenticate() {
  if (!Secure() && !PeerAddress().IsLoopback())
    RaiseText("The password is sent only over an encrypted connection: choose STARTTLS or TLS");
  std::string why;
  const std::string mechanism = ChooseAuthMechanism(extensions_, AuthMechanism, why);
  if (mechanism.empty()) RaiseText(why);
  // PLAIN ends in one reply, so it can lead the envelope's group; every
  // other mechanism may need an answer to a challenge first.
  if (sending_ && mechanism == "PLAIN" && extensions_.pipelining) {
    pending_auth_ = mechanism;
    return;
  }
  accept_any_reply_ = true;
  try {
    AuthExchange(mechanism);
  } catch (...) {
    accept_any_reply_ = false;
    throw;
  }
  accept_any_reply_ = false;
}

void TmsSMTP::AuthExchange(const std::string& mechanism) {
  if (mechanism == "LOGIN") {
    WriteLine("AUTH LOGIN");
    ReadAuthReply();
    for (const std::string* part : {&UserName, &Password}) {
      if (!HasCode(LastReply, "334")) break;
      WriteSecretLine(Base64EncodeChunk(*part), "<hidden>");
      ReadAuthReply();
    }
  } else {
    WriteSecretLine("AUTH " + mechanism + " " + AuthInitialResponse(mechanism, UserName, Password),
                    "AUTH " + mechanism + " <hidden>");
    ReadAuthReply();
    // A refused token comes back as a challenge holding the error; the
    // client's answer ends the exchange.
    if (HasCode(LastReply, "334")) {
      WriteLine(mechanism == "OAUTHBEARER" ? "AQ==" : "");
      ReadAuthReply();
    }
  }
  if (!HasCode(LastReply, "235")) RaiseText(LastReply);
}

void TmsSMTP::ReadAuthReply() {
  ReadReply();
  if (LastReply.empty() || LastReply[0] == '2' || HasCode(LastReply, "334")) return;
  if (HasCode(LastReply, "535")) RaiseAuthFailed();
  RaiseText(LastReply);
}

void TmsSMTP::RaiseAuthFailed() {
  std::string text = "Authentication failed: " + LastReply;
  StopTimer();
  if (OnError) OnError(*this, text);
  throw EAuthError(text);
}

void TmsSMTP::Logout() {
  PumpOnce();
  if (!std::exchange(quit_sent_, false)) WriteLine("QUIT");
  ReadReply(true);
}

std::string TmsSMTP::MailParameters() {
  std::string params;
  if (extensions_.has8BitMime && StreamHas8Bit(*MessageStream)) params += " BODY=8BITMIME";
  if (extensions_.smtpUtf8 && !NonAsciiAddress().empty()) params += " SMTPUTF8";
  return params;
}

void TmsSMTP::SendEnvelope(const TmsMessage& m) {
  std::vector<std::string> lines;
  if (!m.Sender().Address().empty())
    lines.push_back("MAIL FROM:<" + m.Sender().Address() + ">" + MailParameters());
  for (const TmsAddressList* list : {&m.Recipients(), &m.CC(), &m.BCC()})
    for (int i = 0; i < list->Count(); ++i)
      lines.push_back("RCPT TO:<" + list->Items(i).Address() + ">");
  lines.push_back("DATA");
  if (!extensions_.pipelining) {
    for (const std::string& line : lines) {
      WriteLine(line);
      ReadReply();
    }
    return;
  }
  std::vector<std::string> shown = lines;
  const std::string auth = std::exchange(pending_auth_, {});
  if (!auth.empty()) {
    lines.insert(lines.begin(), "AUTH " + auth + " " + AuthInitialResponse(auth, UserName, Password));
    shown.insert(shown.begin(), "AUTH " + auth + " <hidden>");
  }
  WriteSecretLines(lines, shown);
  ReadGroupReplies(lines.size(), !auth.empty());
}

void TmsSMTP::ReadGroupReplies(std::size_t count, bool auth_first) {
  // Every reply is read, in order, so that the log and the dialogue stay in
  // step; the first refusal is the one the user hears of.
  std::string refusal;
  accept_any_reply_ = true;
  try {
    for (std::size_t i = 0; i < count; ++i) {
      ReadReply();
      const bool refused = auth_first && i == 0 ? !HasCode(LastReply, "235") : !Accepts(LastReply);
      if (refusal.empty() && refused) refusal = LastReply;
    }
  } catch (...) {
    accept_any_reply_ = false;
    throw;
  }
  accept_any_reply_ = false;
  if (refusal.empty()) return;
  const bool data_open = HasCode(LastReply, "354");
  try {
    if (auth_first && !HasCode(refusal, "235")) {
      LastReply = refusal;
      if (HasCode(refusal, "535")) RaiseAuthFailed();
      RaiseText(refusal);
    }
    CheckReply(refusal);
  } catch (...) {
    // The server awaits the text although the envelope failed: inside the
    // data a QUIT would be text, so hang up and it drops the message.
    if (data_open) Close();
    throw;
  }
}

void TmsSMTP::SendMail() { SendOne(false); }

void TmsSMTP::SendOne(bool last) {
  if (!MailMessage) RaiseSocketError(msg::kMailMessageRequired);
  data_sent_ = data_accepted_ = false;
  TmsMessage& m = *MailMessage;
  m.Validate();
  // Nothing goes out when any envelope address could smuggle a command.
  CheckEnvelope();
  const std::string non_ascii = NonAsciiAddress();
  if (!non_ascii.empty() && !extensions_.smtpUtf8)
    RaiseText("The server does not take mail addresses beyond ASCII (it offers no SMTPUTF8): " +
              non_ascii);

  MessageStream = std::make_unique<TTempFileStream>();
  struct Guard {
    std::unique_ptr<TTempFileStream>& s;
    ~Guard() { s.reset(); }
  } guard{MessageStream};

  if (OnPrepare) OnPrepare(*this);
  m.Allow8Bit = extensions_.has8BitMime;
  m.SaveToStream(*MessageStream);
  // The text goes out with one more empty line.
  const auto size = static_cast<std::uint64_t>(MessageStream->Size()) + 2;
  if (extensions_.size != 0 && size > extensions_.size)
    RaiseText("The message is " + std::to_string(size) + " bytes; the server accepts at most " +
              std::to_string(extensions_.size));

  if (OnSending) OnSending(*this);
  SendEnvelope(m);
  WriteStream(*MessageStream, TDotStuffer());
  WriteLine("");
  try {
    if (OnDataEnd) OnDataEnd(*this);
  } catch (...) {
    // Inside the message a QUIT would be text: hang up, and the server
    // drops what it has without its closing ".".
    Close();
    throw;
  }
  // Set before the write: a "." cut off halfway may still have arrived.
  data_sent_ = true;
  if (last && extensions_.pipelining) {
    WriteLines({".", "QUIT"});
    quit_sent_ = true;
  } else {
    WriteLine(".");
  }
  ReadReply();
  // Accepted now, whatever becomes of QUIT.
  data_accepted_ = true;
  if (OnMailSent) OnMailSent(*this);
}

void TmsSMTP::Send() { SendMessages({MailMessage}); }

void TmsSMTP::SendMessages(const std::vector<TmsMessage*>& messages) {
  TmsMessage* const kept = MailMessage;
  try {
    if (!messages.empty()) MailMessage = messages.front();
    sending_ = !messages.empty();
    pending_auth_.clear();
    Connect();
    sending_ = false;
    for (std::size_t i = 0; i < messages.size(); ++i) {
      MailMessage = messages[i];
      SendOne(i + 1 == messages.size());
    }
  } catch (...) {
    sending_ = false;
    MailMessage = kept;
    // The first failure is the one to report; a failing goodbye after it
    // adds nothing.
    try {
      Disconnect();
    } catch (const std::exception&) {
    }
    throw;
  }
  MailMessage = kept;
  Disconnect();
}
