// The block decoder on arbitrary streams, held to the plain reference
// decoder: both must produce the same bytes, CRC and outcome.
#include "fuzz_support.h"
#include <cstring>
#include <vector>
#include "archive/archive.h"
#include "lzh/lzh.h"
#include "reference_decoder.h"

namespace {

struct Result {
  int status;
  std::vector<uint8_t> output;
  WORD crc;
  LONG position;
};

std::vector<uint8_t> slurp(const std::string &path) {
  std::vector<uint8_t> out;
  FILE *f = fopen(path.c_str(), "rb");
  if (!f) return out;
  int c;
  while ((c = fgetc(f)) != EOF) out.push_back((uint8_t)c);
  fclose(f);
  return out;
}

Result run(void (*decoder)(), const std::string &input, char method, uint32_t usize, uint32_t csize) {
  fresh_context(input);
  std::string output = scratch_dir() + "/decoded.bin";
  uint8_t header[32] = {};
  memcpy(header + 2, "-lh?-", 5);
  header[HDR_METHOD_LETTER] = (uint8_t)method;
  for (int i = 0; i < 4; ++i) header[7 + i] = (uint8_t)(csize >> 8 * i), header[11 + i] = (uint8_t)(usize >> 8 * i);
  build_crc_table(CRC16_POLY);
  ctx->header_buffer = header;
  ctx->archive_file = _lopen(input.c_str(), OF_READ);
  lstrcpyA(ctx->target_path, output.c_str());
  ctx->output_file = CreateFileA(output.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ctx->input_pos = (DWORD)-1;
  Result r;
  r.status = posix::run(decoder);
  r.position = -1;
  if (r.status < 0) {
    r.position = _llseek(ctx->archive_file, 0, FILE_CURRENT);
    CloseHandle(ctx->output_file);
    _lclose(ctx->archive_file);
  }
  r.crc = ctx->running_crc;
  r.output = slurp(output);
  ctx->header_buffer = nullptr;
  unlink(output.c_str());
  return r;
}

}  // namespace

// Input: method selector, 3 bytes of output size (up to 256 KiB, which
// covers several window flushes), 2 bytes cutting the compressed size, then
// the stream.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 6) return 0;
  char method = (char)('4' + data[0] % 4);
  uint32_t usize = (uint32_t)(data[1] | data[2] << 8 | (data[3] & 0x03) << 16);
  uint32_t csize = (uint32_t)(size - 6) - (uint32_t)((data[4] | data[5] << 8) % (size - 5));
  std::string input = scratch_dir() + "/stream.bin";
  write_scratch(input, data + 6, size - 6);
  Result fast = run(decode_member, input, method, usize, csize);
  Result plain = run(reference_decode_member, input, method, usize, csize);
  if (fast.status != plain.status || fast.output != plain.output || fast.crc != plain.crc ||
      fast.position != plain.position)
    abort();
  return 0;
}
