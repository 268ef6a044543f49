// TLS through Schannel. Schannel validates nothing itself here: Verify
// judges the certificate in our own code (tls_certificate_win.cpp), so that
// the refusal says why and no system setting can switch the check off.
#define SECURITY_WIN32
#define SCHANNEL_USE_BLACKLISTS  // SCH_CREDENTIALS
#include <windows.h>
// After windows.h; subauth.h before schannel.h:
#include <subauth.h>
// Then:
#include <schannel.h>
#include <security.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>
#include <utility>

#include "net/tls.h"
#include "net/tls_certificate.h"
#include "net/tls_checks.h"
#include "platform/errors.h"

namespace {

constexpr int kChunk = 16384;
constexpr ULONG kContextFlags = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT |
                                ISC_REQ_CONFIDENTIALITY | ISC_REQ_EXTENDED_ERROR |
                                ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM |
                                ISC_REQ_USE_SUPPLIED_CREDS | ISC_REQ_MANUAL_CRED_VALIDATION;

// Schannel keeps its session cache per credentials handle: one handle per
// server and trust setting for the run lets a later connection resume.
struct TCredentials {
  CredHandle handle{};
  ~TCredentials() { FreeCredentialsHandle(&handle); }
};

SECURITY_STATUS AcquireCredentials(CredHandle& handle) {
  const DWORD flags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS;
  TLS_PARAMETERS params{};
  params.grbitDisabledProtocols =
      SP_PROT_SSL2_CLIENT | SP_PROT_SSL3_CLIENT | SP_PROT_TLS1_0_CLIENT | SP_PROT_TLS1_1_CLIENT;
  SCH_CREDENTIALS cred{};
  cred.dwVersion = SCH_CREDENTIALS_VERSION;
  cred.dwFlags = flags;
  cred.cTlsParameters = 1;
  cred.pTlsParameters = &params;
  wchar_t* package = const_cast<wchar_t*>(UNISP_NAME_W);
  SECURITY_STATUS status = AcquireCredentialsHandleW(
      nullptr, package, SECPKG_CRED_OUTBOUND, nullptr, &cred, nullptr, nullptr, &handle, nullptr);
  if (status == SEC_E_OK) return status;
  // Systems before Windows 10 1809 know only the older structure.
  SCHANNEL_CRED old{};
  old.dwVersion = SCHANNEL_CRED_VERSION;
  old.dwFlags = flags;
  old.grbitEnabledProtocols = SP_PROT_TLS1_2_CLIENT | SP_PROT_TLS1_3_CLIENT;
  return AcquireCredentialsHandleW(nullptr, package, SECPKG_CRED_OUTBOUND, nullptr, &old, nullptr,
                                   nullptr, &handle, nullptr);
}

class TCredentialCache {
 public:
  static TCredentialCache& Get() {
    static TCredentialCache cache;
    return cache;
  }
  // The handle kept for `key`, made when there is none; null when Schannel
  // gives none.
  std::shared_ptr<TCredentials> Find(const std::string& key, SECURITY_STATUS& status) {
    std::lock_guard lock(m_);
    status = SEC_E_OK;
    auto& kept = handles_[key];
    if (!kept) {
      auto made = std::make_shared<TCredentials>();
      status = AcquireCredentials(made->handle);
      if (status != SEC_E_OK) {
        handles_.erase(key);
        return nullptr;
      }
      kept = made;
    }
    return kept;
  }
  // After a refused certificate: the next connection starts without its
  // session.
  void Forget(const std::string& key, const std::shared_ptr<TCredentials>& which) {
    std::lock_guard lock(m_);
    auto it = handles_.find(key);
    if (it != handles_.end() && it->second == which) handles_.erase(it);
  }

 private:
  std::mutex m_;
  std::map<std::string, std::shared_ptr<TCredentials>> handles_;
};

// A TLS record begins with its content type (20 to 23) and major version
// 3; an alert or a handshake comes first.
bool StartsLikeTls(const std::string& input) {
  const auto type = static_cast<unsigned char>(input[0]);
  if (type != 0x15 && type != 0x16) return false;
  return input.size() < 2 || input[1] == 3;
}

}  // namespace

struct TTlsFilter::Impl {
  std::shared_ptr<TCredentials> cred;
  CtxtHandle ctx{};
  bool has_ctx = false;
  bool done = false;                  // the handshake is complete
  bool need_more = true;              // `input` holds no whole record
  bool closed = false;                // the peer's closing alert came
  bool heard = false;                 // the peer's first bytes were looked at
  SECURITY_STATUS status = SEC_E_OK;  // the last failure, for the error text
  std::wstring target;
  std::string input;  // ciphertext from the peer not yet taken by Schannel
  std::string plain;  // text decrypted and not yet read
  SecPkgContext_StreamSizes sizes{};
  HCERTSTORE ca_store = nullptr;  // the CAFile's certificates

  ~Impl() {
    if (has_ctx) DeleteSecurityContext(&ctx);
    if (ca_store) CertCloseStore(ca_store, 0);
  }
  SECURITY_STATUS Step(bool with_input, std::string& pending);
  void Decrypt();
  void Encrypt(const char* buf, int len, std::string& pending);
  PCCERT_CONTEXT PeerCertificate() const;
};

// One call of InitializeSecurityContext over `input`; its token goes to
// `pending`, and what it did not take stays in `input`.
SECURITY_STATUS TTlsFilter::Impl::Step(bool with_input, std::string& pending) {
  SecBuffer in[2] = {{static_cast<ULONG>(input.size()), SECBUFFER_TOKEN, input.data()},
                     {0, SECBUFFER_EMPTY, nullptr}};
  SecBufferDesc in_desc{SECBUFFER_VERSION, 2, in};
  SecBuffer out[1] = {{0, SECBUFFER_TOKEN, nullptr}};
  SecBufferDesc out_desc{SECBUFFER_VERSION, 1, out};
  ULONG attributes = 0;
  const bool first = !has_ctx;
  status = InitializeSecurityContextW(&cred->handle, first ? nullptr : &ctx, target.data(),
                                      kContextFlags, 0, 0, with_input ? &in_desc : nullptr, 0,
                                      first ? &ctx : nullptr, &out_desc, &attributes, nullptr);
  if (first && (status == SEC_E_OK || status == SEC_I_CONTINUE_NEEDED)) has_ctx = true;
  if (out[0].pvBuffer) {
    pending.append(static_cast<const char*>(out[0].pvBuffer), out[0].cbBuffer);
    FreeContextBuffer(out[0].pvBuffer);
  }
  if (status == SEC_E_INCOMPLETE_MESSAGE) {
    need_more = true;
  } else if (with_input) {
    if (in[1].BufferType == SECBUFFER_EXTRA && in[1].cbBuffer)
      input.erase(0, input.size() - in[1].cbBuffer);
    else
      input.clear();
    need_more = input.empty();
  }
  return status;
}

void TTlsFilter::Impl::Decrypt() {
  SecBuffer b[4] = {{static_cast<ULONG>(input.size()), SECBUFFER_DATA, input.data()},
                    {0, SECBUFFER_EMPTY, nullptr},
                    {0, SECBUFFER_EMPTY, nullptr},
                    {0, SECBUFFER_EMPTY, nullptr}};
  SecBufferDesc desc{SECBUFFER_VERSION, 4, b};
  status = DecryptMessage(&ctx, &desc, 0, nullptr);
  if (status == SEC_E_INCOMPLETE_MESSAGE) {
    need_more = true;
    return;
  }
  if (status == SEC_I_CONTEXT_EXPIRED) {
    closed = true;
    return;
  }
  if (status != SEC_E_OK && status != SEC_I_RENEGOTIATE) return;
  // Decrypted in place: take the text and the rest before `input` changes.
  std::string extra;
  for (const SecBuffer& x : b) {
    if (x.BufferType == SECBUFFER_DATA && x.cbBuffer)
      plain.append(static_cast<const char*>(x.pvBuffer), x.cbBuffer);
    if (x.BufferType == SECBUFFER_EXTRA && x.cbBuffer)
      extra.assign(static_cast<const char*>(x.pvBuffer), x.cbBuffer);
  }
  input = std::move(extra);
  need_more = input.empty();
}

void TTlsFilter::Impl::Encrypt(const char* buf, int len, std::string& pending) {
  for (int at = 0; at < len;) {
    const auto n = std::min<ULONG>(static_cast<ULONG>(len - at), sizes.cbMaximumMessage);
    std::string record(sizes.cbHeader + n + sizes.cbTrailer, '\0');
    std::memcpy(record.data() + sizes.cbHeader, buf + at, n);
    SecBuffer b[4] = {
        {sizes.cbHeader, SECBUFFER_STREAM_HEADER, record.data()},
        {n, SECBUFFER_DATA, record.data() + sizes.cbHeader},
        {sizes.cbTrailer, SECBUFFER_STREAM_TRAILER, record.data() + sizes.cbHeader + n},
        {0, SECBUFFER_EMPTY, nullptr}};
    SecBufferDesc desc{SECBUFFER_VERSION, 4, b};
    status = EncryptMessage(&ctx, 0, &desc, 0);
    if (status != SEC_E_OK) return;
    pending.append(record, 0, b[0].cbBuffer + b[1].cbBuffer + b[2].cbBuffer);
    at += static_cast<int>(n);
  }
}

PCCERT_CONTEXT TTlsFilter::Impl::PeerCertificate() const {
  PCCERT_CONTEXT cert = nullptr;
  if (!has_ctx) return nullptr;
  auto* handle = const_cast<CtxtHandle*>(&ctx);
  if (QueryContextAttributesW(handle, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &cert) != SEC_E_OK)
    return nullptr;
  return cert;
}

TTlsFilter::TTlsFilter(TByteChannel& lower, const TTlsConfig& config)
    : d_(std::make_unique<Impl>()), lower_(lower), config_(config) {
  tls::CheckPinSetting(config_.Fingerprint);
  if (!config_.CAFile.empty()) {
    d_->ca_store = tls::LoadCertificates(config_.CAFile);
    if (!d_->ca_store) throw ESocketError("Cannot read the certificates in " + config_.CAFile);
  }
  d_->target = tls::Wide(config_.Host);
  d_->cred = TCredentialCache::Get().Find(tls::SessionKey(config_), d_->status);
  if (!d_->cred) Fail("Cannot start TLS");
}

TTlsFilter::~TTlsFilter() = default;

void TTlsFilter::Fail(const char* what) const {
  std::string text = what;
  if (d_->status != SEC_E_OK) text += ": " + tls::StatusText(d_->status);
  throw ESocketError(text);
}

bool TTlsFilter::Pull(int& error) {
  char buf[kChunk];
  int e = 0;
  int n = lower_.Recv(buf, sizeof buf, e);
  if (n > 0) {
    d_->input.append(buf, static_cast<std::size_t>(n));
    d_->need_more = false;
    return true;
  }
  if (n == 0)
    eof_ = true;
  else if (e != ws::kEWouldBlock)
    error = e;
  return false;
}

bool TTlsFilter::Handshake(int& error) {
  error = 0;
  if (!d_->has_ctx && d_->Step(false, pending_) != SEC_I_CONTINUE_NEEDED)
    Fail("TLS handshake failed");
  for (;;) {
    Flush(error);
    if (error) return false;
    if (d_->done) return pending_.empty();
    if (d_->need_more && !Pull(error)) {
      if (eof_ && !error) error = ws::kEConnReset;
      return false;
    }
    if (!d_->heard) {
      if (!StartsLikeTls(d_->input)) {
        peer_not_tls_ = true;
        d_->status = SEC_E_ILLEGAL_MESSAGE;
        Fail("TLS handshake failed");
      }
      d_->heard = true;
    }
    const SECURITY_STATUS status = d_->Step(true, pending_);
    if (status == SEC_E_OK) {
      d_->status = QueryContextAttributesW(&d_->ctx, SECPKG_ATTR_STREAM_SIZES, &d_->sizes);
      if (d_->status != SEC_E_OK) Fail("TLS handshake failed");
      d_->done = true;
    } else if (status != SEC_I_CONTINUE_NEEDED && status != SEC_E_INCOMPLETE_MESSAGE) {
      Fail("TLS handshake failed");
    }
  }
}

void TTlsFilter::Shutdown() {
  if (!d_->done) return;
  DWORD type = SCHANNEL_SHUTDOWN;
  SecBuffer b{sizeof type, SECBUFFER_TOKEN, &type};
  SecBufferDesc desc{SECBUFFER_VERSION, 1, &b};
  if (ApplyControlToken(&d_->ctx, &desc) != SEC_E_OK) return;
  d_->Step(false, pending_);  // its token is the closing alert
  int error = 0;
  Flush(error);  // best effort: the connection ends either way
}

int TTlsFilter::Recv(char* buf, int len, int& error) {
  error = 0;
  for (;;) {
    if (!d_->plain.empty()) {
      const auto n = std::min<std::size_t>(d_->plain.size(), static_cast<std::size_t>(len));
      std::memcpy(buf, d_->plain.data(), n);
      d_->plain.erase(0, n);
      return static_cast<int>(n);
    }
    Flush(error);
    if (error) return ws::kSocketError;
    if (d_->closed) return 0;
    if (!d_->need_more) {
      d_->Decrypt();
      // A TLS 1.3 server's tickets and key updates go back through the
      // handshake call.
      if (d_->status == SEC_I_RENEGOTIATE) d_->Step(true, pending_);
      const SECURITY_STATUS s = d_->status;
      if (s != SEC_E_OK && s != SEC_I_CONTEXT_EXPIRED && s != SEC_E_INCOMPLETE_MESSAGE &&
          s != SEC_I_CONTINUE_NEEDED)
        Fail("TLS failed");
      d_->status = SEC_E_OK;
      continue;
    }
    if (!Pull(error)) {
      if (eof_) return 0;
      if (!error) error = ws::kEWouldBlock;
      return ws::kSocketError;
    }
  }
}

int TTlsFilter::Send(const char* buf, int len, int& error) {
  error = 0;
  if (pending_plain_ == 0) {
    if (len <= 0) return 0;
    if (!d_->done) Fail("TLS failed: the handshake is not complete");
    d_->Encrypt(buf, len, pending_);
    if (d_->status != SEC_E_OK) Fail("TLS failed");
    pending_plain_ = len;
  }
  if (!Flush(error)) {
    if (!error) error = ws::kEWouldBlock;
    return ws::kSocketError;
  }
  return std::exchange(pending_plain_, 0);
}

bool TTlsFilter::Resumed() const {
  if (!d_->done) return false;
  SecPkgContext_SessionInfo info{};
  auto* handle = const_cast<CtxtHandle*>(&d_->ctx);
  if (QueryContextAttributesW(handle, SECPKG_ATTR_SESSION_INFO, &info) != SEC_E_OK) return false;
  return (info.dwFlags & SSL_SESSION_RECONNECT) != 0;
}

std::string TTlsFilter::PeerFingerprint() const {
  PCCERT_CONTEXT cert = d_->PeerCertificate();
  if (!cert) return "";
  std::string fp = tls::Fingerprint(cert);
  CertFreeCertificateContext(cert);
  return fp;
}

void TTlsFilter::Verify() {
  try {
    CheckCertificate();
  } catch (const ECertificateError&) {
    TCredentialCache::Get().Forget(tls::SessionKey(config_), d_->cred);
    throw;
  }
  verified_ = true;
}

void TTlsFilter::CheckCertificate() const {
  PCCERT_CONTEXT cert = d_->PeerCertificate();
  if (!cert) throw ECertificateError("The server sent no certificate");
  std::unique_ptr<const CERT_CONTEXT, decltype(&CertFreeCertificateContext)> owned(
      cert, &CertFreeCertificateContext);
  const std::string fp = tls::Fingerprint(cert);
  if (tls::PinDecides(config_.Fingerprint, fp)) return;
  const std::string why = tls::Refusal(cert, d_->ca_store, config_.Host);
  if (!why.empty()) tls::Refuse(why, fp);
}
