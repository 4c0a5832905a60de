// The Win32 subset the program calls, for Linux builds. It is a test harness,
// not a second Windows: each call does what the program expects of it and no
// more, and tests can look inside through posix_harness.h.
#pragma once
#include <stddef.h>
#include <stdint.h>

#define WINAPI
#define CALLBACK
#define APIENTRY

typedef int BOOL;
typedef unsigned char BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef unsigned int UINT;
typedef int INT;
typedef char CHAR;
typedef intptr_t INT_PTR;
typedef size_t SIZE_T;
typedef uintptr_t UINT_PTR;
typedef intptr_t LONG_PTR;
typedef uintptr_t ULONG_PTR;
typedef UINT_PTR WPARAM;
typedef LONG_PTR LPARAM;
typedef LONG_PTR LRESULT;
typedef WORD ATOM;
typedef DWORD REGSAM;
typedef LONG LSTATUS;
typedef char *LPSTR;
typedef const char *LPCSTR;
typedef void *LPVOID;
typedef const void *LPCVOID;
typedef DWORD *LPDWORD;
typedef BYTE *LPBYTE;
typedef const BYTE *LPCBYTE;
typedef void *HANDLE;
typedef int HFILE;
typedef struct HWND__ *HWND;
typedef struct HINSTANCE__ *HINSTANCE;
typedef HINSTANCE HMODULE;
typedef struct HKEY__ *HKEY;
typedef struct HICON__ *HICON;
typedef struct HDC__ *HDC;
typedef HANDLE HLOCAL;
typedef HANDLE HGLOBAL;
typedef INT_PTR(CALLBACK *DLGPROC)(HWND, UINT, WPARAM, LPARAM);
typedef void(CALLBACK *TIMERPROC)(HWND, UINT, UINT_PTR, DWORD);
typedef UINT_PTR(CALLBACK *LPOFNHOOKPROC)(HWND, UINT, WPARAM, LPARAM);

#define TRUE 1
#define FALSE 0
#define MAX_PATH 260
#define MAKEINTRESOURCEA(i) ((LPSTR)(ULONG_PTR)(WORD)(i))
#define LOWORD(l) ((WORD)((DWORD_PTR_(l)) & 0xffff))
#define HIWORD(l) ((WORD)((DWORD_PTR_(l)) >> 16))
#define DWORD_PTR_(l) ((ULONG_PTR)(l))
#define MAKELONG(a, b) ((LONG)(((WORD)(a)) | ((DWORD)((WORD)(b))) << 16))
#define MAKELPARAM(l, h) ((LPARAM)(DWORD)MAKELONG(l, h))

typedef struct _FILETIME { DWORD dwLowDateTime, dwHighDateTime; } FILETIME, *LPFILETIME;
typedef struct _SYSTEMTIME {
  WORD wYear, wMonth, wDayOfWeek, wDay, wHour, wMinute, wSecond, wMilliseconds;
} SYSTEMTIME, *LPSYSTEMTIME;
typedef struct _OSVERSIONINFOA {
  DWORD dwOSVersionInfoSize, dwMajorVersion, dwMinorVersion, dwBuildNumber, dwPlatformId;
  CHAR szCSDVersion[128];
} OSVERSIONINFOA, *LPOSVERSIONINFOA;
typedef struct _SECURITY_ATTRIBUTES {
  DWORD nLength; LPVOID lpSecurityDescriptor; BOOL bInheritHandle;
} SECURITY_ATTRIBUTES, *LPSECURITY_ATTRIBUTES;
typedef struct tagRECT { LONG left, top, right, bottom; } RECT, *LPRECT;
typedef struct tagPOINT { LONG x, y; } POINT;
typedef struct tagMSG {
  HWND hwnd; UINT message; WPARAM wParam; LPARAM lParam; DWORD time; POINT pt;
} MSG, *LPMSG;
typedef struct tagPAINTSTRUCT {
  HDC hdc; BOOL fErase; RECT rcPaint; BOOL fRestore, fIncUpdate; BYTE rgbReserved[32];
} PAINTSTRUCT, *LPPAINTSTRUCT;
typedef struct _STARTUPINFOA {
  DWORD cb; LPSTR lpReserved, lpDesktop, lpTitle;
  DWORD dwX, dwY, dwXSize, dwYSize, dwXCountChars, dwYCountChars, dwFillAttribute, dwFlags;
  WORD wShowWindow, cbReserved2; LPBYTE lpReserved2;
  HANDLE hStdInput, hStdOutput, hStdError;
} STARTUPINFOA, *LPSTARTUPINFOA;
typedef struct _PROCESS_INFORMATION {
  HANDLE hProcess, hThread; DWORD dwProcessId, dwThreadId;
} PROCESS_INFORMATION, *LPPROCESS_INFORMATION;
typedef struct tagOFNA {
  DWORD lStructSize; HWND hwndOwner; HINSTANCE hInstance; LPCSTR lpstrFilter;
  LPSTR lpstrCustomFilter; DWORD nMaxCustFilter, nFilterIndex; LPSTR lpstrFile;
  DWORD nMaxFile; LPSTR lpstrFileTitle; DWORD nMaxFileTitle; LPCSTR lpstrInitialDir;
  LPCSTR lpstrTitle; DWORD Flags; WORD nFileOffset, nFileExtension; LPCSTR lpstrDefExt;
  LPARAM lCustData; LPOFNHOOKPROC lpfnHook; LPCSTR lpTemplateName;
} OPENFILENAME_NT4A;
typedef struct tagOFNA_ : OPENFILENAME_NT4A {
  void *pvReserved; DWORD dwReserved, FlagsEx;
} OPENFILENAMEA, *LPOPENFILENAMEA;

// Files
#define HFILE_ERROR ((HFILE)-1)
#define INVALID_HANDLE_VALUE ((HANDLE)(LONG_PTR)-1)
#define OF_READ 0x0000
#define FILE_BEGIN 0
#define FILE_CURRENT 1
#define FILE_END 2
#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define FILE_SHARE_READ 0x1
#define FILE_SHARE_WRITE 0x2
#define CREATE_ALWAYS 2
#define OPEN_EXISTING 3
#define FILE_ATTRIBUTE_READONLY 0x01
#define FILE_ATTRIBUTE_HIDDEN 0x02
#define FILE_ATTRIBUTE_SYSTEM 0x04
#define FILE_ATTRIBUTE_DIRECTORY 0x10
#define FILE_ATTRIBUTE_ARCHIVE 0x20
#define FILE_ATTRIBUTE_NORMAL 0x80
#define INVALID_FILE_ATTRIBUTES ((DWORD)-1)

// Memory
#define LMEM_FIXED 0x0000
#define LMEM_ZEROINIT 0x0040
#define LPTR (LMEM_FIXED | LMEM_ZEROINIT)
#define GMEM_MOVEABLE 0x0002
#define GMEM_DDESHARE 0x2000

// Versions and processes
#define VER_PLATFORM_WIN32s 0
#define VER_PLATFORM_WIN32_WINDOWS 1
#define VER_PLATFORM_WIN32_NT 2
#define CREATE_NEW_PROCESS_GROUP 0x200
#define NORMAL_PRIORITY_CLASS 0x20

// Registry
#define HKEY_CLASSES_ROOT ((HKEY)(ULONG_PTR)0x80000000u)
#define HKEY_CURRENT_USER ((HKEY)(ULONG_PTR)0x80000001u)
#define HKEY_LOCAL_MACHINE ((HKEY)(ULONG_PTR)0x80000002u)
#define ERROR_SUCCESS 0L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_MORE_DATA 234L
#define KEY_QUERY_VALUE 0x0001
#define KEY_WRITE 0x20006
#define REG_OPTION_NON_VOLATILE 0
#define REG_SZ 1

// Windows and messages
#define HWND_BROADCAST ((HWND)0xffff)
#define SMTO_ABORTIFHUNG 0x0002
typedef ULONG_PTR DWORD_PTR;
typedef ULONG_PTR *PDWORD_PTR;
#define WM_PAINT 0x000F
#define WM_CLOSE 0x0010
#define WM_ERASEBKGND 0x0014
#define WM_WININICHANGE 0x001A
#define WM_ICONERASEBKGND 0x0027
#define WM_QUERYDRAGICON 0x0037
#define WM_INITDIALOG 0x0110
#define WM_COMMAND 0x0111
#define WM_TIMER 0x0113
#define WM_DDE_INITIATE 0x03E0
#define WM_DDE_TERMINATE 0x03E1
#define WM_DDE_ACK 0x03E4
#define WM_DDE_EXECUTE 0x03E8
#define EM_LIMITTEXT 0x00C5
#define BM_SETSTYLE 0x00F4
#define BS_DEFPUSHBUTTON 0x0001
#define BST_UNCHECKED 0
#define BST_CHECKED 1
#define PM_REMOVE 0x0001
#define SM_CXSCREEN 0
#define SM_CYSCREEN 1
#define SW_SHOW 5
#define SW_SHOWDEFAULT 10
#define MM_TEXT 1
#define IDOK 1
#define IDCANCEL 2
#define IDYES 6
#define IDNO 7
#define MB_OK 0x0
#define MB_YESNOCANCEL 0x3
#define MB_YESNO 0x4
#define MB_ICONERROR 0x10
#define MB_ICONQUESTION 0x20
#define MB_ICONWARNING 0x30
#define MB_TASKMODAL 0x2000
#define OFN_HIDEREADONLY 0x4
#define OFN_ENABLETEMPLATE 0x40

#ifdef __cplusplus
extern "C" {
#endif
// KERNEL32
HFILE _lopen(LPCSTR path, int mode);
UINT _lread(HFILE file, LPVOID buffer, UINT count);
LONG _llseek(HFILE file, LONG offset, int origin);
HFILE _lclose(HFILE file);
HANDLE CreateFileA(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa,
                   DWORD disposition, DWORD flags, HANDLE tmpl);
BOOL WriteFile(HANDLE file, LPCVOID data, DWORD count, LPDWORD written, void *overlapped);
BOOL CloseHandle(HANDLE handle);
BOOL SetFileTime(HANDLE file, const FILETIME *creation, const FILETIME *access,
                 const FILETIME *write);
BOOL GetFileTime(HANDLE file, LPFILETIME creation, LPFILETIME access, LPFILETIME write);
DWORD GetFileAttributesA(LPCSTR path);
BOOL SetFileAttributesA(LPCSTR path, DWORD attributes);
BOOL DeleteFileA(LPCSTR path);
BOOL CreateDirectoryA(LPCSTR path, LPSECURITY_ATTRIBUTES sa);
BOOL GetVolumeInformationA(LPCSTR root, LPSTR name, DWORD name_size, LPDWORD serial,
                           LPDWORD max_component, LPDWORD flags, LPSTR fs, DWORD fs_size);
DWORD GetShortPathNameA(LPCSTR long_path, LPSTR short_path, DWORD size);
DWORD GetFullPathNameA(LPCSTR path, DWORD size, LPSTR out, LPSTR *file_part);
DWORD SearchPathA(LPCSTR path, LPCSTR name, LPCSTR ext, DWORD size, LPSTR out, LPSTR *file_part);
UINT GetWindowsDirectoryA(LPSTR out, UINT size);
UINT GetSystemDirectoryA(LPSTR out, UINT size);
DWORD GetCurrentDirectoryA(DWORD size, LPSTR out);
DWORD GetEnvironmentVariableA(LPCSTR name, LPSTR out, DWORD size);
DWORD GetModuleFileNameA(HMODULE module, LPSTR out, DWORD size);
BOOL FileTimeToSystemTime(const FILETIME *ft, LPSYSTEMTIME st);
BOOL SystemTimeToFileTime(const SYSTEMTIME *st, LPFILETIME ft);
BOOL GetVersionExA(LPOSVERSIONINFOA info);
HLOCAL LocalAlloc(UINT flags, size_t bytes);
HLOCAL LocalFree(HLOCAL mem);
HGLOBAL GlobalAlloc(UINT flags, size_t bytes);
LPVOID GlobalLock(HGLOBAL mem);
BOOL GlobalUnlock(HGLOBAL mem);
HGLOBAL GlobalFree(HGLOBAL mem);
ATOM GlobalAddAtomA(LPCSTR name);
ATOM GlobalDeleteAtom(ATOM atom);
BOOL CreateProcessA(LPCSTR app, LPSTR cmd, LPSECURITY_ATTRIBUTES pa, LPSECURITY_ATTRIBUTES ta,
                    BOOL inherit, DWORD flags, LPVOID env, LPCSTR dir, LPSTARTUPINFOA si,
                    LPPROCESS_INFORMATION pi);
BOOL WriteProfileStringA(LPCSTR section, LPCSTR key, LPCSTR value);
BOOL IsDBCSLeadByte(BYTE c);
int lstrlenA(LPCSTR s);
LPSTR lstrcpyA(LPSTR dst, LPCSTR src);
LPSTR lstrcpynA(LPSTR dst, LPCSTR src, int max);
LPSTR lstrcatA(LPSTR dst, LPCSTR src);
void ExitProcess(UINT status);
LPSTR GetCommandLineA(void);
HMODULE GetModuleHandleA(LPCSTR name);
// USER32, GDI32
INT_PTR DialogBoxParamA(HINSTANCE inst, LPCSTR tmpl, HWND owner, DLGPROC proc, LPARAM param);
BOOL EndDialog(HWND dlg, INT_PTR result);
HWND GetDlgItem(HWND dlg, int id);
BOOL SetDlgItemTextA(HWND dlg, int id, LPCSTR text);
UINT GetDlgItemTextA(HWND dlg, int id, LPSTR out, int size);
BOOL SetWindowTextA(HWND wnd, LPCSTR text);
LRESULT SendDlgItemMessageA(HWND dlg, int id, UINT msg, WPARAM wp, LPARAM lp);
LRESULT SendMessageA(HWND wnd, UINT msg, WPARAM wp, LPARAM lp);
LRESULT SendMessageTimeoutA(HWND wnd, UINT msg, WPARAM wp, LPARAM lp, UINT flags, UINT timeout,
                            PDWORD_PTR result);
BOOL PostMessageA(HWND wnd, UINT msg, WPARAM wp, LPARAM lp);
BOOL PeekMessageA(LPMSG msg, HWND wnd, UINT first, UINT last, UINT remove);
BOOL IsDialogMessageA(HWND dlg, LPMSG msg);
BOOL TranslateMessage(const MSG *msg);
LRESULT DispatchMessageA(const MSG *msg);
int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT style);
UINT_PTR SetTimer(HWND wnd, UINT_PTR id, UINT ms, TIMERPROC proc);
BOOL KillTimer(HWND wnd, UINT_PTR id);
BOOL EnableWindow(HWND wnd, BOOL enable);
BOOL CheckDlgButton(HWND dlg, int id, UINT check);
int GetSystemMetrics(int index);
BOOL GetWindowRect(HWND wnd, LPRECT rect);
BOOL MoveWindow(HWND wnd, int x, int y, int w, int h, BOOL repaint);
HWND SetFocus(HWND wnd);
HICON LoadIconA(HINSTANCE inst, LPCSTR name);
BOOL DestroyIcon(HICON icon);
BOOL DrawIcon(HDC dc, int x, int y, HICON icon);
BOOL IsIconic(HWND wnd);
HDC BeginPaint(HWND wnd, LPPAINTSTRUCT ps);
BOOL EndPaint(HWND wnd, const PAINTSTRUCT *ps);
int GetMapMode(HDC dc);
int SetMapMode(HDC dc, int mode);
int wsprintfA(LPSTR out, LPCSTR format, ...);
LPSTR CharLowerA(LPSTR text);
LPSTR CharPrevA(LPCSTR start, LPCSTR current);
HWND FindWindowA(LPCSTR cls, LPCSTR name);
DWORD WaitForInputIdle(HANDLE process, DWORD ms);
LPARAM PackDDElParam(UINT msg, UINT_PTR lo, UINT_PTR hi);
BOOL FreeDDElParam(UINT msg, LPARAM lp);
BOOL UnpackDDElParam(UINT msg, LPARAM lp, UINT_PTR *lo, UINT_PTR *hi);
DWORD GetTickCount(void);
// COMDLG32
BOOL GetOpenFileNameA(LPOPENFILENAMEA ofn);
short GetFileTitleA(LPCSTR path, LPSTR out, WORD size);
// ADVAPI32
LSTATUS RegOpenKeyExA(HKEY root, LPCSTR sub, DWORD options, REGSAM sam, HKEY *out);
LSTATUS RegQueryValueExA(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                         LPDWORD size);
LSTATUS RegCreateKeyExA(HKEY root, LPCSTR sub, DWORD reserved, LPSTR cls, DWORD options,
                        REGSAM sam, LPSECURITY_ATTRIBUTES sa, HKEY *out, LPDWORD disposition);
LSTATUS RegSetValueExA(HKEY key, LPCSTR name, DWORD reserved, DWORD type, const BYTE *data,
                       DWORD size);
LSTATUS RegCloseKey(HKEY key);
// SHELL32
HINSTANCE ShellExecuteA(HWND owner, LPCSTR verb, LPCSTR file, LPCSTR params, LPCSTR dir, int show);
#ifdef __cplusplus
}
#endif
