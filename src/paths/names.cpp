// Member names made acceptable to the destination volume (long names or 8.3),
// directories created on the way to each file, and the short display form.
// A cut never leaves half a double-byte character, and no name opens a device.
#include "paths/paths.h"

bool long_names;

static constexpr char INVALID_SHORT_NAME_CHARS[] = "\"*+,./:;<=>?[\\]|\xFF";
static constexpr char INVALID_LONG_NAME_CHARS[] = "\"*/:<>?\\|";
constexpr int SHORT_BASE = 8, SHORT_EXTENSION = 3, LONG_COMPONENT = 255;
constexpr DWORD LONG_NAME_LENGTH = 255;

static bool contains(const char *set, BYTE c) {
  for (; *set; ++set)
    if ((BYTE)*set == c) return true;
  return false;
}

char *string_end(char *text) { return text + lstrlenA(text); }

// Cleaning only shrinks texts, so pieces move towards the start.
static void move_left(char *to, const char *from) {
  while ((*to++ = *from++) != 0) {
  }
}

bool detect_long_names(const char *dir) {
  char root[4] = {dir[0], (char)(dir[0] ? dir[1] : 0), '\\', 0};
  DWORD max_component = 0;
  bool drive = dir[0] && dir[1] == ':';
  GetVolumeInformationA(drive ? root : nullptr, nullptr, 0, nullptr, &max_component, nullptr,
                        nullptr, 0);
  return max_component == LONG_NAME_LENGTH;
}

char *clean_name_part(char *text, int max_bytes, bool long_mode) {
  BYTE *p = (BYTE *)text;
  bool in_pair = false, last_was_lead = false;
  for (int n = 0; n < max_bytes && *p; ++n, ++p) {
    last_was_lead = false;
    if (in_pair) {
      in_pair = false;
    } else if (IsDBCSLeadByte(*p)) {
      in_pair = last_was_lead = true;
    } else if (long_mode ? *p < 0x20 || contains(INVALID_LONG_NAME_CHARS, *p)
                         : *p <= 0x20 || contains(INVALID_SHORT_NAME_CHARS, *p)) {
      *p = '_';
    }
  }
  if (last_was_lead) --p;
  *p = 0;
  return (char *)p;
}

static char *last_dot(char *name) {
  char *dot = nullptr;
  for (char *p = name; *p; ++p)
    if (*p == '.') dot = p;
  return dot;
}

// A component of dots (and spaces, which Windows drops behind them) with two
// dots or more would climb out of the destination; its first dot becomes '_',
// as 8.3 cleaning has always turned ".." into "_.".
static void stop_parent_step(char *name) {
  int dots = 0;
  for (const char *p = name; *p; ++p) {
    if (*p != '.' && *p != ' ') return;
    dots += *p == '.';
  }
  if (dots >= 2) name[0] = '_';
}

// Windows opens a device for these base names, whatever follows the first
// dot and in any case ("aux.h" is the serial port), and for COM and LPT with
// a digit 1 to 9 or a superscript 1 to 3 (0xB9, 0xB2, 0xB3 in code page 1252).
static constexpr const char *DEVICE_NAMES[] = {"CON", "PRN", "AUX", "NUL", "CLOCK$"};

static bool same_letters(const char *name, const char *word, int n) {
  for (int i = 0; i < n; ++i)
    if ((name[i] >= 'a' && name[i] <= 'z' ? name[i] - 'a' + 'A' : name[i]) != word[i]) return false;
  return true;
}

bool is_device_name(const char *name) {
  int n = 0;
  while (name[n] && name[n] != '.') ++n;
  while (n > 0 && name[n - 1] == ' ') --n;  // Windows drops trailing spaces too
  for (const char *device : DEVICE_NAMES)
    if (n == lstrlenA(device) && same_letters(name, device, n)) return true;
  if (n != 4 || !(same_letters(name, "COM", 3) || same_letters(name, "LPT", 3))) return false;
  BYTE digit = (BYTE)name[3];
  return (digit >= '1' && digit <= '9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3;
}

// The checks that look at a whole name run after the cut, which may leave a
// name of dots and spaces or a device's base name.
void clean_file_name(char *name, bool long_mode) {
  if (long_mode) {
    clean_name_part(name, LONG_COMPONENT, true);
  } else if (char *dot = last_dot(name)) {
    *dot = 0;
    char *end = clean_name_part(name, SHORT_BASE, false);
    char *extension = dot + 1;
    clean_name_part(extension, SHORT_EXTENSION, false);
    *end = '.';
    move_left(end + 1, extension);
  } else {
    clean_name_part(name, SHORT_BASE, false);
  }
  stop_parent_step(name);
  if (!is_device_name(name)) return;
  // '_' in front keeps the data under a name that says what happened. An
  // 8.3 base that names a device has at most 6 bytes; a long name is cut
  // again.
  for (char *p = string_end(name); p >= name; --p) p[1] = p[0];
  name[0] = '_';
  if (long_mode) clean_name_part(name, LONG_COMPONENT, true);
}

static char *find_slash(char *p) {
  while (*p && *p != '/') ++p;
  return *p ? p : nullptr;
}

// Rebuilt from a copy, since a device name's '_' makes its component one
// byte longer; a path that then does not fit `size` is refused, never cut.
bool clean_member_path(char *path, DWORD size, bool long_mode) {
  char source[sizeof(SfxContext::target_path)];
  char part[sizeof(source) + 1];
  if ((DWORD)lstrlenA(path) >= sizeof(source)) return false;
  lstrcpyA(source, path);
  char *read = source;
  DWORD used = 0;
  if (*read == '/') ++read, ++used;
  for (;;) {
    char *slash = find_slash(read);
    if (slash) *slash = 0;
    lstrcpyA(part, read);
    clean_file_name(part, long_mode);
    DWORD n = (DWORD)lstrlenA(part);
    if (used + n + (slash ? 1 : 0) >= size) return false;
    lstrcpyA(path + used, part);
    used += n;
    if (!slash) return true;
    path[used++] = '/';
    read = slash + 1;
  }
}

// The path a member is written to: composed, its separators made '/', and
// cleaned behind what this machine gave (the destination, a macro's
// expansion, a drive), which names places that exist as they are named.
bool compose_written_path(char *target, const char *base, char *path, DWORD path_size) {
  DWORD kept = 0;
  if (!compose_target_path(target, base, path, path_size, &kept)) return false;
  convert_separators(target, '/');
  DWORD drive = target[0] && target[1] == ':' ? 2 : 0;
  char *start = target + (kept > drive ? kept : drive);
  return clean_member_path(start, sizeof(SfxContext::target_path) - (DWORD)(start - target), long_names);
}

void create_parent_directories(const char *path) {
  char partial[sizeof(SfxContext::target_path)];
  int n = 0;
  for (; path[n] && n < (int)sizeof(partial) - 1; ++n) {
    if (path[n] == '/') {
      partial[n] = 0;
      CreateDirectoryA(partial, nullptr);
    }
    partial[n] = path[n];
  }
}

// When the platform cannot give a title, the name behind the last separator
// stands in for it.
void shorten_path_for_display(char *out, const char *path, int width) {
  if (lstrlenA(path) < width) {
    lstrcpyA(out, path);
    return;
  }
  char title[256];
  if (GetFileTitleA(path, title, sizeof(title)) != 0) {
    lstrcpynA(title, file_name_part((char *)path), sizeof(title));
  }
  int head = width - lstrlenA(title) - 4 - 1;
  if (head > 0) lstrcpynA(out, path, head + 1);
  else out[0] = 0;
  wsprintfA(string_end(out), ".../%s", title);
}
