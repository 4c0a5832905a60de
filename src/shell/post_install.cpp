// After the extract pass, whatever its outcome: walk the script again and act
// on "$Class=" and "$Group=" lines whose action is switched on, then tell every
// top-level window that settings changed.
#include "shell/shell.h"
#include "paths/paths.h"
#include "startup/startup.h"
#include "ui/ui.h"

static constexpr char KEY_CLASS_DEFAULT[] = "(standard)";
static constexpr char OPEN_COMMAND_SUFFIX[] = "\\shell\\open\\command";
static constexpr char DEFAULT_ICON_SUFFIX[] = "\\DefaultIcon";
static_assert(MAX_CLASS_KEY + sizeof(OPEN_COMMAND_SUFFIX) <= sizeof(SfxContext::class_key),
              "the longest accepted key and its suffix fit class_key");

void set_class_value(const char *key_name, const char *value_name, const char *data) {
  char name[80];
  char key_class[sizeof(KEY_CLASS_DEFAULT)];
  lstrcpynA(name, key_name, sizeof(name));
  lstrcpyA(key_class, KEY_CLASS_DEFAULT);
  HKEY key = nullptr;
  DWORD disposition;
  if (RegCreateKeyExA(HKEY_CLASSES_ROOT, name, 0, key_class, REG_OPTION_NON_VOLATILE, KEY_WRITE,
                      nullptr, &key, &disposition) == ERROR_SUCCESS)
    RegSetValueExA(key, value_name, 0, REG_SZ, (const BYTE *)data, (DWORD)lstrlenA(data) + 1);
  if (key) RegCloseKey(key);
}

// The file as the member loop wrote it (composed, cleaned), made absolute
// (the shell starts the program from anywhere), in its short form; where the
// platform has none (the file is missing, say) the long form stays. False
// when the path does not fit.
bool join_short_path(const char *directory, const char *name, char *destination, DWORD size) {
  char member[sizeof(SfxContext::program_path)], joined[sizeof(SfxContext::target_path)];
  char *file_part;
  lstrcpynA(member, name, sizeof(member));
  if (!compose_written_path(joined, directory, member, sizeof(member))) return false;
  DWORD n = GetFullPathNameA(joined, size, destination, &file_part);
  if (n == 0 || n >= size) return false;
  GetShortPathNameA(destination, destination, size);
  return true;
}

// A line that would write into the root of HKEY_CLASSES_ROOT, an empty WIN.INI
// key, or a cut key or path is skipped whole.
static bool class_line_is_usable(bool fields_fit) {
  if (!fields_fit || !ctx->class_extension[0] || !ctx->class_key[0]) return false;
  if (lstrlenA(ctx->class_key) > MAX_CLASS_KEY) return false;
  return !(win32s_host && !ctx->class_extension[1]);
}

static bool ask_set_class() {
  if (!ask_class) return true;
  char question[260];
  wsprintfA(question, "\"%s\" Set Class?", ctx->class_description);
  // Closing the box without an answer counts as No.
  return MessageBoxA(ctx->main_window, question, ctx->window_title,
                     MB_TASKMODAL | MB_ICONQUESTION | MB_YESNO) == IDYES;
}

void register_file_class() {
  if (!ask_set_class()) return;
  if (!join_short_path(ctx->install_dir, ctx->program_path, ctx->program_path,
                       sizeof(ctx->program_path)))
    return;
  convert_separators(ctx->program_path, '\\');
  // After a failed pass a missing program was most likely lost with it: its
  // class would open files with nothing.
  if (ctx->abort_flag && GetFileAttributesA(ctx->program_path) == INVALID_FILE_ATTRIBUTES) return;
  CharLowerA(ctx->class_extension);
  if (win32s_host) {
    wsprintfA(ctx->shell_text, "%s ^%s", ctx->program_path, ctx->class_extension);
    WriteProfileStringA("Extensions", ctx->class_extension + 1, ctx->shell_text);
    return;
  }
  wsprintfA(ctx->shell_text, "\"%s\" \"%%1\"", ctx->program_path);
  set_class_value(ctx->class_extension, "", ctx->class_key);
  set_class_value(ctx->class_key, "", ctx->class_description);
  char *suffix = string_end(ctx->class_key);
  lstrcpyA(suffix, OPEN_COMMAND_SUFFIX);
  set_class_value(ctx->class_key, "", ctx->shell_text);
  wsprintfA(ctx->shell_text, "%s,0", ctx->program_path);
  lstrcpyA(suffix, DEFAULT_ICON_SUFFIX);
  set_class_value(ctx->class_key, "", ctx->shell_text);
}

static void handle_class_line(const char *value) {
  bool fit = next_field(&value, ctx->class_extension, sizeof(ctx->class_extension));
  fit &= next_field(&value, ctx->class_description, sizeof(ctx->class_description));
  fit &= next_field(&value, ctx->program_path, sizeof(ctx->program_path));
  fit &= next_field(&value, ctx->class_key, sizeof(ctx->class_key));
  if (class_line_is_usable(fit)) register_file_class();
}

// The conversation advances in the dialog procedure as acknowledgements
// arrive; this waits for it, polling, for at most DDE_WAIT_MS. A conversation
// that does not finish in time is given up, so the step always ends.
static void wait_for_conversation(HWND window) {
  DWORD start = GetTickCount();
  while (dde_state != DDE_DONE) {
    drain_message_queue(window);
    if (dde_state != DDE_DONE && GetTickCount() - start > DDE_WAIT_MS) {
      if (dde_state == DDE_COMMAND_SENT)
        PostMessageA(dde_server, WM_DDE_TERMINATE, (WPARAM)window, 0);
      dde_state = DDE_DONE;
    }
  }
}

// A field cut to size would name another group, item or program: the line
// is skipped whole, as a "$Class=" line is.
static void handle_group_line(HWND window, const char *value) {
  bool fit = next_field(&value, ctx->group_name, sizeof(ctx->group_name));
  fit &= next_field(&value, ctx->item_title, sizeof(ctx->item_title));
  fit &= next_field(&value, ctx->program_path, sizeof(ctx->program_path));
  fit &= next_field(&value, ctx->item_icon_path, sizeof(ctx->item_icon_path));
  if (!fit) return;
  initiate_progman(window);
  wait_for_conversation(window);
}

void run_post_install(HWND window) {
  char line[LINE_BUFFER_SIZE];
  const char *cursor = ctx->script_text;
  while (next_line(&cursor)) {
    int key = match_key(&cursor);
    if (key != KEY_NONE) {
      read_line_value(&cursor, line);
      if (key == KEY_CLASS && ctx->class_action) handle_class_line(line);
      else if (key == KEY_GROUP && ctx->group_action) handle_group_line(window, line);
    }
    skip_line(&cursor);
  }
  PostMessageA(HWND_BROADCAST, WM_WININICHANGE, 0, 0);
}
