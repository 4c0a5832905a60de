// Canonical Huffman decode tables: a direct table indexed by the first
// table-bits bits of bit_buffer, and for longer codes a tree of two-way nodes
// rooted in the table. This is the one place that rejects bad code lengths;
// every later lookup trusts a table built here.
#include "lzh/lzh.h"
#include "startup/startup.h"
#include "ui/ui.h"

void fail_bad_table() {
  show_error(MSG_BAD_TABLE, ctx->module_path);
  abort_run(1);
}

// Lengths must be 1..16 (0: unused) and fill the 16-bit code space exactly:
// their weighted sum, counted without wrapping, is 65,536. An all-zero set is
// the one other set let through, and it leaves the table as it was (only the
// entry lengths, a copy of the old lengths, are cleared). Anything
// else, an over-full set that wraps to a multiple of 65,536 included, would
// place codes outside the table or the 1,019 node slots.
void build_decode_table(int count, const BYTE *lengths, int table_bits, WORD *table, BYTE *entry_lengths) {
  unsigned counts[MAX_CODE_LENGTH + 1] = {};
  for (int i = 0; i < count; ++i) {
    if (lengths[i] > MAX_CODE_LENGTH) fail_bad_table();
    ++counts[lengths[i]];
  }
  unsigned start[MAX_CODE_LENGTH + 2], weight[MAX_CODE_LENGTH + 1];
  start[1] = 0;
  for (int i = 1; i <= MAX_CODE_LENGTH; ++i) start[i + 1] = start[i] + (counts[i] << (16 - i));
  if (start[MAX_CODE_LENGTH + 1] != 0x10000) {
    if (start[MAX_CODE_LENGTH + 1] != 0) fail_bad_table();
    // The lengths the entries were built from are gone: make the fast loop
    // look each symbol's length up again.
    for (int k = 0; k < 1 << table_bits; ++k) entry_lengths[k] = 0;
    return;
  }
  const int shift = 16 - table_bits;
  for (int i = 1; i <= table_bits; ++i) {
    start[i] >>= shift;
    weight[i] = 1u << (table_bits - i);
  }
  for (int i = table_bits + 1; i <= MAX_CODE_LENGTH; ++i) weight[i] = 1u << (16 - i);

  const unsigned table_size = 1u << table_bits;
  for (unsigned k = start[table_bits + 1] >> shift; k != 0 && k < table_size; ++k) table[k] = entry_lengths[k] = 0;

  unsigned next_node = (unsigned)count;
  const unsigned mask = 1u << (15 - table_bits);
  for (int ch = 0; ch < count; ++ch) {
    int len = lengths[ch];
    if (len == 0) continue;
    unsigned code = start[len], end = code + weight[len];
    if (len <= table_bits) {
      for (unsigned k = code; k < end; ++k) table[k] = (WORD)ch, entry_lengths[k] = (BYTE)len;
    } else {
      WORD *slot = &table[code >> shift];
      for (int step = len - table_bits; step > 0; --step) {
        if (*slot == 0) {
          // A complete code of N symbols makes fewer than N nodes.
          ctx->left_child[next_node] = ctx->right_child[next_node] = 0;
          *slot = (WORD)next_node++;
        }
        slot = (code & mask) ? &ctx->right_child[*slot] : &ctx->left_child[*slot];
        code <<= 1;
      }
      *slot = (WORD)ch;
    }
    start[len] = end;
  }
}
