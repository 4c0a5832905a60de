// The stand-in's state record and the helpers its files share.
#include "posix/state.h"

namespace posix {

State &state() {
  static State s;
  return s;
}

// Counts the call; true when this is the call a test asked to fail.
bool failing(const char *name) {
  auto &entry = state().calls[name];
  return ++entry.first == entry.second;
}

HWND const DIALOG_HANDLE = (HWND)0x10000;
HWND control_handle(int id) { return (HWND)(UINT_PTR)(0x20000 + (id & 0xFFFF)); }
int control_id(HWND h) { return (int)(short)(((UINT_PTR)h - 0x20000) & 0xFFFF); }
bool is_control(HWND h) { return (UINT_PTR)h >= 0x20000 && (UINT_PTR)h < 0x30000; }

std::string lower(std::string s) {
  for (char &c : s)
    if (c >= 'A' && c <= 'Z') c = (char)(c - 'A' + 'a');
  return s;
}

std::string root_name(HKEY root) {
  if (root == HKEY_CLASSES_ROOT) return "hkcr";
  if (root == HKEY_CURRENT_USER) return "hkcu";
  if (root == HKEY_LOCAL_MACHINE) return "hklm";
  auto it = state().open_keys.find(root);
  return it == state().open_keys.end() ? "?" : it->second;
}

std::string key_path(HKEY root, const char *sub) {
  std::string path = root_name(root);
  if (sub && *sub) path += "\\" + lower(sub);
  return path;
}

HANDLE file_handle(int fd) { return (HANDLE)(intptr_t)(fd + 1); }
int file_fd(HANDLE h) { return (int)(intptr_t)h - 1; }
HANDLE const PROCESS_HANDLE = (HANDLE)(intptr_t)0x7001, THREAD_HANDLE = (HANDLE)(intptr_t)0x7002;

constexpr int64_t EPOCH_AS_FILETIME = 116444736000000000LL;

FILETIME to_file_time(const struct timespec &t) {
  uint64_t v = (uint64_t)(EPOCH_AS_FILETIME + (int64_t)t.tv_sec * 10000000LL + t.tv_nsec / 100);
  return FILETIME{(DWORD)v, (DWORD)(v >> 32)};
}

struct timespec to_timespec(const FILETIME *ft) {
  int64_t v = (int64_t)((uint64_t)ft->dwHighDateTime << 32 | ft->dwLowDateTime) - EPOCH_AS_FILETIME;
  int64_t sec = v / 10000000, rest = v % 10000000;
  if (rest < 0) rest += 10000000, --sec;
  struct timespec t;
  t.tv_sec = (time_t)sec;
  t.tv_nsec = (long)(rest * 100);
  return t;
}

// Days since 1601-01-01 of a civil date, and back (proleptic Gregorian).
int64_t days_from_civil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = (unsigned)(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + (int64_t)doe - 719468 + 134774;  // 1970 -> 1601 shift
}

void civil_from_days(int64_t z, int64_t *y, unsigned *m, unsigned *d) {
  z += 719468 - 134774;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = (unsigned)(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  *d = doy - (153 * mp + 2) / 5 + 1;
  *m = mp < 10 ? mp + 3 : mp - 9;
  *y = (int64_t)yoe + era * 400 + (*m <= 2);
}

void deliver(const MSG &m);



void create_dialog_controls(Dialog *d, const char *name) {
  auto add = [&](int id, const char *text) { d->controls[id].text = text; };
  if (lower(name) == "sfxdialog") {
    add(103, "Install &Directory:");
    add(100, "");
    add(104, "&Reference...");
    add(101, "");
    add(102, "");
    add(1, "&Ok");
    add(2, "&Cancel");
    add(105, "&Start Menu");
    add(106, "Set Cl&ass");
  }
}

void deliver(const MSG &m) {
  State &s = state();
  if (s.dialog && (m.hwnd == s.dialog->handle || is_control(m.hwnd))) {
    INT_PTR handled = s.dialog->proc(s.dialog->handle, m.message, m.wParam, m.lParam);
    // The dialog manager turns an unhandled close into Cancel, if Cancel is enabled.
    if (m.message == WM_CLOSE && !handled && s.dialog->controls[IDCANCEL].enabled)
      PostMessageA(s.dialog->handle, WM_COMMAND, IDCANCEL, 0);
    return;
  }
  auto w = s.windows.find(m.hwnd);
  if (w != s.windows.end() && w->second.handler) w->second.handler(m.hwnd, m.message, m.wParam, m.lParam);
}


}  // namespace posix
