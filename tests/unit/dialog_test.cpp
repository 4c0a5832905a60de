// The main dialog through the stand-in's headless dialog manager.
#include "support.h"
#include <filesystem>
#include "ui/ui.h"

namespace {

class DialogTest : public SfxTest {};

// Minimized, the dialog paints its icon.
TEST_F(DialogTest, MinimizedDialogPaintsItsIcon) {
  write_sfx({file_member("a.txt", "x")});
  INT_PTR erase = -1, drag = 0;
  run_with("", {[&](HWND d) {
             posix::set_iconic(true);
             erase = main_dialog_proc(d, WM_ERASEBKGND, 0, 0);
             drag = main_dialog_proc(d, WM_QUERYDRAGICON, 0, 0);
             EXPECT_EQ(main_dialog_proc(d, WM_PAINT, 0, 0), FALSE);
             posix::set_iconic(false);
             EXPECT_EQ(main_dialog_proc(d, WM_ERASEBKGND, 0, 0), 0);
             press(d, IDCANCEL);
           }});
  EXPECT_EQ(std::vector<INT_PTR>({erase, drag != 0, posix::icons_drawn()}), std::vector<INT_PTR>({1, 1, 1}));
}

// What the two boxes show as the dialog opens: caption, e(nabled) or
// d(isabled), x (checked) or o; then OK, Cancel, Reference and the directory.
// Each box takes its own key's second field; a quoted comma stays in the
// caption. Auto start locks every control unless $Flag has 0x2000.
TEST_F(DialogTest, TheScriptSetsEachBoxAndAutoStartLocksThem) {
  const std::pair<std::string, std::string> rows[] = {
      {"", "&Start Menu do|Set Cl&ass do|eeee"},
      {"$GroupTitle=Programs,0\n$ClassTitle=\"Register, now\",1", "Programs eo|Register, now ex|eeee"},
      {"$GroupTitle=G,1", "G ex|Set Cl&ass do|eeee"}, {"$ClassTitle=C,0", "&Start Menu do|C eo|eeee"},
      {"$GroupTitle=G\n$ClassTitle=C\n$Flag=1", "G dx|C dx|dddd"},
      {"$GroupTitle=G\n$ClassTitle=C\n$Flag=8193", "G ex|C ex|eeee"},
  };
  for (const auto &[script, want] : rows) {
    write_sfx({file_member("$", script + "\n$InstallDir=" + dest), file_member("a.txt", "x")});
    fresh();
    std::string seen;
    bool locked = want.back() == 'd';
    EXPECT_EQ(run_with("", {[&](HWND d) {
                for (int id : {IDC_START_MENU, IDC_SET_CLASS}) {
                  const posix::Control &c = *posix::control(id);
                  seen += c.text + " " + (c.enabled ? "e" : "d") + (c.check ? "x|" : "o|");
                }
                for (int id : {IDOK, IDCANCEL, (int)IDC_REFERENCE, (int)IDC_DIRECTORY}) seen += posix::control(id)->enabled ? "e" : "d";
                EXPECT_EQ(posix::control(IDC_DIRECTORY)->limit, 255);  // the most install_dir holds
                if (!locked) press(d, IDCANCEL);
              }}),
              locked ? 1 : 0);
    EXPECT_EQ(seen, want) << script;
  }
}

TEST_F(DialogTest, ChooserPathWithSpaceIsQuotedAndOkStripsTheQuotes) {
  write_sfx({file_member("a.txt", "x")});
  posix::set_chooser_result(dest + " dir/work.txt");
  std::string shown;
  int status = run_with("", {[&](HWND d) { press(d, IDC_REFERENCE); },
                             [&](HWND d) { shown = posix::control(IDC_DIRECTORY)->text, press(d, IDOK); }});
  EXPECT_EQ(status, 1);
  EXPECT_EQ(shown, "\"" + dest + " dir\"");
  EXPECT_TRUE(exists(dest + " dir/a.txt"));
  const posix::ChooserRequest &r = posix::chooser_request();  // the stand-in refuses a malformed one
  EXPECT_TRUE(r.shown && r.owner != nullptr);
  EXPECT_EQ(std::make_tuple(r.flags, r.title, r.preset, r.max_file),
            std::make_tuple((DWORD)(OFN_ENABLETEMPLATE | OFN_HIDEREADONLY), std::string("Extracting directory"), std::string("work.txt"), (DWORD)MAX_PATH));
}

// Whenever OK cannot lead to extraction, the user gets the dialog back (the
// stand-in's user then gives up with Cancel), or the run ends with a message.
// A directory the stub refused (or never took: the first argument) is never
// used, nor silently swapped for another while auto start runs, even when
// the script asks for auto start.
TEST_F(DialogTest, AutoStartThatCannotGoOnNeverLeavesADeadDialog) {
  const std::string long_temp = "C:\\" + std::string(200, 't');
  // typed: pressing OK with this text in the box ("": as it is); null: no OK
  struct Row { const char *why; std::string tail, default_dir; std::pair<const char *, int> fail; const char *typed; int status; std::vector<std::string> boxes; } rows[] = {
      {"network path given with -n", "-n \\\\server\\share", "", {}, nullptr, 0, {"Invalid directory"}},
      {"network path typed with both separators", "-n- C:\\Dest", "", {}, "/\\server/share", 0, {"Invalid directory"}},
      {"network path in the block", "-n", "//srv/share", {}, "", 0, {"Invalid directory"}},
      {"a directory as the only argument", "C:\\Dest", "", {}, nullptr, 0, {}},
      {"default too long once expanded", "-n", "%WORK%\\" + std::string(100, 'w'), {}, nullptr, 0, {}},
      {"the same, OK pressed", "-n", "%WORK%\\" + std::string(100, 'w'), {}, "", 0, {"Invalid directory"}},
      {"-n directory too long", "-n C:\\" + std::string(300, 'd'), "C:\\Block", {}, nullptr, 0, {}},
      {"the timer's post of OK fails", "-n C:\\Dest", "", {"PostMessageA", 1}, nullptr, 1, {}},
      {"no dialog can be made", "-n C:\\Dest", "", {"DialogBoxParamA", 1}, nullptr, 0, {"Not enough memory"}},
      {"no memory for the directory's token", "-n C:\\Dest", "", {"LocalAlloc", 4}, nullptr, 0, {"Not enough memory"}},
      {"the timer cannot be set", "-n C:\\Dest", "", {"SetTimer", 1}, nullptr, 0, {}},
  };
  setenv("TEMP", long_temp.c_str(), 1);
  for (const Row &r : rows) {
    SCOPED_TRACE(r.why);
    std::filesystem::remove_all(dir + "/drives");
    std::filesystem::create_directories(dir + "/drives/C");
    HeaderBlockFields block;
    block.default_dir = r.default_dir;
    write_sfx({file_member("$", "$Flag=1"), file_member("a.txt", "x")}, block);
    fresh();
    if (r.fail.first) posix::fail_call(r.fail.first, r.fail.second);
    std::vector<std::function<void(HWND)>> steps;
    if (r.typed) steps.push_back([&](HWND d) { if (*r.typed) posix::control(IDC_DIRECTORY)->text = r.typed; press(d, IDOK); });
    EXPECT_EQ(run_with(r.tail, steps), r.status);
    EXPECT_EQ(box_texts(), r.boxes);
    EXPECT_EQ(exists(dir + "/drives/C/Dest/a.txt"), r.status == 1);
    EXPECT_FALSE(exists(dir + "/%WORK%") || exists(dir + "/drives/C/Block"));
  }
  unsetenv("TEMP");
}

TEST_F(DialogTest, SecondOkDuringThePassIsIgnored) {
  HeaderBlockFields block;
  block.run_command = "run.exe";
  write_sfx({file_member("$", "$Flag=8192"), file_member("a.txt", "x"), file_member("b.txt", std::string(70000, 'b'))}, block);
  int status = run_with("-n " + dest, {[&](HWND d) {
                          EXPECT_TRUE(posix::control(IDCANCEL)->enabled);  // keep_controls
                          press(d, IDOK);
                          press(d, IDOK);  // the timer's OK racing the user's
                        }});
  EXPECT_EQ(status, 1);
  EXPECT_EQ(posix::call_count("CreateFileA"), 2);  // one pass: one file each
  // A nested pass would close the archive under the first: "Read ERROR", no command.
  EXPECT_EQ(box_texts(), std::vector<std::string>{});
  EXPECT_EQ(posix::shell_executes().size(), 1u);
}

// Cancel pressed right after OK is seen behind the first member whatever it
// is, and a cancelled or failed "Overwrite?" ends the pass alike: nothing
// more is made, and neither the post-install step nor the command runs.
TEST_F(DialogTest, CancelBetweenMembersEndsTheRunThere) {
  // The first member; the answer to "Overwrite?" (0: the box fails; -1: none asked, Cancel pressed).
  const std::pair<TestMember, int> rows[] = {{{"d/", {}, 'd'}, -1}, {file_member("e.txt", ""), -1},
                                             {file_member("x.txt", "new"), -1},  // skipped: the file there is newer
                                             {file_member("x.txt", "new"), IDCANCEL}, {file_member("x.txt", "new"), 0}};
  HeaderBlockFields block;
  block.run_command = "run.exe";
  for (const auto &r : rows) {
    write_sfx({r.first, {"later/", {}, 'd'}}, block);
    fresh();
    std::filesystem::create_directories(dest);
    write_text(dest + "/x.txt", "mine");
    r.second > 0 ? posix::queue_answer(r.second) : r.second == 0 ? posix::fail_call("MessageBoxA", 1) : void();
    EXPECT_EQ(run_with((r.second < 0 ? "-n- " : "-c -n- ") + dest, {[&](HWND d) { press(d, IDOK), r.second < 0 ? press(d, IDCANCEL) : void(); }}), 1);
    EXPECT_FALSE(exists(dest + "/later")) << r.first.path << r.second;
    EXPECT_EQ(read_text(dest + "/x.txt"), "mine");
    EXPECT_TRUE(posix::shell_executes().empty() && posix::broadcasts().empty());
  }
}

}  // namespace
