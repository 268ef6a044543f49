#include "app/request_channel.h"

#include <QPointer>
#include <QTimer>

#include "app/local_socket.h"
#include "app/request_protocol.h"
#include "platform/instance_lock.h"

namespace {

using namespace request_protocol;

void WriteAnswer(TLocalPeer* peer, const TRequestAnswer& answer) {
  peer->Write(AnswerLine(answer));
  peer->Close();
}

}  // namespace

std::string RequestSocketPath(const std::string& programName) {
  const std::string base = InstanceBasePath(programName);
  return base.empty() ? std::string() : base + ".request.sock";
}

TRequestServer::TRequestServer(std::string path, THandler handler, THandler flush)
    : path_(std::move(path)), handler_(std::move(handler)), flush_(std::move(flush)) {
  if (path_.empty()) return;
  // The caller holds the instance lock: a socket left there is a dead one's.
  server_ = std::make_unique<TLocalServer>(path_, [this](TLocalPeer* peer) { Accept(peer); });
}

TRequestServer::~TRequestServer() = default;

bool TRequestServer::Listening() const { return server_ && server_->Listening(); }

void TRequestServer::Accept(TLocalPeer* peer) {
  if (!PeerIsSameUser(peer->Descriptor())) {
    peer->Close();
    return;
  }
  auto buffer = std::make_shared<std::string>();
  auto taken = std::make_shared<bool>(false);
  // A client that stops half-way would hold its descriptor for ever.
  QTimer::singleShot(stall_ms_.load(), peer, [peer, taken] {
    if (!*taken) peer->Close();
  });
  peer->OnReadable = [this, peer, buffer, taken] {
    if (*taken) {
      // After the whole request only the client's leaving is expected;
      // whatever else it sends is not kept.
      if (!peer->TakeInput().empty()) peer->Close();
      return;
    }
    *buffer += peer->TakeInput();
    std::string url;
    bool flush = false;
    switch (ParseRequest(*buffer, url, flush)) {
      case TParse::Incomplete:
        return;
      case TParse::Bad:
        peer->Close();
        return;
      case TParse::TooLong:
        WriteAnswer(peer, TooLongAnswer());
        return;
      case TParse::Whole:
        break;
    }
    *taken = true;
    buffer->clear();
    // The dispatch opens boxes and waits; inside this handler the socket
    // could be deleted under it when the client leaves.
    QPointer<TLocalPeer> guard(peer);
    QMetaObject::invokeMethod(
        server_.get(),
        [this, url, flush, guard] {
          const THandler& handler = flush ? flush_ : handler_;
          if (!handler) {
            if (guard) guard->Close();
            return;
          }
          handler(url, [guard](const TRequestAnswer& answer) {
            if (guard) WriteAnswer(guard, answer);  // else the client gave up waiting
          });
        },
        Qt::QueuedConnection);
  };
}
