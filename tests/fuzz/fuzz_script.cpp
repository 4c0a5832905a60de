// The script interpreter and the post-install walk over arbitrary text, with
// both actions on and a Program Manager that answers: whatever the text,
// every global block and packed parameter is given back and no registry key
// is left open. (Here no dialog takes the server's answer, so its atoms stay:
// the shell tests count them with a dialog that does.)
#include "fuzz_support.h"
#include <cstring>
#include "shell/shell.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  fresh_context(scratch_dir() + "/none.exe");
  size_t n = size < sizeof(ctx->script_text) - 1 ? size : sizeof(ctx->script_text) - 1;
  memcpy(ctx->script_text, data, n);
  ctx->script_text[n] = 0;
  posix::set_platform_id(n % 2 ? VER_PLATFORM_WIN32s : VER_PLATFORM_WIN32_NT);
  posix::add_window("Progman", [](HWND self, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_DDE_INITIATE)
      posix::send_to((HWND)wparam, WM_DDE_ACK, (WPARAM)self, MAKELPARAM(GlobalAddAtomA("PROGMAN"), GlobalAddAtomA("PROGMAN")));
    else if (message == WM_DDE_EXECUTE)
      posix::post_to((HWND)wparam, WM_DDE_ACK, (WPARAM)self, PackDDElParam(WM_DDE_ACK, 0x8000, (UINT_PTR)lparam));
  });
  posix::run([] {
    interpret_script();
    ctx->class_action = ctx->group_action = 1;
    lstrcpyA(ctx->install_dir, "C:\\Apps");
    run_post_install(nullptr);
  });
  if (posix::live_global_blocks() || posix::live_packed_params() || posix::open_key_count()) abort();
  return 0;
}
