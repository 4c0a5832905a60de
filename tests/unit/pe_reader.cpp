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

std::vector<std::string> PeImage::imported_dlls() const {
  std::vector<std::string> names;
  size_t at = rva_to_offset(directory_rva(1));
  for (; at && u32(at + 12); at += 20) {
    size_t name = rva_to_offset(u32(at + 12));
    std::string n;
    while (name && bytes[name]) n += (char)bytes[name++];
    names.push_back(n);
  }
  return names;
}

namespace {
std::string entry_name(const PeImage &pe, size_t root, uint32_t id) {
  if (!(id & 0x80000000u)) return "#" + std::to_string(id);
  size_t at = root + (id & 0x7FFFFFFFu);
  std::string name;
  for (uint16_t i = 0, n = pe.u16(at); i < n; ++i) name += (char)pe.u16(at + 2 + 2u * i);
  return name;
}
}  // namespace

bool PeImage::resource(uint16_t type, const std::string &name, uint16_t *language,
                       std::vector<uint8_t> *data) const {
  size_t root = rva_to_offset(directory_rva(2));
  if (!root) return false;
  auto entries = [&](size_t dir) {
    std::vector<std::pair<uint32_t, uint32_t>> list;
    unsigned n = u16(dir + 12) + u16(dir + 14);
    for (unsigned i = 0; i < n; ++i) list.push_back({u32(dir + 16 + 8 * i), u32(dir + 20 + 8 * i)});
    return list;
  };
  for (auto [type_id, type_off] : entries(root)) {
    if (type_id != type) continue;
    for (auto [name_id, name_off] : entries(root + (type_off & 0x7FFFFFFFu))) {
      if (entry_name(*this, root, name_id) != name) continue;
      for (auto [lang, leaf] : entries(root + (name_off & 0x7FFFFFFFu))) {
        *language = (uint16_t)lang;
        size_t entry = root + leaf;
        size_t at = rva_to_offset(u32(entry));
        data->assign(bytes.begin() + (long)at, bytes.begin() + (long)(at + u32(entry + 4)));
        return true;
      }
    }
  }
  return false;
}
