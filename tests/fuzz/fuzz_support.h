// Shared by the fuzz targets: a scratch directory in memory-backed /dev/shm,
// and a fresh context for each input.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <unistd.h>
#include "posix/harness.h"
#include "startup/startup.h"

inline const std::string &scratch_dir() {
  static std::string dir = [] {
    char templ[] = "/dev/shm/sfxfuzz-XXXXXX";
    return std::string(mkdtemp(templ) ? templ : "/tmp");
  }();
  return dir;
}

inline void write_scratch(const std::string &path, const uint8_t *data, size_t size) {
  FILE *f = fopen(path.c_str(), "wb");
  if (!f) abort();
  if (size) fwrite(data, 1, size, f);
  fclose(f);
}

// Resets the stand-in and the program's settings and gives a zero context.
inline void fresh_context(const std::string &module) {
  posix::reset();
  posix::set_drive_root(scratch_dir() + "/drives");
  posix::set_module_path(module);
  win32s_host = auto_start = overwrite_all = keep_controls = ask_class = dir_from_command_line = 0;
  keep_newer = 1;
  dialog_window = nullptr;
  ctx = (SfxContext *)LocalAlloc(LPTR, sizeof(SfxContext));
  lstrcpyA(ctx->module_path, module.c_str());
  lstrcpyA(ctx->window_title, "fuzz");
  ctx->output_file = NO_FILE;
  ctx->archive_file = NO_ARCHIVE;
}
