// A whole self-extractor from arbitrary bytes: header block flags and the archive come from
// the input; both passes run through WinMain with -n, and a Program Manager answers.
// Properties: nothing is created outside the destination unless the member names its place
// itself (a drive, a rooted path or a directory macro), and even then only on the stand-in's
// drives, never elsewhere on the host; a run that ends with status 0 has not made the
// destination; no member's output passes its declared size; a run that returns has given
// back every memory block, atom and packed parameter and closed every registry key.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>
#include "posix/harness.h"
#include "archive/archive.h"
#include "startup/startup.h"

namespace fs = std::filesystem;

static bool named_by_member() {
  const char *p = ctx ? ctx->member_path : "";
  return p[0] == '/' || p[0] == '\\' || p[0] == '%' || (p[0] && p[1] == ':');
}

static bool starts_with(const std::string &path, const std::string &dir) {
  return path == dir || path.compare(0, dir.size() + 1, dir + "/") == 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 2) return 0;
  unsetenv("TEMP");
  unsetenv("TMP");
  static char scratch[] = "/dev/shm/sfxfuzz-XXXXXX";  // memory-backed, made once
  static const std::string root = mkdtemp(scratch) ? scratch : "/tmp";
  std::string sfx = root + "/fuzz.exe", drives = root + "/drives";
  std::string dest = drives + "/D/a/b/dest";
  std::vector<uint8_t> file(1332, 0);
  file[0] = 'M', file[1] = 'Z';
  file[512] = (uint8_t)(1332 & 0xFF), file[513] = (uint8_t)(1332 >> 8);
  file[512 + 601] = data[0];  // flags
  file[512 + 602] = data[1];  // restore attributes
  file.insert(file.end(), data + 2, data + size);
  FILE *f = fopen(sfx.c_str(), "wb");
  if (!f || fwrite(file.data(), 1, file.size(), f) != file.size()) abort();
  fclose(f);
  posix::reset();
  posix::set_drive_root(drives);
  posix::set_module_path(sfx);
  posix::set_code_page(data[0] & 0x80 ? 932 : 1252);  // a flag bit the program never reads
  // The program's process-wide settings outlive a run; each input starts clean.
  win32s_host = auto_start = overwrite_all = keep_controls = ask_class = dir_from_command_line = 0;
  keep_newer = 1;
  dialog_window = nullptr;
  ctx = nullptr;
  fs::create_directories(drives + "/D");
  // Bytes go only to the file created at the last guarded step, under its member's header.
  uint64_t mark = posix::written_bytes, declared = 0;
  auto check_size = [&](bool running) {
    if (posix::written_bytes - mark > declared) abort();
    mark = posix::written_bytes;
    declared = running && ctx && ctx->header_buffer ? read_u32(ctx->header_buffer + HDR_UNCOMPRESSED) : 0;
  };
  posix::set_write_guard([&](const std::string &host) {
    check_size(true);
    std::string path = fs::path(host).lexically_normal().string();
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    bool parent_of_dest = starts_with(dest, path);
    if (!starts_with(path, drives) || (!starts_with(path, dest) && !parent_of_dest && !named_by_member())) {
      fprintf(stderr, "written outside the destination: %s (member %s)\n", host.c_str(),
              ctx ? ctx->member_path : "");
      abort();
    }
    return true;
  });
  posix::add_window("Progman", [](HWND self, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_DDE_INITIATE)
      posix::send_to((HWND)wparam, WM_DDE_ACK, (WPARAM)self, MAKELPARAM(GlobalAddAtomA("PROGMAN"), GlobalAddAtomA("PROGMAN")));
    else if (message == WM_DDE_EXECUTE)
      posix::post_to((HWND)wparam, WM_DDE_ACK, (WPARAM)self, PackDDElParam(WM_DDE_ACK, 0x8000, (UINT_PTR)lparam));
  });
  std::string line = "-n D:\\a\\b\\dest";
  int result = -1, status = posix::run([&] { result = WinMain((HINSTANCE)0x400000, nullptr, line.data(), 10); });
  posix::set_write_guard(nullptr);
  check_size(false);
  if (status < 0 && (posix::live_local_blocks() || posix::live_global_blocks() || posix::live_atoms() ||
                     posix::live_packed_params() || posix::open_key_count()))
    abort();
  // Status 0: the run stopped before the extract pass, which alone writes.
  if ((status < 0 ? result : status) == 0 && fs::exists(dest)) abort();
  std::error_code ec;
  fs::remove_all(drives, ec);
  return 0;
}
