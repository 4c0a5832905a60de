#include "archive_writer.h"
#include <array>
#include <cstring>
#include "lzh_encoder.h"

namespace {
// Made by the compiler: a table filled on first use raced between the
// packing threads, and a thread that found it half filled wrote wrong CRCs.
constexpr std::array<uint16_t, 256> CRC16_TABLE = [] {
  std::array<uint16_t, 256> table{};
  for (unsigned i = 0; i < 256; ++i) {
    uint16_t r = (uint16_t)i;
    for (int k = 0; k < 8; ++k) r = (r & 1) ? (uint16_t)((r >> 1) ^ 0xA001) : (uint16_t)(r >> 1);
    table[i] = r;
  }
  return table;
}();
}  // namespace

uint16_t crc16(const uint8_t *data, size_t size, uint16_t crc) {
  for (size_t i = 0; i < size; ++i) crc = CRC16_TABLE[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
  return crc;
}

namespace {
void put(std::vector<uint8_t> &out, uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back((uint8_t)(v >> (8 * i)));
}
void put_extension(std::vector<uint8_t> &out, uint8_t type, const std::vector<uint8_t> &data) {
  size_t size_at = out.size() - 2;  // the size field that precedes this extended header
  size_t size = 3 + data.size();
  out[size_at] = (uint8_t)size, out[size_at + 1] = (uint8_t)(size >> 8);
  out.push_back(type);
  out.insert(out.end(), data.begin(), data.end());
  put(out, 0, 2);  // the next size, 0 until another extended header follows
}
}  // namespace

std::vector<uint8_t> member_header(const Member &m, const char *method, uint64_t size, uint32_t original_size,
                                   uint16_t file_crc) {
  std::vector<uint8_t> h;
  put(h, 0, 2);
  h.insert(h.end(), method, method + 5);
  put(h, size, 4);
  put(h, original_size, 4);
  put(h, m.time, 4);
  h.push_back((uint8_t)m.attribute);
  h.push_back(2);  // header level
  put(h, file_crc, 2);
  h.push_back(m.os);
  put(h, 0, 2);
  put_extension(h, 0x00, {0, 0});
  size_t crc_at = h.size() - 4;
  std::string dir, name = m.path;
  size_t slash = m.path.rfind('/');
  if (slash != std::string::npos) dir = m.path.substr(0, slash + 1), name = m.path.substr(slash + 1);
  put_extension(h, 0x01, std::vector<uint8_t>(name.begin(), name.end()));
  if (!dir.empty()) {
    std::vector<uint8_t> d(dir.begin(), dir.end());
    for (uint8_t &c : d)
      if (c == '/') c = 0xFF;
    put_extension(h, 0x02, d);
  }
  // A reader takes the attribute and all three times from the fixed fields
  // unless these headers say otherwise: write them only when they do (32
  // bytes a member; mksfx's own members never need them).
  if (m.attribute > 0xFF) put_extension(h, 0x40, {(uint8_t)m.attribute, (uint8_t)(m.attribute >> 8)});
  const uint64_t stamp = file_time_of(m.time);
  if (m.file_times[0] != stamp || m.file_times[1] != stamp || m.file_times[2] != stamp) {
    std::vector<uint8_t> times;
    for (uint64_t t : m.file_times) put(times, t, 8);
    put_extension(h, 0x41, times);
  }
  // A total whose low byte is 0 would read as the end of an archive to
  // readers that look at one byte: such headers get one byte of padding.
  if ((h.size() & 0xFF) == 0) h.push_back(0);
  h[0] = (uint8_t)h.size(), h[1] = (uint8_t)(h.size() >> 8);
  uint16_t crc = crc16(h.data(), h.size());
  h[crc_at] = (uint8_t)crc, h[crc_at + 1] = (uint8_t)(crc >> 8);
  return h;
}

std::vector<uint8_t> member_bytes(const Member &m, const char *method, const uint8_t *data, size_t size,
                                  uint32_t original_size, uint16_t file_crc) {
  std::vector<uint8_t> h = member_header(m, method, size, original_size, file_crc);
  h.insert(h.end(), data, data + size);
  return h;
}

std::vector<uint8_t> pack_member(const Member &m, const uint8_t *data, size_t size, char letter,
                                 uint16_t *file_crc, const Effort &effort) {
  if (m.directory) {
    *file_crc = 0;
    return member_bytes(m, "-lhd-", nullptr, 0, 0, 0);
  }
  *file_crc = crc16(data, size);
  const MethodParams *params = method_params(letter);
  if (params) {
    std::vector<uint8_t> packed = lzh_encode(data, size, *params, effort);
    if (packed.size() < size) {
      char method[] = "-lh?-";
      method[3] = letter;
      return member_bytes(m, method, packed.data(), packed.size(), (uint32_t)size, *file_crc);
    }
  }
  return member_bytes(m, "-lh0-", data, size, (uint32_t)size, *file_crc);
}

bool header_block_bytes(const HeaderBlockFields &f, std::vector<uint8_t> *out, std::string *error) {
  out->assign(603, 0);
  struct Text {
    const std::string &text;
    size_t offset, field;
    const char *name;
  } texts[] = {
      {f.title, 4, 41, "title"},
      {f.dir_caption, 45, 41, "directory caption"},
      {f.default_dir, 86, 256, "default directory"},
      {f.run_command, 342, 259, "run command"},
  };
  for (const Text &t : texts) {
    if (t.text.size() >= t.field) {
      *error = std::string("the ") + t.name + " is longer than " + std::to_string(t.field - 1) + " bytes";
      return false;
    }
    memcpy(out->data() + t.offset, t.text.data(), t.text.size());
  }
  for (int i = 0; i < 4; ++i) (*out)[(size_t)i] = (uint8_t)(f.archive_offset >> (8 * i));
  (*out)[601] = f.flags;
  (*out)[602] = f.restore_attributes;
  return true;
}
