#include "server/http/tls_certificate.h"

#include <gnutls/x509.h>

namespace stub::server {
namespace {

constexpr unsigned kMaxChain = 16;  // leaf and intermediates; more is a wrong file

gnutls_datum_t Datum(const std::string& text) {
  return {reinterpret_cast<unsigned char*>(const_cast<char*>(text.data())), static_cast<unsigned>(text.size())};
}

bool Fail(std::string* error, const std::string& what, int code) {
  *error = what + ": GnuTLS: " + gnutls_strerror(code);
  return false;
}

// GnuTLS's own check that the key belongs to the chain's first certificate
// (a credentials object refuses a mismatched pair when the pair is added).
bool KeyFits(const std::string& chain_pem, const std::string& key_pem, std::string* error) {
  gnutls_certificate_credentials_t credentials;
  if (gnutls_certificate_allocate_credentials(&credentials) < 0) return Fail(error, "TLS", GNUTLS_E_MEMORY_ERROR);
  const gnutls_datum_t chain = Datum(chain_pem), key = Datum(key_pem);
  const int rc = gnutls_certificate_set_x509_key_mem(credentials, &chain, &key, GNUTLS_X509_FMT_PEM);
  gnutls_certificate_free_credentials(credentials);
  return rc >= 0 || Fail(error, "TLS certificate and key", rc);
}

}  // namespace

bool CheckTlsPriorities(const std::string& priorities, std::string* error) {
  gnutls_priority_t cache;
  const char* stop = nullptr;
  const int rc = gnutls_priority_init(&cache, priorities.c_str(), &stop);
  if (rc >= 0) {
    gnutls_priority_deinit(cache);
    return true;
  }
  *error = std::string("GnuTLS: ") + gnutls_strerror(rc);
  if (stop) *error += " at '" + std::string(stop) + "'";
  return false;
}

std::shared_ptr<const TlsCertificate> TlsCertificate::Load(const std::string& chain_pem, const std::string& key_pem,
                                                           std::string* error) {
  if (!KeyFits(chain_pem, key_pem, error)) return nullptr;
  std::shared_ptr<TlsCertificate> out(new TlsCertificate);
  out->chain_.resize(kMaxChain);
  unsigned count = kMaxChain;
  const gnutls_datum_t chain = Datum(chain_pem), key = Datum(key_pem);
  int rc = gnutls_pcert_list_import_x509_raw(out->chain_.data(), &count, &chain, GNUTLS_X509_FMT_PEM, 0);
  if (rc < 0) {
    out->chain_.clear();
    return Fail(error, "TLS certificate", rc), nullptr;
  }
  out->chain_.resize(count);
  if ((rc = gnutls_privkey_init(&out->key_)) < 0 ||
      (rc = gnutls_privkey_import_x509_raw(out->key_, &key, GNUTLS_X509_FMT_PEM, nullptr, 0)) < 0)
    return Fail(error, "TLS key", rc), nullptr;
  return out;
}

TlsCertificate::~TlsCertificate() {
  for (gnutls_pcert_st& c : chain_) gnutls_pcert_deinit(&c);
  if (key_) gnutls_privkey_deinit(key_);
}

void TlsCertificate::Attach(gnutls_session_t session, std::shared_ptr<const TlsCertificate>& holder) {
  gnutls_session_set_ptr(session, &holder);
}

int TlsCertificate::Retrieve(gnutls_session_t session, const gnutls_datum_t*, int, const gnutls_pk_algorithm_t*,
                             int, gnutls_pcert_st** pcert, unsigned int* pcert_length, gnutls_privkey_t* privkey) {
  const auto* holder = static_cast<const std::shared_ptr<const TlsCertificate>*>(gnutls_session_get_ptr(session));
  if (!holder || !*holder) return -1;  // no certificate: the handshake fails
  const TlsCertificate& c = **holder;
  *pcert = const_cast<gnutls_pcert_st*>(c.chain_.data());
  *pcert_length = static_cast<unsigned>(c.chain_.size());
  *privkey = c.key_;
  return 0;
}

}  // namespace stub::server
