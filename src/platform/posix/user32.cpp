// The stand-in's USER32 and GDI32: the headless dialog, the message
// queue, message boxes, windows for DDE, painting and the DDE parameters.
#include "posix/state.h"

extern "C" {

// ---- USER32, GDI32 -----------------------------------------------------------

INT_PTR DialogBoxParamA(HINSTANCE, LPCSTR name, HWND, DLGPROC proc, LPARAM param) {
  if (failing("DialogBoxParamA")) return -1;
  posix::Dialog dialog;
  dialog.handle = posix::DIALOG_HANDLE;
  dialog.proc = proc;
  posix::create_dialog_controls(&dialog, name);
  posix::Dialog *outer = state().dialog;
  state().dialog = &dialog;
  proc(dialog.handle, WM_INITDIALOG, 0, param);
  bool &user_gave_up = state().user_gave_up;
  user_gave_up = false;
  while (!dialog.ended) {
    if (!state().queue.empty()) {
      MSG m = state().queue.front();
      state().queue.pop_front();
      posix::deliver(m);
    } else if (state().driver && state().driver(dialog.handle)) {
    } else if (!dialog.timers.empty()) {
      proc(dialog.handle, WM_TIMER, *dialog.timers.begin(), 0);
    } else if (!user_gave_up && dialog.controls[IDCANCEL].enabled) {
      // A dialog left waiting for its user: the user gives up with Cancel.
      user_gave_up = true;
      posix::deliver(MSG{dialog.handle, WM_COMMAND, IDCANCEL, 0, 0, {0, 0}});
    } else {
      dialog.ended = true;  // no way out: a real dialog would wait for ever
      dialog.result = -2;
    }
  }
  state().dialog = outer;
  return dialog.result;
}

BOOL EndDialog(HWND dlg, INT_PTR result) {
  posix::Dialog *d = state().dialog;
  if (!d || dlg != d->handle) return FALSE;
  d->ended = true;
  d->result = result;
  return TRUE;
}

HWND GetDlgItem(HWND dlg, int id) {
  return state().dialog && dlg == state().dialog->handle ? posix::control_handle(id) : nullptr;
}

BOOL SetDlgItemTextA(HWND dlg, int id, LPCSTR text) {
  posix::Control *c = state().dialog && dlg == state().dialog->handle ? posix::control(id) : nullptr;
  if (!c) return FALSE;
  c->text = text;
  if (id == 102) state().progress.push_back(text);
  return TRUE;
}

UINT GetDlgItemTextA(HWND dlg, int id, LPSTR out, int size) {
  posix::Control *c = state().dialog && dlg == state().dialog->handle ? posix::control(id) : nullptr;
  if (!c || size <= 0) return 0;
  lstrcpynA(out, c->text.c_str(), size);
  return (UINT)strlen(out);
}

BOOL SetWindowTextA(HWND wnd, LPCSTR text) {
  if (!state().dialog || wnd != state().dialog->handle) return FALSE;
  state().dialog->caption = text;
  return TRUE;
}

LRESULT SendDlgItemMessageA(HWND dlg, int id, UINT msg, WPARAM wp, LPARAM) {
  posix::Control *c = state().dialog && dlg == state().dialog->handle ? posix::control(id) : nullptr;
  if (!c) return 0;
  if (msg == EM_LIMITTEXT) {
    c->limit = (int)wp;
    if ((int)c->text.size() > c->limit) c->text.resize((size_t)c->limit);
  }
  if (msg == BM_SETSTYLE) c->style = (DWORD)wp;
  return 0;
}

// A send that reaches a hung window would never return: the stand-in notes
// it and goes on, so a test can see the wait that had no end.
static void send_to_each(HWND wnd, UINT msg, WPARAM wp, LPARAM lp, bool abort_if_hung) {
  std::vector<HWND> targets;
  if (wnd == HWND_BROADCAST)
    for (auto &w : state().windows) targets.push_back(w.first);
  else
    targets.push_back(wnd);
  for (HWND h : targets) {
    auto w = state().windows.find(h);
    if (w != state().windows.end() && w->second.hung) {
      if (!abort_if_hung) state().blocked_forever = true;
      continue;
    }
    posix::deliver(MSG{h, msg, wp, lp, 0, {0, 0}});
  }
}

LRESULT SendMessageA(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
  send_to_each(wnd, msg, wp, lp, false);
  return 0;
}

LRESULT SendMessageTimeoutA(HWND wnd, UINT msg, WPARAM wp, LPARAM lp, UINT flags, UINT timeout,
                            PDWORD_PTR result) {
  state().send_timeouts.push_back(timeout);
  if (result) *result = 0;
  send_to_each(wnd, msg, wp, lp, (flags & SMTO_ABORTIFHUNG) != 0 || timeout != 0);
  return 1;
}

BOOL PostMessageA(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (failing("PostMessageA")) return FALSE;
  if (wnd == HWND_BROADCAST) {
    state().posted_broadcasts.push_back(posix::PostedBroadcast{msg, wp, lp});
    return TRUE;
  }
  state().queue.push_back(MSG{wnd, msg, wp, lp, 0, {0, 0}});
  return TRUE;
}

// An empty queue stands for time passing, so waits that poll end.
BOOL PeekMessageA(LPMSG msg, HWND, UINT, UINT, UINT) {
  if (state().queue.empty()) {
    state().clock += 10;
    return FALSE;
  }
  *msg = state().queue.front();
  state().queue.pop_front();
  return TRUE;
}

BOOL IsDialogMessageA(HWND dlg, LPMSG msg) {
  posix::Dialog *d = state().dialog;
  if (!d || dlg != d->handle || (msg->hwnd != dlg && !posix::is_control(msg->hwnd))) return FALSE;
  posix::deliver(*msg);
  return TRUE;
}

BOOL TranslateMessage(const MSG *) { return FALSE; }
LRESULT DispatchMessageA(const MSG *msg) {
  posix::deliver(*msg);
  return 0;
}

int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT style) {
  state().boxes.push_back(posix::MessageBoxRecord{owner, text ? text : "", caption ? caption : "", style});
  if (failing("MessageBoxA")) return 0;
  if (state().box_answerer) return state().box_answerer(text ? text : "", style);
  if (!state().answers.empty()) {
    int a = state().answers.front();
    state().answers.pop_front();
    return a;
  }
  UINT buttons = style & 0xF;
  return buttons == MB_YESNO || buttons == MB_YESNOCANCEL ? IDYES : IDOK;
}

UINT_PTR SetTimer(HWND wnd, UINT_PTR id, UINT, TIMERPROC) {
  if (failing("SetTimer") || !state().dialog || wnd != state().dialog->handle) return 0;
  state().dialog->timers.insert(id);
  return id;
}

BOOL KillTimer(HWND wnd, UINT_PTR id) {
  if (!state().dialog || wnd != state().dialog->handle) return FALSE;
  return state().dialog->timers.erase(id) > 0;
}

BOOL EnableWindow(HWND wnd, BOOL enable) {
  if (!posix::is_control(wnd)) return FALSE;
  posix::Control *c = posix::control(posix::control_id(wnd));
  if (!c) return FALSE;
  bool was_disabled = !c->enabled;
  c->enabled = enable != 0;
  return was_disabled;
}

BOOL CheckDlgButton(HWND dlg, int id, UINT check) {
  posix::Control *c = state().dialog && dlg == state().dialog->handle ? posix::control(id) : nullptr;
  if (!c) return FALSE;
  c->check = check;
  return TRUE;
}

int GetSystemMetrics(int index) { return index == SM_CXSCREEN ? 1024 : 768; }
BOOL GetWindowRect(HWND, LPRECT rect) {
  *rect = RECT{0, 0, 410, 190};
  return TRUE;
}
BOOL MoveWindow(HWND, int, int, int, int, BOOL) { return TRUE; }
HWND SetFocus(HWND wnd) {
  if (state().dialog && posix::is_control(wnd)) state().dialog->focus = posix::control_id(wnd);
  return nullptr;
}
HICON LoadIconA(HINSTANCE, LPCSTR) { return (HICON)0x3000; }
BOOL DestroyIcon(HICON) { return TRUE; }
BOOL DrawIcon(HDC, int, int, HICON icon) {
  state().icons_drawn += icon != nullptr;
  return TRUE;
}
BOOL IsIconic(HWND) { return state().iconic; }
HDC BeginPaint(HWND, LPPAINTSTRUCT ps) {
  ps->hdc = (HDC)0x4000;
  return ps->hdc;
}
BOOL EndPaint(HWND, const PAINTSTRUCT *) { return TRUE; }
int GetMapMode(HDC) { return MM_TEXT; }
int SetMapMode(HDC, int) { return MM_TEXT; }

// wsprintfA writes at most 1,024 bytes.
int wsprintfA(LPSTR out, LPCSTR format, ...) {
  va_list args;
  va_start(args, format);
  int n = vsnprintf(out, 1024, format, args);
  va_end(args);
  return n > 1023 ? 1023 : n;
}

static char lower_char(char c) {
  BYTE b = (BYTE)c;
  if ((b >= 'A' && b <= 'Z') ||
      (state().code_page == 1252 && b >= 0xC0 && b <= 0xDE && b != 0xD7))
    return (char)(b + 32);
  return c;
}

LPSTR CharLowerA(LPSTR text) {
  if (((UINT_PTR)text >> 16) == 0) return (LPSTR)(UINT_PTR)(BYTE)lower_char((char)(UINT_PTR)text);
  for (BYTE *p = (BYTE *)text; *p; ++p) {
    if (IsDBCSLeadByte(*p)) {
      if (!*++p) break;
    } else {
      *p = (BYTE)lower_char((char)*p);
    }
  }
  return text;
}

LPSTR CharPrevA(LPCSTR start, LPCSTR current) {
  if (current <= start) return (LPSTR)start;
  LPCSTR p = start, prev = start;
  while (p < current) {
    prev = p;
    p += IsDBCSLeadByte((BYTE)*p) && p[1] ? 2 : 1;
  }
  return (LPSTR)prev;
}

HWND FindWindowA(LPCSTR cls, LPCSTR) {
  for (auto &w : state().windows)
    if (posix::lower(w.second.class_name) == posix::lower(cls)) return w.first;
  return nullptr;
}

DWORD WaitForInputIdle(HANDLE, DWORD) { return 0; }

// Acknowledgements carry two full values, so they are packed into a block of
// their own, as on Win32; other messages pack into the LPARAM itself.
LPARAM PackDDElParam(UINT msg, UINT_PTR lo, UINT_PTR hi) {
  if (msg == WM_DDE_ACK) {
    UINT_PTR *pair = (UINT_PTR *)malloc(2 * sizeof(UINT_PTR));
    pair[0] = lo;
    pair[1] = hi;
    state().packed.insert((LPARAM)pair);
    return (LPARAM)pair;
  }
  if (msg == WM_DDE_EXECUTE) return (LPARAM)hi;
  return (LPARAM)MAKELONG(lo, hi);
}

BOOL UnpackDDElParam(UINT msg, LPARAM lp, UINT_PTR *lo, UINT_PTR *hi) {
  if (msg != WM_DDE_ACK || !state().packed.count(lp)) return FALSE;
  *lo = ((UINT_PTR *)lp)[0];
  *hi = ((UINT_PTR *)lp)[1];
  return TRUE;
}

BOOL FreeDDElParam(UINT msg, LPARAM lp) {
  if (msg == WM_DDE_ACK && state().packed.erase(lp)) free((void *)lp);
  return TRUE;
}

}  // extern "C"
