// The encoder's code lengths for `freq`: 1 to 16 bits for every used symbol
// and a complete code (Kraft sum exactly 1), the only kind the stub's table
// builder takes; a lone used symbol gets none (the single-symbol form).
#pragma once
#include <algorithm>
#include "lzh_encoder.h"

inline bool limited_complete_code(const std::vector<uint32_t> &freq) {
  std::vector<uint8_t> lengths = huffman_lengths(freq, 16);
  size_t used = (size_t)std::count_if(freq.begin(), freq.end(), [](uint32_t f) { return f != 0; });
  uint64_t kraft = 0;
  for (size_t s = 0; s < freq.size() && lengths.size() == freq.size(); ++s) {
    if (!(freq[s] && used > 1 ? lengths[s] >= 1 && lengths[s] <= 16 : lengths[s] == 0)) return false;
    kraft += lengths[s] ? 1u << (16 - lengths[s]) : 0;
  }
  return lengths.size() == freq.size() && kraft == (used > 1 ? 1u << 16 : 0u);
}
