// The system's resolver behind the POSIX layer's look-ups, and IPv6 text.
#include <arpa/inet.h>

#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "net/socket_address.h"
#include "net/winsock.h"

// Both families: a provider reached over IPv6 only (an IPv6-only or NAT64
// network) has no IPv4 address to give.
int TPosixWinsock::SystemResolveHost(const std::string& name, THostEnt& result) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_CANONNAME;
  addrinfo* list = nullptr;
  int rc = ::getaddrinfo(name.c_str(), nullptr, &hints, &list);
  if (rc != 0) return ws::ErrorFromResolver(rc, errno);
  const int found = TakeAddresses(list, name, result);
  ::freeaddrinfo(list);
  return found;
}

int TPosixWinsock::SystemResolveService(const std::string& name, const std::string& proto,
                                        TServEnt& result) {
  servent entry{};
  servent* found = nullptr;
  char buf[1024];
  if (::getservbyname_r(name.c_str(), proto.c_str(), &entry, buf, sizeof buf, &found) != 0 ||
      !found)
    return ws::kNoData;
  result.s_name = found->s_name;
  result.s_port = static_cast<std::uint16_t>(found->s_port);
  result.s_proto = found->s_proto;
  return 0;
}

bool ws::ParseIpv6(const std::string& text, TIn6Addr& addr, std::uint32_t& scope_id) {
  // getaddrinfo rather than inet_pton: it reads a zone too.
  addrinfo hints{};
  hints.ai_family = AF_INET6;
  hints.ai_flags = AI_NUMERICHOST;
  addrinfo* list = nullptr;
  if (text.empty() || ::getaddrinfo(text.c_str(), nullptr, &hints, &list) != 0) return false;
  const auto* sa = reinterpret_cast<const sockaddr_in6*>(list->ai_addr);
  std::memcpy(addr.data(), &sa->sin6_addr, 16);
  scope_id = sa->sin6_scope_id;
  ::freeaddrinfo(list);
  return true;
}

std::string ws::Ipv6Text(const TIn6Addr& addr) {
  char text[INET6_ADDRSTRLEN] = {};
  ::inet_ntop(AF_INET6, addr.data(), text, sizeof text);
  return text;
}
