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

// Windows opens a device for these base names (lower-cased here), whatever
// follows the first dot, in any case and with trailing spaces ("aux.h" is the
// serial port); '#' stands for a digit 1 to 9 or a superscript 1 to 3.
static constexpr char DEVICE_NAMES[] = "con\0prn\0aux\0nul\0clock$\0com#\0lpt#\0";

bool is_device_name(const char *name) {
  char base[8];
  int n = 0;
  while (name[n] && name[n] != '.') ++n;
  while (n > 0 && name[n - 1] == ' ') --n;
  if (n > 6) return false;
  for (int i = 0; i < n; ++i) base[i] = (char)(name[i] | 0x20);  // letters to lower case
  base[n] = 0;
  if (n == 4 && contains("123456789\xB9\xB2\xB3", (BYTE)base[3])) base[3] = '#';
  for (const char *device = DEVICE_NAMES; *device; device += lstrlenA(device) + 1)
    if (compare_prefix(base, device, sizeof(base)) == 0) return true;
  return false;
}

// The checks that look at a whole name run after the cut, which may leave a
// name of dots and spaces, or a device's base name. A device name's first
// byte becomes '_', as a parent step's first dot does: names only shrink.
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
  if (is_device_name(name)) name[0] = '_';
}

static char *find_slash(char *p) {
  while (*p && *p != '/') ++p;
  return *p ? p : nullptr;
}

// A drive in front and one leading slash stay as they are.
void clean_member_path(char *path, bool long_mode) {
  if (path[0] && path[1] == ':') path += 2;
  char *write = path, *read = path;
  if (*read == '/') ++read, ++write;
  for (char *slash; (slash = find_slash(read)) != nullptr; read = slash + 1) {
    *slash = 0;
    clean_file_name(read, long_mode);
    move_left(write, read);
    write = string_end(write);
    *write++ = '/';
  }
  clean_file_name(read, long_mode);
  move_left(write, read);
}

// The path a member is written to: composed, its separators made '/', and
// cleaned behind what this machine gave (the destination, a macro's
// expansion, a drive), which names places that exist as they are named.
bool compose_written_path(char *target, const char *base, char *path, DWORD path_size) {
  DWORD kept = 0;
  if (!compose_target_path(target, base, path, path_size, &kept)) return false;
  convert_separators(target, '/');
  clean_member_path(target + kept, long_names);
  return true;
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
