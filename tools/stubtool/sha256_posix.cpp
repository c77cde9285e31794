// SHA-256 on Linux through GnuTLS (the report server's TLS library).
#include <gnutls/crypto.h>

#include "stubtool/sha256.h"

namespace stub {

struct Sha256::State {
  gnutls_hash_hd_t hash = nullptr;
  bool ok = false;
};

Sha256::Sha256() : state_(new State) {
  state_->ok = gnutls_hash_init(&state_->hash, GNUTLS_DIG_SHA256) >= 0;
}

Sha256::~Sha256() {
  if (state_->hash) gnutls_hash_deinit(state_->hash, nullptr);
}

void Sha256::Update(const void* data, size_t size) {
  if (state_->ok && size > 0) state_->ok = gnutls_hash(state_->hash, data, size) >= 0;
}

std::string Sha256::Finish() {
  if (!state_->ok) return "";
  unsigned char sum[32];
  gnutls_hash_output(state_->hash, sum);
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  for (const unsigned char b : sum) out += {kHex[b >> 4], kHex[b & 15]};
  return out;
}

}  // namespace stub
