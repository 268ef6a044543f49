// The Windows layer: Winsock itself, look-ups through getaddrinfo on the
// shared worker threads, and IPv6 text.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <cstring>

#include "net/socket_address.h"
#include "net/winsock.h"

namespace {

// Both families: a provider reached over IPv6 only (an IPv6-only or NAT64
// network) has no IPv4 address to give. getaddrinfo's errors are Winsock's.
int ResolveBothFamilies(const std::string& name, THostEnt& result) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_CANONNAME;
  addrinfo* list = nullptr;
  if (const int rc = ::getaddrinfo(name.c_str(), nullptr, &hints, &list); rc != 0) return rc;
  const int found = TakeAddresses(list, name, result);
  ::freeaddrinfo(list);
  return found;
}

}  // namespace

TWin32Winsock::TWin32Winsock()
    : TThreadedWinsock(SystemResolveHost, SystemResolveService, "WinSock 2.2") {}

std::unique_ptr<TWinsockLayer> SystemWinsockLayer() { return std::make_unique<TWin32Winsock>(); }

int TWin32Winsock::WSAStartup(std::uint16_t version, TWSAData* data) {
  if ((version & 0xFF) < 1) return ws::kVerNotSupported;
  WSADATA system{};
  if (const int rc = ::WSAStartup(MAKEWORD(2, 2), &system); rc != 0) return rc;
  const int rc = TThreadedWinsock::WSAStartup(version, data);
  if (rc != 0) ::WSACleanup();
  return rc;
}

int TWin32Winsock::WSACleanup() {
  const int rc = TThreadedWinsock::WSACleanup();
  if (rc == 0) ::WSACleanup();
  return rc;
}

std::uint32_t TWin32Winsock::inet_addr(const char* cp) {
  if (!cp) return ws::kInaddrNone;
  return ::inet_addr(cp);
}

TSocket TWin32Winsock::socket(int af, int type, int protocol) {
  if (!Started()) return NoSocket(ws::kNotInitialised);
  if (af != ws::kAfInet && af != ws::kAfInet6) return NoSocket(ws::kEAfNoSupport);
  if (type != ws::kSockStream) return NoSocket(10044);
  const SOCKET s = ::WSASocketW(af, SOCK_STREAM, protocol, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
  if (s == INVALID_SOCKET) return NoSocket(::WSAGetLastError());
  u_long nonblocking = 1;
  ::ioctlsocket(s, FIONBIO, &nonblocking);
  // Every write of a line protocol is a whole command: Nagle's delay with the
  // peer's delayed acknowledgement would hold back each second line.
  BOOL one = TRUE;
  ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
  return static_cast<TSocket>(s);
}

int TWin32Winsock::gethostname(char* name, int namelen) {
  if (!Started()) return Fail(ws::kNotInitialised);
  if (!name || namelen <= 0) return Fail(ws::kEFault);
  if (::gethostname(name, namelen) != 0) return Fail(::WSAGetLastError());
  name[namelen - 1] = '\0';
  return 0;
}

int TWin32Winsock::SystemResolveHost(const std::string& name, THostEnt& result) {
  // The worker's own start-up: a socket's last clean-up may come while it runs.
  WSADATA system{};
  if (::WSAStartup(MAKEWORD(2, 2), &system) != 0) return ws::kNotInitialised;
  const int rc = ResolveBothFamilies(name, result);
  ::WSACleanup();
  return rc;
}

int TWin32Winsock::SystemResolveService(const std::string& name, const std::string& proto,
                                        TServEnt& result) {
  // The worker's own start-up, as above; getservbyname's result lives in
  // per-thread storage, which this thread alone reads.
  WSADATA system{};
  if (::WSAStartup(MAKEWORD(2, 2), &system) != 0) return ws::kNotInitialised;
  const servent* found = ::getservbyname(name.c_str(), proto.c_str());
  int rc = ws::kNoData;
  if (found) {
    result.s_name = found->s_name;
    result.s_port = static_cast<std::uint16_t>(found->s_port);
    result.s_proto = found->s_proto;
    rc = 0;
  }
  ::WSACleanup();
  return rc;
}

bool ws::ParseIpv6(const std::string& text, TIn6Addr& addr, std::uint32_t& scope_id) {
  // getaddrinfo rather than inet_pton: it reads a zone too. Numeric only,
  // so it needs no start-up of its own beyond the counted one below.
  WSADATA system{};
  if (text.empty() || ::WSAStartup(MAKEWORD(2, 2), &system) != 0) return false;
  addrinfo hints{};
  hints.ai_family = AF_INET6;
  hints.ai_flags = AI_NUMERICHOST;
  addrinfo* list = nullptr;
  const bool ok = ::getaddrinfo(text.c_str(), nullptr, &hints, &list) == 0;
  if (ok) {
    const auto* sa = reinterpret_cast<const sockaddr_in6*>(list->ai_addr);
    std::memcpy(addr.data(), &sa->sin6_addr, 16);
    scope_id = sa->sin6_scope_id;
    ::freeaddrinfo(list);
  }
  ::WSACleanup();
  return ok;
}

std::string ws::Ipv6Text(const TIn6Addr& addr) {
  char text[INET6_ADDRSTRLEN] = {};
  ::inet_ntop(AF_INET6, addr.data(), text, sizeof text);
  return text;
}
