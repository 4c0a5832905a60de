// Paths and names: directory macros, destination composition, separators,
// member name cleaning, directory creation and the display form of a path.
#pragma once
#include "startup/context.h"

constexpr int DISPLAY_WIDTH = 32;

bool is_slash(char c);  // backslash or slash
char *find_any_of(char *text, const char *set);
char *file_name_part(char *path);
char *convert_separators(char *text, char replacement);
void append_separator(char *path);
int compare_prefix(const char *a, const char *b, int count);
void read_machine_string(const char *key_path, const char *value_name, const char *default_text,
                         char *out, DWORD capacity);
DWORD get_work_directory(DWORD capacity, char *out);
bool starts_with_macro(const char *text);
// `expansion`, when given, receives the length of the macro's replacement.
bool expand_directory_macro(char *text, DWORD size, const char *search_name, DWORD *expansion = nullptr);
template <size_t N> bool expand_directory_macro(char (&text)[N], const char *search_name) {
  return expand_directory_macro(text, N, search_name);
}
// `kept`, when given, receives how many leading bytes of target this machine
// gave (base or a macro's expansion): they are not cleaned.
bool compose_target_path(char *target, const char *base, char *path, DWORD path_size, DWORD *kept = nullptr);

char *string_end(char *text);
bool detect_long_names(const char *dir);
char *clean_name_part(char *text, int max_bytes, bool long_names);
bool is_device_name(const char *name);
void clean_file_name(char *name, bool long_names);
void clean_member_path(char *path, bool long_names);
// target holds sizeof(target_path) bytes.
bool compose_written_path(char *target, const char *base, char *path, DWORD path_size);
void create_parent_directories(const char *path);
void shorten_path_for_display(char *out, const char *path, int width);

extern bool long_names;
