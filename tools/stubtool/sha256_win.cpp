// SHA-256 on Windows through the system's CNG provider (bcrypt.dll, part of
// every supported Windows).
#include <windows.h>
#include <bcrypt.h>

#include "stubtool/sha256.h"

namespace stub {

struct Sha256::State {
  BCRYPT_ALG_HANDLE alg = nullptr;
  BCRYPT_HASH_HANDLE hash = nullptr;
  bool ok = false;
};

Sha256::Sha256() : state_(new State) {
  State& s = *state_;
  // No hash object buffer: the provider allocates its own.
  s.ok = BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&s.alg, BCRYPT_SHA256_ALGORITHM, nullptr, 0)) &&
         BCRYPT_SUCCESS(BCryptCreateHash(s.alg, &s.hash, nullptr, 0, nullptr, 0, 0));
}

Sha256::~Sha256() {
  if (state_->hash) BCryptDestroyHash(state_->hash);
  if (state_->alg) BCryptCloseAlgorithmProvider(state_->alg, 0);
}

void Sha256::Update(const void* data, size_t size) {
  // The length of one call is 32 bits wide.
  const auto* bytes = static_cast<const unsigned char*>(data);
  while (state_->ok && size > 0) {
    const ULONG part = size > 0x40000000 ? 0x40000000 : static_cast<ULONG>(size);
    state_->ok = BCRYPT_SUCCESS(BCryptHashData(state_->hash, const_cast<PUCHAR>(bytes), part, 0));
    bytes += part;
    size -= part;
  }
}

std::string Sha256::Finish() {
  unsigned char sum[32];
  if (!state_->ok || !BCRYPT_SUCCESS(BCryptFinishHash(state_->hash, sum, sizeof sum, 0))) return "";
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  for (const unsigned char b : sum) out += {kHex[b >> 4], kHex[b & 15]};
  return out;
}

}  // namespace stub
