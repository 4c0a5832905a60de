// The one working record of a run and the settings kept beside it. Every
// subsystem reaches the record through the global `ctx`; it is zero at birth
// and every part relies on that. Field sizes are the documented limits: the
// code uses sizeof on them as bounds.
#pragma once
#include "platform/platform.h"

constexpr unsigned INPUT_BUFFER_SIZE = 16384;
constexpr unsigned WINDOW_SIZE = 65536;
// A complete code of N symbols uses fewer than N tree nodes, numbered from N,
// so the 510-symbol literal/length code needs node numbers up to 1,018.
constexpr unsigned TREE_NODE_SLOTS = 1019;
constexpr unsigned LITERAL_LENGTH_SYMBOLS = 510;
constexpr unsigned CODE_LENGTH_SYMBOLS = 19;
constexpr unsigned SYMBOL_TABLE_BITS = 12;
constexpr unsigned SMALL_TABLE_BITS = 8;
constexpr unsigned HEADER_BLOCK_OFFSET = 512;

static const HANDLE NO_FILE = INVALID_HANDLE_VALUE;  // also routes output to memory
constexpr HFILE NO_ARCHIVE = HFILE_ERROR;            // the same -1 for _lopen handles

constexpr char DEFAULT_TITLE[] = "Tarvello V2.60.w32.0036";

// The configuration record that the builder writes at file offset 512.
struct SfxHeaderBlock {
  BYTE archive_offset[4];  // little-endian file offset of the archive
  char title[41];
  char dir_caption[41];
  char default_dir[256];
  char run_command[259];
  BYTE flags_byte;          // FLAG_* bits below
  BYTE restore_attributes;  // nonzero: on ('/' as written by the builder)
};
static_assert(sizeof(SfxHeaderBlock) == 603, "header block layout");

enum : BYTE {
  FLAG_AUTO_START = 0x01,
  FLAG_OVERWRITE_ALL = 0x02,
  FLAG_INTEGRITY_SUM = 0x04,
  FLAG_KEEP_NEWER_OFF = 0x08,
};

enum SinkMode : BYTE { SINK_NONE = 0, SINK_MESSAGE = 1, SINK_SCRIPT = 2 };

struct SfxContext {
  DWORD input_pos;          // next unread byte of input_buffer; >= INPUT_BUFFER_SIZE: empty
  DWORD window_size;        // WINDOW_SIZE for every decoded member
  DWORD uncompressed_size;  // of the member being decoded
  DWORD compressed_left;    // compressed bytes not yet fetched
  DWORD decoded_count;      // bytes of the member produced so far
  DWORD window_fill;        // bytes in window not yet flushed; index of the next output byte
  INT abort_flag;           // nonzero: the current pass has failed
  DWORD archive_size;       // length of the self-extractor file
  INT cancel_requested;     // Cancel pressed during the extract pass
  INT extracting;           // the extract pass has started
  INT group_action;         // create the Program Manager group and item
  INT class_action;         // register the file class
  INT group_initial_check;
  INT class_initial_check;
  HWND main_window;         // owner of message boxes; null in the scan pass
  HFILE archive_file;       // the self-extractor, open during a pass
  HANDLE output_file;       // file being written, or NO_FILE
  BYTE *header_crc_field;   // into the header buffer, or null
  BYTE *dir_name_field;
  BYTE *file_name_field;
  WORD crc_table[256];
  WORD crc_slices[7][256];  // crc_table of a byte followed by 1..7 zero bytes: eight bytes a step
  WORD stored_header_crc;
  WORD member_attribute;    // MS-DOS attributes
  WORD dir_name_length;
  WORD file_name_length;
  WORD running_crc;
  WORD block_left;          // symbols left in the current block
  WORD left_child[TREE_NODE_SLOTS];
  WORD right_child[TREE_NODE_SLOTS];
  WORD symbol_table[1u << SYMBOL_TABLE_BITS];
  WORD small_table[1u << SMALL_TABLE_BITS];
  // The code length of each table entry's symbol, or 0 for a tree node and
  // a single-symbol code: the fast loop reads it beside the entry instead of
  // after it.
  BYTE symbol_entry_len[1u << SYMBOL_TABLE_BITS];
  BYTE small_entry_len[1u << SMALL_TABLE_BITS];
  WORD pos_count;           // position-code symbols of the method
  WORD pos_bits;            // width of the count field of the position-code lengths
  WORD stored_integrity_sum;
  WORD bit_buffer;          // next 16 bits of the stream, the first in bit 15
  BYTE held_bits;           // fetched bits not yet in bit_buffer, left-aligned
  BYTE held_count;          // 0..8; 0..7 after every fill_bits
  BYTE sink_mode;           // SinkMode
  SfxHeaderBlock block;
  BYTE *header_buffer;      // the current member header, or null
  DWORD creation_time;      // EpochSeconds
  DWORD access_time;
  DWORD write_time;
  BYTE window[WINDOW_SIZE];
  char member_path[260];    // directory and name, '/' separated
  BYTE symbol_len[LITERAL_LENGTH_SYMBOLS];
  BYTE small_len[128];
  char module_path[260];
  char target_path[516];
  char install_dir[256];
  BYTE input_buffer[INPUT_BUFFER_SIZE];
  char text_scratch[1024];
  char script_text[4096];
  char program_path[260];
  char item_icon_path[260];
  char item_title[80];
  char shell_text[1024];
  char class_extension[80];
  char class_description[80];
  char class_key[80];
  char class_caption[80];
  char group_caption[80];
  char group_name[80];
  char window_title[80];
  char dir_caption[80];
};

// The window position mask and the flush threshold rely on this.
static_assert(sizeof(SfxContext::window) == WINDOW_SIZE && (WINDOW_SIZE & (WINDOW_SIZE - 1)) == 0,
              "window is a power of two");
static_assert(sizeof(SfxContext::left_child) / sizeof(WORD) == 2 * LITERAL_LENGTH_SYMBOLS - 1,
              "tree slots cover the largest node number of a complete 510-symbol code");

extern SfxContext *ctx;

// Settings beside the context.
extern INT win32s_host;
extern INT auto_start;
extern INT overwrite_all;
extern INT keep_newer;
extern INT keep_controls;
extern INT ask_class;
extern INT dir_from_command_line;
extern HINSTANCE instance_handle;
extern HWND dialog_window;

inline DWORD read_u32(const BYTE *p) {
  return (DWORD)p[0] | (DWORD)p[1] << 8 | (DWORD)p[2] << 16 | (DWORD)p[3] << 24;
}
inline WORD read_u16(const BYTE *p) { return (WORD)(p[0] | p[1] << 8); }
