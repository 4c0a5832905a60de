// The stand-in's KERNEL32: files and directories, environment, time
// conversion, memory, atoms, WIN.INI and the lstr functions.
#include "posix/state.h"

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

// As Win32 seeks without a high part: the distance is signed, and a position
// below 0 or past 32 bits is refused with the file pointer left alone.
LONG _llseek(HFILE file, LONG offset, int origin) {
  if (failing("_llseek")) return HFILE_ERROR;
  struct stat st;
  off_t base = origin == FILE_BEGIN     ? 0
               : origin == FILE_CURRENT ? lseek(file, 0, SEEK_CUR)
               : fstat(file, &st) == 0  ? st.st_size
                                        : -1;
  off_t target = base + offset;
  if (base < 0 || target < 0 || target >= 0xFFFFFFFF || lseek(file, target, SEEK_SET) < 0) return HFILE_ERROR;
  return (LONG)(DWORD)target;
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
  if (state().write_guard && !state().write_guard(host)) return FALSE;
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
  if (state().write_guard && !state().write_guard(host)) return FALSE;
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

// A relative path is taken from the working directory; separators become '\\'.
DWORD GetFullPathNameA(LPCSTR path, DWORD size, LPSTR out, LPSTR *file_part) {
  if (failing("GetFullPathNameA")) return 0;
  std::string full = path;
  if (full[0] != '/' && full[0] != '\\' && !(full[0] && full[1] == ':')) {
    char cwd[4096];
    if (!getcwd(cwd, sizeof(cwd))) return 0;
    full = std::string(cwd) + "\\" + full;
  }
  for (char &c : full)
    if (c == '/') c = '\\';
  DWORD n = copy_out(full, out, size);
  if (n < size && file_part) *file_part = out + full.find_last_of('\\') + 1;
  return n;
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

}  // extern "C"
