// The block decoder on arbitrary streams. Whatever the stream, a member
// either decodes to at least its size (the last match is written whole, so
// at most a match more) with the CRC of exactly the bytes written, or the
// run stops with status 1 and no output file is left behind.
#include "fuzz_support.h"
#include <cstring>
#include <utility>
#include <vector>
#include "archive/archive.h"
#include "lzh/lzh.h"
#include "decode_run.h"
#include "archive_writer.h"

// The CRC tables, built once: building them for each run cost more than a
// small decode.
static void load_crc_tables() {
  static SfxContext *tables = [] {
    SfxContext *saved = ctx;
    ctx = new SfxContext();
    build_crc_table(CRC16_POLY);
    std::swap(saved, ctx);
    return saved;
  }();
  memcpy(ctx->crc_table, tables->crc_table, sizeof ctx->crc_table);
  memcpy(ctx->crc_slices, tables->crc_slices, sizeof ctx->crc_slices);
}

// Input: method selector, 3 bytes of output size, 2 bytes cutting the
// compressed size, then the stream. The size is up to 128 KiB (two window
// flushes and a wrap) shifted right by the top 4 bits of its third byte: most
// inputs decode a few KiB, so the fuzzer runs fast, and large outputs stay
// reachable.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 6) return 0;
  char method = (char)('4' + data[0] % 4);
  uint32_t usize = (uint32_t)(data[1] | data[2] << 8 | (data[3] & 0x01) << 16) >> (data[3] >> 4);
  uint32_t csize = (uint32_t)(size - 6) - (uint32_t)((data[4] | data[5] << 8) % (size - 5));
  std::string input = scratch_dir() + "/stream.bin", output = scratch_dir() + "/decoded.bin";
  write_scratch(input, data + 6, size - 6);
  fresh_context(input);
  load_crc_tables();
  DecodeOutcome o = run_decoder(input, output, method, csize, usize);
  bool decoded = o.status == -1 && o.output.size() >= usize && o.output.size() < usize + 256 &&
                 o.crc == crc16(o.output.data(), o.output.size());  // the builder's, not the decoder's
  bool stopped = o.status == 1 && access(output.c_str(), F_OK) != 0;
  if (!decoded && !stopped) abort();
  return 0;
}
