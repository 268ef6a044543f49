// Schannel's side of the certificate check, for the Windows TLS twin: the
// chain and the names are judged here in our own code, never by Schannel's
// automatic validation. Windows types are only named, not included.
#pragma once

#include <string>

struct _CERT_CONTEXT;

namespace tls {

using TCertificate = const _CERT_CONTEXT*;
using TCertStore = void*;  // an HCERTSTORE

// UTF-8 to UTF-16 for the system's calls.
std::wstring Wide(const std::string& text);
// A security status as the system words it, with its number.
std::string StatusText(long status);
// A memory store with the certificates of a PEM file; null when the file
// cannot be read or holds none.
TCertStore LoadCertificates(const std::string& path);
// The SHA-256 fingerprint as tls::FingerprintText gives it.
std::string Fingerprint(TCertificate cert);
// Why `cert` must be refused for `host`, in the words of the refusal, or ""
// when it is accepted. Trust comes from the system's store and from `extra`
// (may be null): a chain whose top is one of `extra`'s certificates is
// trusted.
std::string Refusal(TCertificate cert, TCertStore extra, const std::string& host);

}  // namespace tls
