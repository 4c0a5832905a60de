// Most LZH archives have level-0 or level-1 headers, which the stub does not
// read; their members keep their data and get level-2 headers. An old
// self-extractor gives its archive and its settings, not its stub.
#include "wrap.h"
#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <functional>
#include "inspect.h"
#include "host.h"
#include "paths/paths.h"
#include "runner.h"
#include "stub_layout.h"
#include "windows_names.h"

namespace {

uint32_t u16(const uint8_t *p) { return p[0] | p[1] << 8; }
uint32_t u32(const uint8_t *p) { return u16(p) | u16(p + 2) << 16; }

bool read_all(const std::string &path, std::vector<uint8_t> *data, std::string *error) {
  FILE *f = host_fopen(path, "rb");
  if (!f) {
    *error = path + ": " + strerror(errno);
    return false;
  }
  uint8_t buffer[1 << 16];
  for (size_t n; (n = fread(buffer, 1, sizeof buffer, f)) > 0;) data->insert(data->end(), buffer, buffer + n);
  bool ok = !ferror(f);
  fclose(f);
  if (!ok) *error = path + ": read error";
  return ok;
}

std::string text_field(const uint8_t *block, size_t at, size_t size) {
  const char *p = (const char *)block + at;
  return std::string(p, strnlen(p, size - 1));
}

// Level-0 and level-1 times are MS-DOS date and time, local to the machine
// that packed them, as LHa reads them.
uint32_t seconds_of_dos_time(uint32_t stamp) {
  struct tm t = {};
  t.tm_sec = (int)(stamp & 31) * 2, t.tm_min = (int)(stamp >> 5 & 63), t.tm_hour = (int)(stamp >> 11 & 31);
  t.tm_mday = (int)(stamp >> 16 & 31), t.tm_mon = (int)(stamp >> 21 & 15) - 1, t.tm_year = (int)(stamp >> 25) + 80;
  t.tm_isdst = -1;
  time_t s = mktime(&t);
  return s < 0 ? 0 : (uint32_t)s;
}

bool extractable_method(const uint8_t *m) {
  return memcmp(m, "-lh", 3) == 0 && m[4] == '-' && strchr("04567d", m[3]) && m[3];
}

struct OldHeader {
  Member member;
  uint32_t packed = 0, original = 0, data_at = 0;
  uint16_t crc = 0;
};

// One level-0 or level-1 header at `at`; "" or why it cannot be converted.
std::string read_old_header(const std::vector<uint8_t> &a, size_t at, unsigned codepage, OldHeader *out) {
  const uint8_t *h = a.data() + at;
  size_t left = a.size() - at;
  if (left < 24) return "header cut short";
  size_t size = (size_t)h[0] + 2, level = h[20];
  size_t n = h[21];
  if (size < 24 + n || size > left) return "header cut short";
  std::string name((const char *)h + 22, n), dir;
  uint8_t sum = 0;
  for (size_t i = 2; i < size; ++i) sum = (uint8_t)(sum + h[i]);
  if (sum != h[1]) return "header checksum wrong";
  Member &m = out->member;
  m.time = seconds_of_dos_time(u32(h + 15));
  m.attribute = h[19];
  m.os = 'M';  // level 0 is MS-DOS LHarc's, unless its extended area says otherwise
  out->crc = (uint16_t)u16(h + 22 + n);
  out->original = u32(h + 11);
  out->packed = u32(h + 7);
  size_t extended = 24 + n;
  if (level == 0 && size > extended) {
    m.os = h[extended];
    if (m.os == 'U' && size >= extended + 6) m.time = u32(h + extended + 2);
  }
  size_t pos = size;
  if (level == 1) {
    if (size < extended + 3) return "header cut short";
    m.os = h[extended];
    for (size_t next = u16(h + size - 2); next; ) {
      if (next < 3 || next > left - pos || next > out->packed) return "extended header cut short";
      const uint8_t *e = h + pos;
      std::string data((const char *)e + 1, next - 3);
      if (e[0] == 0x01) name = data;
      if (e[0] == 0x02) dir = data;
      if (e[0] == 0x40 && data.size() >= 2) m.attribute = (uint16_t)u16(e + 1);
      if (e[0] == 0x54 && data.size() >= 4) m.time = u32(e + 1);
      out->packed -= (uint32_t)next;
      pos += next;
      next = u16(e + next - 2);
    }
  }
  if (!extractable_method(h + 2))
    return "method " + std::string((const char *)h + 2, 5) + ", which the stub cannot extract";
  for (char &c : dir)
    if (c == '\xFF') c = '/';
  if (!dir.empty() && dir.back() != '/') dir += '/';
  for (char &c : name)
    if (c == '\xFF') c = '/';
  std::vector<char> path(dir.begin(), dir.end());
  path.insert(path.end(), name.begin(), name.end());
  path.push_back(0);
  runner::use_code_page(codepage);
  convert_separators(path.data(), '/');  // level-0 paths are written with '\\'
  m.path = path.data();
  m.directory = h[5] == 'd';
  if (m.directory && (m.path.empty() || m.path.back() != '/')) m.path += '/';
  for (uint64_t &t : m.file_times) t = file_time_of(m.time);
  out->data_at = (uint32_t)(at + pos);
  if (out->packed > a.size() - out->data_at) return "data cut short";
  return "";
}

std::string member_label(const std::vector<uint8_t> &a, size_t at, int number, unsigned codepage) {
  if (a.size() - at >= 22 && a[at + 20] < 2 && a.size() - at >= 22u + a[at + 21])
    return name_to_utf8(std::string((const char *)&a[at + 22], a[at + 21]), codepage);
  return "member " + std::to_string(number);
}

}  // namespace

bool take_archive(const std::string &path, unsigned codepage, TakenArchive *out, std::string *error) {
  std::vector<uint8_t> file;
  if (!read_all(path, &file, error)) return false;
  size_t start = 0;
  if (file.size() >= 2 && file[0] == 'M' && file[1] == 'Z') {
    if (file.size() < HEADER_BLOCK_FILE_OFFSET + HEADER_BLOCK_BYTES) {
      *error = path + ": too short for a self-extractor";
      return false;
    }
    const uint8_t *b = file.data() + HEADER_BLOCK_FILE_OFFSET;
    start = u32(b) + ((b[601] & BLOCK_INTEGRITY_SUM) ? 2 : 0);
    if (u32(b) == 0 || start > file.size()) {
      *error = path + ": no archive in this self-extractor";
      return false;
    }
    out->self_extractor = true;
    out->block = {0, text_field(b, 4, 41), text_field(b, 45, 41), text_field(b, 86, 256), text_field(b, 342, 259),
                  b[601], b[602]};
    out->codepage = marked_code_page(file.data());
    if (out->codepage) codepage = out->codepage;
  }
  std::vector<uint8_t> archive(file.begin() + (long)start, file.end()), converted;
  bool changed = false;
  int number = 0;
  for (size_t at = 0; at < archive.size() && archive[at] != 0;) {
    ++number;
    size_t left = archive.size() - at;
    unsigned level = left > 20 ? archive[at + 20] : 2;
    if (level == 2) {  // the stub's own check reads it later
      size_t end = left >= 11 ? at + u16(&archive[at]) + (size_t)u32(&archive[at + 7]) : archive.size();
      end = std::min(end, archive.size());
      converted.insert(converted.end(), archive.begin() + (long)at, archive.begin() + (long)end);
      at = end;
      continue;
    }
    std::string why = level > 2 ? "not a header level mksfx reads" : "";
    OldHeader old;
    if (why.empty()) why = read_old_header(archive, at, codepage, &old);
    if (!why.empty()) {
      *error = member_label(archive, at, number, codepage) + ": " + why + " (header level " + std::to_string(level) + ")";
      return false;
    }
    std::vector<uint8_t> bytes =
        member_bytes(old.member, (const char *)&archive[at + 2], archive.data() + old.data_at, old.packed, old.original, old.crc);
    converted.insert(converted.end(), bytes.begin(), bytes.end());
    at = old.data_at + old.packed;
    changed = true;
  }
  converted.push_back(0);
  out->archive = changed ? converted : archive;
  return true;
}

unsigned wrapped_code_page(const std::string &path) {
  uint8_t head[BUILDER_ID_OFFSET + BUILDER_ID_SIZE] = {};
  FILE *f = path.empty() ? nullptr : host_fopen(path, "rb");
  if (f) fread(head, 1, sizeof head, f), fclose(f);
  unsigned marked = head[0] == 'M' && head[1] == 'Z' ? marked_code_page(head) : 0;
  return marked ? marked : 1252;
}

bool wrap_archive(const std::string &path, unsigned codepage, TakenArchive *out, uint16_t *sum, std::string *error) {
  if (!take_archive(path, codepage, out, error)) return false;
  // The stub's own code reads a file: the archive as it will be goes through it.
  std::error_code ec;
  std::filesystem::path temp = std::filesystem::temp_directory_path(ec) /
                               ("mksfx-check-" + std::to_string(std::hash<std::string>()(path) ^ (size_t)time(nullptr)));
  FILE *f = host_fopen(temp.u8string(), "wb");
  bool written = f && fwrite(out->archive.data(), 1, out->archive.size(), f) == out->archive.size();
  if (f) written &= fclose(f) == 0;
  if (!written) {
    *error = temp.u8string() + ": " + strerror(errno);
    std::filesystem::remove(temp, ec);
    return false;
  }
  std::string problem;
  bool ok = check_for_wrapping(temp.u8string().c_str(), sum, &problem) == 0;
  std::filesystem::remove(temp, ec);
  if (!ok) *error = problem.empty() ? "not an archive the stub can extract" : problem;
  return ok;
}

HeaderBlockFields kept_settings(const HeaderBlockFields &given, const TakenArchive &taken) {
  if (!taken.self_extractor) return given;
  HeaderBlockFields kept = taken.block;
  for (auto field : {&HeaderBlockFields::title, &HeaderBlockFields::dir_caption, &HeaderBlockFields::default_dir,
                     &HeaderBlockFields::run_command})
    if (!(given.*field).empty()) kept.*field = given.*field;
  kept.flags |= given.flags;
  if (given.restore_attributes) kept.restore_attributes = given.restore_attributes;
  return kept;
}
