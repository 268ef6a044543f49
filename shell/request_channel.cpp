#include "shell/request_channel.h"

#include <QLocalSocket>
#include <QPointer>

#include <iostream>

#include "core/request_builder.h"
#include "platform/instance_lock.h"

namespace {

constexpr char kVerb[] = "REQUEST ";
constexpr char kFlush[] = "FLUSH";
constexpr int kConnectMs = 2000;
// A request may wait for a confirmation box or a slow server.
constexpr int kAnswerMs = 30 * 60 * 1000;
// "REQUEST " and the decimal length of at most kMaxRequestBytes.
constexpr qsizetype kMaxHeader = 32;

enum class TParse { Incomplete, Bad, TooLong, Whole };

// Takes "REQUEST <length>\n<bytes>" or "FLUSH\n" from the front of `buffer`.
TParse ParseRequest(const QByteArray& buffer, std::string& url, bool& flush) {
  const qsizetype end = buffer.indexOf('\n');
  if (end < 0) return buffer.size() > kMaxHeader ? TParse::Bad : TParse::Incomplete;
  const QByteArray header = buffer.left(end);
  flush = header == kFlush;
  if (flush) return TParse::Whole;
  if (!header.startsWith(kVerb)) return TParse::Bad;
  bool ok = false;
  const qulonglong length = header.mid(sizeof(kVerb) - 1).toULongLong(&ok);
  if (!ok) return TParse::Bad;
  if (length > kMaxRequestBytes) return TParse::TooLong;
  if (static_cast<qulonglong>(buffer.size() - end - 1) < length) return TParse::Incomplete;
  url.assign(buffer.constData() + end + 1, static_cast<std::size_t>(length));
  return TParse::Whole;
}

void WriteAnswer(QLocalSocket* peer, const TRequestAnswer& answer) {
  std::string line = std::to_string(answer.code) + " " + answer.text;
  for (char& c : line) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  peer->write((line + "\n").c_str());
  peer->flush();
  peer->disconnectFromServer();
}

TRequestAnswer TooLongAnswer() {
  return {kRequestFailed, "not a request: the address is longer than " +
                              std::to_string(kMaxRequestBytes) + " bytes"};
}

}  // namespace

std::string RequestSocketPath(const std::string& programName) {
  const std::string base = InstanceBasePath(programName);
  return base.empty() ? std::string() : base + ".request.sock";
}

TRequestAnswer AnswerFor(TRequestDispatcher::TOutcome outcome, const std::string& url,
                         const std::string& lastError) {
  using O = TRequestDispatcher::TOutcome;
  if (outcome == O::Sent) return {kRequestSent, "Sent"};
  if (outcome == O::Kept) return {kRequestKept, "kept: " + lastError};
  if (outcome == O::NoRequest) return {kRequestFailed, NotARequestText(url)};
  return {kRequestFailed, lastError.empty() ? "the request was not sent" : lastError};
}

TRequestAnswer SettingsIncompleteAnswer() {
  return {kSettingsIncomplete,
          "the settings lack your e-mail address or SMTP server; start Tolvane, fill them in and "
          "press Ok"};
}

TRequestServer::TRequestServer(std::string path, THandler handler, THandler flush)
    : path_(std::move(path)), handler_(std::move(handler)), flush_(std::move(flush)) {
  server_ = std::make_unique<QLocalServer>();
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  const QString name = QString::fromStdString(path_);
  if (path_.empty()) return;
  // The caller holds the instance lock: a socket left there is a dead one's.
  QLocalServer::removeServer(name);
  if (!server_->listen(name)) return;
  QObject::connect(server_.get(), &QLocalServer::newConnection, server_.get(),
                   [this] { Accept(); });
}

TRequestServer::~TRequestServer() {
  if (server_) server_->close();
}

bool TRequestServer::Listening() const { return server_ && server_->isListening(); }

void TRequestServer::Accept() {
  while (QLocalSocket* peer = server_->nextPendingConnection()) {
    QObject::connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
    if (!PeerIsSameUser(static_cast<int>(peer->socketDescriptor()))) {
      peer->abort();
      peer->deleteLater();
      continue;
    }
    auto buffer = std::make_shared<QByteArray>();
    QObject::connect(peer, &QLocalSocket::readyRead, peer, [this, peer, buffer] {
      *buffer += peer->readAll();
      std::string url;
      bool flush = false;
      switch (ParseRequest(*buffer, url, flush)) {
        case TParse::Incomplete:
          return;
        case TParse::Bad:
          peer->disconnectFromServer();
          return;
        case TParse::TooLong:
          WriteAnswer(peer, TooLongAnswer());
          return;
        case TParse::Whole:
          break;
      }
      QObject::disconnect(peer, &QLocalSocket::readyRead, nullptr, nullptr);
      buffer->clear();
      // The dispatch opens boxes and waits; inside this handler the socket
      // could be deleted under it when the client leaves.
      QPointer<QLocalSocket> guard(peer);
      QMetaObject::invokeMethod(
          server_.get(),
          [this, url, flush, guard] {
            const THandler& handler = flush ? flush_ : handler_;
            if (!handler) {
              if (guard) guard->disconnectFromServer();
              return;
            }
            handler(url, [guard](const TRequestAnswer& answer) {
              if (guard) WriteAnswer(guard, answer);  // else the client gave up waiting
            });
          },
          Qt::QueuedConnection);
    });
  }
}

namespace {

bool AskRunningInstance(const std::string& path, const std::string& header, const std::string& url,
                        TRequestAnswer& answer) {
  if (path.empty()) return false;
  QLocalSocket socket;
  socket.connectToServer(QString::fromStdString(path));
  if (!socket.waitForConnected(kConnectMs)) return false;
  socket.write(header.c_str());
  socket.write(url.data(), static_cast<qint64>(url.size()));
  while (socket.bytesToWrite() > 0) {
    if (!socket.waitForBytesWritten(kConnectMs)) break;
  }
  QByteArray reply;
  while (!reply.contains('\n')) {
    if (!socket.waitForReadyRead(kAnswerMs)) break;
    reply += socket.readAll();
  }
  reply += socket.readAll();
  const std::string line = reply.trimmed().toStdString();
  if (line.empty()) {
    answer = {kRequestFailed, "The running Tolvane ended before it answered"};
    return true;
  }
  const auto blank = line.find(' ');
  try {
    answer.code = std::stoi(line.substr(0, blank));
  } catch (const std::exception&) {
    answer.code = kRequestFailed;
  }
  answer.text = blank == std::string::npos ? std::string() : line.substr(blank + 1);
  return true;
}

}  // namespace

bool HandToRunningInstance(const std::string& path, const std::string& url,
                           TRequestAnswer& answer) {
  if (url.size() > kMaxRequestBytes) {
    if (path.empty()) return false;
    answer = TooLongAnswer();
    return true;
  }
  return AskRunningInstance(path, kVerb + std::to_string(url.size()) + "\n", url, answer);
}

bool FlushRunningInstance(const std::string& path, TRequestAnswer& answer) {
  return AskRunningInstance(path, std::string(kFlush) + "\n", std::string(), answer);
}

int PrintAnswer(const TRequestAnswer& answer) {
  if (answer.code == kRequestSent) {
    std::cout << answer.text << "\n" << std::flush;
  } else if (answer.code == kRequestKept) {
    std::cout << answer.text << "\n" << std::flush;
  } else {
    std::cerr << "tolvane: " << answer.text << "\n";
  }
  return answer.code;
}
