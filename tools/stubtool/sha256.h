// SHA-256 through the platform's crypto library: GnuTLS on Linux, the
// system's CNG (bcrypt.dll) on Windows. The host tool only hashes; it never
// carries a digest of its own making.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace stub {

class Sha256 {
 public:
  Sha256();
  ~Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;

  void Update(const void* data, size_t size);
  // 64 lower-case hex digits, or "" when the library failed at any point.
  // Call once.
  std::string Finish();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace stub
