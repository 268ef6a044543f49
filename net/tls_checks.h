// What both TLS twins judge alike: the pin setting, the fingerprint's text,
// the refusal texts and the key under which a server's sessions are kept.
#pragma once

#include <cstddef>
#include <string>

#include "net/tls.h"

namespace tls {

// Raises ESocketError unless `pin` (hex, colons and spaces allowed) is a
// SHA-256 digest; an empty pin is no pin.
void CheckPinSetting(const std::string& pin);
// A digest as upper-case hex pairs joined by ":".
std::string FingerprintText(const unsigned char* digest, std::size_t size);
// With a pin set, it alone decides: true when the certificate's fingerprint
// `fp` matches, ECertificateError when it does not. False when no pin is set.
bool PinDecides(const std::string& pin, const std::string& fp);
// Raises ECertificateError saying why the certificate was refused.
[[noreturn]] void Refuse(const std::string& why, const std::string& fp);
// One per server and trust setting, so that a session is never offered
// where another trust would have judged the certificate differently.
std::string SessionKey(const TTlsConfig& config);

}  // namespace tls
