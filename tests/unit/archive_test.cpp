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
  std::vector<TestMember> three_files() {
    return {file_member("a.txt", "first file"), file_member("b.txt", "second file"),
            file_member("c.txt", "third file")};
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

TEST_F(ArchiveTest, OnlyDirectoryEntriesCreateDirectoriesAndNoFile) {
  TestMember d1, d2;
  d1.path = "a/b/c/";
  d2.path = "x/";
  d1.method = d2.method = 'd';
  write_sfx({d1, d2});
  EXPECT_EQ(extract(), 1);
  EXPECT_TRUE(exists(dest + "/a/b/c"));
  EXPECT_TRUE(exists(dest + "/x"));
  EXPECT_EQ(posix::call_count("CreateFileA"), 0);
  EXPECT_EQ(posix::call_count("SetFileTime"), 0);
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

TEST_F(ArchiveTest, OverwriteQuestionYesNoCancel) {
  write_sfx(three_files());
  extract();
  for (const char *name : {"a.txt", "b.txt", "c.txt"}) write_text(dest + "/" + name, "old");
  posix::queue_answer(IDYES);
  posix::queue_answer(IDNO);
  posix::queue_answer(IDCANCEL);
  EXPECT_EQ(extract("-c"), 1);
  EXPECT_EQ(read_text(dest + "/a.txt"), "first file");
  EXPECT_EQ(read_text(dest + "/b.txt"), "old");
  EXPECT_EQ(read_text(dest + "/c.txt"), "old");
  ASSERT_EQ(box_texts().size(), 3u);
  EXPECT_EQ(box_texts()[0], "\"" + dest + "/a.txt\" Overwrite?");
  EXPECT_EQ(posix::message_boxes()[0].style, (UINT)(MB_TASKMODAL | MB_ICONQUESTION | MB_YESNOCANCEL));
  EXPECT_EQ(posix::message_boxes()[0].owner, posix::current_dialog() ? posix::current_dialog() : (HWND)0x10000);
}

TEST_F(ArchiveTest, ReadOnlyTargetIsReplacedOnlyWithRestoreAttributes) {
  write_sfx({file_member("ro.txt", "new")});
  extract();
  write_text(dest + "/ro.txt", "old");
  chmod((dest + "/ro.txt").c_str(), 0444);
  EXPECT_EQ(extract("-c"), 1);
  EXPECT_EQ(last_box_text(), "\"" + dest + "/ro.txt\" Open ERROR");
  EXPECT_EQ(read_text(dest + "/ro.txt"), "old");
  HeaderBlockFields block;
  block.restore_attributes = '/';
  write_sfx({file_member("ro.txt", "new")}, block);
  EXPECT_EQ(extract("-c"), 1);
  EXPECT_EQ(read_text(dest + "/ro.txt"), "new");
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

TEST_F(ArchiveTest, RunCommandStartsInTheInstallDirectory) {
  HeaderBlockFields block;
  block.run_command = "  \"my app.exe\"  /s  /v ";
  write_sfx({file_member("a.txt", "x")}, block);
  EXPECT_EQ(extract(), 1);
  ASSERT_EQ(posix::shell_executes().size(), 1u);
  const auto &run = posix::shell_executes()[0];
  EXPECT_EQ(run.file, "my app.exe");
  EXPECT_EQ(run.parameters, "/s  /v ");
  EXPECT_EQ(posix::host_path(run.directory.c_str()), dest);
  EXPECT_EQ(run.show, SW_SHOW);
}

TEST_F(ArchiveTest, IntegritySumChecksBeforeTheDialog) {
  HeaderBlockFields block;
  block.flags = BLOCK_INTEGRITY_SUM;
  write_sfx(three_files(), block);
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

// A member header assembled by hand, with its CRC computed here.
std::vector<uint8_t> raw_header(const char *method, const std::string &name, bool with_crc,
                                uint32_t compressed = 0) {
  std::vector<uint8_t> h = {0, 0};
  h.insert(h.end(), method, method + 5);
  for (int i = 0; i < 4; ++i) h.push_back((uint8_t)(compressed >> 8 * i));
  for (int i = 0; i < 4; ++i) h.push_back(0);       // original size
  for (int i = 0; i < 4; ++i) h.push_back(0);       // time
  h.insert(h.end(), {0x20, 2, 0, 0, 'W'});
  size_t crc_at = 0;
  auto ext = [&](uint8_t type, std::vector<uint8_t> data) {
    uint16_t size = (uint16_t)(3 + data.size());
    h.push_back((uint8_t)size), h.push_back((uint8_t)(size >> 8)), h.push_back(type);
    if (type == 0) crc_at = h.size();
    h.insert(h.end(), data.begin(), data.end());
  };
  if (with_crc) ext(0, {0, 0});
  ext(1, std::vector<uint8_t>(name.begin(), name.end()));
  h.push_back(0), h.push_back(0);
  h[0] = (uint8_t)h.size(), h[1] = (uint8_t)(h.size() >> 8);
  if (with_crc) {
    uint16_t crc = crc16(h.data(), h.size());
    h[crc_at] = (uint8_t)crc, h[crc_at + 1] = (uint8_t)(crc >> 8);
  }
  return h;
}

TEST_F(ArchiveTest, HeaderErrorsFailTheScanWithBadHeader) {
  std::vector<std::vector<uint8_t>> bad;
  std::vector<uint8_t> changed = archive_bytes({file_member("a.txt", "x")});
  changed[20] ^= 1;  // the level byte
  bad.push_back(changed);
  bad.push_back(raw_header("-lh1-", "a.txt", true));
  bad.push_back(raw_header("-lz5-", "a.txt", true));
  bad.push_back(raw_header("-lh5-", "a.txt", false));
  std::vector<uint8_t> outside = raw_header("-lh5-", "a.txt", true);
  outside[24] = 0xFF;  // first extended header runs past the header
  bad.push_back(outside);
  std::vector<uint8_t> short_header = raw_header("-lh5-", "a.txt", true);
  short_header[0] = 22, short_header[1] = 0;  // shorter than the fixed part: never read as one
  bad.push_back(short_header);
  for (auto &archive : bad) {
    archive.push_back(0), archive.push_back(0);
    write_sfx(archive);
    posix::reset();
    posix::set_module_path(sfx_path);
    EXPECT_EQ(extract(), 0);
    EXPECT_EQ(box_texts(), std::vector<std::string>{"\"" + sfx_path + "\" Bad header"});
  }
}

TEST_F(ArchiveTest, SkippingPastTheEndIsUnexpectedEof) {
  std::vector<uint8_t> archive = raw_header("-lh5-", "big.bin", true, 1000000);
  write_sfx(archive);
  EXPECT_EQ(extract(), 0);
  EXPECT_EQ(box_texts(), std::vector<std::string>{"\"" + sfx_path + "\" Unexpeted EOF"});
  HeaderBlockFields block;
  block.archive_offset = 1u << 30;  // beyond the file
  write_sfx(archive_bytes({}), block);
  posix::reset();
  posix::set_module_path(sfx_path);
  EXPECT_EQ(extract(), 0);
  EXPECT_EQ(last_box_text(), "\"" + sfx_path + "\" Unexpeted EOF");
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

TEST_F(ArchiveTest, MessageMemberIsNeverWritten) {
  write_sfx({file_member("!", "Go on?"), file_member("a.txt", "x")});
  EXPECT_EQ(extract(), 1);
  EXPECT_TRUE(exists(dest + "/a.txt"));
  EXPECT_FALSE(exists(dest + "/!"));
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

TEST_F(ArchiveTest, CloseFailureDeletesTheFile) {
  write_sfx(three_files());
  posix::fail_call("CloseHandle", 2);
  EXPECT_EQ(extract(), 1);
  EXPECT_EQ(box_texts(), std::vector<std::string>{"\"" + dest + "/b.txt\" Close ERROR"});
  EXPECT_TRUE(exists(dest + "/a.txt"));
  EXPECT_FALSE(exists(dest + "/b.txt"));
  EXPECT_FALSE(exists(dest + "/c.txt"));
}

TEST_F(ArchiveTest, FailedDirectoryCreationShowsOpenError) {
  write_sfx({file_member("sub/a.txt", "x")});
  posix::fail_call("CreateDirectoryA", 5);  // "", /tmp, /tmp/sfxtest-*, dest, then dest/sub
  EXPECT_EQ(extract(), 1);
  EXPECT_EQ(box_texts(), std::vector<std::string>{"\"" + dest + "/sub/a.txt\" Open ERROR"});
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

}  // namespace

namespace {

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

TEST_F(ArchiveTest, ReadFailureIsNoEndOfArchive) {
  write_sfx(three_files());
  posix::fail_call("_lread", 2);  // the block, then the first member's size field
  EXPECT_EQ(extract(), 0);
  EXPECT_EQ(box_texts(), std::vector<std::string>{"\"" + sfx_path + "\" Read ERROR"});
}

}  // namespace

namespace {

// One stored member "x" written by the builder with extended headers 0x40 and
// 0x41 that disagree with the fixed fields; os is patched in.
std::vector<uint8_t> member_with_os(char os) {
  Member m;
  m.path = "x.txt";
  m.time = 1000000000;
  m.attribute = 0x21;
  for (uint64_t &t : m.file_times) t = 116444736000000000ull + 1200000000ull * 10000000ull;
  std::vector<uint8_t> b = member_bytes(m, "-lh0-", {'x'}, 1, crc16((const uint8_t *)"x", 1));
  b[19] = 0x20;  // the fixed attribute differs from extended header 0x40 (0x21)
  b[23] = (uint8_t)os;
  size_t size = b[0] | b[1] << 8;
  b[27] = b[28] = 0;
  uint16_t crc = crc16(b.data(), size);
  b[27] = (uint8_t)crc, b[28] = (uint8_t)(crc >> 8);
  b.push_back(0), b.push_back(0);
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
