// The socket's side of TLS: the handshake runs under the same waits,
// time-out and cancel as every other operation, and recv and send go
// through the filter once it runs.
#include "net/socket.h"
#include "platform/errors.h"
#include "platform/messages.h"

int TagSocket::Recv(char* buf, int len, bool peek, int& error) {
  if (tls_) {
    try {
      return tls_->Recv(SocketHandle, buf, len, peek, error);
    } catch (const ESocketError& e) {
      RaiseText(e.Message());
    }
  }
  TagWinsock& w = Winsock();
  int n = w.recv(SocketHandle, buf, len, peek ? ws::kMsgPeek : 0);
  error = n == ws::kSocketError ? w.WSAGetLastError() : 0;
  return n;
}

int TagSocket::Send(const char* buf, int len, int& error) {
  if (tls_) {
    try {
      return tls_->Send(SocketHandle, buf, len, error);
    } catch (const ESocketError& e) {
      RaiseText(e.Message());
    }
  }
  TagWinsock& w = Winsock();
  int n = w.send(SocketHandle, buf, len, 0);
  error = n == ws::kSocketError ? w.WSAGetLastError() : 0;
  return n;
}

void TagSocket::StartTls(const TTlsConfig& config) {
  if (!Connected()) RaiseSocketError(msg::kNotConnected);
  try {
    tls_ = std::make_unique<TTlsFilter>(config);
  } catch (const ESocketError& e) {
    RaiseText(e.Message());
  }
  StartTimer();
  for (;;) {
    PumpOnce();
    if (Canceled || TimedOut) break;
    int error = 0;
    bool done = false;
    try {
      done = tls_->Handshake(SocketHandle, error);
    } catch (const ESocketError& e) {
      // A setting to correct, not a failure to retry.
      if (tls_->PeerNotTls())
        RaiseText("The server at " + PeerName() +
                  " does not speak TLS; check the port and the connection security");
      RaiseText(e.Message());
    }
    if (done) break;
    if (error) RaiseSocketError(static_cast<std::uint16_t>(error));
    if (AsyncFailed) RaiseSocketError(AsyncError);
    WaitNext();
  }
  StopTimer();
  if (Canceled) RaiseCanceled();
  if (TimedOut) RaiseTimedOut();
  try {
    tls_->Verify();
  } catch (const ECertificateError& e) {
    std::string text = e.Message();
    if (OnError) OnError(*this, text);
    throw ECertificateError(text);
  }
}
