// mksfx --list, --test and the check before --from-archive: read a
// self-extractor or a plain archive with the stub's own reading and decoding
// code.
#include "inspect.h"
#include <cstdio>
#include "progress.h"
#include <cerrno>
#include <cstring>
#include "host.h"
#include <ctime>
#include "archive/archive.h"
#include "lzh/lzh.h"
#include "paths/paths.h"
#include "runner.h"
#include "startup/startup.h"
#include "stub_layout.h"
#include "windows_names.h"

namespace {

const char *method_name(const BYTE *header) {
  static char name[6];
  memcpy(name, header + HDR_METHOD, 5);
  name[5] = 0;
  return name;
}

std::string utf8_path() { return name_to_utf8(ctx->member_path, archive_code_page); }

enum class Walk { list, test, wrap, count };
bool verbose;  // --list -v: ratio, time and attributes too
Progress *live;  // --test's progress line, kept off the member lines
uint64_t counted_bytes;  // Walk::count: the members' uncompressed sizes

bool climbs(const char *path) {
  for (const char *p = path; *p;) {
    const char *end = p;
    while (*end && *end != '/' && *end != '\\') ++end;
    if (end - p == 2 && p[0] == '.' && p[1] == '.') return true;
    p = *end ? end + 1 : end;
  }
  return false;
}

// Reads every member as the stub's scan pass does; with test and wrap also
// decodes each one and checks its CRC. Wrap stops at the first member the
// stub could not extract as it was meant, and says which and why.
int walk(Walk mode, std::string *problem) {
  int bad = 0, members = 0;
  for (;;) {
    HeaderResult r = read_member_header();
    if (r == HEADER_END) break;
    if (r == HEADER_FAILED && mode == Walk::wrap) {
      const std::string &text = runner::last_box_text();
      *problem = "member " + std::to_string(members + 1) + ": " + (text.empty() ? "unreadable" : text);
      return 1;
    }
    if (r == HEADER_FAILED) return 1;
    ++members;
    const BYTE *h = ctx->header_buffer;
    BYTE method = h[HDR_METHOD_LETTER];
    integrity_sum ^= read_u16(h + HDR_FILE_CRC);
    if (mode == Walk::wrap && h[HDR_LEVEL] != 2) {
      *problem = utf8_path() + ": header level " + std::to_string(h[HDR_LEVEL]) + ", not 2";
      return 1;
    }
    if (mode == Walk::wrap && climbs(ctx->member_path)) {
      *problem = utf8_path() + ": a \"..\" step would leave the destination";
      return 1;
    }
    bool ok = true;
    DWORD end;  // where the next header stands, as in the stub
    if (!find_member_end(&end)) return 1;
    counted_bytes += method == 'd' ? 0 : read_u32(h + HDR_UNCOMPRESSED);
    if (mode != Walk::list && mode != Walk::count && method != 'd') {
      ctx->output_file = CreateFileA(runner::null_device, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL, nullptr);
      ctx->sink_mode = SINK_NONE;
      ctx->running_crc = 0;
      ctx->input_pos = (DWORD)-1;
      if (method == '0') copy_stored((LONG)read_u32(h + HDR_UNCOMPRESSED));
      else decode_member();
      CloseHandle(ctx->output_file);
      ctx->output_file = NO_FILE;
      ok = ctx->running_crc == read_u16(h + HDR_FILE_CRC);
    }
    if (!seek_archive(end)) return 1;
    if (mode == Walk::wrap && !ok) {
      *problem = utf8_path() + ": CRC ERROR";
      return 1;
    }
    if (mode == Walk::list || mode == Walk::test) progress_hold(live, true);
    if ((mode == Walk::list || mode == Walk::test) && verbose) {
      unsigned original = read_u32(h + HDR_UNCOMPRESSED), packed = read_u32(h + HDR_COMPRESSED);
      time_t when = (time_t)read_u32(h + HDR_TIME);
      char stamp[32];
      strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", gmtime(&when));
      char attributes[5] = "----";
      const char letters[] = "rhsa";  // read-only, hidden, system, archive
      for (int bit = 0; bit < 4; ++bit)
        if (ctx->member_attribute & (bit == 3 ? 0x20 : 1 << bit)) attributes[bit] = letters[bit];
      printf("%s %10u %10u %5.1f%% %s %s %04X %s%s\n", method_name(h), original, packed,
             original ? 100.0 * packed / original : 0.0, stamp, attributes, read_u16(h + HDR_FILE_CRC),
             utf8_path().c_str(), mode == Walk::test ? (ok ? "  OK" : "  CRC ERROR") : "");
    } else if (mode == Walk::list || mode == Walk::test) {
      printf("%s %10u %10u %04X %s%s\n", method_name(h), (unsigned)read_u32(h + HDR_UNCOMPRESSED),
             (unsigned)read_u32(h + HDR_COMPRESSED), read_u16(h + HDR_FILE_CRC), utf8_path().c_str(),
             mode == Walk::test ? (ok ? "  OK" : "  CRC ERROR") : "");
    }
    if (mode == Walk::list || mode == Walk::test) fflush(stdout), progress_hold(live, false);
    bad += !ok;
  }
  if (mode == Walk::list || mode == Walk::test) printf("%d member%s\n", members, members == 1 ? "" : "s");
  return bad ? 1 : 0;
}

// Runs `walk` over the archive in path with a fresh run and context.
int walk_archive(const char *path, Walk mode, uint16_t *sum_out, std::string *error) {
  uint32_t offset;
  uint8_t flags;
  if (!locate_archive(path, &offset, &flags, error)) return 2;
  if (!looks_like_archive(path, offset + (flags & FLAG_INTEGRITY_SUM ? 2 : 0), error)) return 1;
  runner::reset(path);
  runner::use_code_page(archive_code_page);
  if (mode == Walk::wrap || mode == Walk::count)  // the caller says what went wrong
    runner::answer_boxes([](const std::string &, UINT style) { return (style & 0xF) == MB_OK ? IDOK : IDYES; });
  counted_bytes = 0;
  ctx = (SfxContext *)LocalAlloc(LPTR, sizeof(SfxContext));
  lstrcpynA(ctx->module_path, path, sizeof(ctx->module_path));
  lstrcpyA(ctx->window_title, "mksfx");
  ctx->output_file = NO_FILE;
  int status = runner::run([&] {
    ctx->archive_file = _lopen(path, OF_READ);
    LONG size = ctx->archive_file == HFILE_ERROR ? -1 : _llseek(ctx->archive_file, 0, FILE_END);
    ctx->archive_size = (DWORD)size;
    if (size == -1 || !seek_archive(offset)) {
      *error = std::string("cannot read ") + path;
      ExitProcess(2);
    }
    BYTE sum[2] = {};
    if (flags & FLAG_INTEGRITY_SUM) _lread(ctx->archive_file, sum, 2);
    build_crc_table(CRC16_POLY);
    integrity_sum = 0;
    int result = walk(mode, error);
    if (result == 0 && (flags & FLAG_INTEGRITY_SUM) && integrity_sum != read_u16(sum)) {
      fprintf(stderr, "integrity sum differs: Tampered DATA\n");
      result = 1;
    }
    if (sum_out) *sum_out = integrity_sum;
    _lclose(ctx->archive_file);
    ExitProcess((UINT)result);
  });
  release_member_header();
  LocalFree(ctx);
  ctx = nullptr;
  return status;
}

}  // namespace

unsigned names_code_page = 1252, archive_code_page = 1252;

// The archive offset: from the header block of a self-extractor, 0 for a
// plain archive.
bool locate_archive(const char *path, uint32_t *offset, uint8_t *flags, std::string *error) {
  FILE *f = host_fopen(path, "rb");
  if (!f) {
    *error = std::string("cannot open ") + path + ": " + strerror(errno);
    return false;
  }
  uint8_t head[1115] = {};
  size_t n = fread(head, 1, sizeof(head), f);
  fseek(f, 0, SEEK_END);
  long size = ftell(f);
  fclose(f);
  *offset = 0;
  *flags = 0;
  archive_code_page = names_code_page;
  if (n >= 2 && head[0] == 'M' && head[1] == 'Z') {
    if (n < sizeof(head)) {
      *error = "file too short for a self-extractor";
      return false;
    }
    *offset = read_u32(head + 512);
    *flags = head[512 + 601];
    if (unsigned marked = marked_code_page(head)) archive_code_page = marked;
    if (*offset == 0 || (long)*offset > size) {
      *error = "no archive in this self-extractor";
      return false;
    }
  }
  return true;
}

// An archive starts with its end mark or a header naming a method
// ("-lh5-"); anything else, an empty file too, is not one.
bool looks_like_archive(const char *path, uint32_t offset, std::string *error) {
  FILE *f = host_fopen(path, "rb");
  uint8_t head[7] = {};
  size_t n = f && fseek(f, offset, SEEK_SET) == 0 ? fread(head, 1, sizeof head, f) : 0;
  if (f) fclose(f);
  if ((n >= 1 && head[0] == 0) || (n == 7 && head[2] == '-' && head[6] == '-')) return true;
  *error = std::string(path) + ": not an archive";
  return false;
}

// --list -v of a self-extractor: what its header block sets, and the code
// page mksfx notes in its identification text (before the mark, "mksfx"
// alone meant 1252).
void print_block_settings(const char *path, uint32_t offset, uint8_t flags) {
  uint8_t head[HEADER_BLOCK_FILE_OFFSET + HEADER_BLOCK_BYTES] = {}, sum[2] = {};
  FILE *f = host_fopen(path, "rb");
  if (!f) return;
  size_t n = fread(head, 1, sizeof head, f);
  bool summed = (flags & FLAG_INTEGRITY_SUM) && fseek(f, offset, SEEK_SET) == 0 && fread(sum, 1, 2, f) == 2;
  fclose(f);
  if (n < sizeof head) return;
  auto text = [&](size_t at, size_t size) {
    const char *p = (const char *)head + at;
    return std::string(p, strnlen(p, size));
  };
  const uint8_t *block = head + HEADER_BLOCK_FILE_OFFSET;
  std::string set;
  const char *names[] = {"auto-start", "overwrite-all", "integrity-sum", "keep-newer-off"};
  for (int bit = 0; bit < 4; ++bit)
    if (flags & 1 << bit) set += std::string(set.empty() ? "" : " ") + names[bit];
  if (block[602]) set += std::string(set.empty() ? "" : " ") + "restore-attributes";
  std::string id = text(BUILDER_ID_OFFSET, BUILDER_ID_SIZE);
  unsigned marked = marked_code_page(head);
  std::string codepage = marked ? std::to_string(marked) : id == "mksfx" ? "1252" : "not recorded";
  printf("title: \"%s\"\ncaption: \"%s\"\ndefault folder: \"%s\"\ncommand: \"%s\"\nflags: %s\ncode page: %s\n",
         text(HEADER_BLOCK_FILE_OFFSET + 4, 41).c_str(), text(HEADER_BLOCK_FILE_OFFSET + 45, 41).c_str(),
         text(HEADER_BLOCK_FILE_OFFSET + 86, 256).c_str(), text(HEADER_BLOCK_FILE_OFFSET + 342, 259).c_str(),
         set.empty() ? "none" : set.c_str(), codepage.c_str());
  if (summed) printf("integrity sum: %04X\n", read_u16(sum));
  else printf("integrity sum: none\n");
}

uint64_t archive_data_bytes(const char *path) {
  std::string error;
  walk_archive(path, Walk::count, nullptr, &error);
  return counted_bytes;
}

int inspect_archive(const char *path, bool test, bool show_progress, bool long_form, std::string *error) {
  verbose = long_form;
  uint32_t offset;
  uint8_t flags;
  if (!test && long_form && locate_archive(path, &offset, &flags, error) && offset)
    print_block_settings(path, offset, flags);
  if (!test) return walk_archive(path, Walk::list, nullptr, error);
  Progress progress;  // counts what the decoder writes to the null device
  progress.counter = runner::written_bytes();
  progress.base = *progress.counter;
  progress_begin(&progress, archive_data_bytes(path), show_progress);
  live = &progress;
  int status = walk_archive(path, Walk::test, nullptr, error);
  live = nullptr;
  progress_end(&progress);
  return status;
}

uint64_t stub_bytes_written() { return *runner::written_bytes(); }

int check_for_wrapping(const char *path, uint16_t *sum, std::string *error) {
  return walk_archive(path, Walk::wrap, sum, error);
}

Place place_named_by(const std::string &path) {
  if (path.size() > 1 && path[1] == ':') return Place::drive;
  if (path[0] == '/' || path[0] == '\\') return Place::root;
  return starts_with_macro(path.c_str()) ? Place::macro : Place::below;
}
