// Build-time helper for the stubs.
//   buildtool relayout STUB.exe   re-lays a linked image into the self-extractor
//                                 layout (DOS header, header block area at 512,
//                                 DOS program at 1120, PE header at 1232)
//   buildtool icon OUT.ico        writes the stub's icon (32x32 and 16x16, 16 colours)
#include <algorithm>
#include <cstdint>
#include <cstdio>
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
  fprintf(stderr, "usage: buildtool relayout STUB.exe | icon OUT.ico\n");
  return 2;
}
