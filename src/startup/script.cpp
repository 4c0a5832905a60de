// The script member "$": one key=value setting per line. The line scanner and
// field splitter here are shared with the post-install walk.
#include "startup/startup.h"

// Matching order: the longer "$ClassTitle=" and "$GroupTitle=" come before
// their prefixes "$Class=" and "$Group=".
static constexpr const char *SCRIPT_KEYS[] = {
    "$WindowTitle=", "$InstallTitle=", "$InstallDir=", "$ClassTitle=", "$Class=",
    "$GroupTitle=",  "$Group=",        "$Command=",    "$AskRegist=",  "$Flag=",
};
static_assert(sizeof(SCRIPT_KEYS) / sizeof(*SCRIPT_KEYS) == KEY_FLAG, "one entry per key");

enum : unsigned {
  SCRIPT_AUTO_START_ON = 0x0001,
  SCRIPT_OVERWRITE_ON = 0x0002,
  SCRIPT_KEEP_NEWER_OFF = 0x0008,
  SCRIPT_ATTRIBUTES_ON = 0x0010,
  SCRIPT_AUTO_START_OFF = 0x0100,
  SCRIPT_OVERWRITE_OFF = 0x0200,
  SCRIPT_KEEP_NEWER_ON = 0x0800,
  SCRIPT_ATTRIBUTES_OFF = 0x1000,
  SCRIPT_KEEP_CONTROLS = 0x2000,
};

bool next_line(const char **cursor) {
  const BYTE *p = (const BYTE *)*cursor;
  while (*p >= 1 && *p < 0x20) ++p;
  *cursor = (const char *)p;
  return *p != 0;
}

int match_key(const char **cursor) {
  for (int i = 0; i < KEY_FLAG; ++i) {
    const char *key = SCRIPT_KEYS[i];
    int n = 0;
    while (key[n] && (*cursor)[n] == key[n]) ++n;
    if (!key[n]) {
      *cursor += n;
      return i + 1;
    }
  }
  return KEY_NONE;
}

void read_line_value(const char **cursor, char *line) {
  const BYTE *p = (const BYTE *)*cursor;
  int n = 0;
  while (n < LINE_BUFFER_SIZE - 1 && *p >= 0x20) line[n++] = (char)*p++;
  line[n] = 0;
  *cursor = (const char *)p;
}

void skip_line(const char **cursor) {
  const BYTE *p = (const BYTE *)*cursor;
  while (*p >= 0x20) ++p;
  *cursor = (const char *)p;
}

// A field longer than its destination is cut to size - 1 bytes (the result
// is then false); the rest of the field is still consumed so that the next
// call finds the next field.
bool next_field(const char **value, char *out, int size) {
  const BYTE *p = (const BYTE *)*value;
  bool quoted = false, fits = true;
  int n = 0;
  for (; *p >= 0x20; ++p) {
    if (*p == '"') {
      quoted = !quoted;
      continue;
    }
    if (*p == ',' && !quoted) {
      ++p;
      break;
    }
    if (n < size - 1) out[n++] = (char)*p;
    else fits = false;
  }
  out[n] = 0;
  *value = (const char *)p;
  return fits;
}

// atoi's reading: leading white space, an optional sign, digits; wraps.
static unsigned parse_flag_value(const char *s) {
  while (*s == ' ' || (*s >= '\t' && *s <= '\r')) ++s;
  bool negative = *s == '-';
  if (*s == '-' || *s == '+') ++s;
  unsigned v = 0;
  while (*s >= '0' && *s <= '9') v = v * 10 + (unsigned)(*s++ - '0');
  return negative ? 0u - v : v;
}

static void apply_flag_value(unsigned bits) {
  if (bits & SCRIPT_AUTO_START_ON) auto_start = 1;
  if (bits & SCRIPT_OVERWRITE_ON) overwrite_all = 1;
  if (bits & SCRIPT_KEEP_NEWER_OFF) keep_newer = 0;
  if (bits & SCRIPT_ATTRIBUTES_ON) ctx->block.restore_attributes = '/';
  if (bits & SCRIPT_AUTO_START_OFF) auto_start = 0;
  if (bits & SCRIPT_OVERWRITE_OFF) overwrite_all = 0;
  if (bits & SCRIPT_KEEP_NEWER_ON) keep_newer = 1;
  if (bits & SCRIPT_ATTRIBUTES_OFF) ctx->block.restore_attributes = 0;
  if (bits & SCRIPT_KEEP_CONTROLS) keep_controls = 1;
}

// The second field of "$ClassTitle=" and "$GroupTitle=": only its first
// character counts.
static void read_initial_check(const char **value, INT *check) {
  char field[80];
  next_field(value, field, sizeof(field));
  if (field[0] == '1') *check = 1;
  else if (field[0] == '0') *check = 0;
}

void interpret_script() {
  char line[LINE_BUFFER_SIZE];
  const char *cursor = ctx->script_text;
  while (next_line(&cursor)) {
    int key = match_key(&cursor);
    if (key != KEY_NONE && !(key == KEY_INSTALL_DIR && ctx->block.default_dir[0])) {
      read_line_value(&cursor, line);
      const char *value = line;
      switch (key) {
      case KEY_WINDOW_TITLE:
        next_field(&value, ctx->window_title, sizeof(ctx->window_title));
        break;
      case KEY_INSTALL_TITLE:
        next_field(&value, ctx->dir_caption, sizeof(ctx->dir_caption));
        break;
      case KEY_INSTALL_DIR:
        next_field(&value, ctx->block.default_dir, sizeof(ctx->block.default_dir));
        break;
      case KEY_CLASS_TITLE:
        ctx->class_action = ctx->class_initial_check = 1;
        next_field(&value, ctx->class_caption, sizeof(ctx->class_caption));
        read_initial_check(&value, &ctx->class_initial_check);
        break;
      case KEY_GROUP_TITLE:
        ctx->group_action = ctx->group_initial_check = 1;
        next_field(&value, ctx->group_caption, sizeof(ctx->group_caption));
        read_initial_check(&value, &ctx->group_initial_check);
        break;
      case KEY_COMMAND:
        next_field(&value, ctx->block.run_command, sizeof(ctx->block.run_command));
        break;
      case KEY_ASK_REGIST:
        ask_class = 1;
        break;
      case KEY_FLAG:
        apply_flag_value(parse_flag_value(line) & 0xFFFF);
        break;
      }
    }
    skip_line(&cursor);
  }
}
