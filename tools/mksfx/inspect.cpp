// mksfx --list and --test: read a self-extractor or a plain archive with the
// stub's own reading and decoding code, through the POSIX stand-in.
#include "inspect.h"
#include <cstdio>
#include <cstring>
#include "archive/archive.h"
#include "lzh/lzh.h"
#include "posix/harness.h"
#include "startup/startup.h"

namespace {

// The archive offset: from the header block of a self-extractor, 0 for a
// plain archive.
bool locate_archive(const char *path, DWORD *offset, BYTE *flags, std::string *error) {
  FILE *f = fopen(path, "rb");
  if (!f) {
    *error = std::string("cannot open ") + path;
    return false;
  }
  uint8_t head[1115] = {};
  size_t n = fread(head, 1, sizeof(head), f);
  fseek(f, 0, SEEK_END);
  long size = ftell(f);
  fclose(f);
  *offset = 0;
  *flags = 0;
  if (n >= 2 && head[0] == 'M' && head[1] == 'Z') {
    if (n < sizeof(head)) {
      *error = "file too short for a self-extractor";
      return false;
    }
    *offset = read_u32(head + 512);
    *flags = head[512 + 601];
    if (*offset == 0 || (long)*offset > size) {
      *error = "no archive in this self-extractor";
      return false;
    }
  }
  return true;
}

const char *method_name(const BYTE *header) {
  static char name[6];
  memcpy(name, header + HDR_METHOD, 5);
  name[5] = 0;
  return name;
}

int walk(bool test) {
  int bad = 0, members = 0;
  for (;;) {
    HeaderResult r = read_member_header();
    if (r == HEADER_END) break;
    if (r == HEADER_FAILED) return 1;
    ++members;
    const BYTE *h = ctx->header_buffer;
    BYTE method = h[HDR_METHOD_LETTER];
    integrity_sum ^= read_u16(h + HDR_FILE_CRC);
    bool ok = true;
    if (test && method != 'd') {
      ctx->output_file = CreateFileA("/dev/null", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL, nullptr);
      ctx->sink_mode = SINK_NONE;
      ctx->running_crc = 0;
      ctx->input_pos = (DWORD)-1;
      if (method == '0') copy_stored((LONG)read_u32(h + HDR_UNCOMPRESSED));
      else decode_member();
      CloseHandle(ctx->output_file);
      ctx->output_file = NO_FILE;
      ok = ctx->running_crc == read_u16(h + HDR_FILE_CRC);
    } else {
      LONG here = _llseek(ctx->archive_file, 0, FILE_CURRENT);
      if (_llseek(ctx->archive_file, here + (LONG)read_u32(h + HDR_COMPRESSED), FILE_BEGIN) == -1) return 1;
    }
    printf("%s %10u %10u %04X %s%s\n", method_name(h), read_u32(h + HDR_UNCOMPRESSED),
           read_u32(h + HDR_COMPRESSED), read_u16(h + HDR_FILE_CRC), ctx->member_path,
           test ? (ok ? "  OK" : "  CRC ERROR") : "");
    bad += !ok;
  }
  printf("%d members\n", members);
  return bad ? 1 : 0;
}

}  // namespace

int inspect_archive(const char *path, bool test, std::string *error) {
  DWORD offset;
  BYTE flags;
  if (!locate_archive(path, &offset, &flags, error)) return 2;
  posix::reset();
  setenv("SFX_ECHO_MESSAGES", "1", 1);
  ctx = (SfxContext *)LocalAlloc(LPTR, sizeof(SfxContext));
  lstrcpynA(ctx->module_path, path, sizeof(ctx->module_path));
  lstrcpyA(ctx->window_title, "mksfx");
  ctx->output_file = NO_FILE;
  int status = posix::run([&] {
    ctx->archive_file = _lopen(path, OF_READ);
    if (ctx->archive_file == HFILE_ERROR || _llseek(ctx->archive_file, (LONG)offset, FILE_BEGIN) == -1) {
      *error = std::string("cannot read ") + path;
      ExitProcess(2);
    }
    BYTE sum[2] = {};
    if (flags & FLAG_INTEGRITY_SUM) _lread(ctx->archive_file, sum, 2);
    build_crc_table(CRC16_POLY);
    integrity_sum = 0;
    int result = walk(test);
    if (result == 0 && (flags & FLAG_INTEGRITY_SUM) && integrity_sum != read_u16(sum)) {
      fprintf(stderr, "integrity sum differs: Tampered DATA\n");
      result = 1;
    }
    _lclose(ctx->archive_file);
    ExitProcess((UINT)result);
  });
  release_member_header();
  LocalFree(ctx);
  ctx = nullptr;
  return status;
}
