// libFuzzer target: the encoder's code lengths for any frequencies (the input
// read as 32-bit counts) are 1 to 16 bits for every used symbol and form a
// complete code; a lone used symbol gets none (the single-symbol form).
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include "lzh_encoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::vector<uint32_t> freq(std::min<size_t>(size / 4, 510));
  if (!freq.empty()) memcpy(freq.data(), data, freq.size() * 4);
  std::vector<uint8_t> lengths = huffman_lengths(freq, 16);
  size_t used = (size_t)std::count_if(freq.begin(), freq.end(), [](uint32_t f) { return f != 0; });
  uint64_t kraft = 0;
  for (size_t s = 0; s < freq.size(); ++s) {
    if (!(freq[s] && used > 1 ? lengths[s] >= 1 && lengths[s] <= 16 : lengths[s] == 0)) abort();
    kraft += lengths[s] ? 1u << (16 - lengths[s]) : 0;
  }
  if (lengths.size() != freq.size() || kraft != (used > 1 ? 1u << 16 : 0u)) abort();
  return 0;
}
