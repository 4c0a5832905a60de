// mksfx --extract: a self-extractor or a plain archive extracted by the
// stub's own member loop, both passes: the same name cleaning, the same
// checks, times restored as the host keeps them.
// Nothing is created outside the destination, not even where the archive
// names a drive, a rooted path or a directory macro: such a member stops the
// run with "Open ERROR", as an uncreatable file does.
#include "extract.h"
#include <cstdio>
#include <filesystem>
#include "archive/archive.h"
#include "inspect.h"
#include "progress.h"
#include "runner.h"
#include "startup/startup.h"
#include "windows_names.h"

namespace {

int ask(const std::string &question) {
  fprintf(stderr, "%s [y]es, [n]o, [c]ancel: ", question.c_str());
  char line[64];
  if (!fgets(line, sizeof line, stdin)) {  // nobody to answer: stop, as Cancel does
    fputs("no answer, cancelled\n", stderr);
    return IDCANCEL;
  }
  return line[0] == 'y' || line[0] == 'Y' ? IDYES : line[0] == 'n' || line[0] == 'N' ? IDNO : IDCANCEL;
}

}  // namespace

int extract_archive(const char *path, const std::string &dest, Overwrite overwrite, bool show_progress,
                    std::string *error) {
  uint32_t offset;
  uint8_t flags;
  if (!locate_archive(path, &offset, &flags, error)) return 2;
  if (!looks_like_archive(path, offset + (flags & FLAG_INTEGRITY_SUM ? 2 : 0), error)) return 1;
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::path given = fs::u8path(dest);  // UTF-8 on Windows too, not the ANSI code page
  fs::create_directories(given, ec);
  fs::path absolute = fs::absolute(given, ec).lexically_normal();
  // Without its trailing separator, but a drive's or the file system's root kept whole.
  bool keep = absolute.has_filename() || absolute == absolute.root_path();
  std::string root = (keep ? absolute : absolute.parent_path()).u8string();
  if (ec || !fs::is_directory(fs::u8path(root))) {
    *error = "cannot create " + dest + ": " + (ec ? ec.message() : "not a directory");
    return 2;
  }
  uint64_t total = archive_data_bytes(path);  // a walk of its own: before the guard is set
  runner::reset(path);
  runner::confine(root);
  Progress progress;  // counts what the member loop writes
  runner::use_code_page(archive_code_page);
  runner::answer_boxes([&](const std::string &box, UINT style) {
    // The path in a box is the root, in UTF-8, and a member path in the archive's code page.
    size_t member = box.find(root) == 1 ? 1 + root.size() : 0, quote = box.find('"', member);
    std::string text = member && quote != std::string::npos
                           ? box.substr(0, member) + name_to_utf8(box.substr(member, quote - member), archive_code_page) +
                                 box.substr(quote)
                           : box;
    UINT buttons = style & 0xF;
    if (buttons == MB_YESNOCANCEL && overwrite != Overwrite::ask)  // "Overwrite?"
      return overwrite == Overwrite::all ? IDYES : IDNO;
    progress_hold(&progress, true);  // the question or the message, not drawn over
    int answer = buttons == MB_YESNOCANCEL ? ask(text) : buttons == MB_YESNO ? IDYES : IDOK;
    if (buttons != MB_YESNOCANCEL) fprintf(stderr, "mksfx: %s\n", text.c_str());  // the archive's own question: yes
    progress_hold(&progress, false);
    return answer;
  });
  win32s_host = auto_start = keep_controls = ask_class = dir_from_command_line = 0;
  progress.counter = runner::written_bytes();
  progress.base = *progress.counter;
  progress_begin(&progress, total, show_progress);
  ctx = (SfxContext *)LocalAlloc(LPTR, sizeof(SfxContext));
  lstrcpynA(ctx->module_path, path, sizeof(ctx->module_path));
  int status = runner::run([&] {
    if (offset) load_header_block();  // a plain archive has no block: offset 0, no flags
    lstrcpyA(ctx->window_title, "mksfx");
    bool ok = run_pass(nullptr, PASS_SCAN);
    overwrite_all = overwrite == Overwrite::all;  // after the script's own settings
    keep_newer = 0;
    lstrcpynA(ctx->install_dir, root.c_str(), sizeof(ctx->install_dir));
    ok = ok && run_pass(nullptr, PASS_EXTRACT);
    ExitProcess(ok ? 0 : 1);
  });
  progress_end(&progress);
  release_member_header();
  LocalFree(ctx);
  ctx = nullptr;
  return status;
}
