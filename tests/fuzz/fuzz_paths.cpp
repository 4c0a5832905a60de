// Destination composition, macro expansion and name cleaning in a single-
// and a double-byte code page, on arbitrary directories and member paths.
// Whatever the member path, no ".." step is left behind the directory it is
// placed in (checked in the single-byte code page, where every '/' is a
// separator).
#include "fuzz_support.h"
#include <cstring>
#include "paths/paths.h"
#include "ui/ui.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 2) return 0;
  fresh_context(scratch_dir() + "/none.exe");
  posix::set_code_page(data[0] & 1 ? 932 : 1252);
  size_t split = data[1] % (size - 1);
  const char *rest = (const char *)data + 2;
  size_t left = size - 2;
  size_t base_len = split < left ? split : left;
  if (base_len > sizeof(ctx->install_dir) - 1) base_len = sizeof(ctx->install_dir) - 1;
  memcpy(ctx->install_dir, rest, base_len);
  ctx->install_dir[base_len] = 0;
  size_t path_len = left - base_len < sizeof(ctx->member_path) - 1 ? left - base_len : sizeof(ctx->member_path) - 1;
  memcpy(ctx->member_path, rest + base_len, path_len);
  ctx->member_path[path_len] = 0;
  char copy[sizeof(ctx->member_path)];
  lstrcpyA(copy, ctx->member_path);
  if (compose_target_path(ctx->target_path, ctx->install_dir, ctx->member_path, sizeof(ctx->member_path))) {
    convert_separators(ctx->target_path, '/');
    clean_member_path(ctx->target_path, data[0] & 2);
    size_t base = strlen(ctx->install_dir);
    if (!(data[0] & 1) && strncmp(ctx->target_path, ctx->install_dir, base) == 0 && base > 0)
      for (const char *p = ctx->target_path + base; *p; ++p)
        if (p[0] == '/' && p[1] == '.' && p[2] == '.' && (p[3] == '/' || p[3] == 0)) abort();
    shorten_path_for_display(ctx->text_scratch, ctx->target_path, DISPLAY_WIDTH);
  }
  expand_directory_macro(copy, "x.dll");
  char chosen[sizeof(ctx->target_path)];
  lstrcpyA(chosen, ctx->install_dir);
  cut_trailing_separator(chosen);
  file_name_part(chosen);
  return 0;
}
