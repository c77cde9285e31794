// The server's TLS certificate as GnuTLS hands it to each handshake, so that a
// new certificate can be put in force while the server runs, and the TLS
// versions and ciphers the server agrees to.
#pragma once

#include <gnutls/abstract.h>
#include <gnutls/gnutls.h>

#include <memory>
#include <string>
#include <vector>

namespace stub::server {

// TLS 1.2 and 1.3 with GnuTLS's usual ciphers: TLS 1.0 and 1.1 (and SSL 3.0)
// are refused.
inline constexpr const char* kDefaultTlsPriorities = "NORMAL:-VERS-ALL:+VERS-TLS1.3:+VERS-TLS1.2";

// False with GnuTLS's reason and where it stopped reading when GnuTLS does
// not take `priorities`.
bool CheckTlsPriorities(const std::string& priorities, std::string* error);

// A certificate chain and its private key, read and matched once.
class TlsCertificate {
 public:
  // PEM texts: the chain (leaf first) and its key. nullptr with GnuTLS's
  // reason when either does not load or the key does not fit the certificate.
  static std::shared_ptr<const TlsCertificate> Load(const std::string& chain_pem, const std::string& key_pem,
                                                    std::string* error);
  ~TlsCertificate();
  TlsCertificate(const TlsCertificate&) = delete;
  TlsCertificate& operator=(const TlsCertificate&) = delete;

  // Gives `session` the certificate its handshake will use. `holder` keeps
  // that certificate alive (even when a newer one is put in force meanwhile)
  // and must outlive the session.
  static void Attach(gnutls_session_t session, std::shared_ptr<const TlsCertificate>& holder);
  // GnuTLS's question for the certificate of a handshake: the attached one.
  static int Retrieve(gnutls_session_t session, const gnutls_datum_t* req_ca_rdn, int nreqs,
                      const gnutls_pk_algorithm_t* pk_algos, int pk_algos_length, gnutls_pcert_st** pcert,
                      unsigned int* pcert_length, gnutls_privkey_t* privkey);

 private:
  TlsCertificate() = default;
  std::vector<gnutls_pcert_st> chain_;
  gnutls_privkey_t key_ = nullptr;
};

}  // namespace stub::server
