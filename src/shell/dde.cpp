// One DDE conversation with Program Manager per "$Group=" line: broadcast
// WM_DDE_INITIATE for "PROGMAN", send one WM_DDE_EXECUTE to the first server
// that answers, and terminate when it acknowledges. The acknowledgements reach
// the dialog procedure, which calls on_dde_ack.
#include "shell/shell.h"
#include "ui/ui.h"

INT dde_state;
HWND dde_server;

static constexpr char PROGMAN[] = "PROGMAN";
static constexpr char PROGRAM_MANAGER[] = "\\PROGMAN.EXE";
constexpr SIZE_T COMMAND_BLOCK_SIZE = sizeof(SfxContext::shell_text) + 1;

void initiate_progman(HWND window) {
  if (!FindWindowA("Progman", nullptr)) {
    // By its full path: a bare name is searched for in the self-extractor's
    // own folder first.
    char program[MAX_PATH + sizeof(PROGRAM_MANAGER)];
    program[0] = 0;
    GetWindowsDirectoryA(program, MAX_PATH);
    lstrcatA(program, PROGRAM_MANAGER);
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (CreateProcessA(program, program, nullptr, nullptr, TRUE,
                       CREATE_NEW_PROCESS_GROUP | NORMAL_PRIORITY_CLASS, nullptr, nullptr, &startup,
                       &process)) {
      WaitForInputIdle(process.hProcess, PROGMAN_IDLE_MS);
      CloseHandle(process.hProcess);
      CloseHandle(process.hThread);
    }
  }
  dde_state = DDE_INITIATING;
  ATOM application = GlobalAddAtomA(PROGMAN);
  ATOM topic = GlobalAddAtomA(PROGMAN);
  // A window that hangs would hold a plain broadcast for ever. Windows 3.1
  // multitasks cooperatively: there a hung program stops every program, and
  // no time limit could help.
  LPARAM names = MAKELPARAM(application, topic);
  if (win32s_host) {
    SendMessageA(HWND_BROADCAST, WM_DDE_INITIATE, (WPARAM)window, names);
  } else {
    DWORD_PTR result;
    SendMessageTimeoutA(HWND_BROADCAST, WM_DDE_INITIATE, (WPARAM)window, names, SMTO_ABORTIFHUNG,
                        INITIATE_WAIT_MS, &result);
  }
  GlobalDeleteAtom(topic);
  GlobalDeleteAtom(application);
}

void send_group_command(HWND window) {
  join_short_path(ctx->install_dir, ctx->program_path, ctx->program_path,
                  sizeof(ctx->program_path));
  wsprintfA(ctx->shell_text, "[CreateGroup(\"%s\",0)]\n[AddItem(%s,%s", ctx->group_name,
            ctx->program_path, ctx->item_title);
  if (!ctx->item_icon_path[0]) {
    lstrcatA(ctx->shell_text, ")]");
  } else {
    join_short_path(ctx->install_dir, ctx->item_icon_path, ctx->item_icon_path,
                    sizeof(ctx->item_icon_path));
    char *end = ctx->shell_text + lstrlenA(ctx->shell_text);
    wsprintfA(end, ",%s)]", ctx->item_icon_path);
  }
  HGLOBAL block = GlobalAlloc(GMEM_DDESHARE | GMEM_MOVEABLE, COMMAND_BLOCK_SIZE);
  if (!block) return;
  char *text = (char *)GlobalLock(block);
  lstrcpyA(text, ctx->shell_text);
  GlobalUnlock(block);
  dde_state = DDE_COMMAND_SENT;
  LPARAM lparam = PackDDElParam(WM_DDE_EXECUTE, 0, (UINT_PTR)block);
  if (!PostMessageA(dde_server, WM_DDE_EXECUTE, (WPARAM)window, lparam)) {
    GlobalFree(block);
    FreeDDElParam(WM_DDE_EXECUTE, lparam);
  }
}

// The answer to WM_DDE_INITIATE carries the server's own application and
// topic atoms, which the client deletes.
static void release_initiate_answer(LPARAM lparam) {
  GlobalDeleteAtom(LOWORD(lparam));
  GlobalDeleteAtom(HIWORD(lparam));
}

// The first server to answer becomes the partner. Another server answering
// later gets its conversation terminated at once; only the partner's
// acknowledgement of the command ends ours, after which the client frees the
// command block and the packed lParam.
void on_dde_ack(HWND dialog, WPARAM wparam, LPARAM lparam) {
  HWND sender = (HWND)wparam;
  if (dde_state == DDE_INITIATING) {
    release_initiate_answer(lparam);
    dde_server = sender;
    send_group_command(dialog);
  } else if (dde_state == DDE_COMMAND_SENT) {
    if (sender != dde_server) {
      release_initiate_answer(lparam);
      PostMessageA(sender, WM_DDE_TERMINATE, (WPARAM)dialog, 0);
      return;
    }
    UINT_PTR status = 0, block = 0;
    if (UnpackDDElParam(WM_DDE_ACK, lparam, &status, &block)) {
      FreeDDElParam(WM_DDE_ACK, lparam);
      if (block) GlobalFree((HGLOBAL)block);
    }
    // The sender's handle goes whole into wParam: packing it would keep 16 bits.
    PostMessageA(dde_server, WM_DDE_TERMINATE, (WPARAM)dialog, 0);
    dde_state = DDE_DONE;
  }
}
