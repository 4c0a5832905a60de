// Whole self-extractors run through WinMain with '-n DEST': both passes of
// the member loop on real archives, the overwrite decision, every archive
// error, and failures injected into the platform calls.
#include "support.h"
#include <algorithm>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include "archive/archive.h"

namespace {

class ArchiveTest : public SfxTest {
 protected:
  int extract(const std::string &options = "") { return run_program(options + " -n " + dest); }
  std::string read_text(const std::string &path) {
    std::vector<uint8_t> d = read_file(path);
    return std::string(d.begin(), d.end());
  }
  uint32_t mtime(const std::string &path) {
    struct stat st;
    stat(path.c_str(), &st);
    return (uint32_t)st.st_mtime;
  }
};

TEST_F(ArchiveTest, EveryMethodExtractsByteExactWithTimes) {
  std::vector<TestMember> members;
  const char methods[] = {'0', '5', '6', '7'};
  for (int i = 0; i < 4; ++i) {
    TestMember m;
    m.path = std::string("m") + methods[i] + "/data.bin";
    m.data = pattern_bytes(70000 + 1000 * i, i);
    m.method = methods[i];
    m.time = 1000000001 + i;
    members.push_back(m);
  }
  TestMember empty_dir;
  empty_dir.path = "empty/inner/";
  empty_dir.method = 'd';
  members.push_back(empty_dir);
  members.push_back(file_member("zero.txt", "", '5'));
  write_sfx(members);
  EXPECT_EQ(extract(), 1);
  for (int i = 0; i < 4; ++i) {
    std::string path = dest + "/m" + methods[i] + "/data.bin";
    EXPECT_EQ(read_file(path), members[(size_t)i].data) << path;
    EXPECT_EQ(mtime(path), 1000000001u + i);
  }
  EXPECT_TRUE(exists(dest + "/empty/inner"));
  EXPECT_TRUE(exists(dest + "/zero.txt"));
  EXPECT_TRUE(posix::message_boxes().empty());
  const auto &texts = posix::progress_texts();
  // Each compressed member ends at 100%; a stored one reports the bytes
  // copied before its last chunk (93% for 70,000 bytes).
  EXPECT_EQ(std::count(texts.begin(), texts.end(), "Extract... 100%"), 3);
  EXPECT_EQ(std::count(texts.begin(), texts.end(), "Extract... 93%"), 1);
}

TEST_F(ArchiveTest, AttributesRestoredOnlyWhenAskedFor) {
  TestMember hidden = file_member("h.txt", "hidden and read-only");
  hidden.attribute = 0x23;
  write_sfx({hidden});
  EXPECT_EQ(extract(), 1);
  EXPECT_EQ(posix::extra_attributes(dest + "/h.txt"), 0u);
  HeaderBlockFields block;
  block.restore_attributes = 'x';  // any nonzero byte
  write_sfx({hidden}, block);
  posix::reset();
  posix::set_module_path(sfx_path);
  EXPECT_EQ(extract("-c"), 1);
  EXPECT_EQ(GetFileAttributesA((dest + "/h.txt").c_str()), 0x23u);
}

TEST_F(ArchiveTest, KeepNewerSkipsAnEqualOrNewerFileWithoutAsking) {
  HeaderBlockFields block;
  block.flags = BLOCK_OVERWRITE_ALL;
  write_sfx({file_member("a.txt", "from archive")}, block);
  extract();
  write_text(dest + "/a.txt", "mine");
  struct timespec t[2] = {{1000000000, 0}, {1000000000, 0}};  // equal to the member's time
  utimensat(AT_FDCWD, (dest + "/a.txt").c_str(), t, 0);
  EXPECT_EQ(extract(), 1);
  EXPECT_EQ(read_text(dest + "/a.txt"), "mine");
  t[1].tv_sec = 999999999;  // older: replaced, overwrite_all asks nothing
  utimensat(AT_FDCWD, (dest + "/a.txt").c_str(), t, 0);
  EXPECT_EQ(extract(), 1);
  EXPECT_EQ(read_text(dest + "/a.txt"), "from archive");
  EXPECT_TRUE(posix::message_boxes().empty());
}

TEST_F(ArchiveTest, CrcMismatchDeletesTheFileStopsAndSkipsTheCommand) {
  std::vector<TestMember> members = {file_member("ok.txt", "fine", '0'),
                                     file_member("bad.txt", "damaged data", '0'),
                                     file_member("later.txt", "never", '0')};
  std::vector<uint8_t> archive = archive_bytes(members);
  std::string text = "damaged data";
  auto at = std::search(archive.begin(), archive.end(), text.begin(), text.end());
  ASSERT_NE(at, archive.end());
  *at ^= 1;
  HeaderBlockFields block;
  block.run_command = "setup.exe /quiet";
  write_sfx(archive, block);
  EXPECT_EQ(extract(), 1);
  EXPECT_EQ(box_texts(), std::vector<std::string>{"\"" + dest + "/bad.txt\" CRC ERROR"});
  EXPECT_TRUE(exists(dest + "/ok.txt"));
  EXPECT_FALSE(exists(dest + "/bad.txt"));
  EXPECT_FALSE(exists(dest + "/later.txt"));
  EXPECT_TRUE(posix::shell_executes().empty());
  EXPECT_EQ(posix::broadcasts().size(), 1u);  // the post-install step still ran
}

TEST_F(ArchiveTest, IntegritySumChecksBeforeTheDialog) {
  HeaderBlockFields block;
  block.flags = BLOCK_INTEGRITY_SUM;
  write_sfx({file_member("a.txt", "first"), file_member("b.txt", "second")}, block);
  EXPECT_EQ(extract(), 1);
  EXPECT_TRUE(posix::message_boxes().empty());
  std::vector<uint8_t> file = read_file(sfx_path);
  file[1332] ^= 0x10;  // the stored sum right at the archive offset
  write_file(sfx_path, file);
  std::filesystem::remove_all(dest);
  EXPECT_EQ(extract(), 0);
  ASSERT_EQ(box_texts(), std::vector<std::string>{"\"" + sfx_path + "\" Tampered DATA"});
  EXPECT_EQ(posix::message_boxes()[0].owner, nullptr);
  EXPECT_FALSE(exists(dest));
}

// The scan refuses a damaged or foreign header, and a member or archive that
// would run past the end of the file, before anything is written.
TEST_F(ArchiveTest, ScanErrorsStopTheRunWithOneMessage) {
  std::vector<uint8_t> level = archive_bytes({file_member("a.txt", "x")}), lz5 = raw_member({"", "a.txt", '5', ""}),
                       outside = raw_member({"", "a.txt", '0', ""}), too_short = outside;
  level[20] ^= 1;
  lz5[3] = 'z';
  set_header_crc(lz5);
  outside[24] = 0xFF;                     // the first extended header runs past the header
  too_short[0] = 22, too_short[1] = 0;    // shorter than the fixed part: never read as one
  Raw no_crc{"", "a.txt", '5', ""}, big{"", "big.bin", '5', ""};
  no_crc.header_crc = false;
  big.compressed = 1000000;
  const struct {
    std::vector<uint8_t> archive;
    uint32_t offset;
    const char *message;
  } rows[] = {
      {level, 0, "Bad header"}, {raw_archive({{"", "a.txt", '1', ""}}), 0, "Bad header"}, {lz5, 0, "Bad header"},
      {raw_archive({no_crc}), 0, "Bad header"}, {outside, 0, "Bad header"}, {too_short, 0, "Bad header"},
      {raw_member(big), 0, "Unexpeted EOF"}, {raw_archive({}), 1u << 30, "Unexpeted EOF"},  // beyond the file
  };
  for (const auto &r : rows) {
    HeaderBlockFields block;
    block.archive_offset = r.offset;
    write_sfx(r.archive, block);
    posix::reset();
    posix::set_module_path(sfx_path);
    EXPECT_EQ(extract(), 0) << r.message;
    EXPECT_EQ(box_texts(), std::vector<std::string>{"\"" + sfx_path + "\" " + r.message});
    EXPECT_FALSE(exists(dest));
  }
}

TEST_F(ArchiveTest, NoToTheFirstMessageStillAsksTheSecondAndFails) {
  std::vector<TestMember> members = {file_member("!", "First question?", '0'), file_member("a.txt", "x"),
                                     file_member("!", "Second question?", '5')};
  write_sfx(members);
  posix::queue_answer(IDNO);
  posix::queue_answer(IDYES);
  EXPECT_EQ(extract(), 0);
  ASSERT_EQ(box_texts(), (std::vector<std::string>{"First question?", "Second question?"}));
  EXPECT_EQ(posix::message_boxes()[0].style, (UINT)(MB_TASKMODAL | MB_ICONQUESTION | MB_YESNO));
  EXPECT_FALSE(exists(dest));
}

TEST_F(ArchiveTest, WriteFailureMidMemberKeepsEarlierFiles) {
  TestMember big;
  big.path = "big.bin";
  big.data = pattern_bytes(200000, 7);
  write_sfx({file_member("first.txt", "kept"), big});
  posix::fail_call("WriteFile", 3);  // first.txt's one write, then big.bin's second chunk
  EXPECT_EQ(extract(), 1);
  EXPECT_EQ(box_texts(), std::vector<std::string>{"\"" + dest + "/big.bin\" Write ERROR"});
  EXPECT_EQ(read_text(dest + "/first.txt"), "kept");
  EXPECT_FALSE(exists(dest + "/big.bin"));
}

TEST_F(ArchiveTest, EachExtendedTimeGoesToItsOwnFileTime) {
  TestMember m = file_member("t.txt", "times");
  m.creation = 900000000, m.write = 950000000, m.access = 990000000;
  write_sfx({m});
  EXPECT_EQ(extract(), 1);
  struct stat st;
  ASSERT_EQ(stat((dest + "/t.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mtime, 950000000);
  EXPECT_EQ(st.st_atime, 990000000);
  FILETIME created;
  ASSERT_TRUE(posix::creation_time(dest + "/t.txt", &created));
  EXPECT_EQ(((uint64_t)created.dwHighDateTime << 32 | created.dwLowDateTime) / 10000000 - 11644473600ull, 900000000u);
}

// On Win32s the header time is shifted by TZ before keep-newer compares it
// with the existing file's time.
TEST_F(ArchiveTest, Win32sComparesTheShiftedHeaderTime) {
  setenv("TZ", "EST5", 1);
  posix::set_platform_id(VER_PLATFORM_WIN32s);
  write_sfx({file_member("a.txt", "from archive")});
  std::filesystem::create_directories(dest);
  write_text(dest + "/a.txt", "mine");
  struct timespec t[2] = {{1000000000 - 9000, 0}, {1000000000 - 9000, 0}};  // between the two
  utimensat(AT_FDCWD, (dest + "/a.txt").c_str(), t, 0);
  EXPECT_EQ(extract(), 1);
  EXPECT_EQ(read_text(dest + "/a.txt"), "mine");
  unsetenv("TZ");
}

// Names are matched whole: "!x" and "$x" are ordinary members. An integrity
// sum covers the special members too. An archive whose end marker is cut off
// right behind a member's data ends there, every member extracted.
TEST_F(ArchiveTest, SpecialNamesSumsAndAnArchiveCutAtAMemberBoundary) {
  HeaderBlockFields block;
  block.flags = BLOCK_INTEGRITY_SUM;
  std::vector<TestMember> members = {file_member("$", "$WindowTitle=Scripted\r\n"),
                                     file_member("!", "Go on?"), file_member("!readme.txt", "bang"),
                                     file_member("$data.bin", "dollar")};
  std::vector<uint8_t> archive = archive_bytes(members, true);
  archive.resize(archive.size() - 2);  // no end marker
  for (int tail = 0; tail < 2; ++tail) {  // then a lone byte of another header
    write_sfx(archive, block);
    posix::reset();
    posix::set_module_path(sfx_path);
    std::filesystem::remove_all(dest);
    EXPECT_EQ(extract(), 1);
    EXPECT_EQ(box_texts(), std::vector<std::string>{"Go on?"});
    EXPECT_EQ(read_text(dest + "/!readme.txt"), "bang");
    EXPECT_EQ(read_text(dest + "/$data.bin"), "dollar");
    EXPECT_FALSE(exists(dest + "/!"));  // the question and the script are never written
    EXPECT_FALSE(exists(dest + "/$"));
    archive.push_back(0x40);
  }
}

TEST_F(ArchiveTest, Win32sShiftsTimesByTz) {
  setenv("TZ", "EST5EDT", 1);
  posix::set_platform_id(VER_PLATFORM_WIN32s);
  TestMember m = file_member("a.txt", "x");
  m.time = 1000000000;
  write_sfx({m});
  EXPECT_EQ(extract(), 1);
  EXPECT_EQ(mtime(dest + "/a.txt"), 1000000000u - 5 * 3600);
  setenv("TZ", ("EST5" + std::string(120, 'x')).c_str(), 1);  // longer than any real TZ: no shift
  std::filesystem::remove_all(dest);
  EXPECT_EQ(extract(), 1);
  EXPECT_EQ(mtime(dest + "/a.txt"), 1000000000u);
  unsetenv("TZ");
}

TEST_F(ArchiveTest, ShortNamesCleanMembersButNotTheConfirmedDirectory) {
  posix::set_max_component_length(0);  // the volume cannot be asked: 8.3 names
  write_sfx({file_member("Long Folder/readme.first.txt", "x")});
  std::string long_dest = dir + "/dest with a long name";
  EXPECT_EQ(run_program("-n \"" + long_dest + "\""), 1);
  EXPECT_TRUE(exists(long_dest + "/Long_Fol/readme_f.txt"));
  posix::reset();
  posix::set_module_path(sfx_path);
  posix::set_max_component_length(12);  // a volume of 8.3 names that says so
  std::filesystem::remove_all(long_dest);
  EXPECT_EQ(run_program("-n \"" + long_dest + "\""), 1);
  EXPECT_TRUE(exists(long_dest + "/Long_Fol/readme_f.txt"));
}

// One stored member "x" with extended headers 0x40 (attribute 0x21) and 0x41
// (all three times 1,200,000,000) that disagree with the fixed fields (0x20,
// 1,000,000,000); os is patched in.
std::vector<uint8_t> member_with_os(char os) {
  Raw r{"", "x.txt", '0', "x"};
  r.extra = {5, 0, 0x40, 0x21, 0, 27, 0, 0x41};
  for (int i = 0; i < 3; ++i)
    for (int k = 0; k < 8; ++k) r.extra.push_back((uint8_t)(file_time_of(1200000000) >> 8 * k));
  std::vector<uint8_t> b = raw_member(r);
  b[23] = (uint8_t)os;
  set_header_crc(b);
  put16(b, 0);
  return b;
}

TEST_F(ArchiveTest, ExtendedTimesAndAttributesOnlyForWindowsAndMsDos) {
  HeaderBlockFields block;
  block.restore_attributes = '/';
  for (char os : {'W', 'w', 'M', 'U'}) {
    std::filesystem::remove_all(dest);
    write_sfx(member_with_os(os), block);
    posix::reset();
    posix::set_module_path(sfx_path);
    ASSERT_EQ(extract(), 1) << os;
    bool extended = os != 'U';
    EXPECT_EQ(mtime(dest + "/x.txt"), extended ? 1200000000u : 1000000000u) << os;
    EXPECT_EQ(GetFileAttributesA((dest + "/x.txt").c_str()), extended ? 0x21u : 0x20u) << os;
    chmod((dest + "/x.txt").c_str(), 0644);
  }
}

}  // namespace
