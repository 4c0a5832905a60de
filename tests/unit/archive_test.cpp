// Whole self-extractors run through WinMain with '-n DEST': both passes of
// the member loop on real archives, the overwrite decision, every archive
// error, and failures injected into the platform calls.
#include "support.h"
#include <algorithm>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include "archive/archive.h"

namespace {

class ArchiveTest : public SfxTest {
 protected:
  int extract() { return run_program("-n " + dest); }
};

// An existing file: keep-newer leaves one as new as the member alone,
// without asking (on Win32s against the header time shifted by TZ); an older
// one is replaced, under overwrite-all without asking. A read-only one the
// user agreed to replace is made writable first when attributes are restored,
// and otherwise gives "Open ERROR".
TEST_F(ArchiveTest, KeepNewerOverwriteAllAndReadOnlyFiles) {
  const struct { time_t existing; bool win32s, overwrite_all, read_only; char restore; const char *left; size_t boxes; } rows[] = {{1000000000, false, true, false, 0, "mine", 0}, {999999999, false, true, false, 0, "from archive", 0},
              {-100000000, false, true, false, 0, "from archive", 0},  // 1966: older than any member
              {1000000000 - 9000, true, true, false, 0, "mine", 0},     // between the header time and its shift
              {999999999, false, false, false, 0, "from archive", 1},  // asked, Yes
              {999999999, false, true, true, '/', "from archive", 0}, {999999999, false, false, true, '/', "from archive", 1},
              {999999999, false, true, true, 0, "mine", 1}, {999999999, false, false, true, 0, "mine", 2},
              {1000000000, false, true, false, 0, "from archive", 0},  // its time unreadable: older (the last two rows),
              {1000000000, false, false, false, 0, "from archive", 1}};  // and asked about
  setenv("TZ", "EST5", 1);
  for (const auto &r : rows) {
    HeaderBlockFields block;
    block.flags = r.overwrite_all ? BLOCK_OVERWRITE_ALL : 0;
    block.restore_attributes = r.restore;
    write_sfx({file_member("a.txt", "from archive")}, block);
    fresh();
    std::filesystem::create_directories(dest);
    if (&r >= std::end(rows) - 2) posix::fail_call("CreateFileA", posix::call_count("CreateFileA") + 1);
    write_text(dest + "/a.txt", "mine");
    const struct timespec times[2] = {{r.existing, 0}, {r.existing, 0}};
    utimensat(AT_FDCWD, (dest + "/a.txt").c_str(), times, 0);
    if (r.read_only) chmod((dest + "/a.txt").c_str(), 0444);
    posix::set_platform_id(r.win32s ? VER_PLATFORM_WIN32s : VER_PLATFORM_WIN32_NT);
    posix::queue_answer(IDYES);
    EXPECT_EQ(extract(), 1);
    EXPECT_EQ(read_text(dest + "/a.txt"), r.left) << r.existing << r.read_only << r.restore;
    EXPECT_EQ(posix::message_boxes().size(), r.boxes) << r.existing << r.read_only << r.restore;  // question, error
  }
  unsetenv("TZ");
}

// Every method the README names passes the header check and extracts (-lh4-
// is laid out as -lh5-). Then the command starts in the destination, its
// program apart from its parameters (a quoted program may hold spaces); the
// script's command wins, and a comma between quotes stays in its field.
TEST_F(ArchiveTest, EveryMethodExtractsAndTheCommandStartsInTheDestination) {
  const std::string text = "every method, every method, every method\n";
  std::vector<uint8_t> methods = member_data({"sub", {}, 'd'});
  for (char m : {'0', '4', '5', '6', '7'}) {
    std::vector<uint8_t> b = member_data(file_member(std::string("sub/") + m, text, m == '4' ? '5' : m));
    b[5] = (uint8_t)m;
    set_header_crc(b);
    methods.insert(methods.end(), b.begin(), b.end());
  }
  const struct { std::string command, script, program, parameters; } rows[] = {{"setup.exe /quiet  x", "", "setup.exe", "/quiet  x"},
              {" \"My Setup.exe\"\t-a", "", "My Setup.exe", "-a"},
              {"run.exe", "", "run.exe", ""},
              {"ignored.exe", "$Command=go.exe \"a,b\",c", "go.exe", "a,b"}};
  std::string windows_dest = dest;  // the destination as the program holds it
  std::replace(windows_dest.begin(), windows_dest.end(), '/', '\\');
  for (const auto &r : rows) {
    HeaderBlockFields block;
    block.run_command = r.command;
    std::vector<uint8_t> archive = member_data(file_member("$", r.script));
    archive.insert(archive.end(), methods.begin(), methods.end());
    put16(archive, 0);
    write_sfx(archive, block);
    fresh();
    EXPECT_EQ(extract(), 1);
    EXPECT_EQ(box_texts(), std::vector<std::string>{});
    for (char m : {'0', '4', '5', '6', '7'}) EXPECT_EQ(read_text(dest + "/sub/" + m), text) << m;
    ASSERT_EQ(posix::shell_executes().size(), 1u);
    const posix::ShellExecuteRecord &e = posix::shell_executes()[0];
    EXPECT_EQ(std::vector<std::string>({e.verb, e.file, e.parameters, e.directory}),
              std::vector<std::string>({"", r.program, r.parameters, windows_dest}));
  }
}

// The scan refuses a damaged or foreign header, a member of 4 GiB or more, a
// stored member whose two sizes differ, a member or archive that would run
// past the end of the file, and a script it cannot decode, before anything
// is written: status 0.
TEST_F(ArchiveTest, ScanErrorsStopTheRunWithOneMessage) {
  std::vector<uint8_t> level = archive_bytes({file_member("a.txt", "x")}), lz5 = raw_member({"", "a.txt", '5', ""}),
                       outside = raw_member({"", "a.txt", '0', ""}), too_short = outside;
  level[20] ^= 1;
  lz5[3] = 'z', set_header_crc(lz5);
  outside[24] = 0xFF;                     // the first extended header runs past the header
  too_short[0] = 22, too_short[1] = 0;    // shorter than the fixed part: never read as one
  Raw no_crc{"", "a.txt", '5', ""}, big{"", "big.bin", '5', ""}, past{"", "a.txt", '0', "x"},
      huge{"", "zero.bin", '0', std::string(1000, '\0')}, slack{"", "a.txt", '0', "0123456789"};
  no_crc.header_crc = false, big.compressed = 1000000;
  past.extra = {7, 0, 0x7F, 'a', 'b'};  // the last extended header claims the two bytes after the header
  huge.extra = {19, 0, 0x42};           // 64-bit sizes: 4 GiB + 1000 each
  for (int twice = 0; twice < 2; ++twice) put32(huge.extra, 1000), put32(huge.extra, 1);
  Raw huge_original = huge;
  huge_original.extra[7] = 0;  // only the size it unpacks to is 4 GiB or more
  std::vector<uint8_t> hidden = raw_member({"", "hidden.txt", '0', "hidden"});
  slack.data += std::string(hidden.begin(), hidden.end());  // a whole member in the slack of a stored one
  slack.original = 10;
  const struct { std::vector<uint8_t> archive; uint32_t offset; const char *message; uint8_t flags = 0; } rows[] = {
      {level, 0, "Bad header"}, {raw_archive({{"", "a.txt", '3', ""}}), 0, "Bad header"}, {lz5, 0, "Bad header"},
      {raw_archive({{"", "a.txt", '8', ""}}), 0, "Bad header"},
      {raw_archive({no_crc}), 0, "Bad header"}, {outside, 0, "Bad header"}, {too_short, 0, "Bad header"},
      {raw_archive({past}), 0, "Bad header"}, {raw_archive({{"", "first.txt", '0', "x"}, huge}), 0, "Bad header"},
      {raw_archive({slack}), 0, "Bad header"}, {raw_archive({huge_original}), 0, "Bad header"},
      {raw_archive({{"", std::string(260, 'n'), '0', "x"}}), 0, "Bad header"},  // a path one byte past its field
      {raw_archive({{"", "$", '5', std::string("\0\1\4\xC0", 4), -1, 10}}), 0, "Bad table"},  // symbol 19 of 19
      {raw_member(big), 0, "Unexpeted EOF"}, {raw_archive({}), 1u << 30, "Unexpeted EOF"},  // beyond the file
      {{}, 0, "Tampered DATA", BLOCK_INTEGRITY_SUM}, {{0}, 0, "Tampered DATA", BLOCK_INTEGRITY_SUM},  // sum cut off
  };
  for (const auto &r : rows) {
    HeaderBlockFields block;
    block.archive_offset = r.offset, block.flags = r.flags;
    write_sfx(r.archive, block);
    fresh();
    EXPECT_EQ(extract(), 0) << r.message;
    EXPECT_EQ(box_texts(), std::vector<std::string>{"\"" + sfx_path + "\" " + r.message});
    EXPECT_FALSE(exists(dest));
  }
}

// A No to the first question still asks the second, behind a 2.5 GB member (a
// sparse hole) that the scan skips past 2 GiB, beyond a seek from the start.
TEST_F(ArchiveTest, NoToTheFirstMessageStillAsksTheSecondPast2GiBAndFails) {
  std::vector<uint8_t> head = member_data(file_member("!", "First question?", '0'));
  std::vector<uint8_t> big = raw_member(Raw{"", "big.bin", '0', "", 2500000000, 2500000000});
  head.insert(head.end(), big.begin(), big.end());
  write_sfx(head);
  std::vector<uint8_t> tail = archive_bytes({file_member("a.txt", "x"), file_member("!", "Second question?", '5')});
  std::fstream(sfx_path, std::ios::binary | std::ios::in | std::ios::out)
      .seekp((long)std::filesystem::file_size(sfx_path) + 2500000000).write((const char *)tail.data(), (long)tail.size());
  for (int answer : {IDNO, IDYES}) posix::queue_answer(answer);
  EXPECT_EQ(extract(), 0);
  ASSERT_EQ(box_texts(), (std::vector<std::string>{"First question?", "Second question?"}));
  EXPECT_EQ(posix::message_boxes()[0].style, (UINT)(MB_TASKMODAL | MB_ICONQUESTION | MB_YESNO));
  EXPECT_FALSE(exists(dest));
}

// Names are matched whole: "!x" and "$x" are ordinary members; an empty "!"
// or "$" leaves no text. An integrity sum covers the special members too, and
// a wrong one stops the run before the dialog. An archive whose end marker is
// cut off right behind a member's data ends there, every member extracted.
TEST_F(ArchiveTest, SpecialNamesSumsAndAnArchiveCutAtAMemberBoundary) {
  HeaderBlockFields block;
  block.flags = BLOCK_INTEGRITY_SUM;
  std::vector<uint8_t> archive = archive_bytes({file_member("$", "$ClassTitle=R\r\n$Class=.b,B,!readme.txt,BFile"), file_member("$", ""), file_member("!", "Go on?"),
      file_member("!", ""), file_member("!readme.txt", "bang"), file_member("$data.bin", "dollar")}, true);
  archive.resize(archive.size() - 2);  // no end marker
  std::vector<uint8_t> tampered = archive;
  tampered[0] ^= 0x10;  // the stored sum
  for (int tail = 0; tail < 2; ++tail) {  // then a lone byte of another header
    write_sfx(archive, block);
    fresh();
    EXPECT_EQ(extract(), 1);
    EXPECT_EQ(box_texts(), (std::vector<std::string>{"Go on?", ""}));  // an empty one leaves no text
    EXPECT_EQ(posix::reg_key_count(), 0);  // nor does an empty script for the post-install step
    EXPECT_EQ(read_text(dest + "/!readme.txt") + "|" + read_text(dest + "/$data.bin"), "bang|dollar");
    EXPECT_FALSE(exists(dest + "/!") || exists(dest + "/$"));  // the question and the script are never written
    archive.push_back(0x40);
  }
  write_sfx(tampered, block);
  fresh();
  EXPECT_EQ(extract(), 0);
  ASSERT_FALSE(posix::message_boxes().empty());  // after the question the scan asked
  EXPECT_EQ(posix::message_boxes().back().text, "\"" + sfx_path + "\" Tampered DATA");
  EXPECT_EQ(posix::message_boxes().back().owner, nullptr);
  EXPECT_FALSE(exists(dest));
}

// On Win32s the header time (1,000,000,000) is shifted by TZ's hours, not its
// minutes (EST5: five hours earlier). A TZ longer than any real one is no TZ.
TEST_F(ArchiveTest, Win32sShiftsTimesByTz) {
  posix::set_platform_id(VER_PLATFORM_WIN32s);
  write_sfx({file_member("a.txt", "x")});
  const std::pair<std::string, int> rows[] = {{"EST5EDT", 5}, {"JST-9", -9}, {"GMT", 0}, {"-", 0}, {"IST-5:30", -5},
                                              {"+0530", 530}, {"EST5" + std::string(120, 'x'), 0}};
  for (const auto &[tz, hours] : rows) {
    setenv("TZ", tz.c_str(), 1);
    std::filesystem::remove_all(dest);
    EXPECT_EQ(extract(), 1);
    struct stat st;
    EXPECT_EQ(stat((dest + "/a.txt").c_str(), &st) == 0 ? st.st_mtime : 0, 1000000000 - hours * 3600) << tz;
  }
  unsetenv("TZ");
}

// One stored member "x" with extended headers 0x40 (attribute 0x21) and 0x41
// (creation, write and access times 1.1, 1.2 and 1.3 billion) that disagree
// with the fixed fields (0x22, 1,000,000,000); os is patched in (0: the
// builder's own member of those times). Each time goes to its own file time;
// the extended headers count only for Windows and MS-DOS, and attributes are
// set only when the block asks.
TEST_F(ArchiveTest, ExtendedTimesAndAttributesOnlyForWindowsAndMsDos) {
  Raw r{"", "x.txt", '0', "x"};
  r.extra = {5, 0, 0x40, 0x21, 0, 27, 0, 0x41};
  for (int i = 0; i < 3; ++i)
    for (int k = 0; k < 8; ++k) r.extra.push_back((uint8_t)(file_time_of(1100000000 + 100000000 * i) >> 8 * k));
  const struct { char os, restore; std::vector<uint64_t> times /* creation, write, access */; uint32_t attributes; } rows[] = {{'W', '/', {11, 12, 13}, 0x21}, {'w', '/', {11, 12, 13}, 0x21}, {'M', '/', {11, 12, 13}, 0x21},
              {'U', '/', {10, 10, 10}, 0x22}, {'W', 0, {11, 12, 13}, FILE_ATTRIBUTE_NORMAL}, {0, '/', {11, 12, 13}, 0x21}};
  for (const auto &row : rows) {
    std::vector<uint8_t> b = raw_member(r);
    b[19] = 0x22, b[23] = (uint8_t)row.os, set_header_crc(b);
    if (!row.os) b = member_data({"x.txt", {'x'}, '0', 1000000000, 1100000000, 1200000000, 1300000000, 0x21});
    put16(b, 0);
    HeaderBlockFields block;
    block.restore_attributes = row.restore;
    write_sfx(b, block);
    fresh();
    ASSERT_EQ(extract(), 1) << row.os;
    struct stat st;
    FILETIME created;
    ASSERT_EQ(stat((dest + "/x.txt").c_str(), &st), 0);
    ASSERT_TRUE(posix::creation_time(dest + "/x.txt", &created));
    uint64_t creation = ((uint64_t)created.dwHighDateTime << 32 | created.dwLowDateTime) / 10000000 - 11644473600ull;
    EXPECT_EQ(std::vector<uint64_t>({creation / 100000000, (uint64_t)st.st_mtime / 100000000, (uint64_t)st.st_atime / 100000000}), row.times)
        << row.os;
    EXPECT_EQ(GetFileAttributesA((dest + "/x.txt").c_str()), row.attributes) << row.os << (int)row.restore;
  }
}

}  // namespace
