// The main dialog: destination, the two optional actions, and OK, which runs
// the whole extract pass inside its handler. The pass pumps messages, so this
// procedure is re-entered while OK is still running; `extracting` and the
// controls disabled by OK are what keep that safe.
#include "ui/ui.h"
#include "archive/archive.h"
#include "paths/paths.h"
#include "shell/shell.h"

HICON dialog_icon;
static bool group_offered, class_offered;  // whether boxes 105 and 106 started enabled

void strip_quotes(char *text, int limit) {
  char *copy = (char *)LocalAlloc(LPTR, (size_t)limit + 1);
  if (!copy) return;
  int n = 0;
  for (int i = 0; i < limit && text[i]; ++i)
    if (text[i] != '"') copy[n++] = text[i];
  lstrcpyA(text, copy);
  LocalFree(copy);
}

static void enable_controls(HWND dialog, const int *ids, int count, BOOL enable) {
  for (int i = 0; i < count; ++i) EnableWindow(GetDlgItem(dialog, ids[i]), enable);
}

static void centre_on_screen(HWND dialog) {
  RECT rect;
  GetWindowRect(dialog, &rect);
  int width = rect.right - rect.left, height = rect.bottom - rect.top;
  MoveWindow(dialog, (GetSystemMetrics(SM_CXSCREEN) - width) / 2,
             (GetSystemMetrics(SM_CYSCREEN) - height) / 2, width, height, FALSE);
}

// An action offered with an initial state of 0 starts off, so the check mark
// always shows what will happen.
static INT_PTR on_init_dialog(HWND dialog) {
  dialog_window = dialog;
  dde_state = DDE_IDLE;
  SetWindowTextA(dialog, ctx->window_title);
  if (ctx->dir_caption[0]) SetDlgItemTextA(dialog, IDC_DIR_LABEL, ctx->dir_caption);
  SetDlgItemTextA(dialog, IDC_DIRECTORY, ctx->block.default_dir);
  if (ctx->group_caption[0]) SetDlgItemTextA(dialog, IDC_START_MENU, ctx->group_caption);
  if (ctx->class_caption[0]) SetDlgItemTextA(dialog, IDC_SET_CLASS, ctx->class_caption);
  SendDlgItemMessageA(dialog, IDC_DIRECTORY, EM_LIMITTEXT, sizeof(ctx->install_dir) - 1, 0);
  CheckDlgButton(dialog, IDC_START_MENU, (UINT)ctx->group_initial_check);
  CheckDlgButton(dialog, IDC_SET_CLASS, (UINT)ctx->class_initial_check);
  group_offered = ctx->group_action != 0;
  class_offered = ctx->class_action != 0;
  EnableWindow(GetDlgItem(dialog, IDC_START_MENU), group_offered);
  EnableWindow(GetDlgItem(dialog, IDC_SET_CLASS), class_offered);
  if (ctx->group_action) ctx->group_action = ctx->group_initial_check;
  if (ctx->class_action) ctx->class_action = ctx->class_initial_check;
  centre_on_screen(dialog);
  ctx->extracting = 0;
  ctx->cancel_requested = 0;
  dialog_icon = LoadIconA(instance_handle, MAKEINTRESOURCEA(IDI_ICON1));
  // Without its timer auto start cannot go on: the user gets the dialog.
  if (auto_start && SetTimer(dialog, AUTO_START_TIMER, AUTO_START_DELAY_MS, nullptr)) {
    static constexpr int LOCKED[] = {IDC_REFERENCE, IDC_DIRECTORY, IDOK, IDCANCEL, IDC_START_MENU,
                                     IDC_SET_CLASS};
    if (!keep_controls) enable_controls(dialog, LOCKED, 6, FALSE);
  }
  return TRUE;
}

// Auto start locks the controls; when it cannot go on, the user gets them
// back, so the dialog can always be corrected or cancelled.
static void give_controls_back(HWND dialog) {
  static constexpr int ALWAYS[] = {IDC_REFERENCE, IDC_DIRECTORY, IDOK, IDCANCEL};
  enable_controls(dialog, ALWAYS, 4, TRUE);
  EnableWindow(GetDlgItem(dialog, IDC_START_MENU), group_offered);
  EnableWindow(GetDlgItem(dialog, IDC_SET_CLASS), class_offered);
}

// A network path (two leading separators of either kind, typed or given) is
// refused, and so is a directory macro that was never expanded (a default
// that did not fit its field): taken literally it would make a folder named
// after the macro.
static bool is_valid_directory(const char *dir) {
  return !(is_slash(dir[0]) && is_slash(dir[1])) && !starts_with_macro(dir);
}

// A second OK while the pass runs (the timer's, after the user's own) is
// ignored: a nested pass over the same context must never start.
static INT_PTR on_ok(HWND dialog) {
  if (ctx->extracting) return TRUE;
  if (!GetDlgItemTextA(dialog, IDC_DIRECTORY, ctx->install_dir, sizeof(ctx->install_dir)))
    ctx->install_dir[0] = 0;
  strip_quotes(ctx->install_dir, sizeof(ctx->install_dir));
  KillTimer(dialog, AUTO_START_TIMER);  // a refused directory ends auto start too
  if (!is_valid_directory(ctx->install_dir)) {
    MessageBoxA(dialog, MSG_INVALID_DIRECTORY, ctx->window_title, MB_TASKMODAL | MB_ICONWARNING);
    give_controls_back(dialog);
    return FALSE;
  }
  static constexpr int BUSY[] = {IDOK, IDC_REFERENCE, IDC_DIRECTORY, IDC_START_MENU, IDC_SET_CLASS};
  enable_controls(dialog, BUSY, 5, FALSE);
  SetFocus(GetDlgItem(dialog, IDCANCEL));
  SendDlgItemMessageA(dialog, IDCANCEL, BM_SETSTYLE, BS_DEFPUSHBUTTON, TRUE);
  ctx->extracting = 1;
  run_pass(dialog, PASS_EXTRACT);
  EndDialog(dialog, 1);
  return TRUE;
}

static INT_PTR on_cancel(HWND dialog) {
  if (ctx->extracting == 1) ctx->cancel_requested = 1;
  else EndDialog(dialog, 0);
  return TRUE;
}

static INT_PTR on_toggle_action(HWND dialog, int id, INT *action) {
  *action = *action ? 0 : 1;
  CheckDlgButton(dialog, id, (UINT)*action);
  return FALSE;
}

static INT_PTR on_command(HWND dialog, WPARAM wparam) {
  switch (LOWORD(wparam)) {
  case IDOK:
    return on_ok(dialog);
  case IDCANCEL:
    return on_cancel(dialog);
  case IDC_REFERENCE:
    on_reference(dialog);
    return FALSE;
  case IDC_START_MENU:
    return on_toggle_action(dialog, IDC_START_MENU, &ctx->group_action);
  case IDC_SET_CLASS:
    return on_toggle_action(dialog, IDC_SET_CLASS, &ctx->class_action);
  }
  return FALSE;
}

static INT_PTR on_timer(HWND dialog) {
  KillTimer(dialog, AUTO_START_TIMER);
  if (!PostMessageA(dialog, WM_COMMAND, IDOK, 0)) on_ok(dialog);  // a full queue must not stall the run
  return FALSE;
}

static INT_PTR on_paint(HWND dialog) {
  if (!IsIconic(dialog)) return FALSE;
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(dialog, &paint);
  int mode = GetMapMode(dc);
  SendMessageA(dialog, WM_ICONERASEBKGND, (WPARAM)dc, 0);
  SetMapMode(dc, MM_TEXT);
  if (dialog_icon) DrawIcon(dc, 0, 0, dialog_icon);
  SetMapMode(dc, mode);
  EndPaint(dialog, &paint);
  return FALSE;
}

static INT_PTR on_close() {
  if (dialog_icon) DestroyIcon(dialog_icon);
  dialog_icon = nullptr;
  return FALSE;
}

INT_PTR CALLBACK main_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
  case WM_INITDIALOG:
    return on_init_dialog(dialog);
  case WM_COMMAND:
    return on_command(dialog, wparam);
  case WM_TIMER:
    return on_timer(dialog);
  case WM_PAINT:
    return on_paint(dialog);
  case WM_ERASEBKGND:
    return IsIconic(dialog) ? 1 : 0;
  case WM_QUERYDRAGICON:
    return (INT_PTR)dialog_icon;
  case WM_CLOSE:
    return on_close();
  case WM_DDE_ACK:
    on_dde_ack(dialog, wparam, lparam);
    return FALSE;
  }
  return FALSE;
}
