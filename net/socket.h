// A client TCP socket for line protocols that runs on the GUI thread: every
// operation waits on the Qt event queue until its descriptor is ready, the
// user cancels or the operation's time runs out.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "mail/streams.h"
#include "net/event_loop.h"
#include "net/fd_socket.h"
#include "net/ip_address.h"
#include "net/raslink.h"
#include "net/tls.h"
#include "net/winsock.h"

class TConnectRace;

class TagSocket {
 public:
  using TNotifyEvent = std::function<void(TagSocket& sender)>;
  using TmsErrorEvent = std::function<void(TagSocket& sender, std::string& msg)>;
  using TmsProgressEvent = std::function<void(TagSocket& sender, int perc)>;
  using TLineEvent = std::function<void(TagSocket& sender, const std::string& line)>;

  // A reply line may be this long, line feed included.
  static constexpr int kMaxLine = 4096;
  static constexpr int kBlockSize = 2047;
  static constexpr std::size_t kSendBatch = 16384;
  // Message number: a line break in a server name or an address.
  static constexpr int kLineBreakNotAllowed = 57006;

  TagSocket();
  virtual ~TagSocket();
  TagSocket(const TagSocket&) = delete;
  TagSocket& operator=(const TagSocket&) = delete;

  bool WinsockLoaded() const;
  void SetWinsockLoaded(bool value);
  TRasLink* RAS() const { return ras_; }
  void SetRAS(TRasLink* ras);

  bool Connected() const { return fd_ != nullptr; }
  // Whether the connection runs inside TLS.
  bool Secure() const { return tls_ != nullptr; }
  // The last TLS handshake took up a session of an earlier connection.
  bool TlsResumed() const { return tls_resumed_; }
  // The bytes of the current connection, or of the last one once it is
  // closed; zero from Open on.
  TLinkBytes LinkBytes() const { return fd_ ? fd_->Bytes() : link_bytes_; }
  // The local end's IPv4 address in network order; 0 when unknown or IPv6.
  std::uint32_t LocalAddress() const;
  // The local end's address of either family; nullopt when unknown.
  std::optional<TIpAddress> LocalIpAddress() const;
  // The server's address: the first to dial after Open, the one that
  // answered once connected.
  const TIpAddress& PeerAddress() const { return peer_; }

  virtual void Reset();
  virtual void CheckReply(const std::string& line) = 0;
  virtual void Open();
  virtual void Close();
  virtual void Cancel();

  void ConnectSocket();
  void ReadLine(std::string& line);
  std::string ReadLine() {
    std::string line;
    ReadLine(line);
    return line;
  }
  void WriteLine(const std::string& line);
  // Sends the lines in one write, as a pipelined group; each is logged.
  void WriteLines(const std::vector<std::string>& lines);
  // As WriteLines, logging `shown` in place of each line.
  void WriteSecretLines(const std::vector<std::string>& lines, const std::vector<std::string>& shown);
  // Appends what to send for one block of a stream to `out`; a filter may
  // keep state from block to block.
  using TBlockFilter = std::function<void(const char* in, std::size_t n, std::string& out)>;
  // Sends the stream from its start in blocks, each through `filter` when
  // one is given. The protocol log gets one line in place of the text.
  void WriteStream(TStream& stream, const TBlockFilter& filter = nullptr);
  // Runs the TLS handshake on the established connection and checks the
  // server's certificate; from then on every line and stream is encrypted.
  // A refused certificate raises ECertificateError.
  void StartTls(const TTlsConfig& config);

  // Raises ESocketError with the table's text for `code` after OnError has
  // seen it; code 0 does nothing.
  void RaiseSocketError(std::uint16_t code);

  // The server as dialled: "<host> port <port>".
  std::string PeerName() const;
  // The port dialled, from the setting, the protocol or the service.
  std::uint16_t Port() const { return port_; }
  // After a name look-up: the address dialled (the one that answered).
  const std::string& HostAddress() const { return host_address_; }
  // This machine's name, for the greeting.
  const std::string& LocalHostName() const { return local_host_name_; }
  // The server ended the connection; further reads end at once.
  bool PeerClosed() const { return peer_closed_; }

  std::string LogFileName;
  std::string ServiceName;
  std::vector<std::string> ProtocolLog;

  TmsProgressEvent OnProgress;
  TNotifyEvent OnConnected;
  TLineEvent OnLineSent;
  TLineEvent OnLineReceived;

  // Connection properties (published by the mail protocols).
  std::string Server;
  std::uint16_t DefaultPort = 0;
  int TimeOut = 60;
  TNotifyEvent OnOpen;
  TNotifyEvent OnClosing;
  TNotifyEvent OnClosed;
  TNotifyEvent OnCancel;
  TmsErrorEvent OnError;

 protected:
  // Sends a line whose text must not reach the protocol log: `shown` is
  // logged (and given to OnLineSent) in its place.
  void WriteSecretLine(const std::string& line, const std::string& shown);

  void StartTimer();
  void StopTimer();
  // Bounds the waits that follow, together, to one TimeOut from now (each
  // wait alone is bounded by TimeOut anyway), until EndDeadline.
  void BeginDeadline();
  void EndDeadline() { deadline_ms_ = -1; }
  bool DeadlinePassed() const;
  // The port to use when the server names none, without asking the service;
  // 0 asks it.
  virtual std::uint16_t ImpliedPort() const { return 0; }
  [[noreturn]] void RaiseTimedOut();
  [[noreturn]] void RaiseCanceled();
  [[noreturn]] void RaiseText(const std::string& text);
  // Runs the queue once without waiting.
  static void PumpOnce();
  // Blocks on the queue until `done` holds; each pass handles what arrived.
  void WaitFor(const std::function<bool()>& done);
  // Blocks until at least one event has been handled.
  static void WaitNext();
  // Throws when the text holds a line break or NUL: such text could smuggle
  // commands into a line protocol.
  void CheckLineSafe(const std::string& text);

 private:
  friend class TRasLink;
  static constexpr unsigned kHostLookupDone = 0x0400 + 148;
  static constexpr unsigned kServiceLookupDone = 0x0400 + 149;

  void LookupDone(unsigned msg, std::uint32_t lparam);
  void TimerTick();
  void Log(const std::string& line);
  void OpenSocket();
  // The addresses to dial, from an address in `host` or a look-up.
  void ResolveHost(const std::string& host);
  void LookUpHost(const std::string& host);
  void ResolvePort(const TServerParts& parts);
  // The socket for the first address whose family the system has.
  void OpenFirstSocket();
  // Takes the race's winner as the connection; closes the first socket
  // when another one won.
  void AdoptWinner();
  // recv and send through TLS when it runs, else on the descriptor; a TLS
  // failure is raised with OnError.
  int Recv(char* buf, int len, int& error);
  int Send(const char* buf, int len, int& error);
  // Waits until the descriptor is readable (writable), cancel or time-out.
  void WaitReady(bool write);
  // Moves a whole line out of the read buffer into `line`; raises when
  // the buffer holds kMaxLine bytes and no line feed.
  bool TakeLine(std::string& line);
  // Sends all of `data`; `per_stall` restarts the time-out on progress.
  void SendAll(const char* data, std::size_t len, bool per_stall);

  TRasLink* ras_ = nullptr;
  bool holds_binding_ = false;
  // The protocol log as written so far, line by line.
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> log_file_{nullptr, &std::fclose};
  std::string log_file_name_;
  TWSAData wsa_data_;
  int startup_count_ = 0;
  THostEnt host_ent_;
  TServEnt serv_ent_;
  TAsyncHandle async_handle_ = 0;
  bool host_resolved_ = false;
  bool service_resolved_ = false;
  bool lookup_failed_ = false;
  std::uint16_t lookup_error_ = 0;
  std::vector<TIpAddress> addresses_;  // in dialling order
  TIpAddress peer_;
  std::string host_address_;
  std::string local_host_name_;
  std::uint16_t port_ = 0;
  bool looked_up_ = false;
  std::unique_ptr<TFdSocket> fd_;
  std::unique_ptr<TTlsFilter> tls_;     // stacked on fd_
  bool tls_resumed_ = false;
  TLinkBytes link_bytes_;  // of the connection closed last
  std::unique_ptr<TConnectRace> race_;  // while ConnectSocket runs; before fd_ goes
  std::string read_buf_;                // received, not yet taken as lines
  std::size_t read_pos_ = 0;
  bool read_ready_ = false;
  bool write_ready_ = false;
  bool peer_closed_ = false;
  bool timed_out_ = false;
  bool canceled_ = false;
  int time_left_ = 0;
  std::unique_ptr<TNotifyWindow> notify_window_;
  std::unique_ptr<TLoopTimer> timer_;
  std::int64_t deadline_ms_ = -1;  // on the monotonic clock; -1: none
};

// Connection properties and the connect and disconnect sequence shared by
// the mail protocols.
class TmsMailBase : public TagSocket {
 public:
  virtual void Login() = 0;
  virtual void Logout() = 0;

  // Open and Login unless a socket exists.
  void Connect();
  // Logout and Close when a socket exists; the socket is closed even when
  // Logout fails.
  void Disconnect();
};
