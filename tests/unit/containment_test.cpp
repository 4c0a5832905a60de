// Where the stub writes and what it reports as written, on archives made by
// other archivers or made to mislead: nothing outside the confirmed
// directory, both passes walk the same members, odd directory entries, and
// captured texts that fill their fields exactly.
#include "support.h"
#include <filesystem>
#include "archive/archive.h"
#include "lzh/lzh.h"

namespace fs = std::filesystem;

namespace {

class ContainmentTest : public SfxTest {};

// Parent steps, in long and in 8.3 names, never climb out of the confirmed
// directory; other archivers' directory fields and entries land where they
// say, and a symbolic link is never made.
TEST_F(ContainmentTest, NothingClimbsOutAndOtherArchiversEntriesLandWhereTheySay) {
  const std::vector<Raw> members = {
      {"", "../escape1.txt", '0', "1"}, {"", "a/../../escape2.txt", '0', "2"}, {"", "..\\escape4.txt", '0', "4"},
      {"..\xFF..\xFF", "escape5.txt", '0', "5"}, {"", ". ./escape6.txt", '0', "6"},
      {"", "../dir/", 'd', ""}, {"", "../../dir2", 'd', ""},
      {"docs\xFFimg\xFF", "a.bmp", '0', "a"},          // the usual closing 0xFF
      {"subdir\xFFsubdir2", "hello.txt", '0', "b"},     // LhA for the Amiga: none
      {"", "plaindir", 'd', ""},                       // a directory entry without a separator
      {"", "link|../../target", 'd', ""},              // LHa for UNIX: a symbolic link
      {"", "after.txt", '0', "c"}, {"", "Long Folder/readme.first.txt", '0', "r"},
      {"", "%WORK%/Long Folder/w.txt", '0', "w"},  // cleaned behind the macro's expansion
  };
  // Long names; 8.3 names on a volume that says so, and on one that cannot be
  // asked. The confirmed directory keeps its long name.
  for (DWORD component : {255u, 12u, 0u}) {
    SCOPED_TRACE(component);
    fresh();
    posix::set_max_component_length(component);
    write_sfx(raw_archive(members));
    std::string inside = dest + "/deep/er with a long name";
    setenv("TEMP", (inside + "/Temp Dir").c_str(), 1);
    EXPECT_EQ(run_program("-n \"" + inside + "\""), 1);
    unsetenv("TEMP");
    EXPECT_EQ(read_text(inside + (component == 255 ? "/Long Folder/readme.first.txt" : "/Long_Fol/readme_f.txt")), "r");
    EXPECT_EQ(read_text(inside + (component == 255 ? "/Temp Dir/Long Folder/w.txt" : "/Temp Dir/Long_Fol/w.txt")), "w");
    EXPECT_EQ(box_texts(), std::vector<std::string>{});
    EXPECT_EQ(written_outside(inside), std::vector<std::string>{});
    EXPECT_EQ(std::vector<std::string>({read_text(inside + "/docs/img/a.bmp"), read_text(inside + "/subdir/subdir2/hello.txt"),
                                        read_text(inside + "/after.txt")}), std::vector<std::string>({"a", "b", "c"}));
    EXPECT_TRUE(fs::is_directory(inside + "/plaindir"));
    size_t files = 0, links = 0;
    for (auto &e : fs::recursive_directory_iterator(inside)) files += e.is_regular_file(), links += e.path().filename().string().find("link") == 0;
    EXPECT_EQ(std::vector<size_t>({files, links}), std::vector<size_t>({10, 0}));
  }
}

// A compressed stream that ends early: the rest of its declared size, read a
// buffer at a time, holds a member where the next buffer would start.
TEST_F(ContainmentTest, BothPassesWalkTheMembersTheScanChecked) {
  std::vector<uint8_t> hidden = raw_member({"", "hidden.txt", '0', "hidden"});
  const std::string plain = "packed text, packed text, packed text";
  std::vector<uint8_t> member = member_data(file_member("b.txt", plain, '5'));
  size_t header_size = member[0] | member[1] << 8;
  ASSERT_EQ(member[5], '5');
  Raw packed{"", "b.txt", '5', std::string(member.begin() + (long)header_size, member.end())};
  packed.data.resize(INPUT_BUFFER_SIZE, 0);
  packed.data += std::string(hidden.begin(), hidden.end()) + std::string(100, '\0');
  packed.original = (int64_t)plain.size();
  packed.file_crc = crc16((const uint8_t *)plain.data(), plain.size());
  write_sfx(raw_archive({packed}));
  EXPECT_EQ(run_program("-n " + dest), 1);
  EXPECT_EQ(box_texts(), std::vector<std::string>{});
  EXPECT_EQ(read_text(dest + "/b.txt"), "packed text, packed text, packed text");
  EXPECT_FALSE(exists(dest + "/hidden.txt"));
}

// A captured text keeps at most its field less one byte, whatever the chunk,
// and never touches the field that follows.
TEST_F(ContainmentTest, CapturedTextsFillTheirFieldAndNoMore) {
  make_context();
  struct Row { BYTE sink; char *field; size_t size; char *next; } rows[] = {
      {SINK_MESSAGE, ctx->text_scratch, sizeof(ctx->text_scratch), ctx->script_text},
      {SINK_SCRIPT, ctx->script_text, sizeof(ctx->script_text), ctx->program_path}};
  for (const Row &r : rows) {
    for (size_t count : {r.size - 1, r.size, r.size + 1}) {
      SCOPED_TRACE(count);
      memset(r.next, 'N', 8), ctx->sink_mode = r.sink;
      std::vector<BYTE> bytes(count, 'x');
      write_output(bytes.data(), (DWORD)count, NO_FILE);
      EXPECT_EQ(strlen(r.field), r.size - 1);
      EXPECT_EQ(std::string(r.next, 8), "NNNNNNNN");
    }
  }
}

}  // namespace
