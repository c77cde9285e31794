// The text codec: a per-unit swap through a fixed table of code-point blocks
// followed by a keyed exclusive-or. CodeText decodes; Encode makes the coded
// form that CodeText turns back into the plain text.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace stub {

// The classic 24-bit linear congruential generator whose reseed rule both the
// program and its server use, so that coded replies decode on both sides.
class Rnd {
 public:
  // Reseeds from a negative number (its single-precision bit pattern) and
  // returns the first value, which callers normally discard.
  float Reseed(float negative);
  // Advances and returns the next value in [0, 1).
  float Next();
  // Returns the last value again without advancing.
  float Last() const { return static_cast<float>(state_) / 16777216.0f; }

 private:
  uint32_t state_ = 0x50000;
};

constexpr int32_t kCodecKey = 4713;

// Decodes `text` under mode u"A" or u"B" with `key`. Any other mode, and the
// one key without a 32-bit absolute value (INT32_MIN), give an empty text.
std::u16string CodeText(std::u16string_view text, std::u16string_view mode, int32_t key);

// Inverse of CodeText: CodeText(Encode(x, m, k), m, k) == x for every x.
std::u16string Encode(std::u16string_view text, std::u16string_view mode, int32_t key);

}  // namespace stub
