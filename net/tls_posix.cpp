// TLS through OpenSSL.
#include <arpa/inet.h>

#include <map>
#include <memory>
#include <mutex>
#include <utility>

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include "net/tls.h"
#include "net/tls_checks.h"
#include "platform/errors.h"

namespace {

constexpr int kChunk = 16384;

std::string Refusal(long result, const std::string& host) {
  switch (result) {
    case X509_V_ERR_CERT_HAS_EXPIRED:
      return "it has expired";
    case X509_V_ERR_CERT_NOT_YET_VALID:
      return "it is not valid yet";
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
      return "it names another server than " + host;
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
      return "its issuer is unknown";
    default:
      return X509_verify_cert_error_string(result);
  }
}

// What OpenSSL says when the first bytes back are no TLS record at all.
bool NotTlsReason(int reason) {
  return reason == SSL_R_WRONG_VERSION_NUMBER || reason == SSL_R_UNKNOWN_PROTOCOL ||
         reason == SSL_R_HTTP_REQUEST || reason == SSL_R_HTTPS_PROXY_REQUEST ||
         reason == SSL_R_PACKET_LENGTH_TOO_LONG;
}

bool IsAddress(const std::string& host) {
  unsigned char buf[16];
  return ::inet_pton(AF_INET, host.c_str(), buf) == 1 ||
         ::inet_pton(AF_INET6, host.c_str(), buf) == 1;
}

// Sessions of this run, never written anywhere, under tls::SessionKey.
class TSessionCache {
 public:
  static TSessionCache& Get() {
    static TSessionCache cache;
    return cache;
  }
  // Takes ownership of `session`.
  void Put(const std::string& key, SSL_SESSION* session) {
    std::lock_guard lock(m_);
    sessions_[key].reset(session);
  }
  // The kept session, taken out: a TLS 1.3 ticket is for one use.
  SSL_SESSION* Take(const std::string& key) {
    std::lock_guard lock(m_);
    auto it = sessions_.find(key);
    if (it == sessions_.end()) return nullptr;
    SSL_SESSION* session = it->second.release();
    sessions_.erase(it);
    return session;
  }

 private:
  struct Free {
    void operator()(SSL_SESSION* s) const { SSL_SESSION_free(s); }
  };
  std::mutex m_;
  std::map<std::string, std::unique_ptr<SSL_SESSION, Free>> sessions_;
};

}  // namespace

struct TTlsFilter::Impl {
  SSL_CTX* ctx = nullptr;
  SSL* ssl = nullptr;
  BIO* in = nullptr;             // ciphertext from the peer; owned by ssl
  BIO* out = nullptr;            // ciphertext for the peer; owned by ssl
  SSL_SESSION* early = nullptr;  // came before Verify; kept once it passes
  ~Impl() {
    SSL_SESSION_free(early);
    SSL_free(ssl);
    SSL_CTX_free(ctx);
  }
  void Drain(std::string& pending);  // moves OpenSSL's output to `pending`
  static int NewSession(SSL* ssl, SSL_SESSION* session);
};

TTlsFilter::TTlsFilter(TByteChannel& lower, const TTlsConfig& config)
    : d_(std::make_unique<Impl>()), lower_(lower), config_(config) {
  tls::CheckPinSetting(config_.Fingerprint);
  d_->ctx = SSL_CTX_new(TLS_client_method());
  if (!d_->ctx) Fail("Cannot start TLS");
  SSL_CTX_set_min_proto_version(d_->ctx, TLS1_2_VERSION);
  SSL_CTX_set_max_proto_version(d_->ctx, 0);  // the newest this OpenSSL has
  SSL_CTX_set_session_cache_mode(d_->ctx, SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
  SSL_CTX_sess_set_new_cb(d_->ctx, &Impl::NewSession);
  SSL_CTX_set_default_verify_paths(d_->ctx);
  if (!config_.CAFile.empty() &&
      SSL_CTX_load_verify_locations(d_->ctx, config_.CAFile.c_str(), nullptr) != 1) {
    ERR_clear_error();
    throw ESocketError("Cannot read the certificates in " + config_.CAFile);
  }
  // The chain is still checked; Verify decides once the handshake is done,
  // so that the refusal can say why and name the certificate.
  SSL_CTX_set_verify(d_->ctx, SSL_VERIFY_NONE, nullptr);
  d_->ssl = SSL_new(d_->ctx);
  d_->in = BIO_new(BIO_s_mem());
  d_->out = BIO_new(BIO_s_mem());
  if (!d_->ssl || !d_->in || !d_->out) {
    BIO_free(d_->in);
    BIO_free(d_->out);
    Fail("Cannot start TLS");
  }
  SSL_set_bio(d_->ssl, d_->in, d_->out);
  SSL_set_connect_state(d_->ssl);
  SSL_set_app_data(d_->ssl, this);
  // A server that refuses the session just runs a full handshake.
  if (SSL_SESSION* kept = TSessionCache::Get().Take(tls::SessionKey(config_))) {
    SSL_set_session(d_->ssl, kept);
    SSL_SESSION_free(kept);
  }
  if (IsAddress(config_.Host)) {
    X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(d_->ssl), config_.Host.c_str());
  } else {
    SSL_set_tlsext_host_name(d_->ssl, config_.Host.c_str());
    // Only the names the certificate lists for the purpose count, and a
    // wildcard stands for a whole label: "m*.example.net" names no server.
    SSL_set_hostflags(d_->ssl,
                      X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS | X509_CHECK_FLAG_NEVER_CHECK_SUBJECT);
    SSL_set1_host(d_->ssl, config_.Host.c_str());
  }
}

TTlsFilter::~TTlsFilter() = default;

void TTlsFilter::Fail(const char* what) const {
  std::string text = what;
  if (unsigned long e = ERR_get_error()) {
    char buf[256];
    ERR_error_string_n(e, buf, sizeof buf);
    const char* reason = ERR_reason_error_string(e);
    text += ": ";
    text += reason ? reason : buf;
  }
  ERR_clear_error();
  throw ESocketError(text);
}

void TTlsFilter::Impl::Drain(std::string& pending) {
  char buf[kChunk];
  int n;
  while ((n = BIO_read(out, buf, sizeof buf)) > 0) pending.append(buf, static_cast<std::size_t>(n));
}

void TTlsFilter::Shutdown() {
  if (!SSL_is_init_finished(d_->ssl)) return;
  SSL_shutdown(d_->ssl);
  d_->Drain(pending_);
  int error = 0;
  Flush(error);  // best effort: the connection ends either way
}

bool TTlsFilter::Pull(int& error) {
  char buf[kChunk];
  int e = 0;
  int n = lower_.Recv(buf, sizeof buf, e);
  if (n > 0) {
    BIO_write(d_->in, buf, n);
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
  for (;;) {
    int r = SSL_do_handshake(d_->ssl);
    d_->Drain(pending_);
    Flush(error);
    if (error) return false;
    if (r == 1) return pending_.empty();
    if (SSL_get_error(d_->ssl, r) != SSL_ERROR_WANT_READ) {
      peer_not_tls_ = NotTlsReason(ERR_GET_REASON(ERR_peek_error()));
      Fail("TLS handshake failed");
    }
    if (!Pull(error)) {
      if (eof_ && !error) error = ws::kEConnReset;
      return false;
    }
  }
}

std::string TTlsFilter::PeerFingerprint() const {
  X509* cert = SSL_get0_peer_certificate(d_->ssl);
  if (!cert) return "";
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  X509_digest(cert, EVP_sha256(), md, &len);
  return tls::FingerprintText(md, len);
}

int TTlsFilter::Impl::NewSession(SSL* ssl, SSL_SESSION* session) {
  auto* self = static_cast<TTlsFilter*>(SSL_get_app_data(ssl));
  if (!self || !SSL_SESSION_is_resumable(session)) return 0;
  if (self->verified_) {
    TSessionCache::Get().Put(tls::SessionKey(self->config_), session);
  } else {
    SSL_SESSION_free(std::exchange(self->d_->early, session));
  }
  return 1;  // the reference is ours now
}

bool TTlsFilter::Resumed() const { return SSL_session_reused(d_->ssl) == 1; }

void TTlsFilter::Verify() {
  CheckCertificate();
  verified_ = true;
  if (d_->early)
    TSessionCache::Get().Put(tls::SessionKey(config_), std::exchange(d_->early, nullptr));
}

void TTlsFilter::CheckCertificate() const {
  const std::string fp = PeerFingerprint();
  if (fp.empty()) throw ECertificateError("The server sent no certificate");
  if (tls::PinDecides(config_.Fingerprint, fp)) return;
  const long result = SSL_get_verify_result(d_->ssl);
  if (result == X509_V_OK) return;
  tls::Refuse(Refusal(result, config_.Host), fp);
}

int TTlsFilter::Recv(char* buf, int len, int& error) {
  error = 0;
  for (;;) {
    const int r = SSL_read(d_->ssl, buf, len);
    if (r > 0) return r;
    const int e = SSL_get_error(d_->ssl, r);
    d_->Drain(pending_);
    Flush(error);
    if (error) return ws::kSocketError;
    if (e == SSL_ERROR_ZERO_RETURN) return 0;
    if (e != SSL_ERROR_WANT_READ) Fail("TLS failed");
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
    int r = SSL_write(d_->ssl, buf, len);
    if (r <= 0) Fail("TLS failed");
    d_->Drain(pending_);
    pending_plain_ = r;
  }
  if (!Flush(error)) {
    if (!error) error = ws::kEWouldBlock;
    return ws::kSocketError;
  }
  return std::exchange(pending_plain_, 0);
}
