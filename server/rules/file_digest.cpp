#include "server/rules/file_digest.h"

#include <gnutls/crypto.h>

#include <fstream>
#include <vector>

#include "base/text.h"
#include "codec/md5.h"

namespace stub::server {
namespace {

// Both digests in one read of the file: the MD5 with the same code the stub
// uses, the SHA-256 with GnuTLS, which the HTTP library already brings into
// the server.
FileDigests Hash(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  gnutls_hash_hd_t sha256;
  if (gnutls_hash_init(&sha256, GNUTLS_DIG_SHA256) < 0) return {};
  Md5 md5;
  bool hashed = true;
  std::vector<char> buf(64 * 1024);
  while (in) {
    in.read(buf.data(), static_cast<std::streamsize>(buf.size()));
    const size_t got = static_cast<size_t>(in.gcount());
    if (got == 0) continue;
    md5.Update(buf.data(), got);
    hashed = hashed && gnutls_hash(sha256, buf.data(), got) >= 0;
  }
  unsigned char sum[32];
  gnutls_hash_deinit(sha256, sum);
  if (in.bad() || !hashed) return {};
  static const char kHex[] = "0123456789abcdef";
  FileDigests out{Utf16ToUtf8Lossy(md5.Finish()), std::string(64, '0')};
  for (size_t i = 0; i < sizeof sum; ++i) {
    out.sha256[2 * i] = kHex[sum[i] >> 4];
    out.sha256[2 * i + 1] = kHex[sum[i] & 15];
  }
  return out;
}

}  // namespace

FileDigests DigestCache::Digest(const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  // A file being rewritten while it is read changes under the reader: read
  // until the look before and after agree (a few tries at most).
  for (int attempt = 0; attempt < 5; ++attempt) {
    const std::optional<FileStamp> now = StampOf(path);
    if (!now || !now->regular) {
      entries_.erase(path);
      return {};
    }
    Entry& old = entries_[path];
    if (old.stamp == now && !old.digests.empty()) return old.digests;
    const FileDigests digests = Hash(path);
    if (StampOf(path) == now) {
      old = {now, digests};
      return digests;
    }
  }
  entries_.erase(path);
  return {};
}

}  // namespace stub::server
