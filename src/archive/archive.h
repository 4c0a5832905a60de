// Archive reading: the level-2 member header and the member loop that runs
// the scan pass and the extract pass.
#pragma once
#include "startup/context.h"

enum PassMode { PASS_EXTRACT = 0, PASS_SCAN = 1 };
enum HeaderResult { HEADER_END, HEADER_READY, HEADER_FAILED };

// Offsets in a level-2 member header.
enum : unsigned {
  HDR_SIZE = 0,
  HDR_METHOD = 2,  // "-lh?-", the letter at 5
  HDR_METHOD_LETTER = 5,
  HDR_COMPRESSED = 7,
  HDR_UNCOMPRESSED = 11,
  HDR_TIME = 15,
  HDR_ATTRIBUTE = 19,
  HDR_LEVEL = 20,
  HDR_FILE_CRC = 21,
  HDR_OS = 23,
  HDR_FIRST_EXTENSION = 24,
  HDR_MIN_SIZE = 26,  // the fixed part and the first extended-header size
};

enum : BYTE {
  EXT_HEADER_CRC = 0x00,
  EXT_FILE_NAME = 0x01,
  EXT_DIRECTORY = 0x02,
  EXT_ATTRIBUTE = 0x40,
  EXT_TIMES = 0x41,
  EXT_LARGE_SIZES = 0x42,  // 64-bit compressed and uncompressed sizes
};

HeaderResult read_member_header();
void release_member_header();
bool run_pass(HWND window, int mode);
bool seek_archive(DWORD position);  // in archive_file, anywhere below 4 GiB
bool find_member_end(DWORD *end);   // behind the current header's data, inside archive_size
void split_run_command(char *command, char **program, char **parameters);

extern WORD integrity_sum;
