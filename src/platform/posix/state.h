// Inside the POSIX stand-in: the one record of simulated machine state and
// the helpers its files share. Tests see it only through harness.h.
#pragma once
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
#include <map>
#include <string>
#include <vector>
#include "posix/harness.h"

namespace posix {

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
  posix::ChooserRequest chooser_request;
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
  bool user_gave_up = false;
  std::function<bool(const std::string &)> write_guard;
  std::function<std::string(const std::string &)> name_translator;
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


State &state();
bool failing(const char *name);  // counts the call; true when a test asked it to fail
extern HWND const DIALOG_HANDLE;
HWND control_handle(int id);
int control_id(HWND h);
bool is_control(HWND h);
std::string lower(std::string s);
std::string root_name(HKEY root);
std::string key_path(HKEY root, const char *sub);
HANDLE file_handle(int fd);
int file_fd(HANDLE h);
extern HANDLE const PROCESS_HANDLE, THREAD_HANDLE;
FILETIME to_file_time(const struct timespec &t);
struct timespec to_timespec(const FILETIME *ft);
int64_t days_from_civil(int64_t y, unsigned m, unsigned d);  // days since 1601-01-01
void civil_from_days(int64_t z, int64_t *y, unsigned *m, unsigned *d);
void create_dialog_controls(Dialog *d, const char *name);
void deliver(const MSG &m);  // to the dialog or a registered window

}  // namespace posix

using posix::state;
using posix::failing;
