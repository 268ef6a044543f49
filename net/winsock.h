// The socket layer, bound when first needed: what a connection needs once,
// with the meaning of Windows Sockets 1.1 (start-up, the local host name,
// look-ups, making a socket), realised over POSIX or over Winsock itself.
// Look-up completions reach a TNotifyWindow on the GUI thread. The bytes of
// a connection move through net/fd_socket.h, not through the binding.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "net/notify_window.h"

// glibc may define these as macros; the layer declares operations of the
// same names, and the plain functions remain.
#ifdef htons
#undef htons
#endif
#ifdef ntohs
#undef ntohs
#endif

using TSocket = std::uintptr_t;
using TAsyncHandle = std::uintptr_t;
// An IPv6 address, its 16 bytes in network order.
using TIn6Addr = std::array<std::uint8_t, 16>;

namespace ws {
inline constexpr TSocket kInvalidSocket = ~TSocket{0};
inline constexpr int kSocketError = -1;
inline constexpr std::uint32_t kInaddrNone = 0xFFFFFFFFu;
inline constexpr std::uint16_t kAfInet = 2;
inline constexpr std::uint16_t kAfInet6 = 23;
inline constexpr int kSockStream = 1;

// Winsock error numbers the layer produces.
inline constexpr int kEIntr = 10004;
inline constexpr int kEBadF = 10009;
inline constexpr int kEFault = 10014;
inline constexpr int kEInval = 10022;
inline constexpr int kEWouldBlock = 10035;
inline constexpr int kEAlready = 10037;
inline constexpr int kENotSock = 10038;
inline constexpr int kEMsgSize = 10040;
inline constexpr int kEAfNoSupport = 10047;
inline constexpr int kENoBufs = 10055;
inline constexpr int kEConnAborted = 10053;
inline constexpr int kEConnReset = 10054;
inline constexpr int kEShutdown = 10058;
inline constexpr int kEConnRefused = 10061;
inline constexpr int kEHostUnreach = 10065;
inline constexpr int kVerNotSupported = 10092;
inline constexpr int kNotInitialised = 10093;
inline constexpr int kHostNotFound = 11001;
inline constexpr int kTryAgain = 11002;
inline constexpr int kNoRecovery = 11003;
inline constexpr int kNoData = 11004;

// The message parameter of a look-up's completion: its error in the high word.
constexpr std::uint32_t MakeAsyncReply(std::uint16_t error) { return std::uint32_t{error} << 16; }

// POSIX only: maps an errno value onto its Winsock number. Values without
// a Winsock counterpart map to 20000 + errno, which the message table reads
// as "Error #...".
int ErrorFromErrno(int error);
// POSIX only: maps a getaddrinfo result (with the errno of EAI_SYSTEM)
// onto Winsock.
int ErrorFromResolver(int gai_error, int saved_errno);

// IPv6 text and bytes as inet_pton and inet_ntop give them. Pure
// conversions: they need no layer. A zone ("fe80::1%eth0") gives its scope.
bool ParseIpv6(const std::string& text, TIn6Addr& addr, std::uint32_t& scope_id);
std::string Ipv6Text(const TIn6Addr& addr);
}  // namespace ws

struct TWSAData {
  std::uint16_t wVersion = 0;
  std::uint16_t wHighVersion = 0;
  std::string szDescription;
  std::string szSystemStatus;
};

// Result records of the asynchronous look-ups; the layer fills them on the
// GUI thread just before the completion is delivered.
struct THostEnt {
  std::string h_name;
  std::vector<std::uint32_t> h_addr_list;  // IPv4, network order
  std::vector<TIn6Addr> h_addr6_list;      // IPv6, in the resolver's order
};

struct TServEnt {
  std::string s_name;
  std::uint16_t s_port = 0;  // network order
  std::string s_proto;
};

// What a socket layer must offer. Exports tells which of the operations the
// layer has; the binding asks it before every call.
class TWinsockLayer {
 public:
  virtual ~TWinsockLayer() = default;
  virtual bool Exports(std::string_view name) const;

  virtual std::uint32_t inet_addr(const char* cp) = 0;
  // A non-blocking stream socket, its descriptor the handle.
  virtual TSocket socket(int af, int type, int protocol) = 0;
  virtual int gethostname(char* name, int namelen) = 0;
  virtual int WSAStartup(std::uint16_t version, TWSAData* data) = 0;
  virtual int WSACleanup() = 0;
  virtual int WSAGetLastError() = 0;
  virtual TAsyncHandle WSAAsyncGetServByName(TNotifyWindow* wnd, unsigned msg, const char* name,
                                             const char* proto, TServEnt* buf) = 0;
  virtual TAsyncHandle WSAAsyncGetHostByName(TNotifyWindow* wnd, unsigned msg, const char* name,
                                             THostEnt* buf) = 0;
  virtual int WSACancelAsyncRequest(TAsyncHandle handle) = 0;
};

// The names of the operations, in their fixed order.
extern const char* const kWinsockFunctions[9];

// What the system layers share: the start-up count, the last error and the
// look-ups, which run on worker threads through the two resolver hooks (a
// test may replace them to stand in for the system resolver) and complete
// through TNotifyWindow::Post.
class TThreadedWinsock : public TWinsockLayer {
 public:
  // Return 0 and fill the record, or a Winsock error number.
  using THostResolver = std::function<int(const std::string& name, THostEnt& result)>;
  using TServResolver =
      std::function<int(const std::string& name, const std::string& proto, TServEnt& result)>;

  ~TThreadedWinsock() override;

  THostResolver HostResolver;
  TServResolver ServResolver;

  int WSAStartup(std::uint16_t version, TWSAData* data) override;
  int WSACleanup() override;
  int WSAGetLastError() override;
  TAsyncHandle WSAAsyncGetServByName(TNotifyWindow* wnd, unsigned msg, const char* name,
                                     const char* proto, TServEnt* buf) override;
  TAsyncHandle WSAAsyncGetHostByName(TNotifyWindow* wnd, unsigned msg, const char* name,
                                     THostEnt* buf) override;
  int WSACancelAsyncRequest(TAsyncHandle handle) override;

 protected:
  TThreadedWinsock(THostResolver host, TServResolver serv, std::string description);
  bool Started() const;
  // Set the last error and return the call's failure value.
  static int Fail(int error);
  static TSocket NoSocket(int error);

 private:
  struct Impl;
  std::unique_ptr<Impl> d_;
};

// The POSIX layer.
class TPosixWinsock : public TThreadedWinsock {
 public:
  TPosixWinsock();

  static int SystemResolveHost(const std::string& name, THostEnt& result);
  static int SystemResolveService(const std::string& name, const std::string& proto,
                                  TServEnt& result);

  std::uint32_t inet_addr(const char* cp) override;
  TSocket socket(int af, int type, int protocol) override;
  int gethostname(char* name, int namelen) override;
};

// The Windows layer: Windows Sockets 2 itself, started with the first
// WSAStartup and cleaned up with the last.
class TWin32Winsock : public TThreadedWinsock {
 public:
  TWin32Winsock();

  static int SystemResolveHost(const std::string& name, THostEnt& result);
  static int SystemResolveService(const std::string& name, const std::string& proto,
                                  TServEnt& result);

  std::uint32_t inet_addr(const char* cp) override;
  TSocket socket(int af, int type, int protocol) override;
  int gethostname(char* name, int namelen) override;
  int WSAStartup(std::uint16_t version, TWSAData* data) override;
  int WSACleanup() override;
};

// The system's layer: TPosixWinsock or TWin32Winsock.
std::unique_ptr<TWinsockLayer> SystemWinsockLayer();

// The binding: one per process (Winsock()). Load binds a layer made by the
// loader (the system's layer unless a test installs another); every wrapper
// checks the binding and the operation before it calls through.
class TagWinsock {
 public:
  using TLoader = std::function<std::unique_ptr<TWinsockLayer>()>;

  TagWinsock();
  ~TagWinsock();
  TagWinsock(const TagWinsock&) = delete;
  TagWinsock& operator=(const TagWinsock&) = delete;

  bool Loaded() const { return layer_ != nullptr; }
  // Raises EWinsockDLLError "Winsock not found" when the loader gives nothing.
  void Load();
  void Unload();
  // Counted use by the sockets: the first Acquire loads (or raises), the
  // last Release unloads.
  void Acquire();
  void Release();
  // Raises "Winsock is not loaded" or "Function <name> not found".
  void GetProc(std::string_view name) const;

  // Replaces what Load binds; an empty loader restores the system's layer.
  void SetLoader(TLoader loader);

  std::uint32_t inet_addr(const char* cp);
  TSocket socket(int af, int type, int protocol);
  int gethostname(char* name, int namelen);
  int WSAStartup(std::uint16_t version, TWSAData* data);
  int WSACleanup();
  int WSAGetLastError();
  TAsyncHandle WSAAsyncGetServByName(TNotifyWindow* wnd, unsigned msg, const char* name,
                                     const char* proto, TServEnt* buf);
  TAsyncHandle WSAAsyncGetHostByName(TNotifyWindow* wnd, unsigned msg, const char* name,
                                     THostEnt* buf);
  int WSACancelAsyncRequest(TAsyncHandle handle);

  // Decoder of a completion's message parameter.
  static std::uint16_t WSAGetAsyncError(std::uint32_t lparam) { return lparam >> 16; }

 private:
  TWinsockLayer& Call(std::string_view name) const;

  TLoader loader_;
  std::unique_ptr<TWinsockLayer> layer_;
  int users_ = 0;
};

// The process's binding.
TagWinsock& Winsock();
