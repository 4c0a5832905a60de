// A stand-in Program Manager for the Wine cases: a window of class "Progman"
// that accepts the "PROGMAN" conversation, writes each command it is sent to
// the file named on its command line and acknowledges it; the case stops it
// by process id.
#include <windows.h>
#include <dde.h>
#include <stdio.h>

static const char *output_path;

static LRESULT CALLBACK server_proc(HWND self, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
  case WM_DDE_INITIATE: {
    ATOM app = GlobalAddAtomA("PROGMAN"), topic = GlobalAddAtomA("PROGMAN");
    SendMessageA((HWND)wparam, WM_DDE_ACK, (WPARAM)self, MAKELPARAM(app, topic));
    return 0;
  }
  case WM_DDE_EXECUTE: {
    HGLOBAL block = (HGLOBAL)lparam;
    const char *text = (const char *)GlobalLock(block);
    FILE *f = fopen(output_path, "ab");
    if (f && text) fprintf(f, "%s\n---\n", text);
    if (f) fclose(f);
    GlobalUnlock(block);
    PostMessageA((HWND)wparam, WM_DDE_ACK, (WPARAM)self, PackDDElParam(WM_DDE_ACK, 0x8000, (UINT_PTR)block));
    return 0;
  }
  case WM_DDE_TERMINATE:
    PostMessageA((HWND)wparam, WM_DDE_TERMINATE, (WPARAM)self, 0);
    return 0;
  }
  return DefWindowProcA(self, message, wparam, lparam);
}

int main(int argc, char **argv) {
  if (argc < 2) return 2;
  output_path = argv[1];
  WNDCLASSA cls = {};
  cls.lpfnWndProc = server_proc;
  cls.hInstance = GetModuleHandleA(nullptr);
  cls.lpszClassName = "Progman";
  RegisterClassA(&cls);
  CreateWindowA("Progman", "Program Manager", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr,
                cls.hInstance, nullptr);
  FILE *ready = fopen(output_path, "wb");  // an empty file: the window exists
  if (ready) fclose(ready);
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) DispatchMessageA(&msg);
  return 0;
}
