// SHA-256 through the platform's CryptoAPI (its AES provider, present from
// Windows XP SP3 on), so the program carries no digest code of its own.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>

namespace stub {

// 64 lower-case hex digits of the SHA-256 of `size` bytes at `data`; "" when
// the platform cannot compute it.
std::u16string Sha256Text(const void* data, size_t size);

// The same of everything in `file`, read from its start; window messages are
// let through every 1 MiB. "" when the file cannot be read or hashed.
std::u16string Sha256File(HANDLE file);

}  // namespace stub
