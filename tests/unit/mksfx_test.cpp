// The builder against independent LZH coders (its archives extract through
// lhasa and 7z; jlha's, from Debian's jlha-utils, through the stub), the
// header block and integrity sum, errors, listing and determinism.
#include "member_stream.h"
#include "support.h"
#include "progress.h"
#include <algorithm>
#include <filesystem>
#include <random>

namespace {

namespace fs = std::filesystem;

std::string output;  // what the last shell() printed, for failure messages

struct Row { std::string command; int status; std::string expected; };  // run in the test's directory ($M is mksfx)

void run_rows(const std::string &dir, const std::vector<Row> &rows) {
  for (const Row &r : rows) {
    int status;
    std::string out = capture("export M=" MKSFX_PATH " && cd " + dir + " && " + r.command, &status);
    EXPECT_TRUE(status == r.status && out.find(r.expected) != std::string::npos) << r.command << "\n" << out;
  }
}

int shell(const std::string &command) {
  int status;
  output = capture(command, &status);
  return status;
}

// Files below root (their directories made), each holding `text`, or its own name when that is null.
void put_files(const std::string &root, const std::vector<std::string> &names, const char *text = "x") {
  for (const std::string &n : names) fs::create_directories(fs::path(root + "/" + n).parent_path()), write_text(root + "/" + n, text ? text : n);
}

class MksfxTest : public SfxTest {
 protected:
  std::string mksfx = MKSFX_PATH;
  // Empty and one-byte files, sizes around 64 KiB, a long run, noise that
  // does not shrink, text, copies from near and far back, and periods just
  // under each window: matches reaching back almost all of it, their source
  // a few bytes ahead of where they are written.
  std::string tree() {
    std::string in = dir + "/in";
    fs::create_directories(in + "/empty/nested");
    fs::create_directories(in + "/sub");
    write_text(in + "/empty.txt", "");
    write_text(in + "/one", "1");
    for (size_t size : {65535u, 65536u, 65537u, 100000u})
      write_file(in + "/sub/p" + std::to_string(size), pattern_bytes(size, (uint32_t)size));
    write_file(in + "/run.bin", std::vector<uint8_t>(300000, 'r'));
    std::mt19937 rng(2026);
    std::vector<uint8_t> noise(1050000), copies(1100000);  // both longer than a read
    for (uint8_t &b : noise) b = (uint8_t)rng();
    write_file(in + "/noise.bin", noise);
    write_file(in + "/text.txt", read_file(std::string(SFX_SOURCE_DIR) + "/README.md"));
    for (size_t i = 0; i < copies.size(); ++i) {
      if (i > 300 && rng() % 4 == 0) {
        size_t back = 1 + rng() % std::min<size_t>(i, rng() % 2 ? 16 : 70000);
        for (size_t k = 3 + rng() % 300; k-- > 0 && i < copies.size(); ++i) copies[i] = copies[i - back];
        --i;
      } else {
        copies[i] = (uint8_t)('a' + rng() % 40);
      }
    }
    write_file(in + "/copies", copies);
    for (unsigned window : {8192u, 32768u, 65536u}) {
      std::vector<uint8_t> d(window - 3 + 5000);
      for (size_t i = 0; i < d.size(); ++i) d[i] = i < window - 3 ? (uint8_t)rng() : d[i - (window - 3)];
      write_file(in + "/period" + std::to_string(window), d);
    }
    return in;
  }
};

TEST_F(MksfxTest, ArchivesOfJlhaExtractByteExactThroughTheStub) {
  ASSERT_EQ(shell("command -v jlha"), 0) << "jlha (jlha-utils) is needed";
  std::string in = tree();
  for (char method : {'5', '6', '7'}) {
    SCOPED_TRACE(method);
    std::string archive = dir + "/j" + method + ".lzh";
    ASSERT_EQ(shell("cd " + in + " && jlha a2qo" + method + " " + archive + " *"), 0) << output;
    ASSERT_EQ(shell("lhasa t " + archive), 0) << output;
    ASSERT_EQ(shell("grep -qa -- -lh" + std::string(1, method) + "- " + archive), 0) << "jlha used another method";
    write_sfx(read_file(archive));
    fresh();
    ASSERT_EQ(run_program("-n " + dest), 1) << last_box_text();
    EXPECT_EQ(shell("diff -r " + in + " " + dest), 0) << output;
  }
}

TEST_F(MksfxTest, EveryMethodRoundTripsThroughLhasaAnd7z) {
  std::string in = tree();
  for (std::string method : {"lh0", "lh5", "lh6", "lh7", "lh7 --best"}) {
    SCOPED_TRACE(method);
    std::string tag = method.substr(0, 3) + (method.size() > 3 ? "best" : "");
    std::string archive = dir + "/" + tag + ".lzh";
    // As tar and zip do, the directory argument keeps its name (after -C, as given).
    ASSERT_EQ(shell(mksfx + " --archive-only --method " + method + " -o " + archive + " -C " + dir + " in"), 0);
    for (std::string tool : {"lhasa", "7z"}) {
      std::string out = dir + "/out-" + tool + "-" + tag;
      fs::create_directories(out);
      std::string extract = tool == "lhasa" ? "cd " + out + " && lhasa xq " + archive
                                            : "7z x -y -o" + out + " " + archive;
      ASSERT_EQ(shell(extract), 0) << tool << ": " << output;
      EXPECT_EQ(shell("diff -r " + in + " " + out + "/in"), 0) << tool << " extracted something else";
    }
    EXPECT_EQ(shell(mksfx + " --test " + archive), 0);
    // Noise does not shrink: it is stored.
    EXPECT_NE(capture(mksfx + " --list " + archive).find("-lh0-    1050000    1050000"), std::string::npos);
  }
  EXPECT_LT(fs::file_size(dir + "/lh7best.lzh"), fs::file_size(dir + "/lh7.lzh"));
}

// A member that does not shrink is read again as the output is written: a
// file changed since it was packed fails the output, which is not left.
TEST_F(MksfxTest, AStoredFileChangedBeforeItIsWrittenLeavesNoOutput) {
  std::vector<uint8_t> noise(READ_PIECE + 4321), text = pattern_bytes(300000, 4);
  std::mt19937 rng(5);
  for (uint8_t &b : noise) b = (uint8_t)rng();
  const std::string in = dir + "/noise", changed = in + ": changed while it was packed";
  const struct {
    const char *why;
    char method;  // '7': compressed first, then stored as it does not shrink
    size_t size, flip;  // the file's size then, and a byte changed (0: none)
    std::string error;
  } rows[] = {{"unchanged", '7', noise.size(), 0, ""},
              {"a byte of the second read differs", '0', noise.size(), READ_PIECE + 9, changed},
              {"a byte longer", '0', noise.size() + 1, 0, changed},
              {"a byte shorter", '0', noise.size() - 1, 0, changed},
              {"gone", '0', 0, 0, in + ": No such file or directory"}};
  for (const auto &r : rows) {
    SCOPED_TRACE(r.why);
    write_file(in, noise);
    write_file(dir + "/text", text);
    std::shared_ptr<Spool> spool;  // the text follows the noise's data, dropped from it
    std::vector<PackedMember> members(3);
    Member m;
    m.path = "noise", pack_file(m, in, r.method, DEFAULT_EFFORT, &spool, &members[0]);
    m.path = "text", pack_file(m, dir + "/text", '7', DEFAULT_EFFORT, &spool, &members[1]);
    members[2].bytes = {0};
    std::vector<uint8_t> now = noise;
    now.resize(r.size);
    if (r.flip) now[r.flip] ^= 1;
    r.size ? write_file(in, now) : (void)fs::remove(in);
    fs::remove_all(dir + "/x"), fs::remove(dir + "/x.lzh"), fs::create_directories(dir + "/x");
    std::string error;
    EXPECT_EQ(host_write_whole(dir + "/x.lzh", output_pieces({}, std::move(members)), &error), r.error.empty());
    EXPECT_EQ(error, r.error);
    EXPECT_EQ(fs::exists(dir + "/x.lzh"), r.error.empty());
    if (!r.error.empty()) continue;
    ASSERT_EQ(shell("cd " + dir + "/x && lhasa xq ../x.lzh"), 0) << output;
    EXPECT_EQ(read_file(dir + "/x/noise"), noise);
    EXPECT_EQ(read_file(dir + "/x/text"), text);
  }
}

// --extract runs the stub's member loop: parent steps stay inside, and a
// member that names a place of its own (here a rooted path into a sibling
// whose name starts with the destination's, should the refusal ever fail) is refused.
TEST_F(MksfxTest, ExtractWritesNothingOutsideTheDestination) {
  write_file(dir + "/hostile.lzh", raw_archive({{"", "../escape1.txt", '0', "x"}, {"", dir + "/a/b/out2/rooted.txt", '0', "x"}}));
  std::string output = capture(mksfx + " --extract " + dir + "/hostile.lzh -C " + dir + "/a/b/out 2>&1; echo status=$?");
  EXPECT_NE(output.find("rooted.txt\" Open ERROR"), std::string::npos) << output;
  EXPECT_NE(output.find("status=1"), std::string::npos) << output;
  EXPECT_EQ(written_outside(dir + "/a/b/out", {dir + "/hostile.lzh"}), std::vector<std::string>{});
  EXPECT_TRUE(exists(dir + "/a/b/out/_./escape1.txt"));
  // Where the Linux build sends drive paths is no way in for a member that names a drive or a macro.
  const std::vector<Raw> members[] = {{{"", ".drives-refused/", 'd', ""}, {"", "C:\\x.txt", '0', "x"}},
                                      {{"", "C:\\x.txt", '0', "x"}}, {{"", "%WinDir%\\x.txt", '0', "x"}}};
  for (const auto &m : members) {
    write_file(dir + "/drive.lzh", raw_archive(m));
    std::string said = capture(mksfx + " -q --extract " + dir + "/drive.lzh -C " + dir + "/d; echo status=$?");
    EXPECT_NE(said.find("\" Open ERROR\nstatus=1"), std::string::npos) << said;
    EXPECT_FALSE(exists(dir + "/d/.drives-refused/C")) << said;
  }
}

// --extract over changed files: each option and answer keeps or replaces them; no answer cancels.
TEST_F(MksfxTest, ExtractReplacesExistingFilesOnlyWhenToldTo) {
  write_text(dir + "/a.txt", "member a"), write_text(dir + "/b.txt", "member b");
  std::string from = " -C " + fs::path(dir).parent_path().string() + " -C " + fs::path(dir).filename().string();
  ASSERT_EQ(shell(mksfx + " -q --archive-only -o " + dir + "/x.lzh" + from + " a.txt b.txt"), 0) << output;  // as tar
  const std::string cases[][3] = {  // option, answers; status and the two files after
      {"--overwrite=all", "", "0 member a, member b"},   {"--overwrite=never", "", "0 changed a, changed b"},
      {"", "y\\nn\\n", "0 member a, changed b"},         {"--overwrite=ask", "N\\nY\\n", "0 changed a, member b"},
      {"", "c\\n", "1 changed a, changed b"},              {"", "", "1 changed a, changed b"}};
  std::string out = dir + "/out", extract = mksfx + " -q --extract " + dir + "/x.lzh -C " + out;
  fs::create_directories(out);
  for (const auto &c : cases) {
    write_text(out + "/a.txt", "changed a"), write_text(out + "/b.txt", "changed b");
    int status = shell("printf '" + c[1] + "' | " + extract + " " + c[0]);
    EXPECT_EQ(std::to_string(status) + " " + read_text(out + "/a.txt") + ", " + read_text(out + "/b.txt"), c[2])
        << c[0] << c[1] << output;
  }
}

// --from-archive wraps an archive unchanged, and refuses one the stub would
// not extract as meant, naming the member and the reason.
TEST_F(MksfxTest, FromArchiveWrapsWholeArchivesAndNamesWhatItRefuses) {
  if (!exists(SFX_DIST_DIR "/sfxstub32.exe")) GTEST_SKIP() << "no stub in dist/: build with scripts/build";
  write_text(dir + "/one.txt", "one, one, one, one, one, one");
  std::string good = dir + "/good.lzh", out = dir + "/w.exe";
  ASSERT_EQ(shell(mksfx + " --archive-only --method lh0 -o " + good + " " + dir + "/one.txt"), 0);
  std::vector<uint8_t> archive = read_file(good);
  auto patched = [&](size_t at, uint8_t value) {  // one header byte, the header CRC made good again
    std::vector<uint8_t> b = archive;
    b[at] = value, set_header_crc(b);
    return b;
  };
  std::vector<uint8_t> damaged = archive;
  damaged[damaged.size() - 5] ^= 1;
  std::vector<uint8_t> seed = read_file(std::string(SFX_SOURCE_DIR) + "/tests/fuzz/corpus/fuzz_sfx/escapes");
  const std::pair<std::vector<uint8_t>, std::string> rows[] = {
      {patched(5, '1'), "member 1: "},  // -lh1-: "Bad header"
      {damaged, "one.txt: CRC ERROR"},
      {std::vector<uint8_t>(seed.begin() + 2, seed.end()), "../escape1.txt: a \"..\" step"},
  };
  for (const auto &r : rows) {
    write_file(dir + "/in.lzh", r.first);
    std::string output = capture(mksfx + " --stub " SFX_DIST_DIR "/sfxstub32.exe --from-archive " + dir +
                                 "/in.lzh -o " + out + " 2>&1; echo status=$?");
    EXPECT_NE(output.find(r.second), std::string::npos) << output;
    EXPECT_NE(output.find("status=2"), std::string::npos) << output;
    EXPECT_FALSE(exists(out));
  }
  ASSERT_EQ(shell(mksfx + " --stub " SFX_DIST_DIR "/sfxstub32.exe --integrity-sum --from-archive " + good + " -o " + out), 0);
  std::vector<uint8_t> sfx = read_file(out);
  uint32_t offset = read_u32(&sfx[512]);  // the sum, then the archive as it was
  EXPECT_EQ(std::vector<uint8_t>(sfx.begin() + offset + 2, sfx.end()), archive);
  EXPECT_EQ(shell(mksfx + " --test " + out), 0);
}

TEST_F(MksfxTest, HeaderBlockFieldsLandAtTheirOffsets) {
  if (!exists(SFX_DIST_DIR "/sfxstub32.exe")) GTEST_SKIP() << "no stub in dist/: build with scripts/build";
  std::string in = tree(), out = dir + "/setup.exe";
  ASSERT_EQ(shell("umask 022 && " + mksfx + " --stub " SFX_DIST_DIR "/sfxstub32.exe --title Title --dir-caption Where"
                  " --default-dir '%WinDir%\\App' --run app.exe --auto-start --overwrite-all"
                  " --keep-newer-off --integrity-sum --restore-attributes --elevation invoker -o " + out + " " + in), 0);
  std::vector<uint8_t> stub = read_file(SFX_DIST_DIR "/sfxstub32.exe"), b = read_file(out);
  EXPECT_EQ(read_u32(&b[512]), stub.size());
  EXPECT_EQ(std::vector<std::string>({(char *)&b[516], (char *)&b[557], (char *)&b[598], (char *)&b[854]}),
            (std::vector<std::string>{"Title", "Where", "%WinDir%\\App", "app.exe"}));
  EXPECT_EQ(std::vector<int>({b[1113], b[1114]}), std::vector<int>({0x0F, '/'}));  // flags, restore attributes
  EXPECT_TRUE(std::equal(stub.begin() + 1115, stub.end(), b.begin() + 1115));  // the rest of the stub untouched
  EXPECT_EQ(shell(mksfx + " --test " + out), 0);  // the integrity sum included
  EXPECT_EQ(fs::status(out).permissions(), fs::perms(0755));
  EXPECT_NE(capture(mksfx + " --list -v " + out).find("title: \"Title\"\ncaption: \"Where\"\ndefault folder: \"%WinDir%\\App\"\ncommand: "
            "\"app.exe\"\nflags: auto-start overwrite-all integrity-sum keep-newer-off restore-attributes\ncode page: 1252\nintegrity sum: "), std::string::npos);
  // Noise is stored: data out over data in is 100.0% without the stub, which is counted as written.
  std::string summary = capture(mksfx + " --stub " SFX_DIST_DIR "/sfxstub32.exe -o " + out + " " + in + "/noise.bin");
  EXPECT_NE(summary.find(" out (100.0%), " + std::to_string(fs::file_size(out)) + " bytes written"), std::string::npos) << summary;
}

TEST_F(MksfxTest, ErrorsNameTheProblemAndLeaveNoOutput) {
  std::string out = dir + "/out.exe";
  std::vector<uint8_t> stub(1236);  // as much of a stub as mksfx looks at
  stub[0] = 'M', stub[1] = 'Z', stub[60] = 0xD0, stub[61] = 0x04;
  write_file(dir + "/stub.exe", stub);
  put_files(dir, {"twin/README.TXT", "twin/readme.txt", "twin/Big.txt", "places/c:x", "places/\\x", "clean/a?b", "clean/a_b",
                  "%WinDir%/x.dll", "pipes/file", "big.txt", "\xE6\x97\xA5.txt", "deep/" + std::string(60, 'd') + "/" + std::string(199, 'n')});
  ASSERT_EQ(shell("mkfifo " + dir + "/pipes/fifo && ln -s . " + dir + "/pipes/self && ln -s /dev/null " + dir + "/pipes/null"), 0);
  std::vector<std::pair<std::string, std::string>> cases = {
      {"--archive-only -o " + out + " -C " + dir + " twin", "would both extract to twin/"},
      {"--archive-only -o " + out + " -C " + dir + " big.txt -C twin Big.txt", "would both extract to Big.txt"},
      {"-o " + out + " " + dir + "/missing", "missing: No such file"},
      {"--archive-only -o " + out + " " + dir + "/\xE6\x97\xA5.txt", "cannot be written in code page 1252"},
      {"--archive-only -o " + out + " " + dir + "/deep", "longer than 259 bytes"},
      {"-o " + out + " " + dir + "/pipes/fifo", "fifo: not a file or a directory"}, {"", "usage: mksfx -o OUT.exe"},
      {"-o " + out + " -C " + dir + "/places c:x", "\"c:x\" names a drive for the stub"},
      {"-o " + out + " -C " + dir + "/places \\\\x", "\"\\x\" names a root for the stub"},
      {"-o " + out + " -C " + dir + " clean", "would both extract to clean/a_b"},  // as the stub cleans a?b
  };
  for (auto [option, field] : {std::pair<std::string, int>{"title", 41}, {"dir-caption", 41}, {"default-dir", 256}, {"run", 259}})
    cases.push_back({"--stub " + dir + "/stub.exe --" + option + " " + std::string(field, 'x') + " -o " + out + " " + dir + "/big.txt",
                     "is longer than " + std::to_string(field - 1) + " bytes"});
  for (const auto &c : cases) {
    std::string output = capture("timeout 20 " + mksfx + " " + c.first + "; echo status=$?");
    EXPECT_NE(output.find(c.second), std::string::npos) << output;
    EXPECT_NE(output.find("status=2"), std::string::npos) << output;
    EXPECT_FALSE(exists(out));
  }
  EXPECT_EQ(shell(mksfx + " --archive-only --codepage 932 -o " + out + " " + dir + "/\xE6\x97\xA5.txt"), 0);
  EXPECT_NE(read_text(out).find("\x93\xFA.txt"), std::string::npos);  // Shift-JIS, listed as UTF-8 again
  EXPECT_NE(capture(mksfx + " --codepage 932 --list " + out).find("\xE6\x97\xA5.txt"), std::string::npos);
  std::string pipes = capture("timeout 20 " + mksfx + " --archive-only -o " + out + " -C " + dir + " pipes %WinDir%");
  EXPECT_NE(pipes.find("fifo: not a file or a directory, left out"), std::string::npos) << pipes;  // in a tree
  EXPECT_NE(pipes.find("null: not a file or a directory, left out"), std::string::npos) << pipes;  // a device
  EXPECT_NE(pipes.find("pipes/self: a link back to a folder it is in, left out"), std::string::npos) << pipes;
  write_file(dir + "/wrap.lzh", raw_archive({{"", "a", '0', ""}, {"", "w", '0', "", 4294967226, 4294967226}}));  // to 0
  EXPECT_NE(capture("timeout 20 " + mksfx + " --list " + dir + "/wrap.lzh").find("Unexpeted EOF"), std::string::npos);
  EXPECT_NE(pipes.find("%WinDir%/: extracts into the directory its macro names"), std::string::npos) << pipes;
}

TEST_F(MksfxTest, OutputIsDeterministicLeavesItselfOutAndSourceDateEpochCapsTimes) {
  std::string in = tree(), pack = "SOURCE_DATE_EPOCH=1500000000 " + mksfx + " --archive-only -o " + in + "/a.lzh -C " + dir + " in";
  ASSERT_EQ(shell(pack), 0);
  std::vector<uint8_t> b = read_file(in + "/a.lzh");
  // Again, with that output now in the tree: it is left out, and the bytes are the same.
  ASSERT_EQ(shell(pack), 0);
  EXPECT_EQ(read_file(in + "/a.lzh"), b);
  EXPECT_EQ(read_u32(&b[15]), 1500000000u);
  // Worked out by hand: CRC-16/ARC of "1" is 0xD4C1, and 1,500,000,000 is
  // 2017-07-14 02:40:00 UTC.
  EXPECT_NE(capture(mksfx + " --list -v " + in + "/a.lzh").find("-lh0-          1          1 100.0% 2017-07-14 02:40:00 ---a D4C1 in/one\n"),
            std::string::npos);
}

// One row per option and error, per way of naming members (as tar names
// them; n packs and prints the member paths), per place the output may go,
// and per status of each mode on whole, damaged, cut, foreign, empty and
// missing files.
TEST_F(MksfxTest, OptionsNamesOutputsAndStatusesRowByRow) {
  fs::create_directories(dir + "/tree/docs");
  for (std::string name : {"tree/old.txt", "tree/docs/a.txt", "tree/docs/b.o"}) write_text(dir + "/" + name, "x");
  write_text(dir + "/n", "$M -q --archive-only -o n.lzh \"$@\" && $M --list n.lzh | awk 'BEGIN {printf \"=\"} NF == 5 {printf \"%s \", $5} END {printf \"=\"}'");
  write_text(dir + "/a.txt", "aaaa"), write_text(dir + "/-dash.txt", "dash");
  write_file(dir + "/noise.bin", pattern_bytes(1000000, 3));
  for (size_t size : {1023u, 1024u, 4095u, 4096u}) write_text(dir + "/t" + std::to_string(size), std::string(size, 't'));
  ASSERT_EQ(shell("cd " + dir + " && ln -s nowhere tree/docs/dangle && touch -m -d @1000000000 tree/old.txt && "
                  "mkdir sub && ln -s real.lzh sub/link.lzh && ln -s a.txt to-a && : >empty && " + mksfx +
                  " -q --archive-only -o x.lzh a.txt -C .. " + fs::path(dir).filename().string() + "/a.txt"), 0);
  std::vector<uint8_t> x = read_file(dir + "/x.lzh"), bad = x;  // two stored members of 4 bytes
  bad[x[0] | x[1] << 8] ^= 1;  // the first member's data, after its header
  write_file(dir + "/bad.lzh", bad);
  write_file(dir + "/cut.lzh", std::vector<uint8_t>(x.begin(), x.end() - 8));  // into the second header
  run_rows(dir, {
      {"$M --archive-only --output=o.lzh --method=lh0 a.txt", 0, "o.lzh: 1 member, 4 bytes in"},
      // The progress line on a terminal only, the summary unless -q.
      {"script -qec '$M --archive-only -o p.lzh noise.bin' /dev/null", 0, "\r1.0 MB of 1.0 MB  100%"},
      {"$M --archive-only -o p.lzh noise.bin", 0, "p.lzh: 1 member, 1000000 bytes in"},
      {"script -qec '$M --test p.lzh' /dev/null", 0, "\r\x1b[K-lh7-    1000000"},  // cleared for a member line
      {"echo =$($M --archive-only -o p.lzh noise.bin 2>&1 | grep -c ' MB of ')=$($M -q --archive-only -o p.lzh noise.bin 2>&1)", 0, "=0=\n"},
      {"$M --archive-only -qo - --message a.txt a.txt | grep -ao -- -lh0- | wc -l", 0, "2"},  // bundled, - is standard output, and what does not shrink is stored
      {"$M --archive-only -o o.lzh -- -dash.txt && $M --list o.lzh", 0, " -dash.txt\n"},
      {"$M --list=x.lzh", 0, " a.txt\n"}, {"$M -v --test x.lzh", 0, "100.0% "},
      {"$M --extract -C out x.lzh", 0, "x.lzh: 8 bytes extracted"},
      {"$M --extract=x.lzh --directory=out --overwrite never", 0, "x.lzh: 0 bytes extracted"},
      {"$M --version", 0, "mksfx "}, {"$M --help", 0, "usage: mksfx -o OUT.exe"},
      // The stub beside mksfx by default (here the 64-bit one under the 32-bit name): all but the block is its.
      {"mkdir bin && cp $M bin && cp " SFX_DIST_DIR "/sfxstub64.exe bin/sfxstub32.exe && bin/mksfx -qo s.exe a.txt && "
       "cmp -n 464 -i 48 s.exe bin/sfxstub32.exe && cmp -n 30000 -i 1115 s.exe bin/sfxstub32.exe && echo same", 0, "same"},
      {"$M --bogus", 2, "unrecognized option '--bogus'\nmksfx: try 'mksfx --help'"},
      {"$M a.txt -o", 2, "requires an argument"}, {"$M --best=3 -o o.lzh a.txt", 2, "doesn't allow an argument"},
      {"$M --list x.lzh --test x.lzh", 2, "--list and --test do not go together"},
      {"$M --list x.lzh x.lzh", 2, "--list takes one FILE"}, {"$M --test", 2, "--test needs a FILE"},
      {"$M --test x.lzh --method lh5", 2, "--method does not go with --test"},
      {"$M --extract x.lzh -o o.lzh", 2, "-o does not go with --extract"},
      {"$M --list x.lzh -C out", 2, "-C does not go with --list"},
      {"$M -o o.lzh --overwrite=all a.txt", 2, "--overwrite goes with --extract"},
      {"$M -v -o o.lzh a.txt", 2, "-v goes with --list or --test"},
      {"$M --overwrite=maybe --extract x.lzh", 2, "bad value for --overwrite: maybe"},
      {"$M --time=12x -o o.lzh a.txt", 2, "bad value for --time: 12x"},
      {"$M --method=lh9 -o o.lzh a.txt", 2, "unknown method lh9"},
      {"$M --codepage=437 -o o.lzh a.txt", 2, "unsupported code page 437"},
      {"truncate -s 4G huge && $M --archive-only -o h.lzh huge", 2, "huge: 4 GiB or larger"},
      {"$M a.txt", 2, "no output file (-o)"}, {"$M -o o.lzh", 2, "nothing to pack"},
      {"$M --from-archive=x.lzh -o o.exe a.txt", 2, "--from-archive takes no other inputs"},
      {"$M --from-archive=x.lzh --archive-only -o o.lzh", 2, "--from-archive makes a self-extractor"},
      {"$M -q --archive-only -o sub/link.lzh a.txt && test -L sub/link.lzh && $M --list sub/real.lzh", 0, " a.txt\n"},
      {"$M -q --archive-only -o /dev/full a.txt", 2, "/dev/full: No space left on device"},
      {"$M -q --archive-only -o a.txt a.txt", 2, "a.txt: the output file is also an input"},
      {"$M -q --archive-only -o to-a -C . a.txt", 2, "a.txt: the output file is also an input"},
      {"umask 027 && $M -q --archive-only -o m.lzh a.txt && stat -c %a m.lzh && cat a.txt", 0, "640\naaaa"},
      {"$M --archive-only -o m.lzh --message t1023 --script t4095", 0, "2 members"},
      {"$M --archive-only -o m.lzh --message t1024", 2, "longer than the 1023 bytes"},
      {"$M --archive-only -o m.lzh --script t4096", 2, "longer than the 4095 bytes"},
      {"$M --test x.lzh", 0, "x.lzh: 8 bytes decoded and checked"}, {"$M --test bad.lzh", 1, "CRC ERROR"},
      {"$M --extract bad.lzh -C out2", 1, "CRC ERROR"}, {"$M --extract cut.lzh -C out3", 1, "cut.lzh: 0 bytes extracted"},
      {"$M --test a.txt", 1, "a.txt: not an archive"}, {"$M --list empty", 1, "empty: not an archive"},
      {"$M --test empty", 1, "empty: not an archive"}, {"$M --extract a.txt", 1, "a.txt: not an archive"},
      {"$M --test missing", 2, "missing: No such file or directory"},
      {"sh n tree/old.txt tree/docs", 0, "tree/docs/dangle: a symbolic link to nothing, left out\n=tree/old.txt tree/docs/ tree/docs/a.txt tree/docs/b.o ="},
      {"sh n tree/docs/", 0, "=tree/docs/ tree/docs/a.txt tree/docs/b.o ="}, {"sh n -C tree docs/a.txt ./old.txt", 0, "=docs/a.txt old.txt ="},
      {"sh n -C tree " + dir + "/tree/old.txt", 0, "removing leading '/' from member names\n=" + dir.substr(1) + "/tree/old.txt ="},
      {"sh n -C tree/docs ../old.txt ../docs/a.txt", 0, "removing leading '../' from member names\n=old.txt docs/a.txt ="},
      {"sh n tree/docs/../../a.txt", 0, "removing leading 'tree/docs/../../' from member names\n=a.txt ="},
      {"sh n -C tree .", 0, "=docs/ docs/a.txt docs/b.o old.txt ="}, {"sh n --exclude tree/docs tree", 0, "=tree/ tree/old.txt ="},
      {"sh n --exclude b.o --exclude=old.txt tree", 0, "=tree/ tree/docs/ tree/docs/a.txt ="},  // base names at any depth
      {"sh n --exclude 'd*' -C tree .", 0, "=old.txt ="}, {"sh n --exclude 'tree*.o' tree", 0, "=tree/ tree/docs/ tree/docs/a.txt tree/old.txt ="},
      {"ln -s a.txt lnk && sh n lnk && $M --list n.lzh", 0, "-lh0-          4          4"},
      {"sh n tree/docs/dangle", 2, "dangle: a symbolic link to nothing"},
      {"mkdir -p s/a && echo x >s/a/f && ln -s a s/b && sh n s 2>&1", 0, "=s/ s/a/ s/a/f s/b/ s/b/f ="},  // a sibling, no loop
      // The modification time, not the time of the last change of status.
      {"sh n tree/old.txt && $M --list -v n.lzh", 0, " 2001-09-09 01:46:40 ---a "},
      // lh7 unless told; --time pins every time; times the stub cannot restore are clamped.
      {"$M -q --archive-only -o t.lzh --time 1000 t1023 && $M --list -v t.lzh | awk '{print $1, $5, $6}'", 0, "-lh7- 1970-01-01 00:16:40"},
      {"touch -d @-100 early && touch -d @5000000000 late && sh n early late && $M --list -v n.lzh | awk '{print $5, $6}'", 0, "1970-01-01 00:00:00\n2106-02-07 06:28:15\n"},
      {"mkdir here && cd here && $M --extract ../x.lzh && cat a.txt", 0, "aaaa"},  // into the current directory
      // Past 2038 as it is; a file nobody may write is read-only.
      {"echo r >ro && touch -m -d @4000000000 ro && chmod 444 ro && sh n ro && $M --list -v n.lzh", 0, " 2096-10-02 07:06:40 r--a "},
      // The question waits alone on the terminal: answered a second after it shows, the echo comes right after it.
      {"for n in 1 2; do for i in $(seq 200); do [ $(grep -aoF '[c]ancel: ' t.out | wc -l) -ge $n ] && break; sleep 0.1; done; sleep 1; echo y; done"
       " | script -qec '$M --extract x.lzh -C out' /dev/null >t.out; cat t.out", 0, "[c]ancel: y"},
  });
}

TEST_F(MksfxTest, ProgressTextAtTheStartHalfWayAndTheEnd) {
  EXPECT_EQ(progress_text(0, 100000000, 1.0), "0.0 MB of 100.0 MB    0%  0.0 MB/s");
  EXPECT_EQ(progress_text(25000000, 100000000, 10.0), "25.0 MB of 100.0 MB   25%  2.5 MB/s  30 s left");
  EXPECT_EQ(progress_text(50000000, 100000000, 10.0), "50.0 MB of 100.0 MB   50%  5.0 MB/s  10 s left");
  EXPECT_EQ(progress_text(100000000, 100000000, 20.0), "100.0 MB of 100.0 MB  100%  5.0 MB/s");
}

// A 256-byte header takes a pad byte (257): lhasa and jlha read every size.
TEST_F(MksfxTest, HeadersOf255To257BytesReadBackByLhasaAndJlha) {
  auto pack = [&](size_t n) {
    write_text(dir + "/" + std::string(n, 'n'), "x"), shell("cd " + dir + " && " + mksfx + " -q --archive-only --method lh0 -o h.lzh " + std::string(n, 'n'));
    std::vector<uint8_t> h = read_file(dir + "/h.lzh");
    return h[0] | h[1] << 8;
  };
  size_t n = 150;
  while (n < 250 && pack(n) < 255) ++n;
  for (int expected : {255, 257, 257}) {
    EXPECT_EQ(pack(n), expected);
    std::string name = std::string(n++, 'n') + "\n", out = capture("cd " + dir + " && lhasa l h.lzh && jlha l h.lzh");
    EXPECT_NE(out.find(name, out.find(name) + 1), std::string::npos) << out;  // listed by both
  }
}

// A UTF-8 tree packed in each code page comes back as it was; the
// self-extractor says its code page, a plain archive takes --codepage.
TEST_F(MksfxTest, NamesInAnyLanguageComeBackThroughTheirCodePage) {
  if (!exists(SFX_DIST_DIR "/sfxstub32.exe")) GTEST_SKIP() << "no stub in dist/: build with scripts/build";
  struct Row { std::string codepage, output, extract; std::vector<std::string> names; };
  const Row rows[] = {
      {"1252", "sfx.exe", "", {"r\xC3\xA9sum\xC3\xA9.txt", "\xC3\x9Cn\xC3\xAF/na\xC3\xAFve \xC5\x92uvre.txt"}},
      // 表's second byte in 932 is '\\', which stays part of the name; ｱ is one byte
      {"932", "sfx.exe", "", {"\xE6\x97\xA5\xE6\x9C\xAC/\xE8\xA1\xA8.txt", "\xEF\xBD\xB1.txt"}},
      {"932", "a.lzh", " --codepage 932", {"\xE3\x83\x86\xE3\x82\xB9\xE3\x83\x88/\xCE\xA9.txt"}},
      {"1252", "a.lzh", "", {"\xC3\xA9t\xC3\xA9.txt"}},  // a plain archive read in 1252 unless told
  };
  for (const Row &r : rows) {
    std::string in = dir + "/in" + r.codepage + r.output, out = dir + "/out" + r.codepage + r.output;
    put_files(in, r.names, nullptr);
    std::string archive = dir + "/" + r.codepage + r.output;
    ASSERT_EQ(shell(mksfx + " -q --stub " SFX_DIST_DIR "/sfxstub32.exe" + (r.output == "a.lzh" ? " --archive-only" : "") +
                    " --codepage " + r.codepage + " -o " + archive + " -C " + in + " ."), 0) << output;
    EXPECT_NE(capture(mksfx + " --list " + archive + r.extract).find(r.names[0]), std::string::npos) << r.names[0];
    ASSERT_EQ(shell(mksfx + " -q --extract " + archive + " -C " + out + r.extract), 0) << output;
    EXPECT_EQ(shell("diff -r " + in + " " + out), 0) << output;
    std::string again = capture(mksfx + " -q --extract " + archive + " -C " + out + r.extract + " </dev/null");
    EXPECT_NE(again.find("/" + r.names[0] + "\" Overwrite?"), std::string::npos) << again;  // asked in UTF-8
  }
  // Every name the code page cannot hold, in one run, with the one that can.
  put_files(dir + "/unfit", {"\xCE\xA9.txt", "\xE6\x97\xA5/a.txt", "\xE6\x97\xA5/b.txt", "\xED\x95\x9C.txt", "ok.txt"});
  EXPECT_EQ(capture(mksfx + " --archive-only -o " + dir + "/u.lzh -C " + dir + "/unfit .; echo status=$?"),
            "mksfx: 3 names cannot be written in code page 1252:\n"
            "  \xCE\xA9.txt (code page 932 holds it)\n  \xE6\x97\xA5 (code page 932 holds it)\n"
            "  \xED\x95\x9C.txt (neither 1252 nor 932 holds it)\nstatus=2\n");
}

// Windows drops trailing dots and spaces and compares letters without case,
// in the code page's own pairs too; the stub takes '\\' for a separator.
TEST_F(MksfxTest, NamesWindowsTakesForOneAreRefusedAndNamesWrittenOtherwiseNoted) {
  struct Row { std::string codepage; std::vector<std::string> names; std::string expected, default_dir = "'%ProgramFiles%\\App'"; };
  const std::string d60(60, 'd'), n189(189, 'n');
  const Row rows[] = {
      {"1252", {"trail", "trail."}, "/trail. would both extract to trail."}, {"1252", {"_ux.c", "aux.c"}, "aux.c would both extract to"},
      {"1252", {"sp", "sp  "}, "/sp   would both extract to sp  "},
      {"1252", {"\xC3\x89.txt", "\xC3\xA9.txt"}, "/\xC3\xA9.txt would both extract to \xC3\xA9.txt"},  // É é
      {"932", {"\xEF\xBC\xA1.txt", "\xEF\xBD\x81.txt"}, "would both extract to \xEF\xBD\x81.txt"},  // Ａ ａ
      {"932", {"\xCE\xA9", "\xCF\x89"}, "would both extract to \xCF\x89"},                       // Ω ω
      {"932", {"\xD0\x94", "\xD0\xB4"}, "would both extract to \xD0\xB4"},                       // Д д
      {"1252", {"d/x", "d\\x"}, "would both extract to d\\x"},
      {"1252", {"E.txt", "\xC3\x89.txt"}, "status=0"},  // not a case pair
      {"932", {"\xEF\xBD\xB1", "\xE3\x82\xA2"}, "status=0"},  // ｱ and ア: two letters
      {"1252", {"back\\slash.txt"}, "back\\slash.txt: extracts as back/slash.txt\n"},
      {"1252", {"end."}, "end.: extracts as end\n"}, {"1252", {"a?b"}, "a?b: extracts as a_b\n"},
      {"1252", {d60 + "/" + n189}, n189 + ": 271 bytes below the default directory, more than the 259"},
      {"1252", {d60 + "/" + n189 + "nnnnnnnnn"}, "nnnnnnnnn: 262 bytes below the default directory", "''"},  // 259 fit; a bare drive
  };
  int n = 0;
  for (const Row &r : rows) {
    std::string in = dir + "/c" + std::to_string(++n), out = dir + "/c" + std::to_string(n) + ".lzh";
    put_files(in, r.names);
    std::string got = capture(mksfx + " -q --archive-only --default-dir=" + r.default_dir + " --codepage " +
                              r.codepage + " -o " + out + " -C " + in + " .; echo status=$?");
    EXPECT_NE(got.find(r.expected), std::string::npos) << r.names[0] << ": " << got;
    EXPECT_EQ(got.find("status=2") == std::string::npos, exists(out)) << got;
  }
}

// jlha's level-0 and level-1 archives get level-2 headers over the same
// data, names and times; a self-extractor gives its archive and its settings.
TEST_F(MksfxTest, FromArchiveTakesOldHeaderLevelsAndSelfExtractors) {
  if (!exists(SFX_DIST_DIR "/sfxstub32.exe")) GTEST_SKIP() << "no stub in dist/: build with scripts/build";
  ASSERT_EQ(shell("command -v jlha"), 0) << "jlha (jlha-utils) is needed";
  std::string in = dir + "/in", stub = " --stub " SFX_DIST_DIR "/sfxstub32.exe";
  fs::create_directories(in + "/sub");
  write_file(in + "/a.txt", pattern_bytes(20000, 7));
  write_text(in + "/sub/b.txt", "b");
  ASSERT_EQ(shell("touch -d '2001-02-03 04:05:06 UTC' " + in + "/a.txt"), 0);
  for (char level : {'0', '1'}) {
    std::string lzh = dir + "/l" + level + ".lzh", exe = dir + "/l" + level + ".exe", out = dir + "/out" + level;
    ASSERT_EQ(shell(std::string("cd ") + in + " && TZ=EST5 jlha a" + level + "qo5 " + lzh + " a.txt sub"), 0) << output;
    ASSERT_EQ(read_file(lzh)[20], level - '0') << "jlha wrote another header level";
    ASSERT_EQ(shell("TZ=EST5 " + mksfx + stub + " -q --from-archive " + lzh + " -o " + exe), 0) << output;
    std::vector<uint8_t> b = read_file(exe), old = read_file(lzh);
    const uint32_t at = read_u32(&b[512]);  // level 2, the operating system kept (level 0 has none: MS-DOS)
    EXPECT_EQ(std::make_pair(b[at + 20], b[at + 23]), std::make_pair((uint8_t)2, level == '0' ? (uint8_t)'M' : old[24 + old[21]]));
    EXPECT_NE(capture(mksfx + " --list -v " + exe).find("2001-02-03 04:05:06 ---a"), std::string::npos);
    ASSERT_EQ(shell(mksfx + " -q --extract " + exe + " -C " + out), 0) << output;
    EXPECT_EQ(shell("diff -r " + in + " " + out), 0) << output;
    auto patched = [&](size_t at, uint8_t value, bool sum_good) {  // one byte of the first header
      std::vector<uint8_t> p = old;
      p[at] = value;
      uint8_t sum = 0;
      for (size_t i = 2; i < (size_t)p[0] + 2u; ++i) sum = (uint8_t)(sum + p[i]);
      if (sum_good) p[1] = sum;
      return p;
    };
    const std::pair<std::vector<uint8_t>, std::string> refused[] = {
        {patched(5, '1', true), "a.txt: method -lh1-, which the stub cannot extract (header level "},
        {patched(9, 0x7F, false), "a.txt: header checksum wrong (header level "},
        {patched(20, 3, true), "member 1: not a header level mksfx reads (header level 3)"},
        {patched(old.size() - 2, 'c', true), "sub/b.txt: CRC ERROR"}};  // its one byte of data
    for (const auto &r : refused) {
      write_file(dir + "/bad.lzh", r.first);
      std::string got = capture(mksfx + stub + " --from-archive " + dir + "/bad.lzh -o " + dir + "/bad.exe; echo status=$?");
      EXPECT_NE(got.find(r.second), std::string::npos) << got;
      EXPECT_NE(got.find("status=2"), std::string::npos) << got;
    }
  }
  std::string jp = dir + "/jp", old = dir + "/old.exe", again = dir + "/again.exe";
  fs::create_directories(jp);
  write_text(jp + "/\xE8\xA1\xA8.txt", "x");
  ASSERT_EQ(shell(mksfx + stub + " -q --title Old --dir-caption Cap --default-dir 'C:\\Old' --run go.exe --integrity-sum --codepage 932 -o " +
                  old + " -C " + jp + " ."), 0) << output;
  ASSERT_EQ(shell(mksfx + stub + " -q --from-archive " + old + " --title New -o " + again), 0) << output;
  std::vector<uint8_t> b = read_file(again);
  EXPECT_EQ(std::vector<std::string>({(char *)&b[516], (char *)&b[557], (char *)&b[598], (char *)&b[854], std::string((char *)&b[36], 11)}),
            (std::vector<std::string>{"New", "Cap", "C:\\Old", "go.exe", "mksfx cp932"}));
  EXPECT_EQ(b[1113], 0x04);  // the integrity sum kept
  ASSERT_EQ(shell(mksfx + " -q --extract " + again + " -C " + dir + "/jp-out"), 0) << output;
  EXPECT_EQ(shell("diff -r " + jp + " " + dir + "/jp-out"), 0) << output;
}

}  // namespace
