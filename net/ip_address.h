// Addresses of either family as the socket dials them, and the host and
// port of a server setting.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "net/winsock.h"

// An IPv4 address in network order as dotted decimal text.
std::string DottedAddress(std::uint32_t net_order);

struct TIpAddress {
  bool v6 = false;
  std::uint32_t v4 = 0;  // network order; 0 for an IPv6 address
  TIn6Addr v6_addr{};
  std::uint32_t scope_id = 0;

  static TIpAddress FromV4(std::uint32_t net_order);
  static TIpAddress FromV6(const TIn6Addr& addr, std::uint32_t scope_id = 0);
  std::uint16_t Family() const { return v6 ? ws::kAfInet6 : ws::kAfInet; }
  // "192.0.2.7" or "2001:db8::7".
  std::string Text() const;
  // The address literal of RFC 5321: "[192.0.2.7]" or "[IPv6:2001:db8::7]".
  std::string Literal() const;
  // 127.0.0.0/8, ::1, or an IPv4 loopback address mapped into IPv6.
  bool IsLoopback() const;
  bool operator==(const TIpAddress&) const = default;
};

// The parts of a server setting: "host", "host:port", "[2001:db8::7]" or
// "[2001:db8::7]:port". A bare text with more than one ":" is an IPv6
// address without a port.
struct TServerParts {
  std::string host;
  std::string port;  // the text after the host's ":", "" when none
  bool has_port = false;
};
TServerParts SplitServer(std::string_view server);

// A look-up's addresses in the order to dial them (RFC 8305): IPv6 first,
// then the families in turn, each family in the resolver's order.
std::vector<TIpAddress> DialOrder(const THostEnt& host);
