// Directory macros and the destination of a member. Archive texts were written
// elsewhere; the macros resolve them on this machine: the work directory, the
// Windows and system directories, Program Files, and where a file is found.
#include "paths/paths.h"

static constexpr char SEPARATORS[] = {'\\', '/', (char)0xFF, 0};
static constexpr char NAME_SEPARATORS[] = {':', '\\', '/', (char)0xFF, 0};
constexpr DWORD DIRECTORY_BUFFER = 256;  // every platform call that fills a directory gets this
// Room for a 255-byte directory followed by the rest of a 259-byte member path.
constexpr DWORD EXPANSION_BUFFER = DIRECTORY_BUFFER + sizeof(SfxContext::member_path);

enum Macro { MACRO_WORK, MACRO_WINDIR, MACRO_WINROOT, MACRO_SYSTEMDIR, MACRO_PROGRAMFILES, MACRO_SEARCH };
static constexpr const char *DIRECTORY_MACROS[] = {
    "%WORK%", "%WinDir%", "%WinRoot%", "%SystemDir%", "%ProgramFiles%", "%Search%",
};

static bool is_in(BYTE c, const char *set) {
  for (; *set; ++set)
    if ((BYTE)*set == c) return true;
  return false;
}

bool is_slash(char c) { return c == '\\' || c == '/'; }

char *find_any_of(char *text, const char *set) {
  for (BYTE *p = (BYTE *)text; *p; ++p) {
    if (IsDBCSLeadByte(*p)) {
      if (!*++p) break;
    } else if (is_in(*p, set)) {
      return (char *)p;
    }
  }
  return nullptr;
}

char *file_name_part(char *path) {
  char *part = path;
  for (char *hit = find_any_of(path, NAME_SEPARATORS); hit; hit = find_any_of(hit + 1, NAME_SEPARATORS))
    part = hit + 1;
  return part;
}

char *convert_separators(char *text, char replacement) {
  char *after = text;
  for (BYTE *p = (BYTE *)text; *p; ++p) {
    if (IsDBCSLeadByte(*p)) {
      if (!*++p) break;
    } else if (is_in(*p, SEPARATORS)) {
      *p = (BYTE)replacement;
      after = (char *)p + 1;
    }
  }
  return after;
}

void append_separator(char *path) {
  char *end = path + lstrlenA(path);
  char last = *CharPrevA(path, end);
  if (last != '\\' && last != '/') lstrcpyA(end, "/");
}

int compare_prefix(const char *a, const char *b, int count) {
  for (int i = 0; i < count; ++i) {
    BYTE x = (BYTE)a[i], y = (BYTE)b[i];
    if (x != y || !x || !y) return x - y;
  }
  return 0;
}

void read_machine_string(const char *key_path, const char *value_name, const char *default_text,
                         char *out, DWORD capacity) {
  char path[80];
  lstrcpynA(path, key_path, sizeof(path));
  HKEY key;
  bool found = false;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_QUERY_VALUE, &key) == ERROR_SUCCESS) {
    // The data need not end in a zero: the string ends where the data does,
    // and data that fills the whole buffer does not fit.
    DWORD size = capacity - 1;
    found = RegQueryValueExA(key, value_name, nullptr, nullptr, (BYTE *)out, &size) == ERROR_SUCCESS;
    RegCloseKey(key);
    if (found) out[size] = 0;
  }
  if (!found) lstrcpynA(out, default_text, (int)capacity);
}

// An environment value that does not fit counts as unset.
static bool read_environment(const char *name, char *out) {
  DWORD n = GetEnvironmentVariableA(name, out, DIRECTORY_BUFFER);
  if (n == 0 || n >= DIRECTORY_BUFFER) out[0] = 0;
  return out[0] != 0;
}

DWORD get_work_directory(DWORD capacity, char *out) {
  char work[DIRECTORY_BUFFER + 8] = "";  // the Windows directory plus "/TEMP"
  out[0] = 0;
  if (!read_environment("TEMP", work) && !read_environment("TMP", work)) {
    GetWindowsDirectoryA(work, DIRECTORY_BUFFER);
    if (work[0]) {
      append_separator(work);
      lstrcatA(work, "TEMP");
      CreateDirectoryA(work, nullptr);
    } else if (!GetCurrentDirectoryA(DIRECTORY_BUFFER, work)) {
      work[0] = 0;
    }
  }
  DWORD length = (DWORD)lstrlenA(work);
  if (length == 0) return 0;
  if (length >= capacity) return length + 1;
  lstrcpyA(out, work);
  return length;
}

static void windows_drive(char *out) {
  GetWindowsDirectoryA(out, DIRECTORY_BUFFER);
  if (out[0] && out[1]) out[2] = 0;
}

static int macro_at_start(const char *text) {
  int m = 0;
  while (m <= MACRO_SEARCH && compare_prefix(text, DIRECTORY_MACROS[m], lstrlenA(DIRECTORY_MACROS[m])))
    ++m;
  return m;
}

bool starts_with_macro(const char *text) { return macro_at_start(text) <= MACRO_SEARCH; }

// Writes the macro's replacement into `out` (DIRECTORY_BUFFER bytes) and
// returns the number of text bytes the macro occupies, 0 for none.
static int resolve_macro(const char *text, const char *search_name, char *out) {
  out[0] = 0;
  int m = macro_at_start(text);
  switch (m) {
  case MACRO_WORK:
    get_work_directory(DIRECTORY_BUFFER, out);
    break;
  case MACRO_WINDIR:
    GetWindowsDirectoryA(out, DIRECTORY_BUFFER);
    break;
  case MACRO_WINROOT:
    windows_drive(out);
    break;
  case MACRO_SYSTEMDIR:
    GetSystemDirectoryA(out, DIRECTORY_BUFFER);
    break;
  case MACRO_PROGRAMFILES:
    if (!win32s_host)
      read_machine_string("SOFTWARE\\Microsoft\\Windows\\CurrentVersion", "ProgramFilesDir", "",
                          out, DIRECTORY_BUFFER);
    if (!out[0]) windows_drive(out);
    break;
  case MACRO_SEARCH: {
    if (!search_name[0]) return 0;
    char *file_part = nullptr;
    DWORD n = SearchPathA(nullptr, search_name, nullptr, DIRECTORY_BUFFER, out, &file_part);
    if (n > 0 && n < DIRECTORY_BUFFER && file_part && file_part > out) file_part[-1] = 0;
    else GetSystemDirectoryA(out, DIRECTORY_BUFFER);
    break;
  }
  default:
    return 0;
  }
  out[DIRECTORY_BUFFER - 1] = 0;
  return lstrlenA(DIRECTORY_MACROS[m]);
}

// Replaces a macro at the very start of `text` and turns every separator into
// a backslash. An expansion that would not fit the text's field is refused
// (false, text unchanged): a cut path would name another place.
bool expand_directory_macro(char *text, DWORD size, const char *search_name, DWORD *expansion) {
  char expanded[EXPANSION_BUFFER];
  int macro_length = resolve_macro(text, search_name, expanded);
  DWORD head = (DWORD)lstrlenA(expanded), rest = (DWORD)lstrlenA(text + macro_length);
  if (head + rest >= size || head + rest >= sizeof(expanded)) return false;
  if (expansion) *expansion = head;
  lstrcpyA(expanded + head, text + macro_length);
  lstrcpyA(text, expanded);
  convert_separators(text, '\\');
  return true;
}

// target holds sizeof(target_path) bytes: a 255-byte base, a separator and a
// 259-byte path always fit.
bool compose_target_path(char *target, const char *base, char *path, DWORD path_size, DWORD *kept) {
  static_assert(sizeof(SfxContext::target_path) >=
                    sizeof(SfxContext::install_dir) + sizeof(SfxContext::member_path),
                "a composed path always fits target_path");
  // A rooted member keeps one leading separator: two would name another
  // machine (\\host\share), which no archive may make the stub reach.
  char *root = path;
  while (is_slash(root[0]) && is_slash(root[1])) ++root;
  if (root != path) {
    char *to = path;
    while ((*to++ = *root++) != 0) {
    }
  }
  char *name = file_name_part(path);
  char search_name[sizeof(SfxContext::member_path)];
  lstrcpynA(search_name, name, sizeof(search_name));
  DWORD expansion = 0;
  if (!expand_directory_macro(path, path_size, search_name, &expansion)) return false;
  lstrcpyA(target, base);
  if (path[0] && path[1] == ':') {
    target[0] = 0;
  } else if (is_slash(path[0])) {
    target[base[0] && base[1] == ':' ? 2 : 0] = 0;
  } else {
    bool bare_drive = base[0] && base[1] == ':' && !base[2];
    if (base[0] && !bare_drive) append_separator(target);
  }
  if (kept) *kept = (DWORD)lstrlenA(target) + expansion;
  lstrcatA(target, path);
  return true;
}
