// The system's resolver behind the POSIX layer's look-ups.
#include <arpa/inet.h>

#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>

#include "net/winsock.h"

int TPosixWinsock::SystemResolveHost(const std::string& name, THostEnt& result) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_CANONNAME;
  addrinfo* list = nullptr;
  int rc = ::getaddrinfo(name.c_str(), nullptr, &hints, &list);
  if (rc != 0) return ws::ErrorFromResolver(rc, errno);
  result.h_name = list->ai_canonname ? list->ai_canonname : name;
  for (addrinfo* ai = list; ai; ai = ai->ai_next) {
    if (ai->ai_family != AF_INET) continue;
    std::uint32_t a = reinterpret_cast<const sockaddr_in*>(ai->ai_addr)->sin_addr.s_addr;
    if (std::find(result.h_addr_list.begin(), result.h_addr_list.end(), a) ==
        result.h_addr_list.end())
      result.h_addr_list.push_back(a);
  }
  ::freeaddrinfo(list);
  return result.h_addr_list.empty() ? ws::kNoData : 0;
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
