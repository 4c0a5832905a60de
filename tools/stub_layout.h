// The fixed front of every self-extractor: an MS-DOS header declaring 32
// header paragraphs (so the DOS load image starts at 512, where the builder's
// header block lives), the DOS program at 1120, and the PE header at 1232.
#pragma once
#include <cstdint>
#include <cstring>

constexpr uint32_t PE_HEADER_OFFSET = 0x4D0;
constexpr uint32_t DOS_PROGRAM_OFFSET = 1120;
constexpr uint32_t DOS_PROGRAM_SIZE = 112;
constexpr uint32_t HEADER_BLOCK_FILE_OFFSET = 512;
constexpr uint32_t HEADER_BLOCK_BYTES = 603;
constexpr uint32_t BUILDER_ID_OFFSET = 36, BUILDER_ID_SIZE = 12;
static_assert(DOS_PROGRAM_OFFSET + DOS_PROGRAM_SIZE == PE_HEADER_OFFSET, "DOS program ends at the PE header");

// Entry CS:IP = 0026:0000 relative to the load image: 512 + 0x260 = 1120.
// push cs / pop ds / mov dx,000E / mov ah,09 / int 21 / mov ax,4C01 / int 21,
// then the '$'-terminated text at offset 0x0E.
static const uint8_t DOS_PROGRAM_CODE[] = {0x0E, 0x1F, 0xBA, 0x0E, 0x00, 0xB4, 0x09,
                                           0xCD, 0x21, 0xB8, 0x01, 0x4C, 0xCD, 0x21};
static const char DOS_MESSAGE[] = "This program can not be run in DOS mode.\r\r\n$";

inline void write_dos_area(uint8_t *file) {
  memset(file, 0, PE_HEADER_OFFSET);
  const uint32_t dos_bytes = PE_HEADER_OFFSET;  // the DOS file: header and image, up to the PE header
  auto put16 = [&](int at, uint16_t v) { file[at] = (uint8_t)v, file[at + 1] = (uint8_t)(v >> 8); };
  file[0] = 'M', file[1] = 'Z';
  put16(2, dos_bytes % 512);               // bytes on the last page
  put16(4, (dos_bytes + 511) / 512);       // pages
  put16(8, 32);                            // header paragraphs
  put16(10, 8);                            // minimum extra paragraphs: the stack
  put16(12, 0xFFFF);
  put16(14, (PE_HEADER_OFFSET - HEADER_BLOCK_FILE_OFFSET) / 16);  // SS: right after the image
  put16(16, 0x80);                         // SP
  put16(20, 0);                            // IP
  put16(22, (DOS_PROGRAM_OFFSET - HEADER_BLOCK_FILE_OFFSET) / 16);  // CS = 0x26
  put16(24, 0x40);                         // relocation table (empty)
  file[60] = (uint8_t)PE_HEADER_OFFSET, file[61] = (uint8_t)(PE_HEADER_OFFSET >> 8);
  memcpy(file + DOS_PROGRAM_OFFSET, DOS_PROGRAM_CODE, sizeof(DOS_PROGRAM_CODE));
  memcpy(file + DOS_PROGRAM_OFFSET + sizeof(DOS_PROGRAM_CODE), DOS_MESSAGE, sizeof(DOS_MESSAGE) - 1);
}
