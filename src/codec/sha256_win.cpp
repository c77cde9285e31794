#include "codec/sha256_win.h"

#include <wincrypt.h>

#include <cstdlib>
#include <memory>

#include "base/pump.h"
#include "codec/md5.h"

namespace stub {
namespace {

constexpr DWORD kChunk = 64 * 1024;  // as the MD5 reads: divides 1 MiB
constexpr DWORD kDigestBytes = 32;

// One SHA-256 computation; every step after a failed one fails too.
class Sha256 {
 public:
  Sha256() {
    // A verify-only context needs no key container and writes nothing.
    ok_ = CryptAcquireContextW(&provider_, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT) &&
          CryptCreateHash(provider_, CALG_SHA_256, 0, 0, &hash_);
  }
  ~Sha256() {
    if (hash_) CryptDestroyHash(hash_);
    if (provider_) CryptReleaseContext(provider_, 0);
  }
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;

  void Update(const void* data, DWORD size) {
    ok_ = ok_ && CryptHashData(hash_, static_cast<const BYTE*>(data), size, 0);
  }
  std::u16string Finish() {
    BYTE digest[kDigestBytes];
    DWORD size = kDigestBytes;
    if (!ok_ || !CryptGetHashParam(hash_, HP_HASHVAL, digest, &size, 0) || size != kDigestBytes) return {};
    return HexText(digest, size);
  }

 private:
  HCRYPTPROV provider_ = 0;
  HCRYPTHASH hash_ = 0;
  bool ok_ = false;
};

}  // namespace

std::u16string Sha256Text(const void* data, size_t size) {
  Sha256 sha;
  sha.Update(data, static_cast<DWORD>(size));
  return sha.Finish();
}

std::u16string Sha256File(HANDLE file) {
  LARGE_INTEGER start = {};
  std::unique_ptr<BYTE, void (*)(void*)> buf(static_cast<BYTE*>(std::malloc(kChunk)), std::free);
  if (!buf || !SetFilePointerEx(file, start, nullptr, FILE_BEGIN)) return {};
  Sha256 sha;
  for (DWORD got = 0, count = 0;; ++count) {
    if (!ReadFile(file, buf.get(), kChunk, &got, nullptr)) return {};
    if (got == 0) break;
    sha.Update(buf.get(), got);
    if (count % 16 == 15) PumpMessages();
  }
  return sha.Finish();
}

}  // namespace stub
