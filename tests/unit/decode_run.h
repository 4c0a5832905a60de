// Runs the decoder over a stream held in a file, as the member loop would for
// a member of the given method and sizes, with `ctx` already made.
#pragma once
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>
#include "archive/archive.h"
#include "lzh/lzh.h"
#include "posix/harness.h"
#include "startup/startup.h"

struct DecodeOutcome {
  int status;  // ExitProcess status, -1 when the decoder returned
  std::vector<uint8_t> output;
  WORD crc;
  LONG position;  // of the archive file afterwards, -1 after an exit
};

inline DecodeOutcome run_decoder(const std::string &input, const std::string &output,
                                 char method, uint32_t csize, uint32_t usize) {
  uint8_t header[32] = {};
  memcpy(header + 2, "-lh?-", 5);
  header[HDR_METHOD_LETTER] = (uint8_t)method;
  for (int i = 0; i < 4; ++i) header[7 + i] = (uint8_t)(csize >> 8 * i), header[11 + i] = (uint8_t)(usize >> 8 * i);
  ctx->header_buffer = header;
  ctx->archive_file = _lopen(input.c_str(), OF_READ);
  lstrcpyA(ctx->target_path, output.c_str());
  ctx->output_file = CreateFileA(output.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ctx->input_pos = (DWORD)-1;
  DecodeOutcome o;
  o.status = posix::run(decode_member);
  o.position = -1;
  if (o.status < 0) {
    o.position = _llseek(ctx->archive_file, 0, FILE_CURRENT);
    CloseHandle(ctx->output_file);
    _lclose(ctx->archive_file);
  }
  // One read: a byte loop here would cost the fuzzer more than the decoding.
  if (FILE *f = fopen(output.c_str(), "rb")) {
    fseek(f, 0, SEEK_END);
    o.output.resize((size_t)ftell(f));
    rewind(f);
    if (!o.output.empty() && fread(o.output.data(), 1, o.output.size(), f) != o.output.size()) o.output.clear();
    fclose(f);
  }
  o.crc = ctx->running_crc;
  ctx->header_buffer = nullptr;
  ctx->output_file = NO_FILE;
  return o;
}
