// Temporary: a Windows build without TLS until the Schannel filter lands.
// Every TLS connection fails at its start with a plain message; plain
// connections are unaffected.
#include "net/tls.h"
#include "platform/errors.h"

struct TTlsFilter::Impl {};

TTlsFilter::TTlsFilter(TByteChannel& lower, const TTlsConfig& config)
    : lower_(lower), config_(config) {
  throw ESocketError("TLS is not available in this build");
}

TTlsFilter::~TTlsFilter() = default;

bool TTlsFilter::Handshake(int& error) {
  error = 0;
  return false;
}

void TTlsFilter::Verify() {}

bool TTlsFilter::Resumed() const { return false; }

int TTlsFilter::Recv(char*, int, int& error) {
  error = ws::kENotSock;
  return ws::kSocketError;
}

int TTlsFilter::Send(const char*, int, int& error) {
  error = ws::kENotSock;
  return ws::kSocketError;
}

void TTlsFilter::Shutdown() {}

std::string TTlsFilter::PeerFingerprint() const { return ""; }
