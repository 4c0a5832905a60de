// A tiny most-significant-bit-first writer for hand-made compressed streams.
#pragma once
#include <cstdint>
#include <vector>

class BitWriter {
 public:
  BitWriter &put(uint32_t value, unsigned bits) {
    for (unsigned i = bits; i-- > 0;) {
      if (count_ % 8 == 0) bytes_.push_back(0);
      if (value >> i & 1) bytes_.back() |= (uint8_t)(0x80 >> (count_ % 8));
      ++count_;
    }
    return *this;
  }
  const std::vector<uint8_t> &bytes() const { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
  unsigned count_ = 0;
};
