// Shared by the fuzz targets: the entry point, a check that aborts (so libFuzzer saves the input), bytes as text.
// Each target is a program of its own: it names the product's functions and these unqualified.
#pragma once
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>
#include "base/text.h"

// FUZZ_TARGET(in) { ... } is the target's body; `in` holds the input bytes.
#define FUZZ_TARGET(in)                                                                                      \
  static void FuzzOne(std::string_view in);                                                                  \
  extern "C" int LLVMFuzzerTestOneInput(const uint8_t* d, size_t n) { return FuzzOne({(const char*)d, n}), 0; } \
  static void FuzzOne(std::string_view in)

#define FUZZ_CHECK(cond, what) \
  ((cond) ? void() : (std::fprintf(stderr, "fuzz check failed: %s (%s:%d)\n", what, __FILE__, __LINE__), std::abort()))

namespace stub::fuzz {
inline bool IsUtf8(std::string_view bytes) { std::u16string unused; return Utf8ToUtf16(bytes, unused); }

// Bytes as UTF-16 code units, low byte first, every value reachable; an odd last byte is dropped.
inline std::u16string Units(std::string_view bytes) {
  std::u16string out;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2)
    out.push_back(static_cast<char16_t>(static_cast<uint8_t>(bytes[i]) | static_cast<uint8_t>(bytes[i + 1]) << 8));
  return out;
}

// The input split at '\n' into `count` fields, the last taking the rest: UTF-16 units (as Units) after a 0x01
// byte, else lenient UTF-8, so seeds stay readable.
inline std::vector<std::u16string> Fields(std::string_view in, size_t count) {
  std::vector<std::u16string> out;
  for (size_t nl; out.size() < count; in.remove_prefix(nl + 1)) {
    nl = out.size() + 1 < count ? in.find('\n') : std::string_view::npos;
    const std::string_view line = in.substr(0, nl);
    out.push_back(!line.empty() && line[0] == '\x01' ? Units(line.substr(1)) : Utf8ToUtf16Lossy(line));
    if (nl == std::string_view::npos) break;
  }
  out.resize(count);
  return out;
}
}  // namespace stub::fuzz

using namespace stub;
using namespace stub::fuzz;
