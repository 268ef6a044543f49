#include "net/ip_address.h"

#include <algorithm>

std::string DottedAddress(std::uint32_t net_order) {
  const auto* b = reinterpret_cast<const unsigned char*>(&net_order);
  return std::to_string(b[0]) + "." + std::to_string(b[1]) + "." + std::to_string(b[2]) + "." +
         std::to_string(b[3]);
}

TIpAddress TIpAddress::FromV4(std::uint32_t net_order) {
  TIpAddress a;
  a.v4 = net_order;
  return a;
}

TIpAddress TIpAddress::FromV6(const TIn6Addr& addr, std::uint32_t scope_id) {
  TIpAddress a;
  a.v6 = true;
  a.v6_addr = addr;
  a.scope_id = scope_id;
  return a;
}

std::string TIpAddress::Text() const { return v6 ? ws::Ipv6Text(v6_addr) : DottedAddress(v4); }

std::string TIpAddress::Literal() const { return (v6 ? "[IPv6:" : "[") + Text() + "]"; }

bool TIpAddress::IsLoopback() const {
  if (!v6) return reinterpret_cast<const unsigned char*>(&v4)[0] == 127;
  static constexpr TIn6Addr kLoopback{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
  const bool mapped =
      std::all_of(v6_addr.begin(), v6_addr.begin() + 10, [](std::uint8_t b) { return b == 0; }) &&
      v6_addr[10] == 0xFF && v6_addr[11] == 0xFF;
  return v6_addr == kLoopback || (mapped && v6_addr[12] == 127);
}

TServerParts SplitServer(std::string_view server) {
  TServerParts parts;
  std::string_view host = server;
  std::string_view rest;
  const std::size_t close = server.find(']');
  if (server.starts_with('[') && close != std::string_view::npos) {
    host = server.substr(1, close - 1);
    rest = server.substr(close + 1);
    parts.has_port = rest.starts_with(':');
  } else if (std::count(server.begin(), server.end(), ':') == 1) {
    const std::size_t colon = server.find(':');
    host = server.substr(0, colon);
    rest = server.substr(colon);
    parts.has_port = true;
  }
  parts.host = host;
  if (parts.has_port) parts.port = rest.substr(1);
  return parts;
}

std::vector<TIpAddress> DialOrder(const THostEnt& host) {
  std::vector<TIpAddress> order;
  const std::size_t n = std::max(host.h_addr6_list.size(), host.h_addr_list.size());
  for (std::size_t i = 0; i < n; ++i) {
    if (i < host.h_addr6_list.size()) order.push_back(TIpAddress::FromV6(host.h_addr6_list[i]));
    if (i < host.h_addr_list.size()) order.push_back(TIpAddress::FromV4(host.h_addr_list[i]));
  }
  return order;
}
