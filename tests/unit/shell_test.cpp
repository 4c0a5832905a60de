// File class registration, WIN.INI on Win32s, and the Program Manager DDE
// conversation against scripted servers, all through whole runs.
#include "support.h"
#include <algorithm>
#include <filesystem>
#include "shell/shell.h"

namespace {

// A window that answers like Program Manager and keeps what it was sent.
struct FakeProgman {
  std::vector<std::string> commands;
  int initiates = 0, terminates = 0;
  bool answers = true, acknowledges_commands = true, user_cancels = false;  // Cancel pressed as a command comes

  void install() {
    posix::add_window("Progman", [this](HWND self, UINT message, WPARAM wparam, LPARAM lparam) {
      HWND client = (HWND)wparam;
      if (message == WM_DDE_INITIATE) {
        ++initiates;
        if (answers) posix::send_to(client, WM_DDE_ACK, (WPARAM)self, MAKELPARAM(GlobalAddAtomA("PROGMAN"), GlobalAddAtomA("PROGMAN")));
      } else if (message == WM_DDE_EXECUTE) {
        commands.push_back((const char *)GlobalLock((HGLOBAL)lparam)), GlobalUnlock((HGLOBAL)lparam);
        if (user_cancels) posix::post_to(client, WM_COMMAND, IDCANCEL, 0);
        if (!acknowledges_commands) return;
        posix::post_to(client, WM_DDE_ACK, (WPARAM)self, PackDDElParam(WM_DDE_ACK, 0x8000, (UINT_PTR)lparam));
      } else if (message == WM_DDE_TERMINATE) {
        ++terminates;
      }
    });
  }
};

class ShellTest : public SfxTest {
 protected:
  // A self-extractor with the program file and the given script, run to the end.
  int install(const std::string &script, HeaderBlockFields block = {}) {
    write_sfx({file_member("$", script), file_member("viewer.exe", "MZ program"), file_member("viewer.ico", "icon")}, block);
    return run_program("-n dest");  // relative: the shell gets absolute paths
  }
  std::string reg(const std::string &key) {
    std::string value;
    return posix::reg_get(HKEY_CLASSES_ROOT, key, "", &value) ? value : "(none)";
  }
  void expect_released(int global_blocks = 0) {  // atoms, global blocks, packed parameters, open keys
    EXPECT_EQ(std::vector<int>({posix::live_atoms(), posix::live_global_blocks(), posix::live_packed_params(), posix::open_key_count()}),
              std::vector<int>({0, global_blocks, 0, 0}));
  }
};

// The stand-in gives paths back as they were given; "short" forms are the
// joined long paths with backslashes.
std::string win(std::string path) { return std::replace(path.begin(), path.end(), '/', '\\'), path; }

TEST_F(ShellTest, Win32sWritesTheExtensionsSection) {
  posix::set_platform_id(VER_PLATFORM_WIN32s);
  FakeProgman progman;
  progman.install();
  install("$ClassTitle=Register\r\n$Class=.TXT,Text document,viewer.exe,txtfile\r\n$GroupTitle=S\r\n$Group=G,V,viewer.exe");
  EXPECT_EQ(std::make_tuple(progman.initiates, progman.commands.size(), posix::send_timeouts().size()),  // a plain send:
            std::make_tuple(1, (size_t)1, (size_t)0));                                                     // no time limit there
  std::string value;
  ASSERT_TRUE(posix::ini_get("Extensions", "txt", &value));
  EXPECT_EQ(value, win(dest) + "\\viewer.exe ^.txt");
  EXPECT_EQ(posix::reg_key_count(), 0);
  // An extension of only its dot would give WIN.INI an empty key.
  install("$ClassTitle=Register\r\n$Class=.,Nothing,viewer.exe,nofile\r\n");
  EXPECT_FALSE(posix::ini_get("Extensions", "", &value));
}

// What each script registers (or not): key, then its default value; and the
// questions asked, answered in turn.
TEST_F(ShellTest, WhatAScriptRegisters) {
  const std::string key60(60, 'F'), p = win(dest) + "\\viewer.exe";
  const struct {
    std::string script; std::vector<std::pair<std::string, std::string>> values; std::vector<int> answers = {}; std::vector<std::string> questions = {};
  } rows[] = {
      {"$ClassTitle=Register\r\n$Class=.TXT,Text document,viewer.exe,TxtFile\r\n",
       {{".txt", "TxtFile"}, {".TXT", "TxtFile"},  // keys are found whatever their case
        {"TxtFile", "Text document"}, {"TxtFile\\shell\\open\\command", "\"" + p + "\" \"%1\""},
        {"TxtFile\\DefaultIcon", p + ",0"}}},
      {"$ClassTitle=Register,0\r\n$Class=.txt,Text,viewer.exe,txtfile\r\n", {{".txt", "(none)"}}},  // action off
      {"$Class=.txt,Text,viewer.exe,txtfile\r\n", {{".txt", "(none)"}}},  // no $ClassTitle
      {"$ClassTitle=R\r\n$Class=,Empty ext,viewer.exe,NoExt\r\n$Class=.e,Empty key,viewer.exe,\r\n"
       "$Class=.l,Long key,viewer.exe," + std::string(61, 'K') + "\r\n$Class=.ok,Fine,viewer.exe," + key60 + "\r\n",
       {{"NoExt", "(none)"}, {".e", "(none)"}, {"", "(none)"}, {".l", "(none)"}, {".ok", key60},
        {key60 + "\\shell\\open\\command", "\"" + p + "\" \"%1\""}}},
      {"$ClassTitle=R\r\n$Class=.m,Missing,not:there.exe,MFile\r\n",  // a missing program: its long path,
       {{"MFile\\DefaultIcon", win(dest) + "\\not_there.exe,0"}}},      // as the member loop would write it
      {"$ClassTitle=R\r\n$AskRegist=\r\n$Class=.a,Alpha,viewer.exe,AFile\r\n$Class=.b,Beta,viewer.exe,BFile\r\n"
       "$Class=.c,Gamma,viewer.exe,CFile\r\n",
       {{".a", "(none)"}, {".b", "(none)"}, {".c", "CFile"}},
       {IDNO, IDCANCEL, IDYES},  // No, closed without an answer, Yes
       {"\"Alpha\" Set Class?", "\"Beta\" Set Class?", "\"Gamma\" Set Class?"}},
  };
  for (const auto &r : rows) {
    fresh();
    for (int answer : r.answers) posix::queue_answer(answer);
    EXPECT_EQ(install(r.script), 1);
    EXPECT_EQ(box_texts(), r.questions);
    for (const auto &[key, value] : r.values) EXPECT_EQ(reg(key), value) << r.script << " " << key;
    ASSERT_EQ(posix::broadcasts().size(), 1u);  // one per run, acted on or not
    EXPECT_EQ(posix::broadcasts()[0].message, (UINT)WM_WININICHANGE);
    expect_released();
  }
}

// A file failing its CRC is deleted and ends the pass: no command, but the
// post-install step runs, and a class whose program is not there is not
// registered (one whose program is there still is). A "$Group=" field too
// long for its field is refused whole, like a "$Class=" one: cut, it would
// name another group. 79 bytes fit group_name.
TEST_F(ShellTest, AFailedPassAndFieldsThatDoNotFit) {
  FakeProgman progman;
  progman.install();
  Raw bad{"", "bad.txt", '0', "damaged"};
  bad.file_crc = 0x1234;
  const std::string g79(79, 'G'), script = "$ClassTitle=R\r\n$Class=.v,V,viewer.exe,VFile\r\n$Class=.m,M,m.exe,MFile\r\n"
                                          "$GroupTitle=S\r\n$Group=G" + g79 + ",V,v.exe\r\n$Group=" + g79 + ",V,v.exe";
  HeaderBlockFields block;
  block.run_command = "viewer.exe";
  write_sfx(raw_archive({{"", "$", '0', script}, {"", "viewer.exe", '0', "MZ"}, bad, {"", "m.exe", '0', "MZ"}}), block);
  EXPECT_EQ(run_program("-n " + dest), 1);
  EXPECT_EQ(box_texts(), std::vector<std::string>{"\"" + dest + "/bad.txt\" CRC ERROR"});
  EXPECT_TRUE(exists(dest + "/viewer.exe") && !exists(dest + "/bad.txt") && !exists(dest + "/m.exe"));
  EXPECT_TRUE(posix::shell_executes().empty());
  EXPECT_EQ(reg(".v") + reg(".m"), "VFile(none)");
  ASSERT_EQ(progman.commands.size(), 1u);
  EXPECT_EQ(progman.commands[0].find("[CreateGroup(\"" + g79 + "\",0)]"), 0u);
}

// Two items, one with an icon, for Program Manager as it should be, missing,
// its action switched off, mute, or taking commands it never acknowledges,
// while a hung program shares the desktop: the run never waits for ever, the
// rest of the step still runs, and each conversation begun is ended; after a
// Cancel pressed meanwhile the command does not start.
TEST_F(ShellTest, ProgramManagerConversations) {
  const struct {
    const char *why; bool window, answers, acknowledges; std::string group_title; std::vector<int> initiates_commands_terminates;
    std::vector<std::string> started;
  } rows[] = {
      {"answers", true, true, true, "Start", {2, 2, 2}, {}}, {"action off", true, true, true, "Start,0", {0, 0, 0}, {}},
      {"none there", false, true, true, "Start", {0, 0, 0}, {"C:\\WINDOWS\\PROGMAN.EXE", "C:\\WINDOWS\\PROGMAN.EXE"}},
      {"mute", true, false, true, "Start", {2, 0, 0}, {}},
      {"never acknowledges", true, true, false, "Start", {2, 2, 2}, {}},
      {"Cancel meanwhile: no command", true, true, true, "Start", {2, 2, 2}, {}},
      {"two servers answer: the later one is sent away", true, true, true, "Start", {2, 2, 2}, {}},
  };
  const std::string p = win(dest) + "\\viewer.exe";
  const std::vector<std::string> commands = {"[CreateGroup(\"Tools\",0)]\n[AddItem(" + p + ",Viewer)]",
                                             "[CreateGroup(\"Tools\",0)]\n[AddItem(" + p + ",Viewer," + win(dest) + "\\viewer.ico)]"};
  HeaderBlockFields block;
  block.run_command = "viewer.exe";
  FakeProgman progman, other;
  for (const auto &r : rows) {
    SCOPED_TRACE(r.why);
    fresh();
    posix::add_hung_window();
    progman = {};
    progman.answers = r.answers, progman.acknowledges_commands = r.acknowledges, progman.user_cancels = r.why[0] == 'C';
    if (r.window) progman.install();
    if (r.why[0] == 't') other = {}, other.install();
    EXPECT_EQ(install("$GroupTitle=" + r.group_title + "\r\n$Group=Tools,Viewer,viewer.exe\r\n"
                      "$Group=Tools,Viewer,viewer.exe,viewer.ico\r\n$ClassTitle=R\r\n$Class=.v,V,viewer.exe,VFile\r\n", block), 1);
    MSG m;  // what the run left posted reaches its window
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&m);
    EXPECT_EQ(std::vector<int>({progman.initiates, (int)progman.commands.size(), progman.terminates}), r.initiates_commands_terminates);
    EXPECT_EQ(progman.commands.empty() ? commands : progman.commands, commands);  // none: not checked
    if (r.why[0] == 't') {  // one terminate per conversation, no command
      EXPECT_EQ(std::vector<int>({other.initiates, (int)other.commands.size(), other.terminates}), std::vector<int>({2, 0, 2}));
    }
    EXPECT_EQ(posix::created_processes(), r.started);
    EXPECT_FALSE(posix::blocked_forever());
    for (UINT limit : posix::send_timeouts()) EXPECT_LE(limit, DDE_WAIT_MS);
    EXPECT_EQ(reg(".v"), "VFile");
    EXPECT_EQ(posix::shell_executes().size(), progman.user_cancels ? 0u : 1u);
    expect_released(r.acknowledges ? 0 : 2);  // an unanswered command may still be read by its server
  }
}

}  // namespace
