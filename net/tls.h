// TLS as a filter between the socket and the dialogue: OpenSSL works on
// memory buffers only, and the socket moves the ciphertext with its own
// non-blocking calls, so its waits, time-out and cancel stay in charge.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "net/winsock.h"

struct TTlsConfig {
  std::string Host;         // name or dotted address the certificate must name
  std::string CAFile;       // PEM file with extra trust anchors; may be empty
  std::string Fingerprint;  // SHA-256 pin, hex with or without colons
};

class TTlsFilter {
 public:
  // Raises ESocketError when the configuration cannot be used.
  explicit TTlsFilter(const TTlsConfig& config);
  ~TTlsFilter();
  TTlsFilter(const TTlsFilter&) = delete;
  TTlsFilter& operator=(const TTlsFilter&) = delete;

  // One step of the handshake over socket `s`: true when it is complete.
  // Returns false while it waits for the peer; `error` then holds a Winsock
  // number when the connection failed (0 otherwise). A protocol failure
  // raises ESocketError.
  bool Handshake(TSocket s, int& error);
  // After a failed handshake: the server answered with something other than
  // TLS (plain text on the TLS port, say).
  bool PeerNotTls() const { return peer_not_tls_; }
  // Raises ECertificateError when the server's certificate is refused.
  void Verify() const;

  // Plain text in and out, with the meaning of recv and send on a
  // non-blocking socket: -1 with `error` set (kEWouldBlock included), 0 for
  // the end of the connection. Send reports the bytes only once their
  // ciphertext is on its way, so a caller retries with the same text.
  int Recv(TSocket s, char* buf, int len, bool peek, int& error);
  int Send(TSocket s, const char* buf, int len, int& error);
  // Whether received text waits here, decrypted or not, so that no socket
  // event will announce it.
  bool Buffered() const;

  // Sends the closing alert as far as the socket takes it now, so that the
  // server sees an orderly end; its answer is not waited for.
  void Shutdown(TSocket s);

  // SHA-256 of the server's certificate as upper-case hex pairs joined by ":".
  std::string PeerFingerprint() const;

 private:
  struct Impl;
  // Moves ciphertext from the socket into OpenSSL; false when nothing came.
  bool Pull(TSocket s, int& error);
  // Sends pending ciphertext; true when none is left.
  bool Flush(TSocket s, int& error);
  void Drain();  // moves OpenSSL's output to pending_
  [[noreturn]] void Fail(const char* what) const;

  std::unique_ptr<Impl> d_;
  TTlsConfig config_;
  std::string pending_;  // ciphertext not yet sent
  std::string plain_;    // decrypted, not yet read
  int pending_plain_ = 0;
  bool eof_ = false;
  bool peer_not_tls_ = false;
};
