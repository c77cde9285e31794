#include "codec/codec.h"

#include <cstring>

namespace stub {

float Rnd::Reseed(float negative) {
  uint32_t bits;
  std::memcpy(&bits, &negative, sizeof bits);
  state_ = (bits + (bits >> 24)) & 0xFFFFFF;
  return Next();
}

float Rnd::Next() {
  state_ = (state_ * 0x43FD43FDu + 0xC39EC3u) & 0xFFFFFF;
  return Last();
}

namespace {

struct Block {
  char16_t first, partner;
  uint16_t size;
};

// Each pair of equal-sized blocks swaps onto each other.
constexpr Block kTableA[] = {
    {0x0023, 0x4E00, 92},   {0x3041, 0x4E5C, 83}, {0x30A1, 0x4EAF, 86},
    {0x8000, 0x4F05, 8102}, {0xE815, 0x6EAB, 80}, {0x6EFB, 0x777D, 2178},
};
constexpr Block kTableB[] = {
    {0x0023, 0x7FA3, 92},   {0x3041, 0x4E50, 83}, {0x30A1, 0x8000, 86},
    {0xE815, 0x4E00, 80},   {0x8182, 0x4EA3, 7716}, {0x6CC7, 0x7635, 2414},
};

char16_t Swap(const Block (&table)[6], char16_t c) {
  for (const Block& b : table) {
    if (c >= b.first && c < b.first + b.size) return c - b.first + b.partner;
    if (c >= b.partner && c < b.partner + b.size) return c - b.partner + b.first;
  }
  return c;
}

bool Codable(char16_t c) {
  return (c >= 0x0023 && c <= 0x007E) || (c >= 0x3001 && c <= 0x3003) ||
         (c >= 0x3005 && c <= 0x3017) || (c >= 0x3041 && c <= 0x3093) ||
         (c >= 0x30A1 && c <= 0x30F6) || (c >= 0x4E00 && c <= 0x7FFE) ||
         (c >= 0x8000 && c <= 0x9FA5) || (c >= 0xE815 && c <= 0xE864) ||
         (c >= 0xFF01 && c <= 0xFF5E);
}

// The keyed step is its own inverse: it changes a unit only when both the
// unit and its partner under `r` are codable.
char16_t KeyStep(char16_t c, int r) {
  const char16_t x = c ^ static_cast<char16_t>(r);
  return Codable(c) && Codable(x) ? x : c;
}

// Draws until floor(x * 127) lies in 30..100. The product of a single-
// precision x and 127 is exact in double precision.
int Draw(Rnd& rnd) {
  for (;;) {
    const int r = static_cast<int>(static_cast<double>(rnd.Next()) * 127.0);
    if (r >= 30 && r <= 100) return r;
  }
}

template <bool kDecode>
std::u16string Run(std::u16string_view text, std::u16string_view mode, int32_t key) {
  if (text.empty()) return {};
  const Block(*table)[6];
  if (mode == u"A") table = &kTableA;
  else if (mode == u"B") table = &kTableB;
  else return {};
  if (key == INT32_MIN) return {};
  if (key < 0) key = -key;

  Rnd rnd;
  rnd.Reseed(-static_cast<float>(key));
  std::u16string out(text);
  for (char16_t& c : out) {
    const int r = Draw(rnd);
    c = kDecode ? KeyStep(Swap(*table, c), r) : Swap(*table, KeyStep(c, r));
  }
  return out;
}

}  // namespace

std::u16string CodeText(std::u16string_view text, std::u16string_view mode, int32_t key) {
  return Run<true>(text, mode, key);
}

std::u16string Encode(std::u16string_view text, std::u16string_view mode, int32_t key) {
  return Run<false>(text, mode, key);
}

}  // namespace stub
