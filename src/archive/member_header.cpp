// Reads one level-2 member header into a buffer of its own, walks its
// extended headers and checks its own CRC-16. Every extended header must lie
// inside the header, so nothing later reads outside the buffer.
#include "archive/archive.h"
#include "lzh/lzh.h"
#include "paths/paths.h"
#include "timeconv/timeconv.h"
#include "ui/ui.h"

static bool is_method_letter(BYTE c) {
  return c == '0' || (c >= '4' && c <= '7') || c == 'd';
}

static bool has_extended_data(const BYTE *header) {
  BYTE os = header[HDR_OS];
  return os == 'M' || os == 'W' || os == 'w';
}

void release_member_header() {
  if (ctx->header_buffer) LocalFree(ctx->header_buffer);
  ctx->header_buffer = nullptr;
}

static HeaderResult bad_header() {
  show_error(MSG_BAD_HEADER, ctx->module_path);
  ctx->abort_flag = 1;
  return HEADER_FAILED;
}

static void read_member_times(const BYTE *data) {
  EpochSeconds *targets[3] = {&ctx->creation_time, &ctx->write_time, &ctx->access_time};
  for (int i = 0; i < 3; ++i) {
    FILETIME ft = {read_u32(data + 8 * i), read_u32(data + 8 * i + 4)};
    seconds_from_file_time(&ft, targets[i]);
  }
}

// Sizes below 3, or an extended header that runs past the header's end, make
// a bad header; so does a CRC extended header without its two bytes, and a
// member of 4 GiB or more: its 32-bit size fields would lead into its data.
static bool walk_extended_headers(BYTE *header, unsigned size) {
  unsigned pos = HDR_FIRST_EXTENSION;
  for (;;) {
    unsigned ext_size = read_u16(header + pos);
    if (ext_size == 0) return true;
    if (ext_size < 3 || pos + 2 + ext_size > size) return false;
    BYTE *data = header + pos + 3;
    unsigned data_size = ext_size - 3;
    switch (header[pos + 2]) {
    case EXT_HEADER_CRC:
      if (data_size < 2) return false;
      ctx->header_crc_field = data;
      ctx->stored_header_crc = read_u16(data);
      break;
    case EXT_FILE_NAME:
      ctx->file_name_field = data;
      ctx->file_name_length = (WORD)data_size;
      break;
    case EXT_DIRECTORY:
      ctx->dir_name_field = data;
      ctx->dir_name_length = (WORD)data_size;
      break;
    case EXT_ATTRIBUTE:
      if (has_extended_data(header) && data_size >= 2) ctx->member_attribute = read_u16(data);
      break;
    case EXT_TIMES:
      if (has_extended_data(header) && data_size >= 24) read_member_times(data);
      break;
    case EXT_LARGE_SIZES:
      if (data_size < 16 || read_u32(data + 4) != 0 || read_u32(data + 12) != 0) return false;
      break;
    }
    pos += ext_size;
  }
}

// The directory field normally ends with its own 0xFF; some archivers leave
// it off, and a separator then goes between the field and the name. A path
// that does not fit member_path is a bad header: cutting it would put the
// file under another name.
static bool ends_in_separator(const BYTE *field, unsigned length) {
  bool separator = true;  // an empty field needs none
  for (unsigned i = 0; i < length; ++i) {
    if (IsDBCSLeadByte(field[i]) && i + 1 < length) {
      ++i;  // a trail byte may look like a backslash
      separator = false;
    } else {
      separator = field[i] == 0xFF || field[i] == '/' || field[i] == '\\';
    }
  }
  return separator;
}

static bool build_member_path() {
  unsigned dir = ctx->dir_name_length, name = ctx->file_name_length;
  bool separate = !ends_in_separator(ctx->dir_name_field, dir);
  if (dir + separate + name >= sizeof(ctx->member_path)) return false;
  char *out = ctx->member_path;
  for (unsigned i = 0; i < dir; ++i) *out++ = (char)ctx->dir_name_field[i];
  if (separate) *out++ = '/';
  for (unsigned i = 0; i < name; ++i) *out++ = (char)ctx->file_name_field[i];
  *out = 0;
  convert_separators(ctx->member_path, '/');
  return true;
}

HeaderResult read_member_header() {
  BYTE size_field[2];
  UINT got = _lread(ctx->archive_file, size_field, 2);
  // A read that fails is no end of the archive: it would pass for success.
  if (got == (UINT)HFILE_ERROR) {
    report_read_error();
    return HEADER_FAILED;
  }
  if (got != 2) return HEADER_END;
  short size = (short)read_u16(size_field);
  if (size == 0) return HEADER_END;
  if (size < (short)HDR_MIN_SIZE) return bad_header();

  release_member_header();
  BYTE *header = (BYTE *)LocalAlloc(LPTR, (size_t)size);
  if (!header) {
    MessageBoxA(ctx->main_window, MSG_NO_MEMORY, ctx->window_title, MB_TASKMODAL | MB_ICONERROR);
    ctx->abort_flag = 1;
    return HEADER_FAILED;
  }
  ctx->header_buffer = header;
  header[0] = size_field[0];
  header[1] = size_field[1];
  if (_lread(ctx->archive_file, header + 2, (UINT)size - 2) != (UINT)size - 2) return bad_header();
  if (header[2] != '-' || header[3] != 'l' || header[4] != 'h' ||
      !is_method_letter(header[HDR_METHOD_LETTER]) || header[6] != '-')
    return bad_header();

  // Per-member fields start afresh; a member without a name extended header
  // gets an empty name rather than a stale one.
  ctx->header_crc_field = nullptr;
  ctx->dir_name_length = 0;
  ctx->file_name_length = 0;
  ctx->member_attribute = header[HDR_ATTRIBUTE];
  ctx->creation_time = ctx->access_time = ctx->write_time = read_u32(header + HDR_TIME);
  if (!walk_extended_headers(header, (unsigned)size) || !ctx->header_crc_field) return bad_header();

  ctx->header_crc_field[0] = ctx->header_crc_field[1] = 0;
  ctx->running_crc = 0;
  if (crc_update(header, size) != ctx->stored_header_crc) return bad_header();
  // A stored member is copied by one size and skipped by the other: both
  // passes must walk the same members.
  if (header[HDR_METHOD_LETTER] == '0' &&
      read_u32(header + HDR_COMPRESSED) != read_u32(header + HDR_UNCOMPRESSED))
    return bad_header();
  if (!build_member_path()) return bad_header();
  return HEADER_READY;
}
