// The parts of the TLS filter that do not depend on the TLS library.
#include <algorithm>
#include <cctype>

#include "net/tls.h"
#include "net/tls_checks.h"
#include "platform/errors.h"

namespace tls {
namespace {

std::string NormalizedPin(const std::string& text) {
  std::string hex;
  for (char c : text)
    if (c != ':' && c != ' ') hex += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return hex;
}

}  // namespace

void CheckPinSetting(const std::string& pin) {
  if (pin.empty()) return;
  const std::string hex = NormalizedPin(pin);
  if (hex.size() != 64 || hex.find_first_not_of("0123456789ABCDEF") != std::string::npos)
    throw ESocketError("The certificate fingerprint must be a SHA-256 digest: 64 hex digits");
}

std::string FingerprintText(const unsigned char* digest, std::size_t size) {
  static const char* hex = "0123456789ABCDEF";
  std::string text;
  for (std::size_t i = 0; i < size; ++i) {
    if (i) text += ':';
    text += hex[digest[i] >> 4];
    text += hex[digest[i] & 15];
  }
  return text;
}

bool PinDecides(const std::string& pin, const std::string& fp) {
  if (pin.empty()) return false;
  // A pin alone decides: it is how a user trusts a self-made certificate.
  if (NormalizedPin(pin) == NormalizedPin(fp)) return true;
  throw ECertificateError(
      "The server's certificate does not match the pinned fingerprint; "
      "its SHA-256 fingerprint is " +
      fp);
}

void Refuse(const std::string& why, const std::string& fp) {
  throw ECertificateError("The server's certificate was refused: " + why +
                          "; its SHA-256 fingerprint is " + fp);
}

std::string SessionKey(const TTlsConfig& c) {
  return c.Host + '\n' + std::to_string(c.Port) + '\n' + c.CAFile + '\n' + c.Fingerprint;
}

}  // namespace tls

bool TTlsFilter::Flush(int& error) {
  while (!pending_.empty()) {
    int e = 0;
    int n = lower_.Send(pending_.data(),
                        static_cast<int>(std::min<std::size_t>(pending_.size(), 1 << 20)), e);
    if (n == ws::kSocketError) {
      if (e != ws::kEWouldBlock) error = e;
      return false;
    }
    pending_.erase(0, static_cast<std::size_t>(n));
  }
  return true;
}
