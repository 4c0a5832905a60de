// The member loop. The scan pass runs before the dialog: it captures and acts
// on the message member "!" and the script member "$", skips every other
// member and checks the integrity sum. The extract pass writes every ordinary
// member below install_dir, asks before replacing files, restores times and
// attributes, checks each CRC, then runs the post-install step and the command.
#include "archive/archive.h"
#include "lzh/lzh.h"
#include "paths/paths.h"
#include "shell/shell.h"
#include "startup/startup.h"
#include "timeconv/timeconv.h"
#include "ui/ui.h"

WORD integrity_sum;

static bool fail(const char *message, const char *path) {
  show_error(message, path);
  ctx->abort_flag = 1;
  return false;
}

// A seek from the start takes a signed 32-bit distance and cannot reach 2 GiB;
// a seek from the current position reaches anywhere below 4 GiB, in steps
// that fit a LONG.
bool seek_archive(DWORD position) {
  LONG here = _llseek(ctx->archive_file, 0, FILE_CURRENT);
  if (here == -1) return false;
  for (DWORD at = (DWORD)here; at != position;) {
    DWORD gap = position > at ? position - at : at - position;
    LONG step = gap > 0x7FFFFFFF ? 0x7FFFFFFF : (LONG)gap;
    if (position < at) step = -step;
    if (_llseek(ctx->archive_file, step, FILE_CURRENT) == -1) return false;
    at += (DWORD)step;
  }
  return true;
}

// Where the member's data ends and the next header begins: right behind the
// header, plus the compressed size. Both passes go on from there, whatever a
// member's data held, so the extract pass writes exactly the members the
// scan pass checked. The end is computed before any seek, so a huge size can
// never move the file backwards into data already read.
bool find_member_end(DWORD *end) {
  DWORD size = read_u32(ctx->header_buffer + HDR_COMPRESSED);
  LONG here = _llseek(ctx->archive_file, 0, FILE_CURRENT);
  if (here == -1) return report_read_error();
  *end = (DWORD)here + size;
  if (*end < (DWORD)here || *end > ctx->archive_size) return fail(MSG_UNEXPECTED_EOF, ctx->module_path);
  return true;
}

static void read_member_data() {
  ctx->running_crc = 0;
  ctx->input_pos = (DWORD)-1;
  BYTE method = ctx->header_buffer[HDR_METHOD_LETTER];
  if (method == '0') copy_stored((LONG)read_u32(ctx->header_buffer + HDR_UNCOMPRESSED));
  else if (method != 'd') decode_member();
}

// Byte for byte: the platform's string comparison follows the locale.
static bool is_member(const char *name) {
  const char *p = ctx->member_path;
  while (*p && *p == *name) ++p, ++name;
  return *p == *name;
}

// On Win32s the member's own stamp is shifted in the header buffer itself.
static void correct_header_time() {
  BYTE *stamp = ctx->header_buffer + HDR_TIME;
  EpochSeconds t = read_u32(stamp);
  apply_tz_correction(&t);
  for (int i = 0; i < 4; ++i) stamp[i] = (BYTE)(t >> (8 * i));
}

enum Decision { DECIDE_WRITE, DECIDE_SKIP, DECIDE_STOP };

static Decision decide_overwrite() {
  DWORD attributes = GetFileAttributesA(ctx->target_path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return DECIDE_WRITE;
  // A time that cannot be read (a directory, a locked file) counts as older:
  // the user is asked, and a target that cannot be opened is reported.
  EpochSeconds existing;
  bool newer = existing_file_seconds(ctx->target_path, &existing) &&
               existing >= read_u32(ctx->header_buffer + HDR_TIME);
  wsprintfA(ctx->text_scratch, "\"%s\" %s", ctx->target_path, MSG_OVERWRITE);
  int answer;
  if (keep_newer == 1 && newer) answer = IDNO;
  else if (overwrite_all == 1) answer = IDYES;
  else
    answer = MessageBoxA(ctx->main_window, ctx->text_scratch, ctx->window_title,
                         MB_TASKMODAL | MB_ICONQUESTION | MB_YESNOCANCEL);
  // A box that could not be shown gave no answer: only a No skips, so
  // nothing is passed over that the user did not decline.
  if (answer != IDYES && answer != IDNO) {
    ctx->cancel_requested = 1;
    ctx->abort_flag = 1;
    return DECIDE_STOP;
  }
  if (answer == IDNO) return DECIDE_SKIP;
  if (ctx->block.restore_attributes && !(attributes & FILE_ATTRIBUTE_DIRECTORY))
    SetFileAttributesA(ctx->target_path, FILE_ATTRIBUTE_NORMAL);
  return DECIDE_WRITE;
}

// Composes, cleans and shows the destination and creates its directories.
// A member path whose expansion or cleaned form does not fit is reported like
// a file that cannot be created. The directory the user confirmed is used as
// given: cleaning it too would send every file somewhere else whenever the
// volume cannot be asked for its name limits (it then counts as 8.3).
static bool prepare_target() {
  if (!compose_written_path(ctx->target_path, ctx->install_dir, ctx->member_path,
                            sizeof(ctx->member_path)))
    return fail(MSG_OPEN_ERROR, ctx->member_path);
  shorten_path_for_display(ctx->text_scratch, ctx->target_path, DISPLAY_WIDTH);
  SetDlgItemTextA(ctx->main_window, IDC_MEMBER_NAME, ctx->text_scratch);
  SetDlgItemTextA(ctx->main_window, IDC_PROGRESS, "Extract... 0%");
  create_parent_directories(ctx->target_path);
  return true;
}

static void correct_times_for_win32s() {
  apply_tz_correction(&ctx->creation_time);
  apply_tz_correction(&ctx->write_time);
  apply_tz_correction(&ctx->access_time);
}

// After a file's data: times, close, CRC check, attributes. A conversion that
// fails leaves that time as the platform has it.
static bool finish_output_file() {
  if (win32s_host) correct_times_for_win32s();
  FILETIME creation, access, write;
  bool has_creation = file_time_from_seconds(ctx->creation_time, &creation);
  bool has_write = file_time_from_seconds(ctx->write_time, &write);
  bool has_access = file_time_from_seconds(ctx->access_time, &access);
  SetFileTime(ctx->output_file, has_creation ? &creation : nullptr, has_access ? &access : nullptr,
              has_write ? &write : nullptr);
  BOOL closed = CloseHandle(ctx->output_file);
  ctx->output_file = NO_FILE;
  if (!closed) {
    DeleteFileA(ctx->target_path);
    return fail(MSG_CLOSE_ERROR, ctx->target_path);
  }
  if (ctx->running_crc != read_u16(ctx->header_buffer + HDR_FILE_CRC)) {
    DeleteFileA(ctx->target_path);
    return fail(MSG_CRC_ERROR, ctx->target_path);
  }
  if (ctx->block.restore_attributes) SetFileAttributesA(ctx->target_path, ctx->member_attribute);
  return true;
}

// LHa for UNIX stores a symbolic link as a directory entry named
// "link|target". Windows has no such links: the entry is passed over.
static bool is_link_entry() { return find_any_of(ctx->member_path, "|") != nullptr; }

// A directory entry names its directory with or without a final separator.
static bool make_directory() {
  char *end = string_end(ctx->target_path);
  if (end != ctx->target_path && end[-1] != '/') CreateDirectoryA(ctx->target_path, nullptr);
  // A directory that is not there now would be lost without a word.
  DWORD attributes = GetFileAttributesA(ctx->target_path);
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
    return fail(MSG_OPEN_ERROR, ctx->target_path);
  return true;
}

// Returns false to leave the loop; a member passed over returns true and the
// loop goes on behind its data.
static bool extract_member() {
  if (is_member("!") || is_member("$")) return true;
  bool directory = ctx->header_buffer[HDR_METHOD_LETTER] == 'd';
  if (directory && is_link_entry()) return true;
  if (!prepare_target()) return false;
  if (win32s_host) correct_header_time();
  if (directory) return make_directory();
  Decision decision = decide_overwrite();
  if (decision == DECIDE_STOP) return false;
  if (decision == DECIDE_SKIP) return true;
  ctx->output_file = CreateFileA(ctx->target_path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
  if (ctx->output_file == INVALID_HANDLE_VALUE) {
    ctx->output_file = NO_FILE;
    return fail(MSG_OPEN_ERROR, ctx->target_path);
  }
  read_member_data();
  return finish_output_file();
}

// The data of a member pumps messages per chunk; this pumps once after every
// member, so a Cancel pressed during directories, empty or skipped members
// is seen too.
static bool cancel_seen() {
  drain_message_queue(ctx->main_window);
  if (ctx->cancel_requested) ctx->abort_flag = 1;
  return ctx->cancel_requested != 0;
}

// Returns false to leave the loop. A No to a message member marks the pass
// failed but the scan goes on, so every later question is still asked.
static bool scan_member(bool *message_refused) {
  integrity_sum ^= read_u16(ctx->header_buffer + HDR_FILE_CRC);
  if (is_member("!")) ctx->sink_mode = SINK_MESSAGE;
  else if (is_member("$")) ctx->sink_mode = SINK_SCRIPT;
  else return true;
  ctx->output_file = NO_FILE;
  // An empty member writes nothing: its text starts empty, never stale.
  (ctx->sink_mode == SINK_MESSAGE ? ctx->text_scratch : ctx->script_text)[0] = 0;
  read_member_data();
  if (ctx->abort_flag) {
    ctx->sink_mode = SINK_NONE;
    return false;
  }
  if (ctx->sink_mode == SINK_MESSAGE) {
    if (MessageBoxA(ctx->main_window, ctx->text_scratch, ctx->window_title,
                    MB_TASKMODAL | MB_ICONQUESTION | MB_YESNO) != IDYES)
      *message_refused = true;
  } else {
    interpret_script();
  }
  ctx->sink_mode = SINK_NONE;
  return true;
}

static bool open_archive() {
  ctx->archive_file = _lopen(ctx->module_path, OF_READ);
  if (ctx->archive_file == HFILE_ERROR) {
    ctx->archive_file = NO_ARCHIVE;
    return fail(MSG_OPEN_ERROR, ctx->module_path);
  }
  LONG end = _llseek(ctx->archive_file, 0, FILE_END);
  if (end == -1) return report_read_error();
  ctx->archive_size = (DWORD)end;
  DWORD offset = read_u32(ctx->block.archive_offset);
  if (offset > ctx->archive_size) return fail(MSG_UNEXPECTED_EOF, ctx->module_path);
  if (!seek_archive(offset)) return report_read_error();
  return true;
}

static void close_archive() {
  if (ctx->archive_file != NO_ARCHIVE) _lclose(ctx->archive_file);
  ctx->archive_file = NO_ARCHIVE;
}

void split_run_command(char *command, char **program, char **parameters) {
  char *p = command;
  while (*p == ' ' || *p == '\t') ++p;
  if (*p == '"') {
    *program = ++p;
    while (*p && *p != '"') ++p;
  } else {
    *program = p;
    while (*p && *p != ' ' && *p != '\t') ++p;
  }
  if (*p) *p++ = 0;
  while (*p == ' ' || *p == '\t') ++p;
  *parameters = p;
}

static void start_run_command() {
  char command[sizeof(ctx->block.run_command)];
  lstrcpyA(command, ctx->block.run_command);
  char *program, *parameters;
  split_run_command(command, &program, &parameters);
  ShellExecuteA(ctx->main_window, nullptr, program, parameters[0] ? parameters : nullptr,
                ctx->install_dir, SW_SHOW);
}

bool run_pass(HWND window, int mode) {
  ctx->main_window = window;
  ctx->abort_flag = 0;
  ctx->output_file = NO_FILE;
  if (!open_archive()) {
    close_archive();
    return false;
  }
  long_names = detect_long_names(ctx->install_dir);
  if (ctx->block.flags_byte & FLAG_INTEGRITY_SUM) {
    BYTE sum[2] = {};
    // A sum cut off (or unreadable) is a sum that does not match.
    if (_lread(ctx->archive_file, sum, 2) != 2) fail(MSG_TAMPERED, ctx->module_path);
    ctx->stored_integrity_sum = read_u16(sum);
  }
  build_crc_table(CRC16_POLY);
  integrity_sum = 0;

  bool message_refused = false;
  while (!ctx->abort_flag) {
    HeaderResult header = read_member_header();
    DWORD member_end = 0;
    if (header != HEADER_READY || !find_member_end(&member_end)) break;
    bool go_on = mode == PASS_SCAN ? scan_member(&message_refused) : extract_member() && !cancel_seen();
    if (!go_on) break;
    if (!seek_archive(member_end)) {
      report_read_error();
      break;
    }
  }
  close_archive();
  if (message_refused) ctx->abort_flag = 1;

  if (mode == PASS_SCAN) {
    if (!ctx->abort_flag && (ctx->block.flags_byte & FLAG_INTEGRITY_SUM) &&
        integrity_sum != ctx->stored_integrity_sum)
      fail(MSG_TAMPERED, ctx->module_path);
  } else if (!ctx->cancel_requested) {  // the user stopped the run: its end must not act
    run_post_install(ctx->main_window);
    if (ctx->block.run_command[0] && !ctx->abort_flag && !ctx->cancel_requested) start_run_command();
  }
  release_member_header();
  return ctx->abort_flag == 0;
}
