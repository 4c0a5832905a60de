// The LZH static-Huffman block decoder (-lh4- to -lh7-) and the stored copy.
// One 64 KiB window serves every method and is not cleared between members;
// each full window, and the rest at the end, goes to the output sink, which is
// also where progress is shown and Cancel is honoured. Symbols are decoded by
// a fast loop (a 64-bit bit reservoir, word copies) while there is proven
// slack, and by the plain steps at block, window and input boundaries; both
// leave the same bytes, state and file position.
#include "lzh/lzh.h"
#include "archive/archive.h"
#include "startup/startup.h"
#include <stdint.h>
#include <string.h>

// Position codes: -lh4- and -lh5- have 14 symbols with a 4-bit count field,
// -lh6- and -lh7- 17 with a 5-bit field.
constexpr WORD POS_COUNT_SMALL = 14, POS_BITS_SMALL = 4;
constexpr WORD POS_COUNT_LARGE = 17, POS_BITS_LARGE = 5;
constexpr unsigned MIN_MATCH = 3;
constexpr unsigned FIRST_MATCH_SYMBOL = 256;
constexpr int CODE_LENGTH_COUNT_BITS = 5, CODE_LENGTH_ZERO_RUN_INDEX = 3;
constexpr int SYMBOL_COUNT_BITS = 9;

static_assert(sizeof(SfxContext::small_len) >= 31 + 3,
              "a 5-bit count plus one zero run of up to 3 fits small_len");
static_assert(sizeof(SfxContext::symbol_len) == LITERAL_LENGTH_SYMBOLS, "one length per symbol");

// Follows the tree below a table entry, one node per bit under `mask`. A table
// built from a complete code needs at most 16 - table bits steps; more (or a
// cycle) can only come from a table an all-zero length set left stale, so the
// walk ends with "Bad table" when the mask runs out.
static unsigned walk_tree(unsigned j, unsigned symbols, unsigned mask) {
  while (j >= symbols) {
    if (mask == 0) fail_bad_table();
    j = (ctx->bit_buffer & mask) ? ctx->right_child[j] : ctx->left_child[j];
    mask >>= 1;
  }
  return j;
}

void start_decoder(char method) {
  bool small = method == '4' || method == '5';
  ctx->pos_count = small ? POS_COUNT_SMALL : POS_COUNT_LARGE;
  ctx->pos_bits = small ? POS_BITS_SMALL : POS_BITS_LARGE;
  ctx->bit_buffer = 0;
  ctx->held_bits = 0;
  ctx->held_count = 0;
  fill_bits(16);
  ctx->block_left = 0;
}

// A single-symbol code (count field 0) naming a symbol outside its alphabet
// would later be taken for a tree node: it is a bad table.
void read_small_lengths(int count, int count_bits, int zero_run_index) {
  int n = get_bits((BYTE)count_bits);
  if (n == 0) {
    for (int i = 0; i < count; ++i) ctx->small_len[i] = 0;
    WORD symbol = get_bits((BYTE)count_bits);
    if (symbol >= count) fail_bad_table();
    for (WORD &entry : ctx->small_table) entry = symbol;
    for (BYTE &len : ctx->small_entry_len) len = 0;
    return;
  }
  int i = 0;
  while (i < n) {
    unsigned v = get_bits(3);
    if (v == 7) {
      for (unsigned mask = 0x8000; ctx->bit_buffer & mask; mask >>= 1) ++v;
      fill_bits((BYTE)(v - 6));
    }
    ctx->small_len[i++] = (BYTE)v;
    if (i == zero_run_index)
      for (int z = get_bits(2); z > 0; --z) ctx->small_len[i++] = 0;
  }
  for (; i < count; ++i) ctx->small_len[i] = 0;
  build_decode_table(count, ctx->small_len, SMALL_TABLE_BITS, ctx->small_table, ctx->small_entry_len);
}

// Counts above 510 and zero runs past the last symbol cannot be stored: a bad
// table.
void read_symbol_lengths() {
  int n = get_bits(SYMBOL_COUNT_BITS);
  if (n == 0) {
    for (BYTE &len : ctx->symbol_len) len = 0;
    WORD symbol = get_bits(SYMBOL_COUNT_BITS);
    if (symbol >= LITERAL_LENGTH_SYMBOLS) fail_bad_table();
    for (WORD &entry : ctx->symbol_table) entry = symbol;
    for (BYTE &len : ctx->symbol_entry_len) len = 0;
    return;
  }
  if (n > (int)LITERAL_LENGTH_SYMBOLS) fail_bad_table();
  int i = 0;
  while (i < n) {
    unsigned t = walk_tree(ctx->small_table[ctx->bit_buffer >> 8], CODE_LENGTH_SYMBOLS, 0x80);
    fill_bits(ctx->small_len[t]);
    if (t >= 3) {
      ctx->symbol_len[i++] = (BYTE)(t - 2);
      continue;
    }
    int zeros = t == 0 ? 1 : t == 1 ? get_bits(4) + 3 : get_bits(9) + 20;
    if (i + zeros > (int)LITERAL_LENGTH_SYMBOLS) fail_bad_table();
    while (zeros-- > 0) ctx->symbol_len[i++] = 0;
  }
  for (; i < (int)LITERAL_LENGTH_SYMBOLS; ++i) ctx->symbol_len[i] = 0;
  build_decode_table(LITERAL_LENGTH_SYMBOLS, ctx->symbol_len, SYMBOL_TABLE_BITS, ctx->symbol_table,
                     ctx->symbol_entry_len);
}

unsigned decode_symbol() {
  if (ctx->block_left == 0) {
    ctx->block_left = get_bits(16);
    read_small_lengths(CODE_LENGTH_SYMBOLS, CODE_LENGTH_COUNT_BITS, CODE_LENGTH_ZERO_RUN_INDEX);
    read_symbol_lengths();
    read_small_lengths(ctx->pos_count, ctx->pos_bits, -1);
  }
  --ctx->block_left;
  unsigned j = walk_tree(ctx->symbol_table[ctx->bit_buffer >> 4], LITERAL_LENGTH_SYMBOLS, 0x8);
  fill_bits(ctx->symbol_len[j]);
  return j;
}

unsigned decode_position() {
  unsigned j = walk_tree(ctx->small_table[ctx->bit_buffer >> 8], ctx->pos_count, 0x80);
  fill_bits(ctx->small_len[j]);
  if (j > 1) j = (1u << (j - 1)) | get_bits((BYTE)(j - 1));
  return j & 0xFFFF;
}

// Hands a full window to the sink; progress reports `done` bytes.
static void flush_full_window(DWORD done) {
  flush_window(WINDOW_SIZE);
  if (ctx->output_file != NO_FILE) show_progress(done, ctx->uncompressed_size);
  ctx->window_fill = 0;
}

// A match ran past the member's declared size: it was cut there, so the
// output is never longer than declared, and the member fails its CRC check.
static bool size_overrun;

// One symbol by the plain steps: block headers, flushes, the zero-bit tail,
// and the last MAX_MATCH bytes of a member, where a match may overrun.
static void decode_one() {
  BYTE *window = ctx->window;
  unsigned s = decode_symbol();
  if (s < FIRST_MATCH_SYMBOL) {
    window[ctx->window_fill++] = (BYTE)s;
    if (ctx->window_fill == WINDOW_SIZE) flush_full_window(ctx->decoded_count + 1);
    ++ctx->decoded_count;
    return;
  }
  unsigned length = s - FIRST_MATCH_SYMBOL + MIN_MATCH;
  unsigned position = decode_position();
  DWORD room = ctx->uncompressed_size - ctx->decoded_count;  // above 0: a symbol starts below the size
  if (length > room) length = room, size_overrun = true;
  ctx->decoded_count += length;
  unsigned source = (ctx->window_fill - position - 1) & (WINDOW_SIZE - 1);
  // Byte by byte: a match nearer than its length repeats what it writes.
  for (unsigned k = 0; k < length; ++k) {
    window[ctx->window_fill++] = window[(source + k) & (WINDOW_SIZE - 1)];
    if (ctx->window_fill == WINDOW_SIZE) flush_full_window(ctx->decoded_count);
  }
}

// The fast loop holds the next bits in a 64-bit reservoir, most significant
// first, taken straight from input_buffer. It runs only while that is safe
// to do without the plain steps:
//  - FAST_INPUT_SLACK unread member bytes lie in input_buffer, so refilling
//    the reservoir never reaches a file read or the zero-bit tail;
//  - the block has symbols left, so no block header is due;
//  - the window has FAST_WINDOW_SLACK bytes free, so no match reaches a flush;
//  - MAX_MATCH bytes or more of the member are to come, so no match overruns.
// It works in batches of symbols that cannot break these rules however long
// their matches, so inside a batch no symbol needs a check. On leaving it puts
// back whole unused bytes, which leaves bit_buffer, held_bits, held_count,
// input_pos and compressed_left exactly as the plain steps would have them.
//
// Each turn starts with 16 or more bits: the symbol's table entry is read
// from them while the refill runs, and a match refills again at its end.
constexpr unsigned MAX_MATCH = 256;
constexpr unsigned FAST_WINDOW_SLACK = MAX_MATCH + 1;
constexpr unsigned MAX_SYMBOL_BITS = 16 + 16 + 15;  // match symbol, position code, extra bits
// A refill leaves 56 to 63 bits and reads 8 bytes. Before the refills of
// turn i at most 47 * (i + 1) bits were taken, and 63 more at most lie in
// the reservoir, so turn i reads below 47 * i / 8 + 20 bytes past the start:
constexpr unsigned FAST_INPUT_SLACK = 20;
constexpr unsigned MAX_SYMBOL_BYTES = 6;  // rounding 47 bits up, for the batch size
static_assert(MAX_SYMBOL_BITS <= 56 - 8 && (MAX_SYMBOL_BITS + 63 - 16 + 7) / 8 + 8 <= FAST_INPUT_SLACK &&
                  MAX_SYMBOL_BITS <= 8 * MAX_SYMBOL_BYTES,
              "the refills stay inside the buffered member bytes");

static DWORD buffered_member_bytes() {
  if (ctx->input_pos >= INPUT_BUFFER_SIZE) return 0;
  DWORD in_buffer = INPUT_BUFFER_SIZE - ctx->input_pos;
  return ctx->compressed_left < in_buffer ? ctx->compressed_left : in_buffer;
}

static bool fast_path_open() {
  return ctx->block_left != 0 && ctx->window_fill <= WINDOW_SIZE - FAST_WINDOW_SLACK &&
         buffered_member_bytes() >= FAST_INPUT_SLACK && ctx->uncompressed_size - ctx->decoded_count >= MAX_MATCH;
}

static unsigned fast_walk(unsigned j, unsigned symbols, uint64_t bits, uint64_t mask) {
  while (j >= symbols) {
    if (mask >> 48 == 0) fail_bad_table();  // past bit 0 of bit_buffer
    j = (bits & mask) ? ctx->right_child[j] : ctx->left_child[j];
    mask >>= 1;
  }
  return j;
}

static inline uint64_t load_big_endian64(const BYTE *p) {
  uint64_t v;
  memcpy(&v, p, sizeof v);
  return __builtin_bswap64(v);
}

static inline unsigned smaller(unsigned a, unsigned b) { return a < b ? a : b; }

// Copies a match as the plain steps do, byte after byte, only faster. The
// source does not wrap. Eight bytes or more behind the destination, whole
// steps of eight read only finished bytes; the last step may overlap the one
// before, and nothing past the match's end is written (those bytes are still
// history). Eight bytes or more ahead of it (history from the window's last
// round), steps read bytes no step has written yet. Nearer sources repeat
// what the copy itself writes.
static inline void copy_match(BYTE *out, const BYTE *from, unsigned length) {
  if (from + 8 <= out || from >= out + 8) {
    if (length >= 8) {
      for (unsigned k = 0; k + 8 <= length; k += 8) memcpy(out + k, from + k, 8);
      memcpy(out + length - 8, from + length - 8, 8);
    } else if (length >= 4) {
      memcpy(out, from, 4);
      memcpy(out + length - 4, from + length - 4, 4);
    } else {
      memcpy(out, from, 2);
      out[2] = from[2];
    }
  } else if (from + 1 == out) {
    memset(out, *from, length);
  } else {
    for (unsigned k = 0; k < length; ++k) out[k] = from[k];
  }
}

static void decode_fast() {
  // The record's arrays through one local pointer, its fields in locals:
  // stores into the window (bytes of the same record) would otherwise make
  // the compiler reload each field, and a pointer per array would leave too
  // few registers.
  SfxContext *const c = ctx;
  const unsigned pos_count = c->pos_count;
  DWORD pos = c->input_pos;
  // Every fetch moves pos up and compressed_left down together, so the end
  // of the buffered member bytes stays where it is for the whole loop.
  const DWORD buffered_end = pos + buffered_member_bytes();
  const DWORD first_fill = c->window_fill;
  DWORD fill = first_fill;  // no flush in here: the output grows as fill does
  const DWORD to_go = c->uncompressed_size - c->decoded_count;
  unsigned block = c->block_left;
  // Bits below the `count` valid ones are zero or the stream's own next bits,
  // so a refill may OR whole words over them.
  uint64_t bits = (uint64_t)c->bit_buffer << 48 | (uint64_t)c->held_bits << 40;
  unsigned count = 16u + c->held_count;
  auto refill = [&] {
    bits |= load_big_endian64(c->input_buffer + pos) >> count;
    pos += (63 - count) >> 3;
    count |= 56;
  };
  do {
    // Symbols that keep every rule above at the top of each turn.
    unsigned batch = smaller(smaller(block, (buffered_end - pos - FAST_INPUT_SLACK) / MAX_SYMBOL_BYTES + 1),
                             smaller((WINDOW_SIZE - FAST_WINDOW_SLACK - fill) / MAX_MATCH + 1,
                                     (to_go - (fill - first_fill)) / MAX_MATCH));
    block -= batch;
    do {
      unsigned j = c->symbol_table[bits >> 52], n = c->symbol_entry_len[bits >> 52];
      refill();
      if (n == 0) {
        j = fast_walk(j, LITERAL_LENGTH_SYMBOLS, bits, 1ull << 51);
        n = c->symbol_len[j];
      }
      bits <<= n;
      count -= n;
      if (j < FIRST_MATCH_SYMBOL) {
        c->window[fill++] = (BYTE)j;
        continue;
      }
      unsigned length = j - FIRST_MATCH_SYMBOL + MIN_MATCH;
      unsigned p = c->small_table[bits >> 56];
      n = c->small_entry_len[bits >> 56];
      if (n == 0 || p >= pos_count) {  // a node; or a stale table left by another code
        p = fast_walk(p, pos_count, bits, 1ull << 55);
        n = c->small_len[p];
      }
      bits <<= n;
      count -= n;
      if (p > 1) {
        unsigned extra = p - 1;
        p = 1u << extra | (unsigned)(bits >> (64 - extra));
        bits <<= extra;
        count -= extra;
      }
      refill();
      DWORD source = (fill - p - 1) & (WINDOW_SIZE - 1);
      BYTE *out = c->window + fill;
      fill += length;
      if (source + length > WINDOW_SIZE) {  // the source wraps
        for (unsigned k = 0; k < length; ++k) out[k] = c->window[(source + k) & (WINDOW_SIZE - 1)];
      } else {
        copy_match(out, c->window + source, length);
      }
    } while (--batch);
  } while (block != 0 && fill <= WINDOW_SIZE - FAST_WINDOW_SLACK && to_go - (fill - first_fill) >= MAX_MATCH &&
           pos + FAST_INPUT_SLACK <= buffered_end);
  unsigned unused = (count - 16) / 8;  // a turn ends with 16 bits or more
  pos -= unused;
  count -= 8 * unused;
  c->compressed_left -= pos - c->input_pos;
  c->input_pos = pos;
  c->bit_buffer = (WORD)(bits >> 48);
  c->held_count = (BYTE)(count - 16);
  c->held_bits = (BYTE)(bits >> 40 & (0xFF00u >> c->held_count));  // the put-back bytes' bits go
  c->block_left = (WORD)block;
  c->window_fill = fill;
  c->decoded_count += fill - first_fill;
}

void decode_member() {
  const BYTE *header = ctx->header_buffer;
  ctx->uncompressed_size = read_u32(header + 11);
  ctx->compressed_left = read_u32(header + 7);
  ctx->running_crc = 0;
  ctx->window_size = WINDOW_SIZE;
  start_decoder((char)header[5]);
  ctx->decoded_count = 0;
  ctx->window_fill = 0;
  size_overrun = false;
  while (ctx->decoded_count < ctx->uncompressed_size) {
    if (fast_path_open()) decode_fast();
    else decode_one();
  }
  if (ctx->window_fill > 0) {
    flush_window(ctx->window_fill);
    if (ctx->output_file != NO_FILE)
      show_progress(ctx->decoded_count + ctx->window_fill, ctx->uncompressed_size);
  }
  if (size_overrun) ctx->running_crc = (WORD)~read_u16(header + HDR_FILE_CRC);
}

// Sizes are taken as unsigned, so members of 2 GiB and more copy whole.
void copy_stored(LONG size_field) {
  DWORD size = (DWORD)size_field;
  ctx->running_crc = 0;
  DWORD remaining = size;
  while (remaining > 0) {
    DWORD chunk = remaining < WINDOW_SIZE ? remaining : WINDOW_SIZE;
    if (_lread(ctx->archive_file, ctx->window, chunk) != chunk) {
      report_read_error();
      abort_run(1);
    }
    flush_window(chunk);
    if (ctx->output_file != NO_FILE) show_progress(size - remaining, size);
    remaining -= chunk;
  }
}
