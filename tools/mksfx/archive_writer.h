// Level-2 member headers and the self-extractor's header block, as the stub
// reads them.
#pragma once
#include "lzh_encoder.h"
#include <cstdint>
#include <string>
#include <vector>

uint16_t crc16(const uint8_t *data, size_t size, uint16_t crc = 0);

struct Member {
  std::string path;          // in the archive's code page, '/' separated; a directory ends in '/'
  bool directory = false;
  uint32_t time = 0;         // header time stamp: seconds since 1970
  uint64_t file_times[3] = {};  // FILETIME creation, last write, last access
  uint16_t attribute = 0x20;
  uint8_t os = 'W';          // operating-system identifier
};

// The FILETIME of a header time stamp.
constexpr uint64_t file_time_of(uint32_t seconds) { return 116444736000000000ull + seconds * 10000000ull; }

constexpr size_t MAX_MEMBER_PATH = 259;  // the stub keeps 260 bytes with the terminator

// The header of one member whose data, `size` bytes, follows it.
std::vector<uint8_t> member_header(const Member &member, const char *method, uint64_t size, uint32_t original_size,
                                   uint16_t file_crc);
// Header and data of one member. `method` is the 5-byte identifier.
std::vector<uint8_t> member_bytes(const Member &member, const char *method, const uint8_t *data, size_t size,
                                  uint32_t original_size, uint16_t file_crc);
inline std::vector<uint8_t> member_bytes(const Member &member, const char *method, const std::vector<uint8_t> &data,
                                         uint32_t original_size, uint16_t file_crc) {
  return member_bytes(member, method, data.data(), data.size(), original_size, file_crc);
}

// Compresses with `method_letter` ('0', '5', '6', '7'), falling back to
// stored data when that is not smaller.
std::vector<uint8_t> pack_member(const Member &member, const uint8_t *data, size_t size,
                                 char method_letter, uint16_t *file_crc, const Effort &effort = DEFAULT_EFFORT);

struct HeaderBlockFields {
  uint32_t archive_offset = 0;
  std::string title, dir_caption, default_dir, run_command;
  uint8_t flags = 0;
  uint8_t restore_attributes = 0;
};

constexpr uint8_t BLOCK_AUTO_START = 0x01, BLOCK_OVERWRITE_ALL = 0x02, BLOCK_INTEGRITY_SUM = 0x04,
                  BLOCK_KEEP_NEWER_OFF = 0x08;

// The 603 bytes written at file offset 512; false when a text is too long.
bool header_block_bytes(const HeaderBlockFields &fields, std::vector<uint8_t> *out, std::string *error);
