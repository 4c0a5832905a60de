// Member headers from arbitrary bytes, read one after another as the scan
// pass reads them.
#include "fuzz_support.h"
#include "archive/archive.h"
#include "lzh/lzh.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string path = scratch_dir() + "/headers.bin";
  write_scratch(path, data, size);
  fresh_context(path);
  posix::run([&] {
    ctx->archive_file = _lopen(path.c_str(), OF_READ);
    ctx->archive_size = (DWORD)size;
    build_crc_table(CRC16_POLY);
    while (read_member_header() == HEADER_READY) {
      LONG here = _llseek(ctx->archive_file, 0, FILE_CURRENT);
      DWORD end = (DWORD)here + read_u32(ctx->header_buffer + HDR_COMPRESSED);
      if (end < (DWORD)here || end > size) break;
      _llseek(ctx->archive_file, (LONG)end, FILE_BEGIN);
    }
    _lclose(ctx->archive_file);
  });
  return 0;
}
