// Process entry: allocates the context, turns the command line and the header
// block into the run's settings, runs the scan pass, shows the dialog, and
// returns the exit status. abort_run is the one way out for fatal errors.
#include "startup/startup.h"
#include "archive/archive.h"
#include "paths/paths.h"
#include "ui/ui.h"

SfxContext *ctx;
INT win32s_host;
INT auto_start;
INT overwrite_all;
INT keep_newer;
INT keep_controls;
INT ask_class;
INT dir_from_command_line;
HINSTANCE instance_handle;
HWND dialog_window;

// Status 0 says that nothing was extracted; a fatal error of the scan pass
// (a damaged message or script member) ends the run with it too.
static bool scanning;

// Raw option values before the flags byte is applied.
enum : INT { RAW_UNSET = 0, RAW_OFF_BY_DASH = 10, RAW_ON = 11, RAW_OFF = 12 };

LPSTR skip_program_name(LPSTR p) {
  if (*p == '"') {
    ++p;
    while (*p && *p != '"') ++p;
    if (*p == '"') ++p;
  } else {
    while ((BYTE)*p > 0x20) ++p;
  }
  while (*p && (BYTE)*p <= 0x20) ++p;
  return p;
}

static bool is_token_break(BYTE c, bool quoted) { return quoted ? c < 0x20 : c <= 0x20; }

// Tokens beyond MAX_TOKENS are dropped: the walk stops at the first directory
// anyway, so nothing that far along can matter. When memory runs out the
// result is -1 and nothing is kept: a list missing its directory would send
// the files somewhere the user did not name.
int split_command_line(LPCSTR text, char ***tokens) {
  char **list = (char **)LocalAlloc(LPTR, MAX_TOKENS * sizeof(char *));
  *tokens = list;
  if (!list) return -1;
  int count = 0;
  const BYTE *p = (const BYTE *)text;
  while (count < MAX_TOKENS) {
    while (*p >= 1 && *p <= 0x20) ++p;
    if (!*p) break;
    bool quoted = false;
    const BYTE *start = p;
    for (; *p && !is_token_break(*p, quoted); ++p)
      if (*p == '"') quoted = !quoted;
    char *token = (char *)LocalAlloc(LPTR, (size_t)(p - start) + 2);
    if (!token) {
      release_tokens(list, count);
      *tokens = nullptr;
      return -1;
    }
    char *out = token;
    for (const BYTE *q = start; q < p; ++q)
      if (*q != '"') *out++ = (char)*q;
    list[count++] = token;
  }
  return count;
}

void release_tokens(char **tokens, int count) {
  if (!tokens) return;
  while (count > 0) LocalFree(tokens[--count]);
  LocalFree(tokens);
}

// Walks the tokens; returns the raw auto-start and keep-newer values, false
// when there was no memory for them. A directory that does not fit
// default_dir is refused rather than cut, since a cut path would name some
// other directory; the walk still stops there. A directory as the first
// token is never taken. Either way the user must see and confirm the
// directory that will be used instead.
static bool read_command_line(LPSTR tail, INT *raw_auto, INT *raw_keep, bool *dir_refused) {
  char **tokens;
  int count = split_command_line(tail, &tokens);
  if (count < 0) return false;
  for (int i = 0; i < count; ++i) {
    char *t = tokens[i];
    if (t[0] == '-') {
      char letter[2] = {t[1], 0};
      CharLowerA(letter);
      if (letter[0] == 'n') *raw_auto = t[2] == '-' ? RAW_OFF : RAW_ON;
      else if (letter[0] == 'c') *raw_keep = t[2] == '-' ? RAW_OFF_BY_DASH : RAW_ON;
    } else if (i == 0) {
      *dir_refused = true;
    } else {
      if (lstrlenA(t) < (int)sizeof(ctx->block.default_dir)) {
        lstrcpyA(ctx->text_scratch, t);
        dir_from_command_line = 1;
      } else {
        *dir_refused = true;
      }
      break;
    }
  }
  release_tokens(tokens, count);
  return true;
}

static void resolve_settings(INT raw_auto, INT raw_keep) {
  BYTE flags = ctx->block.flags_byte;
  ask_class = 0;
  overwrite_all = (flags & FLAG_OVERWRITE_ALL) ? 1 : 0;
  if (raw_auto == RAW_UNSET && (flags & FLAG_AUTO_START)) raw_auto = 1;
  if (raw_auto == RAW_ON) raw_auto = 1;
  else if (raw_auto == RAW_OFF) raw_auto = 0;
  auto_start = raw_auto;
  if (raw_keep == RAW_ON || (flags & FLAG_KEEP_NEWER_OFF)) raw_keep = 0;
  if (raw_keep == RAW_OFF_BY_DASH) raw_keep = 1;
  keep_newer = raw_keep;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR command_tail, int) {
  OSVERSIONINFOA version = {};
  version.dwOSVersionInfoSize = sizeof(version);
  GetVersionExA(&version);
  win32s_host = version.dwPlatformId == VER_PLATFORM_WIN32s;
  dialog_window = nullptr;
  instance_handle = instance;

  ctx = (SfxContext *)LocalAlloc(LPTR, sizeof(SfxContext));
  if (!ctx) {
    MessageBoxA(nullptr, MSG_NO_MEMORY, DEFAULT_TITLE, MB_TASKMODAL | MB_ICONERROR);
    return 0;
  }
  // Already zero; clearing them here keeps the sequence explicit.
  ctx->group_action = ctx->class_action = 0;
  ctx->group_initial_check = ctx->class_initial_check = 0;
  ctx->block.default_dir[0] = ctx->group_caption[0] = ctx->class_caption[0] = 0;
  ctx->item_title[0] = ctx->script_text[0] = ctx->text_scratch[0] = 0;

  INT raw_auto = RAW_UNSET, raw_keep = RAW_OFF_BY_DASH;
  keep_controls = 0;
  dir_from_command_line = 0;
  bool dir_refused = false;
  if (!read_command_line(command_tail, &raw_auto, &raw_keep, &dir_refused)) {
    MessageBoxA(nullptr, MSG_NO_MEMORY, DEFAULT_TITLE, MB_TASKMODAL | MB_ICONERROR);
    LocalFree(ctx);
    return 0;
  }

  GetModuleFileNameA(nullptr, ctx->module_path, sizeof(ctx->module_path));
  load_header_block();
  resolve_settings(raw_auto, raw_keep);

  scanning = true;
  bool scanned = run_pass(nullptr, PASS_SCAN);
  scanning = false;
  if (!scanned) {
    LocalFree(ctx);
    return 0;
  }
  // After the script, whose "$Flag=" must not turn auto start back on.
  if (dir_refused) auto_start = 0;
  // A default whose expansion does not fit stays unexpanded, and OK refuses
  // it: the user must name the directory.
  if (!expand_directory_macro(ctx->block.default_dir, "")) auto_start = 0;
  if (!ctx->block.default_dir[0])
    GetCurrentDirectoryA(sizeof(ctx->block.default_dir), ctx->block.default_dir);

  INT_PTR result = DialogBoxParamA(instance, "SfxDialog", nullptr, main_dialog_proc, 0);
  if (result == -1) {  // no dialog could be made: nothing was extracted
    MessageBoxA(nullptr, MSG_NO_MEMORY, ctx->window_title, MB_TASKMODAL | MB_ICONERROR);
    result = 0;
  }
  LocalFree(ctx);
  return (int)result;
}

void abort_run(UINT status) {
  if (ctx->output_file != 0 && ctx->output_file != NO_FILE) {
    CloseHandle(ctx->output_file);
    DeleteFileA(ctx->target_path);
  }
  if (ctx->archive_file != 0 && ctx->archive_file != NO_ARCHIVE) _lclose(ctx->archive_file);
  ctx->output_file = NO_FILE;
  ctx->archive_file = NO_ARCHIVE;
  EndDialog(dialog_window, 0);
  UINT code = scanning ? 0 : status;
  scanning = false;  // a stand-in's process goes on to another run
  ExitProcess(code);
  __builtin_unreachable();
}
