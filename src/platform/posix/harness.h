// What tests see of the POSIX stand-in: queued answers, recorded message
// boxes, the headless dialog, the registry and WIN.INI, fault injection.
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>
#include "posix/win32.h"

namespace posix {

struct ProcessExit {
  UINT status;
};

struct MessageBoxRecord {
  HWND owner;
  std::string text, caption;
  UINT style;
};

struct Control {
  std::string text;
  bool enabled = true;
  UINT check = 0;
  int limit = 0;
  DWORD style = 0;
};

struct ShellExecuteRecord {
  HWND owner;
  std::string verb, file, parameters, directory;
  int show;
};

struct PostedBroadcast {
  UINT message;
  WPARAM wparam;
  LPARAM lparam;
};

// A DDE server window: receives sent and posted messages addressed to it, and
// the WM_DDE_INITIATE broadcast.
using WindowHandler = std::function<void(HWND self, UINT message, WPARAM wparam, LPARAM lparam)>;

void reset();

// Process
int run(const std::function<void()> &body);  // exit status from ExitProcess, or -1 when none
void set_command_line(const std::string &line);
void set_module_path(const std::string &path);
void set_platform_id(DWORD id);
void set_code_page(int code_page);  // 1252 or 932

// Files
void set_drive_root(const std::string &dir);  // "X:\..." lands in dir/X/...
std::string host_path(const char *path);
// Turns each host path (after the drive mapping) into the one used; unset by reset.
void set_name_translator(const std::function<std::string(const std::string &)> &translator);
void set_windows_directory(const std::string &dir);
void set_system_directory(const std::string &dir);
void set_max_component_length(DWORD length);  // 0: the volume cannot be asked
void set_search_path(const std::vector<std::string> &dirs);
DWORD extra_attributes(const std::string &path);  // hidden, system, archive bits kept aside
bool creation_time(const std::string &path, FILETIME *out);

// Every file or directory about to be created, deleted or given attributes
// is shown to the guard first, as a host path; false refuses it.
void set_write_guard(const std::function<bool(const std::string &host_path)> &guard);
extern std::atomic<uint64_t> written_bytes;  // by WriteFile, ever: another thread may read it

// Fault injection: the nth call (from 1) of the named function fails.
void fail_call(const std::string &function, int nth);
int call_count(const std::string &function);

// Message boxes: answers are taken in order; with none queued a box returns
// its first button (IDOK or IDYES). An answerer, when set, answers instead.
void set_box_answerer(const std::function<int(const std::string &text, UINT style)> &answerer);
void queue_answer(int answer);
const std::vector<MessageBoxRecord> &message_boxes();

// The headless dialog. The driver runs whenever the dialog has nothing to do;
// it returns false once it has nothing more to do either.
void set_dialog_driver(const std::function<bool(HWND dialog)> &driver);
Control *control(int id);
HWND current_dialog();
const std::vector<std::string> &progress_texts();  // every text set in control 102
std::string window_caption();
int focus_id();
void set_iconic(bool iconic);
bool set_chooser_result(const std::string &path);  // path with file name; "" = cancelled
struct ChooserRequest {  // what the last GetOpenFileNameA call asked for
  bool shown = false;  // the request was whole, so a real dialog would have opened
  HWND owner = nullptr;
  DWORD flags = 0, max_file = 0;
  std::string title, preset;
};
const ChooserRequest &chooser_request();

// Registry and WIN.INI
bool reg_get(HKEY root, const std::string &key, const std::string &value, std::string *data);
// REG_SZ data, stored with its terminating zero unless `zero` is false (the registry allows both).
void reg_put(HKEY root, const std::string &key, const std::string &value, const std::string &data, bool zero = true);
int reg_key_count();
int open_key_count();
bool ini_get(const std::string &section, const std::string &key, std::string *value);

// Shell, processes, windows
const std::vector<ShellExecuteRecord> &shell_executes();
const std::vector<std::string> &created_processes();
void set_create_process_result(bool ok);
const std::vector<PostedBroadcast> &broadcasts();
HWND add_window(const std::string &class_name, const WindowHandler &handler);
HWND add_hung_window();           // a top-level window that never answers a sent message
bool blocked_forever();           // a send reached a hung window with no time limit
int icons_drawn();
bool user_gave_up();  // a dialog waited for its user, who cancelled it
const std::vector<UINT> &send_timeouts();  // the limits of SendMessageTimeoutA calls
void post_to(HWND window, UINT message, WPARAM wparam, LPARAM lparam);  // as the other side
void send_to(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
int live_atoms();
int live_local_blocks();
int live_global_blocks();
int live_packed_params();
void advance_clock(DWORD ms);

}  // namespace posix
