// The one error report, and the pump that keeps the dialog alive while long
// work runs on its thread.
#include "ui/ui.h"

void show_error(const char *message, const char *path) {
  wsprintfA(ctx->text_scratch, "\"%s\" %s", path, message);
  MessageBoxA(ctx->main_window, ctx->text_scratch, ctx->window_title,
              MB_TASKMODAL | MB_ICONERROR);
}

void drain_message_queue(HWND window) {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (!IsDialogMessageA(window, &message)) {
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
  }
}
