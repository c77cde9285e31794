// MD5 (RFC 1321): a streaming digest and the file digest with its result texts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace stub {

struct Md5State {
  uint32_t word[4];
};

void MD5Init(Md5State& s);
// Applies the compression function to `blocks` consecutive 64-byte blocks.
void MD5Blocks(Md5State& s, const uint8_t* data, size_t blocks);
// Two lower-case hex digits per byte, in order.
std::u16string HexText(const uint8_t* bytes, size_t size);

// 32 lower-case hex digits of the state bytes in memory order.
std::u16string MD5Hex(const Md5State& s);

// Incremental digest over any sequence of byte ranges.
class Md5 {
 public:
  Md5() { MD5Init(state_); }
  void Update(const void* data, size_t size);
  // Pads, finishes and returns the hex digest; the object is spent afterwards.
  std::u16string Finish();

 private:
  Md5State state_;
  uint8_t buffer_[64];
  size_t buffered_ = 0;
  uint64_t total_ = 0;
};

std::u16string MD5Text(const void* data, size_t size);

}  // namespace stub
