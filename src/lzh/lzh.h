// Decompression: buffered input and bit reader, decode-table builder, block
// decoder and stored copy, CRC-16 with the output sink and progress.
#pragma once
#include "startup/context.h"

constexpr WORD CRC16_POLY = 0xA001;  // CRC-16/ARC, bit-reversed 0x8005
constexpr int MAX_CODE_LENGTH = 16;

void build_crc_table(WORD poly);
WORD crc_update(const BYTE *bytes, LONG count);
void write_output(const BYTE *bytes, DWORD count, HANDLE file);
void flush_window(DWORD count);
void show_progress(DWORD done, DWORD total);
DWORD progress_percent(DWORD done, DWORD total);

int read_input_byte(HFILE file, DWORD wanted);
void fill_bits(BYTE n);
WORD get_bits(BYTE n);
int report_read_error();

void build_decode_table(int count, const BYTE *lengths, int table_bits, WORD *table, BYTE *entry_lengths);
[[noreturn]] void fail_bad_table();

void start_decoder(char method);
void read_small_lengths(int count, int count_bits, int zero_run_index);
void read_symbol_lengths();
unsigned decode_symbol();
unsigned decode_position();
void decode_member();
void copy_stored(LONG size);
