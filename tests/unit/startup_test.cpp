// Start-up: the command line, the header block, the script member and the
// settings they make.
#include "support.h"
#include "startup/startup.h"
#include "ui/ui.h"

namespace {

class StartupTest : public SfxTest {
 protected:
  // Runs with an empty archive; the dialog is closed with Cancel at once,
  // after its directory box and caption have been read.
  int run_and_cancel(const std::string &tail, const HeaderBlockFields &block = {}) {
    write_sfx(archive_bytes({}), block);
    fresh();
    shown_dir = caption = "(no dialog)";
    return run_with(tail, {[this](HWND d) { shown_dir = posix::control(IDC_DIRECTORY)->text, caption = posix::window_caption(), press(d, IDCANCEL); }});
  }
  std::string shown_dir, caption;
};

// The program name is skipped whole, quoted or not; quotes group a token
// and are dropped; a quote left open runs to the end.
TEST_F(StartupTest, ProgramNameAndTokens) {
  char quoted[] = "\"C:\\My Apps\\x.exe\"  -n D:\\dir", plain[] = "x.exe\t \t-c", alone[] = "x.exe";
  EXPECT_EQ(std::vector<std::string>({skip_program_name(quoted), skip_program_name(plain), skip_program_name(alone)}),
            (std::vector<std::string>{"-n D:\\dir", "-c", ""}));
  make_context();
  char **tokens;
  int n = split_command_line("a \"b c\"d \xE9t\xE9  \"unterminated x", &tokens);
  ASSERT_EQ(n, 4);
  EXPECT_EQ(std::vector<std::string>(tokens, tokens + n), (std::vector<std::string>{"a", "b cd", "\xE9t\xE9", "unterminated x"}));
  release_tokens(tokens, n);
  EXPECT_EQ(posix::live_local_blocks(), 1);  // only the context
}

// The command line against the header block: what the dialog shows and the
// settings it starts with (-1: not looked at).
TEST_F(StartupTest, CommandLineAndHeaderBlockMakeTheSettings) {
  const std::string long_dir = "D:\\" + std::string(252, 'x');
  struct Row { std::string tail, default_dir; uint8_t flags; std::string title, shown, caption; int auto_start, keep_newer, overwrite_all; } rows[] = {
      {"D:\\Given", "C:\\Block", 0, "", "C:\\Block", "", 0, -1, -1},  // a first token is no directory
      {"-n D:\\Given -c", "", 0, "", "D:\\Given", "", 1, 1, -1},       // -c after the directory is never seen
      {"-n \"D:\\My Dir\"", "", 0, "", "D:\\My Dir", "", 1, -1, -1},
      {"-n " + long_dir + "x", "C:\\Block", 0, "", "C:\\Block", "", 0, -1, -1},  // too long: refused
      {"-n " + long_dir, "C:\\Block", 0, "", long_dir, "", 1, -1, -1},
      {"-N-", "", BLOCK_AUTO_START, "", "", "", 0, -1, -1},  // letters ignore case; a trailing - turns off
      {"x", "", BLOCK_AUTO_START, "", "", "", 0, -1, -1},  // an ignored directory stops auto start
      {"-c-", "", BLOCK_KEEP_NEWER_OFF, "", "", "", -1, 0, -1},  // the block's bit wins over -c-
      {"-c-", "", 0, "", "", "", -1, 1, -1},
      {"-c", "", 0, "", "", "", -1, 0, -1},
      {"", "", 0, "", "", "Tarvello V2.60.w32.0036", 0, 1, 0},
      {"", "", 0xF0, "My Setup", "", "My Setup", 0, 1, 0},  // bits 4-7 are not read
  };
  for (const Row &r : rows) {
    SCOPED_TRACE(r.tail + " " + std::to_string(r.flags));
    HeaderBlockFields block;
    block.default_dir = r.default_dir, block.flags = r.flags;
    if (!r.title.empty()) block.title = r.title;
    EXPECT_EQ(run_and_cancel(r.tail, block), 0);
    auto seen = [](int want, int got) { return want < 0 ? want : got; };  // "" or -1 in a row: not checked
    EXPECT_EQ(std::make_tuple(r.shown.empty() ? "" : shown_dir, r.caption.empty() ? "" : caption, seen(r.auto_start, auto_start),
                              seen(r.keep_newer, keep_newer), seen(r.overwrite_all, overwrite_all)),
              std::make_tuple(r.shown, r.caption, r.auto_start, r.keep_newer, r.overwrite_all));
  }
}

TEST_F(StartupTest, TextsFillingTheirFieldAreCut) {
  std::vector<uint8_t> file(1232, 'x');
  file[512] = file[513] = file[514] = file[515] = 0;
  write_file(sfx_path, file);
  make_context();
  load_header_block();
  EXPECT_EQ(std::vector<size_t>({strlen(ctx->window_title), strlen(ctx->block.default_dir), strlen(ctx->block.run_command)}),
            std::vector<size_t>({40, 255, 258}));
}

// What a script sets, each row from the settings as the test starts them:
// title|caption|directory|command|a(uto start) o(verwrite all) k(eep newer)
// r(estore attributes) c (keep controls) q (ask for the class). $Flag bits
// apply in order, later ones winning, on the low 16 bits of atoi's reading;
// any control byte ends a line, keys are case-sensitive and start a line;
// $InstallDir only fills an empty directory; quotes group a field.
TEST_F(StartupTest, WhatAScriptSets) {
  const std::pair<std::string, std::string> rows[] = {
      {"$Flag=16\n$Flag=4098", "||||a0 o1 k1 r0 c0 q0"},  // 0x1002: overwrite on, attributes off
      {"$Flag=16", "||||a0 o0 k1 r/ c0 q0"}, {"$Flag=8", "||||a0 o0 k0 r0 c0 q0"},
      {"$Flag=1\n$Flag=257", "||||a0 o0 k1 r0 c0 q0"},  // 0x0101: on, then off
      {"$Flag=8\n$Flag=  +2048", "||||a0 o0 k1 r0 c0 q0"},
      {"$Flag=73729", "||||a1 o0 k1 r0 c1 q0"},  // 0x12001: 0x2001 counts
      {"$WindowTitle=One\n$InstallTitle=Two\x01$Command=run.exe\t$Flag=1\x1f$flag=2\r $Flag=2\n$AskRegist=",
       "One|Two||run.exe|a1 o0 k1 r0 c0 q1"},  // the tab ended the line before $Flag=1
      {"$InstallDir=\"C:\\My Dir\",ignored\n$InstallDir=D:\\Other", "||C:\\My Dir||a0 o0 k1 r0 c0 q0"},
  };
  for (const auto &[script, want] : rows) {
    make_context();
    auto_start = overwrite_all = keep_controls = ask_class = 0, keep_newer = 1;
    lstrcpynA(ctx->script_text, script.c_str(), sizeof(ctx->script_text)), ctx->window_title[0] = 0;
    interpret_script();
    char got[1024];
    snprintf(got, sizeof got, "%s|%s|%s|%s|a%d o%d k%d r%c c%d q%d", ctx->window_title, ctx->dir_caption,
             ctx->block.default_dir, ctx->block.run_command, auto_start, overwrite_all, keep_newer,
             ctx->block.restore_attributes ? ctx->block.restore_attributes : '0', keep_controls, ask_class);
    EXPECT_EQ(std::string(got), want) << script;
  }
}

}  // namespace
