#include "pe_reader.h"

bool PeImage::load(const std::vector<uint8_t> &file) {
  bytes = file;
  if (bytes.size() < 64 || bytes[0] != 'M' || bytes[1] != 'Z') return false;
  pe = u32(60);
  if (pe + 24 > bytes.size() || u32(pe) != 0x4550) return false;
  section_count = u16(pe + 6);
  optional = pe + 24;
  magic = u16(optional);
  sections = optional + u16(pe + 20);
  return true;
}

size_t PeImage::rva_to_offset(uint32_t rva) const {
  for (uint16_t i = 0; i < section_count; ++i) {
    size_t s = sections + 40u * i;
    uint32_t va = u32(s + 12), size = u32(s + 16), raw = u32(s + 20);
    if (rva >= va && rva < va + size) return raw + (rva - va);
  }
  return 0;
}

uint32_t PeImage::directory_rva(int index) const {
  size_t dirs = optional + (magic == 0x10B ? 96 : 112);
  return u32(dirs + 8u * (unsigned)index);
}
