// The directory chooser: the platform's old-style open-file dialog with the
// "GetDirDialog" template, which hides every file control. A preset file name
// makes OK return a path inside the directory the user navigated to; the name
// is cut off again and never created.
#include "ui/ui.h"
#include "paths/paths.h"

int choose_directory(HWND dialog) {
  OPENFILENAME_NT4A request = {};  // the 76-byte form the old-style dialog takes
  request.lStructSize = sizeof(request);
  request.hwndOwner = dialog;
  request.hInstance = instance_handle;
  request.lpstrFile = ctx->text_scratch;
  request.nMaxFile = MAX_PATH;
  request.lpstrTitle = "Extracting directory";
  request.Flags = OFN_ENABLETEMPLATE | OFN_HIDEREADONLY;
  request.lpTemplateName = "GetDirDialog";
  lstrcpyA(ctx->text_scratch, "work.txt");
  BOOL accepted = GetOpenFileNameA((LPOPENFILENAMEA)&request);
  if (accepted) {
    lstrcpyA(ctx->target_path, ctx->text_scratch);
    if (request.nFileOffset < sizeof(ctx->target_path)) ctx->target_path[request.nFileOffset] = 0;
  }
  return accepted;
}

int cut_trailing_separator(char *path) {
  for (char *hit = find_any_of(path, "/\\"); hit; hit = find_any_of(hit + 1, "/\\")) {
    if ((BYTE)hit[1] < 0x20) {
      *hit = 0;
      return 1;
    }
  }
  return 0;
}

void on_reference(HWND dialog) {
  if (!choose_directory(dialog)) return;
  cut_trailing_separator(ctx->target_path);
  bool has_space = false;
  for (const char *p = ctx->target_path; *p; ++p) has_space |= *p == ' ';
  if (has_space) wsprintfA(ctx->text_scratch, "\"%s\"", ctx->target_path);
  else lstrcpyA(ctx->text_scratch, ctx->target_path);
  SetDlgItemTextA(dialog, IDC_DIRECTORY, ctx->text_scratch);
}
