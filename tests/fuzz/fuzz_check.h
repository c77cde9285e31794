// Shared by the fuzz targets: a check that stops the run with a message (so
// libFuzzer saves the input), and the ways the targets turn bytes into text.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "app/text.h"

namespace stub::fuzz {

// A violated property is a finding like a crash: print it and abort.
#define FUZZ_CHECK(cond, what)                                                       \
  do {                                                                               \
    if (!(cond)) {                                                                   \
      std::fprintf(stderr, "fuzz check failed: %s (%s:%d)\n", what, __FILE__, __LINE__); \
      std::abort();                                                                  \
    }                                                                                \
  } while (0)

inline std::string_view Bytes(const uint8_t* data, size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

// Bytes as UTF-16 code units, low byte first; an odd last byte is dropped.
// Every unit value is reachable, lone surrogates included.
inline std::u16string Units(std::string_view bytes) {
  std::u16string out;
  out.reserve(bytes.size() / 2);
  for (size_t i = 0; i + 1 < bytes.size(); i += 2)
    out.push_back(static_cast<char16_t>(static_cast<uint8_t>(bytes[i]) |
                                        static_cast<uint8_t>(bytes[i + 1]) << 8));
  return out;
}

// One text field of a line-based input: a line that starts with the byte 0x01
// holds UTF-16 units (as Units); any other line is UTF-8, read leniently. So
// seeds stay readable and every unit value can still be reached.
inline std::u16string FieldText(std::string_view line) {
  if (!line.empty() && line[0] == '\x01') return Units(line.substr(1));
  return Utf8ToUtf16Lossy(line);
}

// The input split at '\n'; at most `count` pieces, the last takes the rest.
inline std::vector<std::string_view> Lines(std::string_view in, size_t count) {
  std::vector<std::string_view> out;
  while (out.size() + 1 < count) {
    const size_t nl = in.find('\n');
    if (nl == std::string_view::npos) break;
    out.push_back(in.substr(0, nl));
    in.remove_prefix(nl + 1);
  }
  out.push_back(in);
  out.resize(count);
  return out;
}

}  // namespace stub::fuzz
