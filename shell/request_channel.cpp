#include "shell/request_channel.h"

#include <QLocalSocket>
#include <QPointer>

#include "platform/instance_lock.h"

namespace {

constexpr char kVerb[] = "REQUEST ";
constexpr char kFlush[] = "FLUSH";
constexpr int kConnectMs = 2000;
// A request may wait for a confirmation box or a slow server.
constexpr int kAnswerMs = 30 * 60 * 1000;

}  // namespace

std::string RequestSocketPath(const std::string& programName) {
  return InstanceBasePath(programName) + ".request.sock";
}

TRequestServer::TRequestServer(std::string path, THandler handler, THandler flush)
    : path_(std::move(path)), handler_(std::move(handler)), flush_(std::move(flush)) {
  server_ = std::make_unique<QLocalServer>();
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  const QString name = QString::fromStdString(path_);
  // The caller holds the instance lock: a socket left there is a dead one's.
  QLocalServer::removeServer(name);
  if (!server_->listen(name)) return;
  QObject::connect(server_.get(), &QLocalServer::newConnection, server_.get(), [this] {
    while (QLocalSocket* peer = server_->nextPendingConnection()) {
      QObject::connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
      QObject::connect(peer, &QLocalSocket::readyRead, peer, [this, peer] {
        if (!peer->canReadLine()) return;
        const std::string line = peer->readLine(64 * 1024).trimmed().toStdString();
        const bool flush = line == kFlush && flush_;
        if (!flush && (line.rfind(kVerb, 0) != 0 || !handler_)) {
          peer->disconnectFromServer();
          return;
        }
        QPointer<QLocalSocket> guard(peer);
        const THandler& handler = flush ? flush_ : handler_;
        handler(flush ? std::string() : line.substr(sizeof(kVerb) - 1),
                [guard](int code, const std::string& text) {
                  if (!guard) return;  // the command line gave up waiting
                  std::string answer = std::to_string(code) + " " + text;
                  for (char& c : answer) {
                    if (c == '\n' || c == '\r') c = ' ';
                  }
                  guard->write((answer + "\n").c_str());
                  guard->flush();
                  guard->disconnectFromServer();
                });
      });
    }
  });
}

TRequestServer::~TRequestServer() {
  if (server_) server_->close();
}

bool TRequestServer::Listening() const { return server_ && server_->isListening(); }

namespace {

bool AskRunningInstance(const std::string& path, const std::string& request, int& code,
                        std::string& text) {
  QLocalSocket socket;
  socket.connectToServer(QString::fromStdString(path));
  if (!socket.waitForConnected(kConnectMs)) return false;
  socket.write((request + "\n").c_str());
  if (!socket.waitForBytesWritten(kConnectMs)) return false;
  QByteArray answer;
  while (!answer.contains('\n')) {
    if (!socket.waitForReadyRead(kAnswerMs)) break;
    answer += socket.readAll();
  }
  answer += socket.readAll();
  const std::string line = answer.trimmed().toStdString();
  if (line.empty()) {
    code = kRequestFailed;
    text = "The running Tolvane ended before it answered";
    return true;
  }
  const auto blank = line.find(' ');
  try {
    code = std::stoi(line.substr(0, blank));
  } catch (const std::exception&) {
    code = kRequestFailed;
  }
  text = blank == std::string::npos ? std::string() : line.substr(blank + 1);
  return true;
}

}  // namespace

bool HandToRunningInstance(const std::string& path, const std::string& url, int& code,
                           std::string& text) {
  return AskRunningInstance(path, kVerb + url, code, text);
}

bool FlushRunningInstance(const std::string& path, int& code, std::string& text) {
  return AskRunningInstance(path, kFlush, code, text);
}
