// The builder against independent LZH coders (its archives extract through
// lhasa and 7z; jlha's, from Debian's jlha-utils, through the stub), the
// header block and integrity sum, errors, listing and determinism.
#include "member_stream.h"
#include "support.h"
#include <algorithm>
#include <filesystem>
#include <random>
#include <sys/wait.h>

namespace {

namespace fs = std::filesystem;

std::string output;  // what the last shell() printed, for failure messages

std::string capture(const std::string &command, int *status = nullptr) {
  std::string out;
  FILE *p = popen(("(" + command + ") 2>&1").c_str(), "r");
  char buffer[4096];
  for (size_t n; (n = fread(buffer, 1, sizeof(buffer), p)) > 0;) out.append(buffer, n);
  int r = pclose(p);
  if (status) *status = WIFEXITED(r) ? WEXITSTATUS(r) : -1;
  return out;
}

int shell(const std::string &command) {
  int status;
  output = capture(command, &status);
  return status;
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

// --extract runs the stub's member loop: parent steps stay inside, and a
// member that names a place of its own (here a rooted path, inside this
// test's directory should the refusal ever fail) is refused.
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

TEST_F(MksfxTest, ExtractWritesNothingOutsideTheDestination) {
  write_file(dir + "/hostile.lzh", raw_archive({{"", "../escape1.txt", '0', "x"}, {"", dir + "/rooted.txt", '0', "x"}}));
  std::string output = capture(mksfx + " --extract " + dir + "/hostile.lzh -C " + dir + "/a/b/out 2>&1; echo status=$?");
  EXPECT_NE(output.find("rooted.txt\" Open ERROR"), std::string::npos) << output;
  EXPECT_NE(output.find("status=1"), std::string::npos) << output;
  EXPECT_EQ(written_outside(dir + "/a/b/out", {dir + "/hostile.lzh"}), std::vector<std::string>{});
  EXPECT_TRUE(exists(dir + "/a/b/out/_./escape1.txt"));
}

// --extract over changed files: each option and answer keeps or replaces them; no answer cancels.
TEST_F(MksfxTest, ExtractReplacesExistingFilesOnlyWhenToldTo) {
  write_text(dir + "/a.txt", "member a");
  write_text(dir + "/b.txt", "member b");
  std::string from = " -C " + fs::path(dir).parent_path().string() + " -C " + fs::path(dir).filename().string();
  ASSERT_EQ(shell(mksfx + " -q --archive-only -o " + dir + "/x.lzh" + from + " a.txt b.txt"), 0) << output;  // as tar
  const std::string cases[][3] = {  // option, answers; status and the two files after
      {"--overwrite=all", "", "0 member a, member b"},   {"--overwrite=never", "", "0 changed a, changed b"},
      {"", "y\\nn\\n", "0 member a, changed b"},         {"--overwrite=ask", "N\\nY\\n", "0 changed a, member b"},
      {"", "c\\n", "1 changed a, changed b"},              {"", "", "1 changed a, changed b"}};
  std::string out = dir + "/out", extract = mksfx + " -q --extract " + dir + "/x.lzh -C " + out;
  fs::create_directories(out);
  for (const auto &c : cases) {
    write_text(out + "/a.txt", "changed a");
    write_text(out + "/b.txt", "changed b");
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
    b[at] = value;
    set_header_crc(b);
    return b;
  };
  std::vector<uint8_t> damaged = archive;
  damaged[damaged.size() - 5] ^= 1;
  std::vector<uint8_t> seed = read_file(std::string(SFX_SOURCE_DIR) + "/tests/fuzz/corpus/fuzz_sfx/escapes");
  const std::pair<std::vector<uint8_t>, std::string> rows[] = {
      {patched(20, 1), "one.txt: header level 1, not 2"},
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
  ASSERT_EQ(shell(mksfx + " --stub " SFX_DIST_DIR "/sfxstub32.exe --integrity-sum --from-archive " + good +
                  " -o " + out),
            0);
  std::vector<uint8_t> sfx = read_file(out);
  uint32_t offset = read_u32(&sfx[512]);  // the sum, then the archive as it was
  EXPECT_EQ(std::vector<uint8_t>(sfx.begin() + offset + 2, sfx.end()), archive);
  EXPECT_EQ(shell(mksfx + " --test " + out), 0);
}

// The progress line rewrites itself on a terminal only; the summary comes
// always, unless -q.
TEST_F(MksfxTest, ProgressOnlyOnATerminalAndOneSummary) {
  write_file(dir + "/noise.bin", pattern_bytes(1000000, 3));
  std::string pack = mksfx + " --archive-only -o " + dir + "/p.lzh " + dir + "/noise.bin";
  std::string on_terminal = capture("script -qec '" + pack + "' /dev/null");
  std::string plain = capture(pack + " 2>&1"), quiet = capture(pack + " -q 2>&1");
  EXPECT_NE(on_terminal.find("\r1.0 MB of 1.0 MB  100%"), std::string::npos) << on_terminal;
  EXPECT_NE(on_terminal.find("1 member, 1000000 bytes in"), std::string::npos) << on_terminal;
  EXPECT_EQ(plain.find(" MB of "), std::string::npos) << plain;
  EXPECT_NE(plain.find("1 member, 1000000 bytes in"), std::string::npos) << plain;
  EXPECT_EQ(quiet, "");
}

TEST_F(MksfxTest, HeaderBlockFieldsLandAtTheirOffsets) {
  if (!exists(SFX_DIST_DIR "/sfxstub32.exe")) GTEST_SKIP() << "no stub in dist/: build with scripts/build";
  std::string in = tree();
  std::string out = dir + "/setup.exe";
  ASSERT_EQ(shell(mksfx + " --stub " SFX_DIST_DIR "/sfxstub32.exe --title Title --dir-caption Where"
                  " --default-dir '%WinDir%\\App' --run app.exe --auto-start --overwrite-all"
                  " --keep-newer-off --integrity-sum --restore-attributes -o " + out + " " + in),
            0);
  std::vector<uint8_t> stub = read_file(SFX_DIST_DIR "/sfxstub32.exe"), b = read_file(out);
  uint32_t offset = read_u32(&b[512]);
  EXPECT_EQ(offset, stub.size());
  EXPECT_EQ(std::vector<std::string>({(char *)&b[516], (char *)&b[557], (char *)&b[598], (char *)&b[854]}),
            (std::vector<std::string>{"Title", "Where", "%WinDir%\\App", "app.exe"}));
  EXPECT_EQ(std::vector<int>({b[1113], b[1114]}), std::vector<int>({0x0F, '/'}));  // flags, restore attributes
  EXPECT_TRUE(std::equal(stub.begin() + 1115, stub.end(), b.begin() + 1115));  // the rest of the stub untouched
  EXPECT_EQ(shell(mksfx + " --test " + out), 0);  // the integrity sum included
}

TEST_F(MksfxTest, ErrorsNameTheProblemAndLeaveNoOutput) {
  std::string out = dir + "/out.exe";
  write_text(dir + "/big.txt", std::string(1024, 'm'));
  write_text(dir + "/\xE6\x97\xA5.txt", "a kanji");
  std::string deep = dir + "/deep";
  fs::create_directories(deep + "/" + std::string(60, 'd'));
  write_text(deep + "/" + std::string(60, 'd') + "/" + std::string(199, 'n'), "x");
  std::vector<uint8_t> stub(1236);  // as much of a stub as mksfx looks at
  stub[0] = 'M', stub[1] = 'Z', stub[60] = 0xD0, stub[61] = 0x04;
  write_file(dir + "/stub.exe", stub);
  for (std::string name : {"twin/README.TXT", "twin/readme.txt", "twin/Big.txt", "places/c:x", "places/\\x",
                           "clean/a?b", "clean/a_b", "%WinDir%/x.dll", "pipes/file"}) {
    fs::create_directories(fs::path(dir + "/" + name).parent_path());
    write_text(dir + "/" + name, "x");
  }
  ASSERT_EQ(shell("mkfifo " + dir + "/pipes/fifo && ln -s . " + dir + "/pipes/self"), 0);
  const std::pair<std::string, std::string> cases[] = {
      {"--archive-only -o " + out + " " + dir + "/twin", "would both extract to twin/"},
      {"--archive-only -o " + out + " " + dir + "/big.txt " + dir + "/twin/Big.txt", "would both extract to Big.txt"},
      {"-o " + out + " " + dir + "/missing", "missing: No such file"},
      {"--method lh9 -o " + out + " " + dir + "/one", "unknown method lh9"},
      {"--archive-only --message " + dir + "/big.txt -o " + out, "longer than the 1023 bytes"},
      {"--archive-only -o " + out + " " + dir + "/\xE6\x97\xA5.txt", "cannot be written in code page 1252"},
      {"--archive-only -o " + out + " " + deep, "longer than 259 bytes"},
      {"--stub " + dir + "/stub.exe --title " + std::string(41, 't') + " -o " + out + " " + dir + "/big.txt",
       "title is longer than 40"},
      {"-o " + out + " " + dir + "/pipes/fifo", "fifo: not a file or a directory"},
      {"", "usage: mksfx -o OUT.exe"},
      {"-o " + out + " -C " + dir + "/places c:x", "\"c:x\" names a drive for the stub"},
      {"-o " + out + " -C " + dir + "/places \\\\x", "\"\\x\" names a root for the stub"},
      {"-o " + out + " " + dir + "/clean", "would both extract to clean/a_b"},  // as the stub cleans a?b
  };
  for (const auto &c : cases) {
    std::string output = capture("timeout 20 " + mksfx + " " + c.first + "; echo status=$?");
    EXPECT_NE(output.find(c.second), std::string::npos) << output;
    EXPECT_NE(output.find("status=2"), std::string::npos) << output;
    EXPECT_FALSE(exists(out));
  }
  EXPECT_EQ(shell(mksfx + " --archive-only --codepage 932 -o " + out + " " + dir + "/\xE6\x97\xA5.txt"), 0);
  EXPECT_NE(capture(mksfx + " --list " + out).find("\x93\xFA.txt"), std::string::npos);  // Shift-JIS
  std::string pipes =
      capture("timeout 20 " + mksfx + " --archive-only -o " + out + " " + dir + "/pipes " + dir + "/%WinDir%");
  EXPECT_NE(pipes.find("fifo: not a file or a directory, left out"), std::string::npos) << pipes;  // in a tree
  EXPECT_NE(pipes.find("pipes/self: a link back to a folder it is in, left out"), std::string::npos) << pipes;
  write_file(dir + "/wrap.lzh", raw_archive({{"", "a", '0', ""}, {"", "w", '0', "", 4294967226, 4294967226}}));  // to 0
  EXPECT_NE(capture("timeout 20 " + mksfx + " --list " + dir + "/wrap.lzh").find("Unexpeted EOF"), std::string::npos);
  EXPECT_NE(pipes.find("%WinDir%/: extracts into the directory its macro names"), std::string::npos) << pipes;
}

TEST_F(MksfxTest, OutputIsDeterministicLeavesItselfOutAndSourceDateEpochCapsTimes) {
  std::string in = tree();
  std::string pack = "SOURCE_DATE_EPOCH=1500000000 " + mksfx + " --archive-only -o " + in + "/a.lzh " + in;
  ASSERT_EQ(shell(pack), 0);
  std::vector<uint8_t> b = read_file(in + "/a.lzh");
  // Again, with that output now in the tree: it is left out, and the bytes are the same.
  ASSERT_EQ(shell(pack), 0);
  EXPECT_EQ(read_file(in + "/a.lzh"), b);
  EXPECT_EQ(read_u32(&b[15]), 1500000000u);
  // Worked out by hand: CRC-16/ARC of "1" is 0xD4C1, and 1,500,000,000 is
  // 2017-07-14 02:40:00 UTC.
  EXPECT_NE(capture(mksfx + " --list -v " + in + "/a.lzh").find("-lh0-          1          1 100.0% 2017-07-14 "
                                                                 "02:40:00 ---a D4C1 in/one\n"),
            std::string::npos);
}

}  // namespace
