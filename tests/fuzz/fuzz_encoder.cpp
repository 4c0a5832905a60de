// The builder's encoder, held to the stub's decoder: whatever it is given
// must come back byte for byte, with its CRC, and leave the archive file just
// past the packed data.
//
// The input is a recipe, so that short inputs make long data with far
// repeats: the first byte picks the method (and with its top bit the best
// effort); then an op byte
//   below 0x80 copies the next op + 1 bytes;
//   0x80-0xBF repeats earlier output from a distance of 1 to 65,536 (2 bytes)
//     for 1 to 1,021 bytes (a length byte, times 4, plus 1);
//   0xC0-0xDF repeats from the edge of the method's window, 16 bytes on
//     either side (the op's low bits), for a length byte;
//   0xE0-0xFF adds 4 KiB of noise per low-bits value + 1 (a seed byte).
// The output stops at 300,000 bytes, past the encoder's 262,144-byte parse
// chunk.
#include "fuzz_support.h"
#include <vector>
#include "archive/archive.h"
#include "lzh/lzh.h"
#include "decode_run.h"
#include "archive_writer.h"
#include "lzh_encoder.h"

static std::vector<uint8_t> expand(const uint8_t *in, size_t size, size_t window) {
  constexpr size_t LIMIT = 300000;
  std::vector<uint8_t> out;
  for (size_t i = 0; i < size && out.size() < LIMIT;) {
    unsigned op = in[i++];
    if (op < 0x80) {
      size_t n = std::min<size_t>({op + 1u, size - i, LIMIT - out.size()});
      out.insert(out.end(), in + i, in + i + n);
      i += n;
      continue;
    }
    if (i + (op < 0xC0 ? 3 : 1) > size) break;
    if (op >= 0xE0) {
      uint32_t x = in[i++];
      for (size_t n = std::min<size_t>(4096u * ((op & 0x1F) + 1), LIMIT - out.size()); n-- > 0;)
        x = x * 1664525u + 1013904223u, out.push_back((uint8_t)(x >> 24));
      continue;
    }
    size_t distance = window - 16 + (op & 0x1F);
    if (op < 0xC0) distance = (size_t)(in[i] << 8 | in[i + 1]) + 1, i += 2;
    size_t length = out.empty() ? 0 : std::min<size_t>(4u * in[i++] + 1, LIMIT - out.size());
    size_t from = out.size() - std::min(distance, out.size());
    for (size_t k = 0; k < length; ++k) out.push_back(out[from + k]);
  }
  return out;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1) return 0;
  char method = (char)('5' + data[0] % 3);
  const MethodParams &m = *method_params(method);
  std::vector<uint8_t> plain = expand(data + 1, size - 1, m.window);
  std::vector<uint8_t> packed = lzh_encode(plain.data(), plain.size(), m, data[0] & 0x80 ? BEST_EFFORT : DEFAULT_EFFORT);
  packed.push_back(0xEE);  // the next header's first byte, which must stay unread
  std::string input = scratch_dir() + "/packed.bin", output = scratch_dir() + "/unpacked.bin";
  write_scratch(input, packed.data(), packed.size());
  fresh_context(input);
  build_crc_table(CRC16_POLY);
  DecodeOutcome o = run_decoder(input, output, method, (uint32_t)packed.size() - 1,
                                (uint32_t)plain.size());
  if (o.status != -1 || o.output != plain || o.crc != crc16(plain.data(), plain.size()) ||
      o.position != (LONG)packed.size() - 1)
    abort();
  return 0;
}
