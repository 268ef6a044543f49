// TLS as a filter stacked on the connection's channel: the TLS library
// (OpenSSL on Linux, Schannel on Windows) works on memory buffers only, and
// the channel below moves the ciphertext without blocking, so the socket's
// waits, time-out and cancel stay in charge. TLS 1.2 and 1.3 where the
// system has it; the sessions of verified servers are kept in memory for
// this run of the program and offered again to the same server.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "net/fd_socket.h"

struct TTlsConfig {
  std::string Host;         // name or dotted address the certificate must name
  std::string CAFile;       // PEM file with extra trust anchors; may be empty
  std::string Fingerprint;  // SHA-256 pin, hex with or without colons
  std::uint16_t Port = 0;   // with Host, names the server whose session to offer
};

class TTlsFilter : public TByteChannel {
 public:
  // Runs over `lower`, which must outlive it. Raises ESocketError when the
  // configuration cannot be used.
  TTlsFilter(TByteChannel& lower, const TTlsConfig& config);
  ~TTlsFilter() override;
  TTlsFilter(const TTlsFilter&) = delete;
  TTlsFilter& operator=(const TTlsFilter&) = delete;

  // One step of the handshake: true when it is complete.
  // Returns false while it waits for the peer; `error` then holds a Winsock
  // number when the connection failed (0 otherwise). A protocol failure
  // raises ESocketError.
  bool Handshake(int& error);
  // Ciphertext waits for room below: the next step needs the channel
  // writable rather than readable.
  bool WantsWrite() const { return !pending_.empty(); }
  // After a failed handshake: the server answered with something other than
  // TLS (plain text on the TLS port, say).
  bool PeerNotTls() const { return peer_not_tls_; }
  // Raises ECertificateError when the server's certificate is refused;
  // once it is accepted, the server's sessions may be kept.
  void Verify();
  // The handshake resumed a session kept from an earlier connection.
  bool Resumed() const;

  // Plain text in and out. Recv takes ciphertext from below until text is
  // there or below would wait, so kEWouldBlock means nothing is held here.
  // Send reports the bytes only once their ciphertext is on its way, so a
  // caller retries with the same text. A TLS failure raises ESocketError.
  int Recv(char* buf, int len, int& error) override;
  int Send(const char* buf, int len, int& error) override;

  // Sends the closing alert as far as the socket takes it now, so that the
  // server sees an orderly end; its answer is not waited for.
  void Shutdown();

  // SHA-256 of the server's certificate as upper-case hex pairs joined by ":".
  std::string PeerFingerprint() const;

 private:
  struct Impl;  // the TLS library's side
  // Moves ciphertext from below into the TLS library; false when nothing
  // came.
  bool Pull(int& error);
  // Sends pending ciphertext; true when none is left.
  bool Flush(int& error);
  [[noreturn]] void Fail(const char* what) const;
  void CheckCertificate() const;

  std::unique_ptr<Impl> d_;
  TByteChannel& lower_;
  TTlsConfig config_;
  std::string pending_;  // ciphertext not yet sent
  int pending_plain_ = 0;
  bool eof_ = false;
  bool peer_not_tls_ = false;
  bool verified_ = false;
};
