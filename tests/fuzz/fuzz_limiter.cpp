// libFuzzer target: the code-length limiter on any frequencies (the input
// read as 32-bit counts, at most 510 of them).
#include <cstdlib>
#include <cstring>
#include "limiter_property.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::vector<uint32_t> freq(std::min<size_t>(size / 4, 510));
  if (!freq.empty()) memcpy(freq.data(), data, freq.size() * 4);
  if (!limited_complete_code(freq)) abort();
  return 0;
}
