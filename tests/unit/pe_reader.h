// Reads what the tests need out of a PE image: headers, sections and data
// directories. Independent of the build's own tools.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct PeImage {
  std::vector<uint8_t> bytes;
  uint32_t pe = 0, optional = 0, sections = 0;
  uint16_t section_count = 0, magic = 0;

  bool load(const std::vector<uint8_t> &file);
  uint16_t u16(size_t at) const { return (uint16_t)(bytes[at] | bytes[at + 1] << 8); }
  uint32_t u32(size_t at) const { return u16(at) | (uint32_t)u16(at + 2) << 16; }
  size_t rva_to_offset(uint32_t rva) const;  // 0 when outside every section
  uint32_t directory_rva(int index) const;
};
