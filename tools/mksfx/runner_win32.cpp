// The stub's code in the Windows build of mksfx, on the real Win32 calls.
// The few calls that must behave differently inside a tool are taken over
// where the stub's code reaches them, its import slots: a slot defined here
// keeps the linker from taking the import library's. ExitProcess ends the
// run, MessageBoxA asks the caller, and the calls that create or change a
// file refuse what lies outside the confined root.
#include "runner.h"
#include <csetjmp>
#include <cstdio>

namespace runner {
namespace {

std::string root;  // "" when not confined
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

bool allowed(LPCSTR path) {
  if (root.empty()) return true;
  char full[MAX_PATH * 2];
  DWORD n = GetFullPathNameA(path, sizeof full, full, nullptr);
  if (n == 0 || n >= sizeof full) return false;
  size_t r = root.size();
  return n >= r && CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, full, (int)r, root.c_str(), (int)r) == CSTR_EQUAL &&
         (full[r] == 0 || full[r] == '\\' || full[r] == '/' || root.back() == '\\');
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
  REAL(CreateFileA);
  if ((access & GENERIC_WRITE) && !allowed(path)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  return real_CreateFileA(path, access, share, security, disposition,
                                                                     flags, model);
}

BOOL WINAPI run_CreateDirectoryA(LPCSTR path, LPSECURITY_ATTRIBUTES security) {
  REAL(CreateDirectoryA);
  if (!allowed(path)) return SetLastError(ERROR_ACCESS_DENIED), FALSE;
  return real_CreateDirectoryA(path, security);
}

BOOL WINAPI run_SetFileAttributesA(LPCSTR path, DWORD attributes) {
  REAL(SetFileAttributesA);
  if (!allowed(path)) return SetLastError(ERROR_ACCESS_DENIED), FALSE;
  return real_SetFileAttributesA(path, attributes);
}

BOOL WINAPI run_DeleteFileA(LPCSTR path) {
  REAL(DeleteFileA);
  if (!allowed(path)) return SetLastError(ERROR_ACCESS_DENIED), FALSE;
  return real_DeleteFileA(path);
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
  last_text.clear();
  answerer = nullptr;
}

void confine(const std::string &dir) {
  char full[MAX_PATH * 2];
  DWORD n = GetFullPathNameA(dir.c_str(), sizeof full, full, nullptr);
  root = n && n < sizeof full ? full : "\\\\?\\nowhere";  // unusable: refuse everything
  while (root.size() > 3 && (root.back() == '\\' || root.back() == '/')) root.pop_back();
}

void answer_boxes(const Answerer &a) { answerer = a; }

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

// The import slots of the calls taken over (see the top of this file), by
// their x86_64 names.
static_assert(sizeof(void *) == 8, "32-bit slots are named __imp__Name@bytes");
#define SLOT(name) void *slot_##name asm("__imp_" #name) = (void *)&runner::run_##name;
extern "C" {
SLOT(ExitProcess)
SLOT(MessageBoxA)
SLOT(CreateFileA)
SLOT(CreateDirectoryA)
SLOT(SetFileAttributesA)
SLOT(DeleteFileA)
SLOT(WriteFile)
}
