// Build-time helper for the stubs.
//   buildtool relayout STUB.exe   re-lays a linked image into the self-extractor
//                                 layout (DOS header, header block area at 512,
//                                 DOS program at 1120, PE header at 1232)
//   buildtool rebase IN OUT BASE  writes a copy moved to image base BASE by its
//                                 own relocation table, as a loader that cannot
//                                 use the preferred base (Win32s) moves it
//   buildtool icon OUT.ico        writes the stub's icon (32x32 and 16x16, 16 colours)
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>
#include "stub_layout.h"

using Bytes = std::vector<uint8_t>;

static bool read_file(const char *path, Bytes *out) {
  FILE *f = fopen(path, "rb");
  if (!f) return false;
  uint8_t buffer[65536];
  size_t n;
  while ((n = fread(buffer, 1, sizeof(buffer), f)) > 0) out->insert(out->end(), buffer, buffer + n);
  fclose(f);
  return true;
}

static bool write_file(const char *path, const Bytes &data) {
  FILE *f = fopen(path, "wb");
  if (!f) return false;
  bool ok = fwrite(data.data(), 1, data.size(), f) == data.size();
  return fclose(f) == 0 && ok;
}

static uint32_t get32(const Bytes &b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | (uint32_t)b[at + 3] << 24;
}
static uint16_t get16(const Bytes &b, size_t at) { return (uint16_t)(b[at] | b[at + 1] << 8); }
static void put32(Bytes &b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = (uint8_t)(v >> (8 * i));
}

static int fail(const char *what) {
  fprintf(stderr, "buildtool: %s\n", what);
  return 1;
}

// Moves the PE headers to PE_HEADER_OFFSET and every section's raw data by
// the same amount; each field that holds a file offset moves with it.
static int relayout(const char *path) {
  Bytes in;
  if (!read_file(path, &in) || in.size() < 64 || in[0] != 'M' || in[1] != 'Z') return fail("not an image");
  uint32_t pe = get32(in, 60);
  if (pe + 24 > in.size() || memcmp(&in[pe], "PE\0\0", 4) != 0) return fail("no PE header");
  if (pe == PE_HEADER_OFFSET) return fail("already re-laid");
  size_t coff = pe + 4, opt = coff + 20;
  uint16_t sections = get16(in, coff + 2), opt_size = get16(in, coff + 16);
  uint16_t magic = get16(in, opt);
  if (magic != 0x10B && magic != 0x20B) return fail("unknown optional header");
  uint32_t file_align = get32(in, opt + 36), old_headers = get32(in, opt + 60);
  size_t table = opt + opt_size, table_end = table + 40u * sections;
  size_t new_end = PE_HEADER_OFFSET + (table_end - pe);
  uint32_t new_headers = (uint32_t)((new_end + file_align - 1) / file_align * file_align);
  uint32_t delta = new_headers - old_headers;
  if (new_headers < old_headers) return fail("headers shrink");
  uint32_t first_rva = 0xFFFFFFFF;
  for (uint16_t i = 0; i < sections; ++i) first_rva = std::min(first_rva, get32(in, table + 40u * i + 12));
  if (new_headers > first_rva) return fail("headers would overlap the first section");

  Bytes out(new_headers, 0);
  write_dos_area(out.data());
  memcpy(&out[PE_HEADER_OFFSET], &in[pe], table_end - pe);
  out.insert(out.end(), in.begin() + old_headers, in.end());

  size_t n_opt = PE_HEADER_OFFSET + 24, n_table = n_opt + opt_size;
  put32(out, n_opt + 60, new_headers);
  put32(out, n_opt + 64, 0);  // checksum: the builder changes the file anyway
  size_t n_coff = PE_HEADER_OFFSET + 4;
  if (get32(out, n_coff + 8)) put32(out, n_coff + 8, get32(out, n_coff + 8) + delta);
  for (uint16_t i = 0; i < sections; ++i) {
    size_t s = n_table + 40u * i;
    for (size_t field : {s + 20, s + 24, s + 28})  // raw data, relocations, line numbers
      if (get32(out, field)) put32(out, field, get32(out, field) + delta);
  }
  // The debug directory's entries hold file offsets of their data.
  size_t dirs = n_opt + (magic == 0x10B ? 96 : 112);
  uint32_t debug_rva = get32(out, dirs + 6 * 8), debug_size = get32(out, dirs + 6 * 8 + 4);
  for (uint16_t i = 0; debug_rva && i < sections; ++i) {
    size_t s = n_table + 40u * i;
    uint32_t va = get32(out, s + 12), raw_size = get32(out, s + 16), raw = get32(out, s + 20);
    if (debug_rva >= va && debug_rva < va + raw_size)
      for (uint32_t e = 0; e + 28 <= debug_size; e += 28) {
        size_t entry = raw + (debug_rva - va) + e;
        if (get32(out, entry + 24)) put32(out, entry + 24, get32(out, entry + 24) + delta);
      }
  }
  return write_file(path, out) ? 0 : fail("cannot write");
}

static size_t rva_to_offset(const Bytes &b, size_t table, uint16_t sections, uint32_t rva) {
  for (uint16_t i = 0; i < sections; ++i) {
    size_t s = table + 40u * i;
    uint32_t va = get32(b, s + 12), raw_size = get32(b, s + 16), raw = get32(b, s + 20);
    if (rva >= va && rva - va < raw_size && raw + raw_size <= b.size()) return raw + (rva - va);
  }
  return 0;
}

// Adds the distance between the bases to every location the relocation
// table lists (32-bit HIGHLOW, 64-bit DIR64) and sets the new base.
static int rebase(const char *in_path, const char *out_path, const char *base_text) {
  Bytes b;
  if (!read_file(in_path, &b) || b.size() < 64 || b[0] != 'M' || b[1] != 'Z') return fail("not an image");
  uint32_t pe = get32(b, 60);
  if (pe + 24 > b.size() || memcmp(&b[pe], "PE\0\0", 4) != 0) return fail("no PE header");
  size_t opt = pe + 24, table = opt + get16(b, pe + 20);
  uint16_t sections = get16(b, pe + 6), magic = get16(b, opt);
  if (magic != 0x10B && magic != 0x20B) return fail("unknown optional header");
  bool pe32 = magic == 0x10B;
  uint64_t old_base = pe32 ? get32(b, opt + 28) : get32(b, opt + 24) | (uint64_t)get32(b, opt + 28) << 32;
  uint64_t new_base = strtoull(base_text, nullptr, 0), delta = new_base - old_base;
  size_t dirs = opt + (pe32 ? 96 : 112);
  uint32_t reloc_rva = get32(b, dirs + 5 * 8), reloc_size = get32(b, dirs + 5 * 8 + 4);
  size_t at = rva_to_offset(b, table, sections, reloc_rva);
  if (!at || at + reloc_size > b.size()) return fail("no relocation table");
  for (size_t end = at + reloc_size; at + 8 <= end;) {
    uint32_t page = get32(b, at), block = get32(b, at + 4);
    if (block < 8 || at + block > end) return fail("bad relocation block");
    for (size_t e = at + 8; e + 2 <= at + block; e += 2) {
      uint16_t entry = get16(b, e);
      unsigned type = entry >> 12;
      if (type == 0) continue;  // padding
      size_t where = rva_to_offset(b, table, sections, page + (entry & 0xFFF));
      if (type == 3 && where && where + 4 <= b.size()) {
        put32(b, where, get32(b, where) + (uint32_t)delta);
      } else if (type == 10 && where && where + 8 <= b.size()) {
        uint64_t v = (get32(b, where) | (uint64_t)get32(b, where + 4) << 32) + delta;
        put32(b, where, (uint32_t)v), put32(b, where + 4, (uint32_t)(v >> 32));
      } else {
        return fail("unsupported relocation");
      }
    }
    at += block;
  }
  if (pe32) {
    put32(b, opt + 28, (uint32_t)new_base);
  } else {
    put32(b, opt + 24, (uint32_t)new_base), put32(b, opt + 28, (uint32_t)(new_base >> 32));
  }
  return write_file(out_path, b) ? 0 : fail("cannot write");
}

// A 16-colour icon: an archive box with an arrow pointing down into it.
static const uint32_t PALETTE[16] = {
    0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080, 0x008080, 0xC0C0C0,
    0x808080, 0xFF0000, 0x00FF00, 0xFFFF00, 0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF,
};  // 0xRRGGBB, the standard VGA colours

static int pixel(int x, int y, int size) {  // y from the top; -1: transparent
  int s = size;
  int box_top = s * 9 / 16, box_left = s / 8, box_right = s - s / 8 - 1, bottom = s - 2;
  if (y >= box_top && y <= bottom && x >= box_left && x <= box_right) {
    bool edge = y == box_top || y == bottom || x == box_left || x == box_right;
    if (edge) return 0;
    return y == box_top + s / 8 ? 3 : 11;  // a band across the lid
  }
  int mid = s / 2, shaft = s / 16 + 1;
  if (y >= 1 && y < box_top - s / 8 && x >= mid - shaft && x < mid + shaft) return 12;
  int head_top = box_top - s / 8, depth = y - head_top;
  if (depth >= 0 && depth < s / 4 && x >= mid - (s / 4 - depth) && x < mid + (s / 4 - depth)) return 12;
  return -1;
}

static void append_image(Bytes &out, int size) {
  auto put = [&](uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back((uint8_t)(v >> (8 * i)));
  };
  put(40, 4), put((uint32_t)size, 4), put((uint32_t)size * 2, 4), put(1, 2), put(4, 2);
  put(0, 4), put(0, 4), put(0, 4), put(0, 4), put(16, 4), put(0, 4);
  for (uint32_t c : PALETTE) put(c & 0xFF, 1), put(c >> 8 & 0xFF, 1), put(c >> 16, 1), put(0, 1);
  int xor_row = (size / 2 + 3) / 4 * 4, and_row = (size / 8 + 3) / 4 * 4;
  for (int y = size - 1; y >= 0; --y) {  // bottom-up rows
    Bytes row((size_t)xor_row, 0);
    for (int x = 0; x < size; ++x) {
      int p = pixel(x, y, size);
      row[(size_t)x / 2] |= (uint8_t)((p < 0 ? 0 : p) << (x % 2 ? 0 : 4));
    }
    out.insert(out.end(), row.begin(), row.end());
  }
  for (int y = size - 1; y >= 0; --y) {
    Bytes row((size_t)and_row, 0);
    for (int x = 0; x < size; ++x)
      if (pixel(x, y, size) < 0) row[(size_t)x / 8] |= (uint8_t)(0x80 >> (x % 8));
    out.insert(out.end(), row.begin(), row.end());
  }
}

static int icon(const char *path) {
  Bytes images[2];
  append_image(images[0], 32);
  append_image(images[1], 16);
  Bytes out = {0, 0, 1, 0, 2, 0};
  uint32_t offset = 6 + 2 * 16;
  int sizes[2] = {32, 16};
  for (int i = 0; i < 2; ++i) {
    Bytes entry = {(uint8_t)sizes[i], (uint8_t)sizes[i], 16, 0, 1, 0, 4, 0};
    entry.resize(16);
    uint32_t length = (uint32_t)images[i].size();
    for (int k = 0; k < 4; ++k) entry[8 + k] = (uint8_t)(length >> (8 * k)), entry[12 + k] = (uint8_t)(offset >> (8 * k));
    out.insert(out.end(), entry.begin(), entry.end());
    offset += length;
  }
  for (auto &image : images) out.insert(out.end(), image.begin(), image.end());
  return write_file(path, out) ? 0 : fail("cannot write icon");
}

int main(int argc, char **argv) {
  if (argc == 3 && std::string(argv[1]) == "relayout") return relayout(argv[2]);
  if (argc == 3 && std::string(argv[1]) == "icon") return icon(argv[2]);
  if (argc == 5 && std::string(argv[1]) == "rebase") return rebase(argv[2], argv[3], argv[4]);
  fprintf(stderr, "usage: buildtool relayout STUB.exe | rebase IN OUT BASE | icon OUT.ico\n");
  return 2;
}
