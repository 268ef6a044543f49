// A non-blocking TCP descriptor with its read and write notifiers: the one
// place that moves bytes with the system's socket calls. TLS stacks on it
// through the same channel shape.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "net/ip_address.h"
#include "net/winsock.h"

// Receive and send with the meaning of recv and send on a non-blocking
// socket: n > 0 bytes, 0 at the end of the stream, -1 with `error` set to a
// Winsock number (kEWouldBlock when the call would have to wait).
// What went over the link in each direction: the bytes written to and read
// from the descriptor, TLS records included.
// What went over the link for one connection, TLS records included.
struct TLinkBytes {
  std::uint64_t Sent = 0;
  std::uint64_t Received = 0;
  std::uint64_t Total() const { return Sent + Received; }
};

class TByteChannel {
 public:
  virtual ~TByteChannel() = default;
  virtual int Recv(char* buf, int len, int& error) = 0;
  virtual int Send(const char* buf, int len, int& error) = 0;
};

class TFdSocket : public TByteChannel {
 public:
  // Takes over `fd`, a non-blocking stream socket; closes it when destroyed.
  explicit TFdSocket(TSocket fd);
  ~TFdSocket() override;
  TFdSocket(const TFdSocket&) = delete;
  TFdSocket& operator=(const TFdSocket&) = delete;

  // Starts connecting: 0 when connected at once, kEWouldBlock while under
  // way (the descriptor turns writable when it is over), else the error.
  int Connect(const TIpAddress& to, std::uint16_t port);
  // The outcome of a connect that was under way: 0 or the Winsock error.
  int ConnectResult() const;
  int Recv(char* buf, int len, int& error) override;
  int Send(const char* buf, int len, int& error) override;
  std::optional<TIpAddress> LocalAddress() const;
  const TLinkBytes& Bytes() const { return bytes_; }

  // Each notice runs once per Watch call: the notifier sleeps again before
  // it runs, so that a level-triggered descriptor never spins the queue.
  std::function<void()> OnReadable;
  std::function<void()> OnWritable;
  void WatchRead();
  void WatchWrite();
  void Unwatch();

 private:
  struct Watch;  // the event loop's side: notifiers or window messages

  TSocket fd_;
  TLinkBytes bytes_;
  std::unique_ptr<Watch> watch_;
};
