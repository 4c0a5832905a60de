// Start-up and settings: entry, command line, header block, script keys.
#pragma once
#include "startup/context.h"

constexpr int MAX_TOKENS = 1024;

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR command_tail, int show);
LPSTR skip_program_name(LPSTR command_line);
int split_command_line(LPCSTR text, char ***tokens);
void release_tokens(char **tokens, int count);
void load_header_block();
[[noreturn]] void abort_run(UINT status);

// Script member: the line scanner and field splitter are shared with the
// post-install walk.
enum ScriptKey {
  KEY_NONE = 0,
  KEY_WINDOW_TITLE = 1,
  KEY_INSTALL_TITLE,
  KEY_INSTALL_DIR,
  KEY_CLASS_TITLE,
  KEY_CLASS,
  KEY_GROUP_TITLE,
  KEY_GROUP,
  KEY_COMMAND,
  KEY_ASK_REGIST,
  KEY_FLAG,
};
constexpr int LINE_BUFFER_SIZE = 256;
bool next_line(const char **cursor);
int match_key(const char **cursor);
void read_line_value(const char **cursor, char *line);
void skip_line(const char **cursor);
bool next_field(const char **value, char *out, int size);
void interpret_script();
