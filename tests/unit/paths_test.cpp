// Directory macros, destination composition, name cleaning, directory
// creation and the display form, in a single- and a double-byte code page.
#include "support.h"
#include <cstdlib>
#include <filesystem>
#include "paths/paths.h"
#include "ui/ui.h"

namespace {

class PathsTest : public SfxTest {
 protected:
  void SetUp() override {
    SfxTest::SetUp();
    make_context();
    unsetenv("TEMP"), unsetenv("TMP");
    std::filesystem::create_directories(dir + "/drives/C/WINDOWS/SYSTEM");
  }
  std::string expand(const std::string &text, const std::string &search = "") {
    char buffer[260];
    lstrcpyA(buffer, text.c_str());
    return expand_directory_macro(buffer, search.c_str()) ? buffer : "refused, left as " + std::string(buffer);
  }
  std::string compose(const std::string &base, const std::string &path) {
    char member[260], target[516];
    lstrcpyA(member, path.c_str());
    EXPECT_TRUE(compose_target_path(target, base.c_str(), member, sizeof(member)));
    return target;
  }
  std::string clean(const std::string &path, bool long_mode) {
    char buffer[516];
    lstrcpyA(buffer, path.c_str()), clean_member_path(buffer, long_mode);
    return buffer;
  }
};

// Each row's settings stay for the rows below it unless changed. An expansion
// that does not fit is refused, the text left as it was.
TEST_F(PathsTest, MacrosExpandAtTheStartOnly) {
  const std::string too_long = "%WinDir%/" + std::string(249, 'a'), refused = "refused, left as " + too_long;
  std::filesystem::create_directories(dir + "/drives/D/lib");
  write_text(dir + "/drives/D/lib/shared.dll", "x");
  write_text(dir + "/drives/D/root.dll", "x");
  posix::set_search_path({"C:\\WINDOWS", "D:\\lib", "D:"});
  const struct { const char *temp, *tmp; bool registry, win32s; const char *text, *search, *expected; } rows[] = {
      {nullptr, nullptr, false, false, "%WinDir%\\Fonts", "", "C:\\WINDOWS\\Fonts"},
      {nullptr, nullptr, false, false, too_long.c_str(), "", refused.c_str()},
      {nullptr, nullptr, false, false, "%WinRoot%\\Apps", "", "C:\\Apps"},
      {nullptr, nullptr, false, false, "%SystemDir%/drivers", "", "C:\\WINDOWS\\SYSTEM\\drivers"},
      {nullptr, nullptr, false, false, "%windir%/Fonts", "", "%windir%\\Fonts"},  // names are case-sensitive
      {nullptr, nullptr, false, false, "x%WinDir%/a\xFF" "b", "", "x%WinDir%\\a\\b"},
      {"D:\\T", "E:\\U", false, false, "%WORK%sub", "", "D:\\Tsub"},
      {nullptr, "E:\\U", false, false, "%WORK%\\x", "", "E:\\U\\x"},
      {nullptr, nullptr, false, false, "%WORK%", "", "C:\\WINDOWS\\TEMP"},
      {nullptr, nullptr, false, false, "%ProgramFiles%\\App", "", "C:\\App"},
      {nullptr, nullptr, true, false, "%ProgramFiles%\\App", "", "D:\\Program Files\\App"},
      {nullptr, nullptr, true, true, "%ProgramFiles%\\App", "", "C:\\App"},  // Win32s has no such key
      {nullptr, nullptr, true, false, "%Search%/shared.dll", "shared.dll", "D:\\lib\\shared.dll"},
      {nullptr, nullptr, true, false, "%Search%/root.dll", "root.dll", "D:\\root.dll"},
      {nullptr, nullptr, true, false, "%Search%/none.dll", "none.dll", "C:\\WINDOWS\\SYSTEM\\none.dll"},
      {nullptr, nullptr, true, false, "%Search%\\App", "", "%Search%\\App"},  // no name to search for
  };
  for (const auto &r : rows) {
    r.temp ? setenv("TEMP", r.temp, 1) : unsetenv("TEMP");
    r.tmp ? setenv("TMP", r.tmp, 1) : unsetenv("TMP");
    if (r.registry) posix::reg_put(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion", "ProgramFilesDir", "D:\\Program Files");
    win32s_host = r.win32s;
    EXPECT_EQ(expand(r.text, r.search), r.expected) << r.text;
  }
  EXPECT_TRUE(exists(dir + "/drives/C/WINDOWS/TEMP"));  // %WORK% made it
  EXPECT_EQ(posix::open_key_count(), 0);
  char small[4];
  EXPECT_EQ(get_work_directory(sizeof(small), small), 16u);  // does not fit: length + 1, nothing copied
  EXPECT_EQ(small[0], 0);
}

// A registry string ends where its data does, stored here without its zero.
TEST_F(PathsTest, RegistryStringsEndWithTheirData) {
  posix::reg_put(HKEY_LOCAL_MACHINE, "Key", "v", "D:\\PF", false);
  char out[8] = "XXXXXXX";
  read_machine_string("Key", "v", "", out, sizeof(out));
  EXPECT_STREQ(out, "D:\\PF");
}

// Two leading separators would name another machine: one stays.
TEST_F(PathsTest, ComposesRelativeRootedAndAbsolutePaths) {
  const char *rows[][3] = {
      {"C:\\Dest", "sub/a.txt", "C:\\Dest/sub\\a.txt"},     {"C:\\Dest\\", "sub/a.txt", "C:\\Dest\\sub\\a.txt"},
      {"C:", "sub/a.txt", "C:sub\\a.txt"},                   {"", "sub/a.txt", "sub\\a.txt"},
      {"D:\\Dest", "/top/a.txt", "D:\\top\\a.txt"},        {"\\\\net\\share", "/top/a.txt", "\\top\\a.txt"},
      {"C:\\Dest", "E:\\x.txt", "E:\\x.txt"},              {"C:\\Dest", "%WinDir%/a.ini", "C:\\WINDOWS\\a.ini"},
      {"", "\\\\host\\share\\x.txt", "\\host\\share\\x.txt"}, {"dest", "//host/share/x.txt", "\\host\\share\\x.txt"},
      {"D:\\Dest", "///host/x.txt", "D:\\host\\x.txt"},
  };
  for (const auto &r : rows) EXPECT_EQ(compose(r[0], r[1]), r[2]) << r[0] << " + " << r[1];
}

// Parent steps never climb, in either mode, also where the cut leaves one;
// one dot stays. A device name's first byte becomes '_', in either mode,
// whatever its case, extension or trailing spaces; control bytes are replaced.
TEST_F(PathsTest, NameCleaning) {
  const std::string x250(250, 'x'), spaces(253, ' ');
  const std::tuple<std::string, bool, std::string> rows[] = {
      {"readme.first.txt", false, "readme_f.txt"}, {"longfilename.html", false, "longfile.htm"},
      {"Program Files", false, "Program_"}, {"a+b.c", false, "a_b.c"}, {"abc.", false, "abc."},
      {".profile", false, ".pro"}, {"..", false, "_."}, {".", false, "."}, {"a//b/", false, "a//b/"},
      {"C:/Program Files/App/sub/f.txt", false, "C:/Program_/App/sub/f.txt"},
      {"x/a:b?.txt", true, "x/a_b_.txt"}, {"a b+c;d=[e]", true, "a b+c;d=[e]"},
      {std::string(300, 'x') + "/y", true, x250 + "xxxxx/y"},
      {"../a/../../b", true, "_./a/_./_./b"}, {"../a/../../b", false, "_./a/_./_./b"},
      {"./.. /x", true, "./_. /x"}, {"./.. /x", false, "./_._/x"}, {".." + spaces + "x/y", true, "_." + spaces + "/y"},
      {"nul.txt/aux.h/LPT1.log/con/com1", true, "_ul.txt/_ux.h/_PT1.log/_on/_om1"},
      {"nul.txt/aux.h/LPT9.log/con/com1", false, "_ul.txt/_ux.h/_PT9.log/_on/_om1"},
      {"Con .txt/clock$/COM\xB9/prn.a.b", true, "_on .txt/_lock$/_OM\xB9/_rn.a.b"},
      {"com0/lpt10/console/nul_/a\x01" "b\x1F", true, "com0/lpt10/console/nul_/a_b_"},
      {"aux.tar.gz/con", false, "aux_tar.gz/_on"}, {"con" + spaces + ".txt", true, "_on" + spaces.substr(1)},
  };
  for (const auto &[path, long_mode, expected] : rows) EXPECT_EQ(clean(path, long_mode), expected) << path << long_mode;
}

// A trail byte 0x5C is no separator, and a character is never cut in half.
TEST_F(PathsTest, DoubleByteCharactersStayWhole) {
  posix::set_code_page(932);
  char text[] = "a\x83\x5C" "b/c", path[16] = "C:\\\x83\x5C", name[] = "\x83\x5C" "x", cut[] = "dir\x83\x5C", cut2[] = "C:\\";
  convert_separators(text, '\\'), append_separator(path);
  EXPECT_STREQ(text, "a\x83\x5C" "b\\c");
  EXPECT_STREQ(path, "C:\\\x83\x5C/");
  EXPECT_EQ(file_name_part(name), name);
  EXPECT_EQ(cut_trailing_separator(cut), 0);
  EXPECT_EQ(cut_trailing_separator(cut2), 1);
  EXPECT_STREQ(cut2, "C:");
  EXPECT_EQ(clean("abcdefg\x82\xA0" "h", false), "abcdefg");          // 8th byte is a lead byte
  EXPECT_EQ(clean("abcdef\x82\xA0" "gh", false), "abcdef\x82\xA0");   // 7th and 8th form a pair
  EXPECT_EQ(clean("\x82\x2A" "b.t*t", false), "\x82\x2A" "b.t_t");    // trail 0x2A is no '*'
}

TEST_F(PathsTest, DisplayFormShortensLongPaths) {
  const std::string p31(31, 'p'), q29(29, 'q'), t27(27, 't');
  const std::pair<std::string, std::string> rows[] = {
      {"C:/Program Files/App/data/file.txt", "C:/Program Files/Ap.../file.txt"}, {p31, p31},
      {"C:/" + q29, ".../" + q29}, {"C:/dir/" + t27, ".../" + t27}};
  char out[1024];
  for (const auto &[path, shown] : rows) EXPECT_EQ((shorten_path_for_display(out, path.c_str(), 32), std::string(out)), shown);
}

}  // namespace
