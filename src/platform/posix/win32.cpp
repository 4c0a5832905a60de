// The POSIX stand-in: files through POSIX calls, everything else in memory
// where tests can reach it. Each call does what the program relies on.
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <set>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>
#include "posix/harness.h"

namespace posix {
namespace {

struct Dialog {
  HWND handle = nullptr;
  DLGPROC proc = nullptr;
  std::map<int, Control> controls;
  std::set<UINT_PTR> timers;
  std::string caption;
  bool ended = false;
  INT_PTR result = 0;
  int focus = 0;
};

struct RegistryKey {
  std::map<std::string, std::string> values;  // lower-cased name -> bytes
};

struct Window {
  std::string class_name;
  WindowHandler handler;
  bool hung = false;  // never answers a sent message
};

struct State {
  std::string command_line, module_path = "sfx.exe";
  DWORD platform_id = VER_PLATFORM_WIN32_NT;
  int code_page = 1252;
  std::string drive_root = "/tmp/sfx-drives";
  std::string windows_dir = "C:\\WINDOWS", system_dir = "C:\\WINDOWS\\SYSTEM";
  DWORD max_component = 255;
  std::vector<std::string> search_path;
  std::map<std::string, DWORD> extra_attributes;
  std::map<std::string, FILETIME> creation_times;
  std::map<int, std::string> open_files;  // fd -> host path
  std::map<std::string, std::pair<int, int>> calls;  // name -> (count, failing call)
  std::deque<int> answers;
  std::vector<MessageBoxRecord> boxes;
  Dialog *dialog = nullptr;
  std::function<bool(HWND)> driver;
  std::vector<std::string> progress;
  bool iconic = false;
  bool chooser_set = false;
  std::string chooser_path;
  std::map<std::string, RegistryKey> registry;  // "root\key" lower-cased
  std::map<HKEY, std::string> open_keys;
  UINT_PTR next_key = 1;
  std::map<std::string, std::string> ini;
  std::vector<ShellExecuteRecord> executes;
  std::vector<std::string> processes;
  bool create_process_ok = true;
  std::vector<PostedBroadcast> posted_broadcasts;
  std::map<HWND, Window> windows;
  UINT_PTR next_window = 0x50000;
  bool blocked_forever = false;
  int icons_drawn = 0;
  std::function<bool(const std::string &)> write_guard;
  std::function<int(const std::string &, UINT)> box_answerer;
  std::vector<UINT> send_timeouts;
  std::deque<MSG> queue;
  std::map<std::string, std::pair<ATOM, int>> atoms;
  ATOM next_atom = 0xC000;
  std::set<void *> local_blocks, global_blocks;
  std::set<LPARAM> packed;
  DWORD clock = 1000;
  std::string current_dir_buffer;
};

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

}  // namespace

// ---- harness -------------------------------------------------------------

void reset() {
  State &s = state();
  for (auto &f : s.open_files) close(f.first);
  for (void *p : s.local_blocks) free(p);
  for (void *p : s.global_blocks) free(p);
  for (LPARAM p : s.packed) free((void *)p);
  std::string root = s.drive_root;
  s = State();
  s.drive_root = root;
}

int run(const std::function<void()> &body) {
  try {
    body();
  } catch (const ProcessExit &e) {
    return (int)e.status;
  }
  return -1;
}

void set_command_line(const std::string &line) { state().command_line = line; }
void set_module_path(const std::string &path) { state().module_path = path; }
void set_platform_id(DWORD id) { state().platform_id = id; }
void set_code_page(int code_page) { state().code_page = code_page; }
void set_drive_root(const std::string &dir) { state().drive_root = dir; }
void set_windows_directory(const std::string &dir) { state().windows_dir = dir; }
void set_system_directory(const std::string &dir) { state().system_dir = dir; }
void set_max_component_length(DWORD length) { state().max_component = length; }
void set_search_path(const std::vector<std::string> &dirs) { state().search_path = dirs; }

std::string host_path(const char *path) {
  std::string p(path ? path : "");
  for (char &c : p)
    if (c == '\\') c = '/';
  if (p.size() >= 2 && p[1] == ':') p = state().drive_root + "/" + p[0] + (p.size() > 2 && p[2] != '/' ? "/" : "") + p.substr(2);
  return p;
}

DWORD extra_attributes(const std::string &path) {
  auto it = state().extra_attributes.find(host_path(path.c_str()));
  return it == state().extra_attributes.end() ? 0 : it->second;
}

bool creation_time(const std::string &path, FILETIME *out) {
  auto it = state().creation_times.find(host_path(path.c_str()));
  if (it == state().creation_times.end()) return false;
  *out = it->second;
  return true;
}

void fail_call(const std::string &function, int nth) { state().calls[function].second = nth; }
int call_count(const std::string &function) { return state().calls[function].first; }
void queue_answer(int answer) { state().answers.push_back(answer); }
const std::vector<MessageBoxRecord> &message_boxes() { return state().boxes; }
void set_dialog_driver(const std::function<bool(HWND)> &driver) { state().driver = driver; }
void set_write_guard(const std::function<bool(const std::string &)> &guard) { state().write_guard = guard; }
std::atomic<uint64_t> written_bytes{0};
void set_box_answerer(const std::function<int(const std::string &, UINT)> &answerer) {
  state().box_answerer = answerer;
}

Control *control(int id) {
  Dialog *d = state().dialog;
  if (!d) return nullptr;
  auto it = d->controls.find(id);
  return it == d->controls.end() ? nullptr : &it->second;
}

HWND current_dialog() { return state().dialog ? state().dialog->handle : nullptr; }
const std::vector<std::string> &progress_texts() { return state().progress; }
std::string window_caption() { return state().dialog ? state().dialog->caption : ""; }
int focus_id() { return state().dialog ? state().dialog->focus : 0; }
void set_iconic(bool iconic) { state().iconic = iconic; }

bool set_chooser_result(const std::string &path) {
  state().chooser_set = true;
  state().chooser_path = path;
  return true;
}

bool reg_get(HKEY root, const std::string &key, const std::string &value, std::string *data) {
  auto k = state().registry.find(key_path(root, key.c_str()));
  if (k == state().registry.end()) return false;
  auto v = k->second.values.find(lower(value));
  if (v == k->second.values.end()) return false;
  *data = v->second;
  if (!data->empty() && data->back() == 0) data->pop_back();
  return true;
}

void reg_put(HKEY root, const std::string &key, const std::string &value, const std::string &data) {
  state().registry[key_path(root, key.c_str())].values[lower(value)] = data + std::string(1, '\0');
}

int reg_key_count() { return (int)state().registry.size(); }
int open_key_count() { return (int)state().open_keys.size(); }

bool ini_get(const std::string &section, const std::string &key, std::string *value) {
  auto it = state().ini.find(lower(section) + "/" + lower(key));
  if (it == state().ini.end()) return false;
  *value = it->second;
  return true;
}

const std::vector<ShellExecuteRecord> &shell_executes() { return state().executes; }
const std::vector<std::string> &created_processes() { return state().processes; }
void set_create_process_result(bool ok) { state().create_process_ok = ok; }
const std::vector<PostedBroadcast> &broadcasts() { return state().posted_broadcasts; }

HWND add_window(const std::string &class_name, const WindowHandler &handler) {
  HWND h = (HWND)state().next_window++;
  state().windows[h] = Window{class_name, handler};
  return h;
}

HWND add_hung_window() {
  HWND h = add_window("Hung", nullptr);
  state().windows[h].hung = true;
  return h;
}
bool blocked_forever() { return state().blocked_forever; }
int icons_drawn() { return state().icons_drawn; }
const std::vector<UINT> &send_timeouts() { return state().send_timeouts; }

void post_to(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  PostMessageA(window, message, wparam, lparam);
}
void send_to(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  SendMessageA(window, message, wparam, lparam);
}

int live_atoms() {
  int n = 0;
  for (auto &a : state().atoms) n += a.second.second;
  return n;
}
int live_local_blocks() { return (int)state().local_blocks.size(); }
int live_global_blocks() { return (int)state().global_blocks.size(); }
int live_packed_params() { return (int)state().packed.size(); }
void advance_clock(DWORD ms) { state().clock += ms; }

namespace {

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

}  // namespace
}  // namespace posix

using posix::state;
using posix::failing;

// ---- KERNEL32 --------------------------------------------------------------

extern "C" {

HFILE _lopen(LPCSTR path, int) {
  if (failing("_lopen")) return HFILE_ERROR;
  int fd = open(posix::host_path(path).c_str(), O_RDONLY);
  if (fd >= 0) state().open_files[fd] = posix::host_path(path);
  return fd < 0 ? HFILE_ERROR : fd;
}

UINT _lread(HFILE file, LPVOID buffer, UINT count) {
  if (failing("_lread")) return (UINT)HFILE_ERROR;
  UINT done = 0;
  while (done < count) {
    ssize_t n = read(file, (char *)buffer + done, count - done);
    if (n < 0) return (UINT)HFILE_ERROR;
    if (n == 0) break;
    done += (UINT)n;
  }
  return done;
}

LONG _llseek(HFILE file, LONG offset, int origin) {
  if (failing("_llseek")) return HFILE_ERROR;
  int whence = origin == FILE_BEGIN ? SEEK_SET : origin == FILE_CURRENT ? SEEK_CUR : SEEK_END;
  off_t r = lseek(file, origin == FILE_BEGIN ? (off_t)(DWORD)offset : (off_t)offset, whence);
  return r < 0 ? HFILE_ERROR : (LONG)r;
}

HFILE _lclose(HFILE file) {
  state().open_files.erase(file);
  if (failing("_lclose")) {
    close(file);
    return HFILE_ERROR;
  }
  return close(file) == 0 ? 0 : HFILE_ERROR;
}

HANDLE CreateFileA(LPCSTR path, DWORD access, DWORD, LPSECURITY_ATTRIBUTES, DWORD disposition,
                   DWORD, HANDLE) {
  if (failing("CreateFileA")) return INVALID_HANDLE_VALUE;
  std::string host = posix::host_path(path);
  if ((access & GENERIC_WRITE) && state().write_guard && !state().write_guard(host)) return INVALID_HANDLE_VALUE;
  struct stat st;
  bool exists = stat(host.c_str(), &st) == 0;
  if (exists && S_ISDIR(st.st_mode)) return INVALID_HANDLE_VALUE;
  int fd;
  if (access & GENERIC_WRITE) {
    // Checked here because root may write anything; Windows refuses read-only files.
    if (exists && !(st.st_mode & S_IWUSR)) return INVALID_HANDLE_VALUE;
    int flags = O_WRONLY | (disposition == CREATE_ALWAYS ? O_CREAT | O_TRUNC : 0);
    fd = open(host.c_str(), flags, 0666);
    if (fd >= 0) state().extra_attributes.erase(host);
  } else {
    fd = open(host.c_str(), O_RDONLY);
  }
  if (fd < 0) return INVALID_HANDLE_VALUE;
  state().open_files[fd] = host;
  return posix::file_handle(fd);
}

BOOL WriteFile(HANDLE file, LPCVOID data, DWORD count, LPDWORD written, void *) {
  *written = 0;
  if (failing("WriteFile")) return FALSE;
  DWORD done = 0;
  while (done < count) {
    ssize_t n = write(posix::file_fd(file), (const char *)data + done, count - done);
    if (n <= 0) return FALSE;
    done += (DWORD)n;
  }
  *written = done;
  posix::written_bytes += done;
  return TRUE;
}

BOOL CloseHandle(HANDLE handle) {
  if (handle == posix::PROCESS_HANDLE || handle == posix::THREAD_HANDLE) return TRUE;
  int fd = posix::file_fd(handle);
  state().open_files.erase(fd);
  bool fail = failing("CloseHandle");
  int r = close(fd);
  return !fail && r == 0;
}

BOOL SetFileTime(HANDLE file, const FILETIME *creation, const FILETIME *access, const FILETIME *write) {
  if (failing("SetFileTime")) return FALSE;
  int fd = posix::file_fd(file);
  struct timespec times[2];
  times[0] = access ? posix::to_timespec(access) : timespec{0, UTIME_OMIT};
  times[1] = write ? posix::to_timespec(write) : timespec{0, UTIME_OMIT};
  if (creation) state().creation_times[state().open_files[fd]] = *creation;
  return futimens(fd, times) == 0;
}

BOOL GetFileTime(HANDLE file, LPFILETIME creation, LPFILETIME access, LPFILETIME write) {
  if (failing("GetFileTime")) return FALSE;
  struct stat st;
  if (fstat(posix::file_fd(file), &st) != 0) return FALSE;
  // Windows keeps the creation time apart: the one set, else the status change.
  auto set = state().creation_times.find(state().open_files[posix::file_fd(file)]);
  if (creation) *creation = set != state().creation_times.end() ? set->second : posix::to_file_time(st.st_ctim);
  if (access) *access = posix::to_file_time(st.st_atim);
  if (write) *write = posix::to_file_time(st.st_mtim);
  return TRUE;
}

DWORD GetFileAttributesA(LPCSTR path) {
  if (failing("GetFileAttributesA")) return INVALID_FILE_ATTRIBUTES;
  std::string host = posix::host_path(path);
  struct stat st;
  if (stat(host.c_str(), &st) != 0) return INVALID_FILE_ATTRIBUTES;
  DWORD a = state().extra_attributes[host];
  if (S_ISDIR(st.st_mode)) a |= FILE_ATTRIBUTE_DIRECTORY;
  if (!(st.st_mode & S_IWUSR)) a |= FILE_ATTRIBUTE_READONLY;
  return a ? a : FILE_ATTRIBUTE_NORMAL;
}

BOOL SetFileAttributesA(LPCSTR path, DWORD attributes) {
  if (failing("SetFileAttributesA")) return FALSE;
  std::string host = posix::host_path(path);
  struct stat st;
  if (stat(host.c_str(), &st) != 0) return FALSE;
  mode_t mode = st.st_mode & 07777;
  mode = (attributes & FILE_ATTRIBUTE_READONLY) ? mode & ~(mode_t)0222 : mode | 0200;
  state().extra_attributes[host] =
      attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE);
  return chmod(host.c_str(), mode) == 0;
}

BOOL DeleteFileA(LPCSTR path) {
  if (failing("DeleteFileA")) return FALSE;
  std::string host = posix::host_path(path);
  state().extra_attributes.erase(host);
  return unlink(host.c_str()) == 0;
}

BOOL CreateDirectoryA(LPCSTR path, LPSECURITY_ATTRIBUTES) {
  if (failing("CreateDirectoryA")) return FALSE;
  if (!path || !*path) return FALSE;
  std::string host = posix::host_path(path);
  if (state().write_guard && !state().write_guard(host)) return FALSE;
  return mkdir(host.c_str(), 0777) == 0;
}

BOOL GetVolumeInformationA(LPCSTR, LPSTR, DWORD, LPDWORD, LPDWORD max_component, LPDWORD, LPSTR,
                           DWORD) {
  if (failing("GetVolumeInformationA") || state().max_component == 0) return FALSE;
  if (max_component) *max_component = state().max_component;
  return TRUE;
}

static DWORD copy_out(const std::string &s, LPSTR out, DWORD size) {
  if (s.size() + 1 > size) return (DWORD)s.size() + 1;
  memcpy(out, s.c_str(), s.size() + 1);
  return (DWORD)s.size();
}

DWORD GetShortPathNameA(LPCSTR long_path, LPSTR short_path, DWORD size) {
  if (failing("GetShortPathNameA")) return 0;
  struct stat st;
  if (stat(posix::host_path(long_path).c_str(), &st) != 0) return 0;
  std::string copy(long_path);
  return copy_out(copy, short_path, size);
}

DWORD SearchPathA(LPCSTR, LPCSTR name, LPCSTR, DWORD size, LPSTR out, LPSTR *file_part) {
  for (const std::string &dir : state().search_path) {
    std::string full = dir + "\\" + name;
    struct stat st;
    if (stat(posix::host_path(full.c_str()).c_str(), &st) == 0) {
      DWORD n = copy_out(full, out, size);
      if (n < size && file_part) *file_part = out + dir.size() + 1;
      return n;
    }
  }
  return 0;
}

UINT GetWindowsDirectoryA(LPSTR out, UINT size) { return copy_out(state().windows_dir, out, size); }
UINT GetSystemDirectoryA(LPSTR out, UINT size) { return copy_out(state().system_dir, out, size); }

DWORD GetCurrentDirectoryA(DWORD size, LPSTR out) {
  char buffer[4096];
  if (!getcwd(buffer, sizeof(buffer))) return 0;
  return copy_out(buffer, out, size);
}

DWORD GetEnvironmentVariableA(LPCSTR name, LPSTR out, DWORD size) {
  const char *v = getenv(name);
  if (!v || !*v) return 0;
  // Too small a buffer gets undefined contents: here the value's beginning,
  // the worst a caller that ignores the length could read.
  if (strlen(v) + 1 > size && size > 0) lstrcpynA(out, v, (int)size);
  return copy_out(v, out, size);
}

DWORD GetModuleFileNameA(HMODULE, LPSTR out, DWORD size) {
  const std::string &p = state().module_path;
  DWORD n = (DWORD)p.size() < size ? (DWORD)p.size() : size - 1;
  memcpy(out, p.c_str(), n);
  out[n] = 0;
  return n;
}

BOOL FileTimeToSystemTime(const FILETIME *ft, LPSYSTEMTIME st) {
  uint64_t v = (uint64_t)ft->dwHighDateTime << 32 | ft->dwLowDateTime;
  if (v >> 63) return FALSE;
  uint64_t ms_total = v / 10000;
  int64_t days = (int64_t)(ms_total / 86400000);
  uint64_t ms = ms_total % 86400000;
  int64_t y;
  unsigned m, d;
  posix::civil_from_days(days, &y, &m, &d);
  st->wYear = (WORD)y;
  st->wMonth = (WORD)m;
  st->wDay = (WORD)d;
  st->wDayOfWeek = (WORD)((days + 1) % 7);  // 1601-01-01 was a Monday
  st->wHour = (WORD)(ms / 3600000);
  st->wMinute = (WORD)(ms / 60000 % 60);
  st->wSecond = (WORD)(ms / 1000 % 60);
  st->wMilliseconds = (WORD)(ms % 1000);
  return TRUE;
}

BOOL SystemTimeToFileTime(const SYSTEMTIME *st, LPFILETIME ft) {
  static const int mdays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (st->wYear < 1601 || st->wYear > 30827 || st->wMonth < 1 || st->wMonth > 12 || st->wDay < 1 ||
      st->wDay > mdays[st->wMonth - 1] || st->wHour > 23 || st->wMinute > 59 || st->wSecond > 59 ||
      st->wMilliseconds > 999)
    return FALSE;
  bool leap = (st->wYear % 4 == 0 && st->wYear % 100 != 0) || st->wYear % 400 == 0;
  if (st->wMonth == 2 && st->wDay == 29 && !leap) return FALSE;
  int64_t days = posix::days_from_civil(st->wYear, st->wMonth, st->wDay);
  uint64_t ms = (uint64_t)days * 86400000 + st->wHour * 3600000ull + st->wMinute * 60000ull +
                st->wSecond * 1000ull + st->wMilliseconds;
  uint64_t v = ms * 10000;
  ft->dwLowDateTime = (DWORD)v;
  ft->dwHighDateTime = (DWORD)(v >> 32);
  return TRUE;
}

BOOL GetVersionExA(LPOSVERSIONINFOA info) {
  info->dwMajorVersion = 4;
  info->dwPlatformId = state().platform_id;
  return TRUE;
}

HLOCAL LocalAlloc(UINT, size_t bytes) {
  if (failing("LocalAlloc")) return nullptr;
  void *p = calloc(1, bytes ? bytes : 1);
  if (p) state().local_blocks.insert(p);
  return p;
}

HLOCAL LocalFree(HLOCAL mem) {
  if (mem && state().local_blocks.erase(mem)) free(mem);
  return nullptr;
}

HGLOBAL GlobalAlloc(UINT, size_t bytes) {
  if (failing("GlobalAlloc")) return nullptr;
  void *p = calloc(1, bytes ? bytes : 1);
  if (p) state().global_blocks.insert(p);
  return p;
}
LPVOID GlobalLock(HGLOBAL mem) { return mem; }
BOOL GlobalUnlock(HGLOBAL) { return TRUE; }
HGLOBAL GlobalFree(HGLOBAL mem) {
  if (mem && state().global_blocks.erase(mem)) free(mem);
  return nullptr;
}

ATOM GlobalAddAtomA(LPCSTR name) {
  auto &entry = state().atoms[posix::lower(name)];
  if (entry.second++ == 0) entry.first = state().next_atom++;
  return entry.first;
}

ATOM GlobalDeleteAtom(ATOM atom) {
  for (auto &a : state().atoms)
    if (a.second.first == atom && a.second.second > 0) {
      --a.second.second;
      return 0;
    }
  return atom;
}

BOOL CreateProcessA(LPCSTR, LPSTR cmd, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES, BOOL, DWORD,
                    LPVOID, LPCSTR, LPSTARTUPINFOA, LPPROCESS_INFORMATION pi) {
  state().processes.push_back(cmd);
  if (!state().create_process_ok) return FALSE;
  pi->hProcess = posix::PROCESS_HANDLE;
  pi->hThread = posix::THREAD_HANDLE;
  return TRUE;
}

BOOL WriteProfileStringA(LPCSTR section, LPCSTR key, LPCSTR value) {
  if (failing("WriteProfileStringA")) return FALSE;
  state().ini[posix::lower(section) + "/" + posix::lower(key)] = value;
  return TRUE;
}

BOOL IsDBCSLeadByte(BYTE c) {
  return state().code_page == 932 && ((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC));
}

int lstrlenA(LPCSTR s) { return s ? (int)strlen(s) : 0; }
LPSTR lstrcpyA(LPSTR dst, LPCSTR src) { return (LPSTR)memmove(dst, src, strlen(src) + 1); }
LPSTR lstrcatA(LPSTR dst, LPCSTR src) { return lstrcpyA(dst + strlen(dst), src) ? dst : dst; }
LPSTR lstrcpynA(LPSTR dst, LPCSTR src, int max) {
  if (max <= 0) return dst;
  int n = 0;
  while (n < max - 1 && src[n]) dst[n] = src[n], ++n;
  dst[n] = 0;
  return dst;
}

void ExitProcess(UINT status) { throw posix::ProcessExit{status}; }
LPSTR GetCommandLineA(void) { return (LPSTR)state().command_line.c_str(); }
HMODULE GetModuleHandleA(LPCSTR) { return (HMODULE)0x400000; }
DWORD GetTickCount(void) { return state().clock; }

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
  bool user_gave_up = false;
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
  if (getenv("SFX_ECHO_MESSAGES")) fprintf(stderr, "[%s] %s\n", caption, text);
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
  if (!state().dialog || wnd != state().dialog->handle) return 0;
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

// ---- COMDLG32 --------------------------------------------------------------

BOOL GetOpenFileNameA(LPOPENFILENAMEA ofn) {
  if (!state().chooser_set || state().chooser_path.empty()) return FALSE;
  const std::string &p = state().chooser_path;
  if (p.size() + 1 > ofn->nMaxFile) return FALSE;
  memcpy(ofn->lpstrFile, p.c_str(), p.size() + 1);
  size_t slash = p.find_last_of("\\/");
  ofn->nFileOffset = (WORD)(slash == std::string::npos ? 0 : slash + 1);
  return TRUE;
}

short GetFileTitleA(LPCSTR path, LPSTR out, WORD size) {
  if (failing("GetFileTitleA")) return -1;
  std::string p(path);
  size_t cut = p.find_last_of("\\/:");
  std::string title = cut == std::string::npos ? p : p.substr(cut + 1);
  if (title.size() + 1 > size) return (short)(title.size() + 1);
  memcpy(out, title.c_str(), title.size() + 1);
  return 0;
}

// ---- ADVAPI32 ----------------------------------------------------------------

static HKEY open_key(const std::string &path) {
  HKEY h = (HKEY)(state().next_key++ << 4);
  state().open_keys[h] = path;
  return h;
}

LSTATUS RegOpenKeyExA(HKEY root, LPCSTR sub, DWORD, REGSAM, HKEY *out) {
  if (failing("RegOpenKeyExA")) return ERROR_ACCESS_DENIED;
  std::string path = posix::key_path(root, sub);
  if (!state().registry.count(path)) return ERROR_FILE_NOT_FOUND;
  *out = open_key(path);
  return ERROR_SUCCESS;
}

LSTATUS RegQueryValueExA(HKEY key, LPCSTR name, LPDWORD, LPDWORD type, LPBYTE data, LPDWORD size) {
  auto k = state().open_keys.find(key);
  if (k == state().open_keys.end()) return ERROR_FILE_NOT_FOUND;
  auto &values = state().registry[k->second].values;
  auto v = values.find(posix::lower(name ? name : ""));
  if (v == values.end()) return ERROR_FILE_NOT_FOUND;
  if (type) *type = REG_SZ;
  if (v->second.size() > *size) {
    *size = (DWORD)v->second.size();
    return ERROR_MORE_DATA;
  }
  memcpy(data, v->second.data(), v->second.size());
  *size = (DWORD)v->second.size();
  return ERROR_SUCCESS;
}

LSTATUS RegCreateKeyExA(HKEY root, LPCSTR sub, DWORD, LPSTR, DWORD, REGSAM, LPSECURITY_ATTRIBUTES,
                        HKEY *out, LPDWORD disposition) {
  if (failing("RegCreateKeyExA")) return ERROR_ACCESS_DENIED;
  std::string path = posix::key_path(root, sub);
  // Every key on the way is created too.
  for (size_t at = path.find('\\'); at != std::string::npos; at = path.find('\\', at + 1))
    state().registry[path.substr(0, at)];
  if (disposition) *disposition = state().registry.count(path) ? 2 : 1;
  state().registry[path];
  *out = open_key(path);
  return ERROR_SUCCESS;
}

LSTATUS RegSetValueExA(HKEY key, LPCSTR name, DWORD, DWORD, const BYTE *data, DWORD size) {
  if (failing("RegSetValueExA")) return ERROR_ACCESS_DENIED;
  auto k = state().open_keys.find(key);
  if (k == state().open_keys.end()) return ERROR_FILE_NOT_FOUND;
  state().registry[k->second].values[posix::lower(name ? name : "")] =
      std::string((const char *)data, size);
  return ERROR_SUCCESS;
}

LSTATUS RegCloseKey(HKEY key) {
  return state().open_keys.erase(key) ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

// ---- SHELL32 -----------------------------------------------------------------

HINSTANCE ShellExecuteA(HWND owner, LPCSTR verb, LPCSTR file, LPCSTR params, LPCSTR dir, int show) {
  state().executes.push_back(posix::ShellExecuteRecord{owner, verb ? verb : "", file ? file : "",
                                                       params ? params : "", dir ? dir : "", show});
  return (HINSTANCE)33;
}

}  // extern "C"
