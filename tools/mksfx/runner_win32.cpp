// The stub's code in the Windows build of mksfx, on the real Win32 calls.
// The few calls that must behave differently inside a tool are taken over
// where the stub's code reaches them, its import slots: a slot defined here
// keeps the linker from taking the import library's. ExitProcess ends the
// run, MessageBoxA asks the caller, and the calls that create or change a
// file refuse what lies outside the confined root. The stub's code names
// files in 8-bit text: below the root in the archive's code page (its lead
// bytes are IsDBCSLeadByte's), the root and anything else in UTF-8, which
// the file calls taken over pass on to the wide calls.
#include "runner.h"
#include <csetjmp>
#include <cstdio>
#include <cstring>

namespace runner {
namespace {

std::string root;  // "" when not confined
std::string root_utf8;  // as the caller gave it, to find it at the start of a path
unsigned code_page;  // of names below the root; 0: the system's
std::string last_text;
Answerer answerer;
std::jmp_buf *active_run;
UINT exit_status;
std::atomic<uint64_t> written{0};

// The system's own function behind a slot taken over.
template <typename F>
F real(const char *name) {
  return (F)(void *)GetProcAddress(GetModuleHandleA("kernel32.dll"), name);
}
#define REAL(name) static const auto real_##name = real<decltype(&name)>(#name)

std::wstring wide(const char *text, int bytes, UINT from) {
  int n = MultiByteToWideChar(from, 0, text, bytes, nullptr, 0);
  std::wstring w((size_t)(n > 0 ? n : 0), L'\0');
  MultiByteToWideChar(from, 0, text, bytes, w.data(), n);
  return w;
}

// A path of the stub's code as the wide calls take it.
std::wstring wide_path(LPCSTR path) {
  size_t r = root_utf8.size(), n = strlen(path);
  bool below = code_page && r && n > r && (path[r] == '/' || path[r] == '\\');
  for (size_t i = 0; below && i < r; ++i)
    below = path[i] == root_utf8[i] || ((path[i] == '/' || path[i] == '\\') && (root_utf8[i] == '/' || root_utf8[i] == '\\'));
  if (!below) return wide(path, (int)n, CP_UTF8);
  return wide(path, (int)r, CP_UTF8) + wide(path + r, (int)(n - r), code_page);
}

bool allowed(LPCSTR path) {
  if (root.empty()) return true;
  wchar_t full[MAX_PATH * 2];
  DWORD n = GetFullPathNameW(wide_path(path).c_str(), MAX_PATH * 2, full, nullptr);
  std::wstring base = wide(root.c_str(), (int)root.size(), CP_UTF8);
  size_t r = base.size();
  if (n == 0 || n >= MAX_PATH * 2 || n < r) return false;
  return CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE, full, (int)r, base.c_str(), (int)r) == CSTR_EQUAL &&
         (full[r] == 0 || full[r] == L'\\' || full[r] == L'/' || base.back() == L'\\');
}

void WINAPI run_ExitProcess(UINT status) {
  REAL(ExitProcess);
  if (!active_run) real_ExitProcess(status);
  exit_status = status;
  std::longjmp(*active_run, 1);
}

int WINAPI run_MessageBoxA(HWND, LPCSTR text, LPCSTR, UINT style) {
  last_text = text ? text : "";
  if (answerer) return answerer(last_text, style);
  fprintf(stderr, "mksfx: %s\n", last_text.c_str());
  UINT buttons = style & 0xF;
  return buttons == MB_YESNO || buttons == MB_YESNOCANCEL ? IDYES : IDOK;
}

HANDLE WINAPI run_CreateFileA(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                              DWORD disposition, DWORD flags, HANDLE model) {
  if ((access & GENERIC_WRITE) && !allowed(path)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  return CreateFileW(wide_path(path).c_str(), access, share, security, disposition, flags, model);
}

BOOL WINAPI run_CreateDirectoryA(LPCSTR path, LPSECURITY_ATTRIBUTES security) {
  if (!allowed(path)) return SetLastError(ERROR_ACCESS_DENIED), FALSE;
  return CreateDirectoryW(wide_path(path).c_str(), security);
}

BOOL WINAPI run_SetFileAttributesA(LPCSTR path, DWORD attributes) {
  if (!allowed(path)) return SetLastError(ERROR_ACCESS_DENIED), FALSE;
  return SetFileAttributesW(wide_path(path).c_str(), attributes);
}

BOOL WINAPI run_DeleteFileA(LPCSTR path) {
  if (!allowed(path)) return SetLastError(ERROR_ACCESS_DENIED), FALSE;
  return DeleteFileW(wide_path(path).c_str());
}

DWORD WINAPI run_GetFileAttributesA(LPCSTR path) { return GetFileAttributesW(wide_path(path).c_str()); }

HFILE WINAPI run__lopen(LPCSTR path, int) {  // the stub opens only to read
  HANDLE h = CreateFileW(wide_path(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  return h == INVALID_HANDLE_VALUE ? HFILE_ERROR : (HFILE)(INT_PTR)h;
}

BOOL WINAPI run_IsDBCSLeadByte(BYTE c) {
  REAL(IsDBCSLeadByte);
  return code_page ? IsDBCSLeadByteEx(code_page, c) : real_IsDBCSLeadByte(c);
}

BOOL WINAPI run_WriteFile(HANDLE file, LPCVOID bytes, DWORD count, LPDWORD done, LPOVERLAPPED overlapped) {
  REAL(WriteFile);
  BOOL ok = real_WriteFile(file, bytes, count, done, overlapped);
  if (ok && done) written += *done;
  return ok;
}

}  // namespace

const char *const null_device = "NUL";

void reset(const char *) {
  root.clear();
  root_utf8.clear();
  code_page = 0;
  last_text.clear();
  answerer = nullptr;
}

void confine(const std::string &dir) {
  wchar_t full[MAX_PATH * 2];
  DWORD n = GetFullPathNameW(wide(dir.c_str(), (int)dir.size(), CP_UTF8).c_str(), MAX_PATH * 2, full, nullptr);
  int bytes = n && n < MAX_PATH * 2 ? WideCharToMultiByte(CP_UTF8, 0, full, (int)n, nullptr, 0, nullptr, nullptr) : 0;
  root.assign((size_t)bytes, '\0');
  if (bytes) WideCharToMultiByte(CP_UTF8, 0, full, (int)n, root.data(), bytes, nullptr, nullptr);
  else root = "\\\\?\\nowhere";  // unusable: refuse everything
  root_utf8 = dir;
  while (root.size() > 3 && (root.back() == '\\' || root.back() == '/')) root.pop_back();
}

void answer_boxes(const Answerer &a) { answerer = a; }
void use_code_page(unsigned codepage) { code_page = codepage; }

int run(const std::function<void()> &body) {
  std::jmp_buf here;
  if (setjmp(here)) {
    active_run = nullptr;
    return (int)exit_status;
  }
  active_run = &here;
  body();
  active_run = nullptr;
  return -1;
}

const std::string &last_box_text() { return last_text; }
std::atomic<uint64_t> *written_bytes() { return &written; }

}  // namespace runner

// The import slots of the calls taken over (see the top of this file): on
// x86_64 __imp_Name, on i686 __imp__Name@bytes of arguments.
#ifdef _WIN64
#define SLOT(name, bytes) void *slot_##name asm("__imp_" #name) = (void *)&runner::run_##name;
#else
#define SLOT(name, bytes) void *slot_##name asm("__imp__" #name "@" #bytes) = (void *)&runner::run_##name;
#endif
extern "C" {
SLOT(ExitProcess, 4)
SLOT(MessageBoxA, 16)
SLOT(CreateFileA, 28)
SLOT(CreateDirectoryA, 8)
SLOT(SetFileAttributesA, 8)
SLOT(DeleteFileA, 4)
SLOT(GetFileAttributesA, 4)
SLOT(_lopen, 8)
SLOT(IsDBCSLeadByte, 4)
SLOT(WriteFile, 20)
}
