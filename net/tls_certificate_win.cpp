// The server's certificate judged in our own code: Schannel's automatic
// validation is never asked, and under Wine it would accept anything.
#include <winsock2.h>
#include <ws2tcpip.h>
// After winsock2.h:
#include <bcrypt.h>
#include <wincrypt.h>
#include <windows.h>

#include <cstdio>
#include <memory>
#include <vector>

#include "net/tls_certificate.h"
#include "net/tls_checks.h"

namespace tls {
namespace {

// The SSL policy judges the name only: the chain was judged before it.
constexpr DWORD kIgnoreUnknownCa = 0x100, kIgnoreDate = 0x2000, kIgnoreUsage = 0x200,
                kIgnoreRevocation = 0x80;
constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

std::string Narrow(const wchar_t* text) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 1) return "";
  std::string out(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), size, nullptr, nullptr);
  out.resize(static_cast<std::size_t>(size - 1));
  return out;
}

std::string Lower(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

struct TFreeChain {
  void operator()(PCCERT_CHAIN_CONTEXT chain) const { CertFreeCertificateChain(chain); }
};
using TChain = std::unique_ptr<const CERT_CHAIN_CONTEXT, TFreeChain>;

// The chain from the server's certificate through what it sent and the
// extra anchors, up to what the system's stores know.
TChain BuildChain(PCCERT_CONTEXT cert, HCERTSTORE extra) {
  HCERTSTORE all = CertOpenStore(CERT_STORE_PROV_COLLECTION, 0, 0, 0, nullptr);
  if (!all) return nullptr;
  if (cert->hCertStore) CertAddStoreToCollection(all, cert->hCertStore, 0, 0);
  if (extra) CertAddStoreToCollection(all, extra, 0, 0);
  LPSTR usage[] = {const_cast<LPSTR>(szOID_PKIX_KP_SERVER_AUTH)};
  CERT_CHAIN_PARA para{};
  para.cbSize = sizeof para;
  para.RequestedUsage.dwType = USAGE_MATCH_TYPE_OR;
  para.RequestedUsage.Usage.cUsageIdentifier = 1;
  para.RequestedUsage.Usage.rgpszUsageIdentifier = usage;
  PCCERT_CHAIN_CONTEXT chain = nullptr;
  if (!CertGetCertificateChain(nullptr, cert, nullptr, all, &para, 0, nullptr, &chain))
    chain = nullptr;
  CertCloseStore(all, 0);
  return TChain(chain);
}

bool TopIsIn(const CERT_CHAIN_CONTEXT& chain, HCERTSTORE store) {
  if (!store || chain.cChain == 0 || chain.rgpChain[0]->cElement == 0) return false;
  const CERT_SIMPLE_CHAIN& simple = *chain.rgpChain[0];
  PCCERT_CONTEXT top = simple.rgpElement[simple.cElement - 1]->pCertContext;
  PCCERT_CONTEXT found =
      CertFindCertificateInStore(store, kEncoding, 0, CERT_FIND_EXISTING, top, nullptr);
  if (!found) return false;
  CertFreeCertificateContext(found);
  return true;
}

// The trust status is read here, not left to a policy: Wine's SSL policy
// passes a partial chain.
std::string TrustRefusal(const CERT_CHAIN_CONTEXT& chain, HCERTSTORE extra, PCCERT_CONTEXT cert) {
  // Revocation is not asked for; an anchor of our own is trusted.
  DWORD faults = chain.TrustStatus.dwErrorStatus &
                 ~DWORD{CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION};
  if (TopIsIn(chain, extra)) faults &= ~DWORD{CERT_TRUST_IS_UNTRUSTED_ROOT};
  if (faults == 0) return "";
  if (faults & (CERT_TRUST_IS_UNTRUSTED_ROOT | CERT_TRUST_IS_PARTIAL_CHAIN | CERT_TRUST_IS_CYCLIC))
    return "its issuer is unknown";
  if (faults & CERT_TRUST_IS_NOT_TIME_VALID)
    return CertVerifyTimeValidity(nullptr, cert->pCertInfo) < 0 ? "it is not valid yet"
                                                                : "it has expired";
  if (faults & CERT_TRUST_IS_REVOKED) return "it has been revoked";
  if (faults & CERT_TRUST_IS_NOT_SIGNATURE_VALID) return "its signature is not valid";
  if (faults & CERT_TRUST_IS_NOT_VALID_FOR_USAGE) return "it is not meant for a server";
  char text[64];
  std::snprintf(text, sizeof text, "the system does not trust it (status 0x%08lX)",
                static_cast<unsigned long>(faults));
  return text;
}

// The certificate's alternative names; each entry is handed to `visit`
// until it returns true.
template <class F>
bool AnyAltName(PCCERT_CONTEXT cert, F visit) {
  const CERT_INFO* info = cert->pCertInfo;
  PCERT_EXTENSION ext =
      CertFindExtension(szOID_SUBJECT_ALT_NAME2, info->cExtension, info->rgExtension);
  if (!ext) return false;
  CERT_ALT_NAME_INFO* names = nullptr;
  DWORD size = 0;
  if (!CryptDecodeObjectEx(kEncoding, X509_ALTERNATE_NAME, ext->Value.pbData, ext->Value.cbData,
                           CRYPT_DECODE_ALLOC_FLAG, nullptr, &names, &size))
    return false;
  bool found = false;
  for (DWORD i = 0; i < names->cAltEntry && !found; ++i) found = visit(names->rgAltEntry[i]);
  LocalFree(names);
  return found;
}

// A wildcard stands for one whole leftmost label, under at least two more.
bool NameMatches(const std::string& pattern, const std::string& host) {
  if (pattern == host) return true;
  if (pattern.size() < 4 || pattern.compare(0, 2, "*.") != 0) return false;
  const std::string rest = pattern.substr(1);
  if (rest.find('.', 1) == std::string::npos) return false;
  const auto dot = host.find('.');
  return dot != std::string::npos && dot > 0 && host.compare(dot, std::string::npos, rest) == 0;
}

// Only the alternative names count, never the subject's common name.
bool ListsName(PCCERT_CONTEXT cert, const std::string& host) {
  const std::string name = Lower(host);
  return AnyAltName(cert, [&](const CERT_ALT_NAME_ENTRY& e) {
    return e.dwAltNameChoice == CERT_ALT_NAME_DNS_NAME &&
           NameMatches(Lower(Narrow(e.pwszDNSName)), name);
  });
}

bool PolicyAcceptsName(PCCERT_CHAIN_CONTEXT chain, const std::string& host) {
  std::wstring name = Wide(host);
  SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl{};
  ssl.cbSize = sizeof ssl;
  ssl.dwAuthType = AUTHTYPE_SERVER;
  ssl.fdwChecks = kIgnoreUnknownCa | kIgnoreDate | kIgnoreUsage | kIgnoreRevocation;
  ssl.pwszServerName = name.data();
  CERT_CHAIN_POLICY_PARA para{};
  para.cbSize = sizeof para;
  para.pvExtraPolicyPara = &ssl;
  CERT_CHAIN_POLICY_STATUS status{};
  status.cbSize = sizeof status;
  if (!CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &para, &status)) return false;
  return status.dwError != static_cast<DWORD>(CERT_E_CN_NO_MATCH);
}

// The address's bytes when `host` is a dotted IPv4 or an IPv6 address.
std::vector<BYTE> AddressBytes(const std::string& host) {
  std::vector<BYTE> bytes(16);
  if (inet_pton(AF_INET, host.c_str(), bytes.data()) == 1)
    bytes.resize(4);
  else if (inet_pton(AF_INET6, host.c_str(), bytes.data()) != 1)
    bytes.clear();
  return bytes;
}

// Wine's SSL policy does not match addresses: they are matched here.
bool ListsAddress(PCCERT_CONTEXT cert, const std::vector<BYTE>& address) {
  return AnyAltName(cert, [&](const CERT_ALT_NAME_ENTRY& e) {
    return e.dwAltNameChoice == CERT_ALT_NAME_IP_ADDRESS && e.IPAddress.cbData == address.size() &&
           std::equal(address.begin(), address.end(), e.IPAddress.pbData);
  });
}

}  // namespace

std::wstring Wide(const std::string& text) {
  if (text.empty()) return {};
  const int size =
      MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size);
  return out;
}

std::string StatusText(long status) {
  wchar_t buf[512] = {};
  FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                 static_cast<DWORD>(status), 0, buf, 512, nullptr);
  std::string text = Narrow(buf);
  while (!text.empty() &&
         (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' || text.back() == '.'))
    text.pop_back();
  char number[32];
  std::snprintf(number, sizeof number, "0x%08lX", static_cast<unsigned long>(status));
  return text.empty() ? std::string("error ") + number : text + " (" + number + ")";
}

TCertStore LoadCertificates(const std::string& path) {
  std::unique_ptr<FILE, decltype(&std::fclose)> file(_wfopen(Wide(path).c_str(), L"rb"),
                                                     &std::fclose);
  if (!file) return nullptr;
  std::string pem;
  char buf[4096];
  for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, file.get())) > 0;) pem.append(buf, n);
  HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr);
  if (!store) return nullptr;
  static const std::string begin = "-----BEGIN CERTIFICATE-----";
  static const std::string end = "-----END CERTIFICATE-----";
  int count = 0;
  for (std::size_t at = pem.find(begin); at != std::string::npos; at = pem.find(begin, at)) {
    at += begin.size();
    const std::size_t stop = pem.find(end, at);
    DWORD size = 0;
    const auto length = static_cast<DWORD>(stop == std::string::npos ? 0 : stop - at);
    bool ok = stop != std::string::npos &&
              CryptStringToBinaryA(pem.data() + at, length, CRYPT_STRING_BASE64, nullptr, &size,
                                   nullptr, nullptr);
    std::vector<BYTE> der(size);
    ok = ok &&
         CryptStringToBinaryA(pem.data() + at, length, CRYPT_STRING_BASE64, der.data(), &size,
                              nullptr, nullptr) &&
         CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(), size,
                                          CERT_STORE_ADD_ALWAYS, nullptr);
    if (!ok) {
      count = 0;
      break;
    }
    ++count;
  }
  if (count == 0) {
    CertCloseStore(store, 0);
    return nullptr;
  }
  return store;
}

std::string Fingerprint(TCertificate cert) {
  BCRYPT_ALG_HANDLE alg = nullptr;
  if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&alg, BCRYPT_SHA256_ALGORITHM, nullptr, 0)))
    return "";
  UCHAR digest[32];
  const NTSTATUS status =
      BCryptHash(alg, nullptr, 0, cert->pbCertEncoded, cert->cbCertEncoded, digest, sizeof digest);
  BCryptCloseAlgorithmProvider(alg, 0);
  return BCRYPT_SUCCESS(status) ? FingerprintText(digest, sizeof digest) : "";
}

std::string Refusal(TCertificate cert, TCertStore extra, const std::string& host) {
  const TChain chain = BuildChain(cert, extra);
  if (!chain) return "its chain could not be built";
  std::string why = TrustRefusal(*chain, extra, cert);
  if (!why.empty()) return why;
  const std::vector<BYTE> address = AddressBytes(host);
  const bool named = address.empty() ? PolicyAcceptsName(chain.get(), host) && ListsName(cert, host)
                                     : ListsAddress(cert, address);
  return named ? "" : "it names another server than " + host;
}

}  // namespace tls
