// Our addresses into the system's socket address structures and a
// resolver's answer back into ours: one definition over either system's
// socket headers, which the including file has included first
// (<netinet/in.h> and <netdb.h>, or <winsock2.h> and <ws2tcpip.h>).
#pragma once

#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

#include "net/ip_address.h"
#include "net/winsock.h"

// `to` at `port` (host order) as a socket address; its length.
inline int FillSocketAddress(const TIpAddress& to, std::uint16_t port, sockaddr_storage& sa) {
  sa = {};
  if (to.v6) {
    auto& in6 = reinterpret_cast<sockaddr_in6&>(sa);
    in6.sin6_family = AF_INET6;
    in6.sin6_port = htons(port);
    std::memcpy(&in6.sin6_addr, to.v6_addr.data(), 16);
    in6.sin6_scope_id = to.scope_id;
    return sizeof in6;
  }
  auto& in4 = reinterpret_cast<sockaddr_in&>(sa);
  in4.sin_family = AF_INET;
  in4.sin_port = htons(port);
  in4.sin_addr.s_addr = to.v4;
  return sizeof in4;
}

// A socket's own address as ours; nullopt for a family we do not use.
inline std::optional<TIpAddress> IpAddressOf(const sockaddr_storage& sa) {
  if (sa.ss_family == AF_INET6) {
    const auto& in6 = reinterpret_cast<const sockaddr_in6&>(sa);
    TIn6Addr addr;
    std::memcpy(addr.data(), &in6.sin6_addr, 16);
    return TIpAddress::FromV6(addr, in6.sin6_scope_id);
  }
  if (sa.ss_family == AF_INET)
    return TIpAddress::FromV4(reinterpret_cast<const sockaddr_in&>(sa).sin_addr.s_addr);
  return std::nullopt;
}

// A getaddrinfo answer as the look-up's host entry: each address once, in
// the resolver's order; kNoData when it held none of either family.
inline int TakeAddresses(const addrinfo* list, const std::string& name, THostEnt& result) {
  const auto add_once = [](auto& to, const auto& value) {
    if (std::find(to.begin(), to.end(), value) == to.end()) to.push_back(value);
  };
  result.h_name = list && list->ai_canonname ? list->ai_canonname : name;
  for (const addrinfo* ai = list; ai; ai = ai->ai_next) {
    if (ai->ai_family == AF_INET) {
      add_once(result.h_addr_list,
               std::uint32_t{reinterpret_cast<const sockaddr_in*>(ai->ai_addr)->sin_addr.s_addr});
    } else if (ai->ai_family == AF_INET6) {
      TIn6Addr a;
      std::memcpy(a.data(), &reinterpret_cast<const sockaddr_in6*>(ai->ai_addr)->sin6_addr, 16);
      add_once(result.h_addr6_list, a);
    }
  }
  return result.h_addr_list.empty() && result.h_addr6_list.empty() ? ws::kNoData : 0;
}
