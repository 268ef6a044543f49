// The socket's side of TLS: the filter stacks on the descriptor, and the
// handshake runs under the same waits, time-out and cancel as every other
// operation.
#include "net/socket.h"
#include "platform/errors.h"
#include "platform/messages.h"

int TagSocket::Recv(char* buf, int len, int& error) {
  TByteChannel& channel = tls_ ? static_cast<TByteChannel&>(*tls_) : *fd_;
  try {
    return channel.Recv(buf, len, error);
  } catch (const ESocketError& e) {
    RaiseText(e.Message());
  }
}

int TagSocket::Send(const char* buf, int len, int& error) {
  TByteChannel& channel = tls_ ? static_cast<TByteChannel&>(*tls_) : *fd_;
  try {
    return channel.Send(buf, len, error);
  } catch (const ESocketError& e) {
    RaiseText(e.Message());
  }
}

void TagSocket::StartTls(const TTlsConfig& config) {
  if (!Connected()) RaiseSocketError(msg::kNotConnected);
  try {
    tls_ = std::make_unique<TTlsFilter>(*fd_, config);
  } catch (const ESocketError& e) {
    RaiseText(e.Message());
  }
  StartTimer();
  PumpOnce();
  while (!canceled_ && !timed_out_) {
    int error = 0;
    bool done = false;
    try {
      done = tls_->Handshake(error);
    } catch (const ESocketError& e) {
      // A setting to correct, not a failure to retry.
      if (tls_->PeerNotTls())
        RaiseText("The server at " + PeerName() +
                  " does not speak TLS; check the port and the connection security");
      RaiseText(e.Message());
    }
    if (done) break;
    if (error) RaiseSocketError(static_cast<std::uint16_t>(error));
    WaitReady(tls_->WantsWrite());
  }
  StopTimer();
  if (canceled_) RaiseCanceled();
  if (timed_out_) RaiseTimedOut();
  try {
    tls_->Verify();
  } catch (const ECertificateError& e) {
    std::string text = e.Message();
    if (OnError) OnError(*this, text);
    throw ECertificateError(text);
  }
  tls_resumed_ = tls_->Resumed();
}
