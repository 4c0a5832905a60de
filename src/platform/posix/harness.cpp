// What tests see of the stand-in (harness.h): setting it up, injecting
// failures, and reading back what the program did.
#include "posix/state.h"

namespace posix {

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
  for (size_t i = 0; i < p.size(); ++i) {  // a trail byte 0x5C of a double-byte character is no separator
    if (IsDBCSLeadByte((BYTE)p[i])) ++i;
    else if (p[i] == '\\') p[i] = '/';
  }
  if (p.size() >= 2 && p[1] == ':') p = state().drive_root + "/" + p[0] + (p.size() > 2 && p[2] != '/' ? "/" : "") + p.substr(2);
  return state().name_translator ? state().name_translator(p) : p;
}

void set_name_translator(const std::function<std::string(const std::string &)> &translator) {
  state().name_translator = translator;
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

const ChooserRequest &chooser_request() { return state().chooser_request; }

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

void reg_put(HKEY root, const std::string &key, const std::string &value, const std::string &data, bool zero) {
  state().registry[key_path(root, key.c_str())].values[lower(value)] = zero ? data + std::string(1, '\0') : data;
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
bool user_gave_up() { return state().user_gave_up; }
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

}  // namespace posix
