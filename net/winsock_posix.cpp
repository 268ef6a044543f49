// The POSIX layer: socket creation and the local host name over POSIX.
#include <arpa/inet.h>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "net/winsock.h"

TPosixWinsock::TPosixWinsock()
    : TThreadedWinsock(SystemResolveHost, SystemResolveService, "POSIX sockets") {}

std::unique_ptr<TWinsockLayer> SystemWinsockLayer() { return std::make_unique<TPosixWinsock>(); }

std::uint32_t TPosixWinsock::inet_addr(const char* cp) {
  if (!cp) return ws::kInaddrNone;
  return ::inet_addr(cp);
}

TSocket TPosixWinsock::socket(int af, int type, int protocol) {
  if (!Started()) return NoSocket(ws::kNotInitialised);
  if (af != ws::kAfInet && af != ws::kAfInet6) return NoSocket(ws::kEAfNoSupport);
  if (type != ws::kSockStream) return NoSocket(10044);
  int fd = ::socket(af == ws::kAfInet6 ? AF_INET6 : AF_INET,
                    SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, protocol);
  if (fd < 0) return NoSocket(ws::ErrorFromErrno(errno));
  // Every write of a line protocol is a whole command: Nagle's delay with the
  // peer's delayed acknowledgement would hold back each second line by 40 ms.
  int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  return static_cast<TSocket>(fd);
}

int TPosixWinsock::gethostname(char* name, int namelen) {
  if (!Started()) return Fail(ws::kNotInitialised);
  if (!name || namelen <= 0) return Fail(ws::kEFault);
  if (::gethostname(name, static_cast<std::size_t>(namelen)) != 0)
    return Fail(ws::ErrorFromErrno(errno));
  name[namelen - 1] = '\0';
  return 0;
}
