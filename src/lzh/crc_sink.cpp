// CRC-16/ARC, the one output sink, and the progress step. The sink writes a
// decoded chunk to the output file and folds it into the running CRC, or, with
// no file, keeps it as the text of the message or script member.
#include "lzh/lzh.h"
#include "startup/startup.h"
#include "ui/ui.h"

void build_crc_table(WORD poly) {
  for (unsigned i = 0; i < 256; ++i) {
    WORD r = (WORD)i;
    for (int k = 0; k < 8; ++k) r = (r & 1) ? (WORD)((r >> 1) ^ poly) : (WORD)(r >> 1);
    ctx->crc_table[i] = r;
  }
  const WORD *previous = ctx->crc_table;
  for (auto &slice : ctx->crc_slices) {
    for (unsigned i = 0; i < 256; ++i) slice[i] = (WORD)((previous[i] >> 8) ^ ctx->crc_table[previous[i] & 0xFF]);
    previous = slice;
  }
}

// Eight bytes a step: the register takes the first two, and each byte's
// table carries it past the bytes that follow it.
WORD crc_update(const BYTE *bytes, LONG count) {
  WORD crc = ctx->running_crc;
  const WORD(*t)[256] = ctx->crc_slices;
  LONG i = 0;
  for (; i + 8 <= count; i += 8) {
    const BYTE *b = bytes + i;
    WORD x = (WORD)(crc ^ (b[0] | b[1] << 8));
    crc = (WORD)(t[6][x & 0xFF] ^ t[5][x >> 8] ^ t[4][b[2]] ^ t[3][b[3]] ^ t[2][b[4]] ^ t[1][b[5]] ^
                 t[0][b[6]] ^ ctx->crc_table[b[7]]);
  }
  for (; i < count; ++i) crc = ctx->crc_table[(crc ^ bytes[i]) & 0xFF] ^ (crc >> 8);
  ctx->running_crc = crc;
  return crc;
}

// Memory output keeps only the latest chunk, cut to the text field less one:
// a chunk of N bytes or more leaves N - 1 and the terminator, never N + 1.
template <size_t N> static void capture_text(char (&text)[N], const BYTE *bytes, DWORD count) {
  lstrcpynA(text, (const char *)bytes, count >= N ? (int)N : (int)count + 1);
}

void write_output(const BYTE *bytes, DWORD count, HANDLE file) {
  if (file != NO_FILE) {
    DWORD written = 0;
    if (!WriteFile(file, bytes, count, &written, nullptr) || written != count) {
      show_error(MSG_WRITE_ERROR, ctx->target_path);
      abort_run(1);
    }
    crc_update(bytes, (LONG)count);
  } else if (ctx->sink_mode == SINK_MESSAGE) {
    capture_text(ctx->text_scratch, bytes, count);
  } else if (ctx->sink_mode == SINK_SCRIPT) {
    capture_text(ctx->script_text, bytes, count);
  }
}

void flush_window(DWORD count) { write_output(ctx->window, count, ctx->output_file); }

DWORD progress_percent(DWORD done, DWORD total) {
  if (total == 0) return 0;
  DWORD step = total / 100;
  if (step == 0) return 100;
  DWORD percent = done / step;
  return percent > 100 ? 100 : percent;
}

void show_progress(DWORD done, DWORD total) {
  wsprintfA(ctx->text_scratch, "Extract... %lu%%", (unsigned long)progress_percent(done, total));
  SetDlgItemTextA(ctx->main_window, IDC_PROGRESS, ctx->text_scratch);
  drain_message_queue(ctx->main_window);
  if (ctx->cancel_requested == 1) abort_run(1);
}
