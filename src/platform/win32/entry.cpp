// The run-time start-up: no C runtime, so this is the image's entry point. It
// removes the program name from the command line, calls WinMain and exits
// with its result.
#include "startup/startup.h"

extern "C" void sfx_entry() {
  LPSTR tail = skip_program_name(GetCommandLineA());
  ExitProcess((UINT)WinMain(GetModuleHandleA(nullptr), nullptr, tail, SW_SHOWDEFAULT));
}
