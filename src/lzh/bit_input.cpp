// Buffered input and the bit reader. The decoder's bits come most significant
// first through a 16-bit window (bit_buffer) fed from one held byte. A refill
// never asks for more than the member still has, so after the member the file
// stands exactly where the next header begins; past the member's last byte the
// stream goes on with zero bits.
#include "lzh/lzh.h"
#include "startup/startup.h"
#include "ui/ui.h"

int read_input_byte(HFILE file, DWORD wanted) {
  if (ctx->input_pos >= INPUT_BUFFER_SIZE) {
    UINT count = wanted < INPUT_BUFFER_SIZE ? wanted : INPUT_BUFFER_SIZE;
    UINT got = _lread(file, ctx->input_buffer, count);
    if (got == (UINT)HFILE_ERROR || got != count) return -1;
    ctx->input_pos = 0;
  }
  return ctx->input_buffer[ctx->input_pos++];
}

// Shifts by 8 or more of the 8-bit held byte give 0, as a 32-bit shift of a
// byte value by up to 8 does here.
void fill_bits(BYTE n) {
  while (n > ctx->held_count) {
    n = (BYTE)(n - ctx->held_count);
    ctx->bit_buffer = (WORD)((unsigned)ctx->bit_buffer << ctx->held_count |
                             (unsigned)ctx->held_bits >> (8 - ctx->held_count));
    if (ctx->compressed_left > 0) {
      --ctx->compressed_left;
      int byte = read_input_byte(ctx->archive_file, ctx->compressed_left + 1);
      if (byte < 0) {
        report_read_error();
        abort_run(1);
      }
      ctx->held_bits = (BYTE)byte;
    } else {
      ctx->held_bits = 0;
    }
    ctx->held_count = 8;
  }
  ctx->held_count = (BYTE)(ctx->held_count - n);
  ctx->bit_buffer = (WORD)((unsigned)ctx->bit_buffer << n | (unsigned)ctx->held_bits >> (8 - n));
  ctx->held_bits = (BYTE)((unsigned)ctx->held_bits << n);
}

WORD get_bits(BYTE n) {
  WORD value = (WORD)(ctx->bit_buffer >> (16 - n));
  fill_bits(n);
  return value;
}

int report_read_error() {
  show_error(MSG_READ_ERROR, ctx->module_path);
  ctx->abort_flag = 1;
  return 0;
}
