// Reads the builder's configuration record from our own file at offset 512.
#include "startup/startup.h"

// A text that fills its whole field has no terminator; it is cut to the field
// size less one, so every later copy and scan stays inside its field.
template <size_t N> static void terminate_field(char (&field)[N]) { field[N - 1] = 0; }

void load_header_block() {
  SfxHeaderBlock *block = &ctx->block;
  HFILE file = _lopen(ctx->module_path, OF_READ);
  if (file != HFILE_ERROR) {
    if (_llseek(file, HEADER_BLOCK_OFFSET, FILE_BEGIN) != -1)
      _lread(file, block, sizeof(*block));
    _lclose(file);
  }
  terminate_field(block->title);
  terminate_field(block->dir_caption);
  terminate_field(block->default_dir);
  terminate_field(block->run_command);
  if (!block->title[0]) lstrcpyA(block->title, DEFAULT_TITLE);
  if (dir_from_command_line) lstrcpyA(block->default_dir, ctx->text_scratch);
  lstrcpynA(ctx->window_title, block->title, sizeof(ctx->window_title));
  lstrcpynA(ctx->dir_caption, block->dir_caption, sizeof(ctx->dir_caption));
}
