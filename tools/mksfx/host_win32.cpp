// mksfx on Windows: paths and names arrive as UTF-8 and go to the wide API.
#include "host.h"
#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <algorithm>
#include <shellapi.h>

namespace {

std::wstring wide(const std::string &utf8) {
  int n = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0);
  std::wstring w(n > 0 ? (size_t)n : 1, L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, w.data(), n);
  w.resize(w.size() - 1);
  return w;
}

std::string narrow(const std::wstring &w, unsigned codepage, bool *lossy) {
  BOOL used_default = FALSE;
  BOOL *flag = codepage == CP_UTF8 ? nullptr : &used_default;
  int n = WideCharToMultiByte(codepage, 0, w.c_str(), (int)w.size(), nullptr, 0, nullptr, flag);
  std::string s((size_t)(n > 0 ? n : 0), '\0');
  WideCharToMultiByte(codepage, 0, w.c_str(), (int)w.size(), s.data(), n, nullptr, flag);
  if (lossy) *lossy = used_default != FALSE;
  return s;
}

std::string last_error() {
  char text[256] = "";
  FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, GetLastError(), 0, text,
                 sizeof(text), nullptr);
  std::string s(text);
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == '.')) s.pop_back();
  return s;
}

}  // namespace

FileFacts host_stat(const std::string &path, std::string *error) {
  FileFacts f;
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(wide(path).c_str(), GetFileExInfoStandard, &data)) {
    *error = last_error();
    return f;
  }
  if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {  // a link: is there anything at its end?
    HANDLE h = CreateFileW(wide(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      *error = "a symbolic link to nothing";
      f.dangling = true;
      return f;
    }
    CloseHandle(h);
  }
  f.exists = true;
  f.directory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  f.regular = !f.directory;
  f.writable = !(data.dwFileAttributes & FILE_ATTRIBUTE_READONLY);
  f.size = (uint64_t)data.nFileSizeHigh << 32 | data.nFileSizeLow;
  uint64_t ft = (uint64_t)data.ftLastWriteTime.dwHighDateTime << 32 | data.ftLastWriteTime.dwLowDateTime;
  f.mtime = (int64_t)(ft / 10000000ull) - 11644473600ll;
  // Only an open file or folder tells which one it is.
  HANDLE h = CreateFileW(wide(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  BY_HANDLE_FILE_INFORMATION info;
  if (h != INVALID_HANDLE_VALUE && GetFileInformationByHandle(h, &info)) {
    f.volume = info.dwVolumeSerialNumber;
    f.file_id = (uint64_t)info.nFileIndexHigh << 32 | info.nFileIndexLow;
  }
  if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  return f;
}

bool host_list(const std::string &dir, std::vector<std::string> *names, std::string *error) {
  WIN32_FIND_DATAW found;
  HANDLE h = FindFirstFileW(wide(dir + "\\*").c_str(), &found);
  if (h == INVALID_HANDLE_VALUE) {
    *error = last_error();
    return false;
  }
  do {
    std::wstring name = found.cFileName;
    if (name != L"." && name != L"..") names->push_back(narrow(name, CP_UTF8, nullptr));
  } while (FindNextFileW(h, &found));
  FindClose(h);
  return true;
}

bool host_to_codepage(const std::string &utf8, unsigned codepage, std::string *out) {
  bool lossy = false;
  *out = narrow(wide(utf8), codepage, &lossy);
  return !lossy;
}

// mingw has no fnmatch: the same patterns, with '\\' a separator, not an escape.
bool host_match(const std::string &pattern, const std::string &name) {
  const char *p = pattern.c_str(), *n = name.c_str(), *star = nullptr, *resume = nullptr;
  while (*n) {
    bool step = false;
    if (*p == '*') {
      star = ++p, resume = n;
      continue;
    }
    if (*p == '?') step = true;
    else if (*p == '[') {
      const char *q = p + 1;
      bool negate = *q == '!' || *q == '^', hit = false;
      q += negate;
      do {
        if (q[1] == '-' && q[2] && q[2] != ']') hit |= *q <= *n && *n <= q[2], q += 3;
        else hit |= *q++ == *n;
      } while (*q && *q != ']');
      if (*q == ']' && hit != negate) step = true, p = q;
    } else step = *p == *n;
    if (step) ++p, ++n;
    else if (star) p = star, n = ++resume;
    else return false;
  }
  while (*p == '*') ++p;
  return !*p;
}

std::string host_program_dir() {
  wchar_t self[MAX_PATH];
  DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::string path = narrow(std::wstring(self, n), CP_UTF8, nullptr);
  return path.substr(0, path.find_last_of("\\/") + 1);
}

namespace {

// Every piece, in order; *failure says what went wrong making one.
bool write_all(HANDLE h, const Pieces &pieces, std::string *failure) {
  bool ok = true;
  std::vector<uint8_t> bytes;
  while (ok && pieces(&bytes, failure)) {
    for (size_t done = 0; ok && done < bytes.size();) {  // one WriteFile takes less than 4 GiB
      DWORD chunk = (DWORD)std::min<size_t>(bytes.size() - done, 1u << 30), written = 0;
      ok = WriteFile(h, bytes.data() + done, chunk, &written, nullptr) && written == chunk;
      done += written;
    }
  }
  return ok && failure->empty();
}

// The file a symbolic link leads to (Vista and later know); the path itself otherwise.
std::wstring link_target(const std::wstring &path) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  using Final = DWORD(WINAPI *)(HANDLE, LPWSTR, DWORD, DWORD);
  auto final_path = (Final)(void *)GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetFinalPathNameByHandleW");
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT) || !final_path)
    return path;
  HANDLE h = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  wchar_t target[32768];
  DWORD n = h == INVALID_HANDLE_VALUE ? 0 : final_path(h, target, 32768, 0);
  if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  return n > 0 && n < 32768 ? std::wstring(target, n) : path;
}

}  // namespace

// Standard output, a device or a pipe is written as it is; a file is written
// beside itself and moved over the old one when whole.
bool host_write_whole(const std::string &given, const Pieces &pieces, std::string *error) {
  std::wstring path = link_target(wide(given));
  HANDLE h = given == "-" ? GetStdHandle(STD_OUTPUT_HANDLE)
                          : CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                        OPEN_EXISTING, 0, nullptr);
  if (given == "-" || (h != INVALID_HANDLE_VALUE && GetFileType(h) != FILE_TYPE_DISK)) {
    std::string failure;
    bool ok = h != INVALID_HANDLE_VALUE && h != nullptr && write_all(h, pieces, &failure);
    if (!ok) *error = failure.empty() ? last_error() : failure;
    if (given != "-" && h != INVALID_HANDLE_VALUE) CloseHandle(h);
    return ok;
  }
  if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  std::wstring temp = path + L".mksfx-tmp";
  h = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    *error = last_error();
    return false;
  }
  std::string failure;
  bool ok = write_all(h, pieces, &failure);
  ok &= CloseHandle(h) != 0;
  if (!ok || !MoveFileExW(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    *error = failure.empty() ? last_error() : failure;
    DeleteFileW(temp.c_str());
    return false;
  }
  return true;
}

std::string host_from_codepage(const std::string &text, unsigned codepage) {
  int n = MultiByteToWideChar(codepage, 0, text.data(), (int)text.size(), nullptr, 0);
  std::wstring w((size_t)(n > 0 ? n : 0), L'\0');
  MultiByteToWideChar(codepage, 0, text.data(), (int)text.size(), w.data(), n);
  return narrow(w, CP_UTF8, nullptr);
}

std::string host_upper_case(const std::string &utf8) {
  std::wstring w = wide(utf8);
  CharUpperBuffW(w.data(), (DWORD)w.size());
  return narrow(w, CP_UTF8, nullptr);
}

FILE *host_fopen(const std::string &path, const char *mode) { return _wfopen(wide(path).c_str(), wide(mode).c_str()); }

// main's argv is in the ANSI code page, which cannot hold every name.
void host_utf8_arguments(int *argc, char ***argv) {
  static std::vector<std::string> texts;
  static std::vector<char *> pointers;
  int n = 0;
  wchar_t **args = CommandLineToArgvW(GetCommandLineW(), &n);
  if (!args) return;
  for (int i = 0; i < n; ++i) texts.push_back(narrow(args[i], CP_UTF8, nullptr));
  LocalFree(args);
  for (std::string &t : texts) pointers.push_back(t.data());
  pointers.push_back(nullptr);
  *argc = n;
  *argv = pointers.data();
  SetConsoleOutputCP(CP_UTF8);
}

FILE *host_spool(std::string *error) {
  wchar_t dir[MAX_PATH + 1], name[MAX_PATH + 1];
  HANDLE h = INVALID_HANDLE_VALUE;
  if (GetTempPathW(MAX_PATH + 1, dir) && GetTempFileNameW(dir, L"sfx", 0, name))
    h = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                    FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    *error = "temporary file: " + last_error();
    return nullptr;
  }
  int fd = _open_osfhandle((intptr_t)h, _O_BINARY);
  FILE *f = fd < 0 ? nullptr : _fdopen(fd, "w+b");
  if (!f) {
    *error = "temporary file: cannot open";
    if (fd >= 0) _close(fd);
    else CloseHandle(h);
  }
  return f;
}

bool host_seek(FILE *file, uint64_t offset) { return _fseeki64(file, (__int64)offset, SEEK_SET) == 0; }
