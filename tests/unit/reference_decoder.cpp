// The plain decoder, one bit-buffer step and one byte at a time, exactly as
// the format's description reads. The differential test holds the stub's
// fast decoder to it.
#include "reference_decoder.h"
#include "lzh/lzh.h"
#include "startup/startup.h"

namespace {

constexpr WORD POS_COUNT_SMALL = 14, POS_BITS_SMALL = 4;
constexpr WORD POS_COUNT_LARGE = 17, POS_BITS_LARGE = 5;
constexpr unsigned MIN_MATCH = 3;
constexpr unsigned FIRST_MATCH_SYMBOL = 256;
constexpr int CODE_LENGTH_COUNT_BITS = 5, CODE_LENGTH_ZERO_RUN_INDEX = 3;
constexpr int SYMBOL_COUNT_BITS = 9;

static void ref_fill_bits(BYTE n) {
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

static WORD ref_get_bits(BYTE n) {
  WORD value = (WORD)(ctx->bit_buffer >> (16 - n));
  ref_fill_bits(n);
  return value;
}

// Follows the tree below a table entry, one node per bit under `mask`. A table
// built from a complete code needs at most 16 - table bits steps; more (or a
// cycle) can only come from a table an all-zero length set left stale, so the
// walk ends with "Bad table" when the mask runs out.
static unsigned ref_walk_tree(unsigned j, unsigned symbols, unsigned mask) {
  while (j >= symbols) {
    if (mask == 0) fail_bad_table();
    j = (ctx->bit_buffer & mask) ? ctx->right_child[j] : ctx->left_child[j];
    mask >>= 1;
  }
  return j;
}

static void ref_start_decoder(char method) {
  bool small = method == '4' || method == '5';
  ctx->pos_count = small ? POS_COUNT_SMALL : POS_COUNT_LARGE;
  ctx->pos_bits = small ? POS_BITS_SMALL : POS_BITS_LARGE;
  ctx->bit_buffer = 0;
  ctx->held_bits = 0;
  ctx->held_count = 0;
  ref_fill_bits(16);
  ctx->block_left = 0;
}

// A single-symbol code (count field 0) naming a symbol outside its alphabet
// would later be taken for a tree node: it is a bad table.
static void ref_read_small_lengths(int count, int count_bits, int zero_run_index) {
  int n = ref_get_bits((BYTE)count_bits);
  if (n == 0) {
    for (int i = 0; i < count; ++i) ctx->small_len[i] = 0;
    WORD symbol = ref_get_bits((BYTE)count_bits);
    if (symbol >= count) fail_bad_table();
    for (WORD &entry : ctx->small_table) entry = symbol;
    for (BYTE &len : ctx->small_entry_len) len = 0;
    return;
  }
  int i = 0;
  while (i < n) {
    unsigned v = ref_get_bits(3);
    if (v == 7) {
      for (unsigned mask = 0x8000; ctx->bit_buffer & mask; mask >>= 1) ++v;
      ref_fill_bits((BYTE)(v - 6));
    }
    ctx->small_len[i++] = (BYTE)v;
    if (i == zero_run_index)
      for (int z = ref_get_bits(2); z > 0; --z) ctx->small_len[i++] = 0;
  }
  for (; i < count; ++i) ctx->small_len[i] = 0;
  build_decode_table(count, ctx->small_len, SMALL_TABLE_BITS, ctx->small_table, ctx->small_entry_len);
}

// Counts above 510 and zero runs past the last symbol cannot be stored: a bad
// table.
static void ref_read_symbol_lengths() {
  int n = ref_get_bits(SYMBOL_COUNT_BITS);
  if (n == 0) {
    for (BYTE &len : ctx->symbol_len) len = 0;
    WORD symbol = ref_get_bits(SYMBOL_COUNT_BITS);
    if (symbol >= LITERAL_LENGTH_SYMBOLS) fail_bad_table();
    for (WORD &entry : ctx->symbol_table) entry = symbol;
    for (BYTE &len : ctx->symbol_entry_len) len = 0;  // kept as the stub keeps them: runs alternate
    return;
  }
  if (n > (int)LITERAL_LENGTH_SYMBOLS) fail_bad_table();
  int i = 0;
  while (i < n) {
    unsigned t = ref_walk_tree(ctx->small_table[ctx->bit_buffer >> 8], CODE_LENGTH_SYMBOLS, 0x80);
    ref_fill_bits(ctx->small_len[t]);
    if (t >= 3) {
      ctx->symbol_len[i++] = (BYTE)(t - 2);
      continue;
    }
    int zeros = t == 0 ? 1 : t == 1 ? ref_get_bits(4) + 3 : ref_get_bits(9) + 20;
    if (i + zeros > (int)LITERAL_LENGTH_SYMBOLS) fail_bad_table();
    while (zeros-- > 0) ctx->symbol_len[i++] = 0;
  }
  for (; i < (int)LITERAL_LENGTH_SYMBOLS; ++i) ctx->symbol_len[i] = 0;
  build_decode_table(LITERAL_LENGTH_SYMBOLS, ctx->symbol_len, SYMBOL_TABLE_BITS, ctx->symbol_table,
                     ctx->symbol_entry_len);
}

static unsigned ref_decode_symbol() {
  if (ctx->block_left == 0) {
    ctx->block_left = ref_get_bits(16);
    ref_read_small_lengths(CODE_LENGTH_SYMBOLS, CODE_LENGTH_COUNT_BITS, CODE_LENGTH_ZERO_RUN_INDEX);
    ref_read_symbol_lengths();
    ref_read_small_lengths(ctx->pos_count, ctx->pos_bits, -1);
  }
  --ctx->block_left;
  unsigned j = ref_walk_tree(ctx->symbol_table[ctx->bit_buffer >> 4], LITERAL_LENGTH_SYMBOLS, 0x8);
  ref_fill_bits(ctx->symbol_len[j]);
  return j;
}

static unsigned ref_decode_position() {
  unsigned j = ref_walk_tree(ctx->small_table[ctx->bit_buffer >> 8], ctx->pos_count, 0x80);
  ref_fill_bits(ctx->small_len[j]);
  if (j > 1) j = (1u << (j - 1)) | ref_get_bits((BYTE)(j - 1));
  return j & 0xFFFF;
}

// Hands a full window to the sink; progress reports `done` bytes.
static void ref_flush_full_window(DWORD done) {
  flush_window(WINDOW_SIZE);
  if (ctx->output_file != NO_FILE) show_progress(done, ctx->uncompressed_size);
  ctx->window_fill = 0;
}

void ref_decode_member() {
  const BYTE *header = ctx->header_buffer;
  ctx->uncompressed_size = read_u32(header + 11);
  ctx->compressed_left = read_u32(header + 7);
  ctx->running_crc = 0;
  ctx->window_size = WINDOW_SIZE;
  ref_start_decoder((char)header[5]);
  ctx->decoded_count = 0;
  ctx->window_fill = 0;
  BYTE *window = ctx->window;
  while (ctx->decoded_count < ctx->uncompressed_size) {
    unsigned s = ref_decode_symbol();
    if (s < FIRST_MATCH_SYMBOL) {
      window[ctx->window_fill++] = (BYTE)s;
      if (ctx->window_fill == WINDOW_SIZE) ref_flush_full_window(ctx->decoded_count + 1);
      ++ctx->decoded_count;
    } else {
      unsigned length = s - FIRST_MATCH_SYMBOL + MIN_MATCH;
      unsigned position = ref_decode_position();
      ctx->decoded_count += length;
      unsigned source = (ctx->window_fill - position - 1) & (WINDOW_SIZE - 1);
      // Byte by byte: a match nearer than its length repeats what it writes.
      for (unsigned k = 0; k < length; ++k) {
        window[ctx->window_fill++] = window[(source + k) & (WINDOW_SIZE - 1)];
        if (ctx->window_fill == WINDOW_SIZE) ref_flush_full_window(ctx->decoded_count);
      }
    }
  }
  if (ctx->window_fill > 0) {
    flush_window(ctx->window_fill);
    if (ctx->output_file != NO_FILE)
      show_progress(ctx->decoded_count + ctx->window_fill, ctx->uncompressed_size);
  }
}


}  // namespace

void reference_decode_member() { ref_decode_member(); }
