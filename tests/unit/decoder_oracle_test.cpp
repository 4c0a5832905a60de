// The decoder against an encoder it shares nothing with: archives made at
// test time by jlha (Debian's jlha-utils), checked by lhasa, extracted by the
// whole program and compared with the files they were made from.
#include "support.h"
#include <filesystem>
#include <random>
#include <sys/wait.h>

namespace {

class DecoderOracleTest : public SfxTest {};

int shell(const std::string &command) {
  int r = system((command + " >/dev/null 2>&1").c_str());
  return WIFEXITED(r) ? WEXITSTATUS(r) : -1;
}

// Text with copies from near and far back: long and short positions and
// lengths of every size.
std::vector<uint8_t> copies(std::mt19937 &rng, size_t size) {
  std::vector<uint8_t> d(size);
  for (size_t i = 0; i < size; ++i) {
    if (i > 300 && rng() % 4 == 0) {
      size_t back = 1 + rng() % std::min<size_t>(i, rng() % 2 ? 16 : 70000);
      for (size_t k = 3 + rng() % 300; k-- > 0 && i < size; ++i) d[i] = d[i - back];
      --i;
    } else {
      d[i] = (uint8_t)('a' + rng() % 40);
    }
  }
  return d;
}

TEST_F(DecoderOracleTest, ArchivesOfAnotherEncoderExtractByteExact) {
  ASSERT_EQ(shell("command -v jlha"), 0) << "jlha (jlha-utils) is needed";
  std::mt19937 rng(2026);
  std::vector<std::pair<std::string, std::vector<uint8_t>>> files = {
      {"empty", {}}, {"one", {'x'}}, {"text", pattern_bytes(150000, 1)}, {"copies", copies(rng, 400000)}};
  // Periods just under each window: matches reaching back almost all of it,
  // their source a few bytes ahead of where they are written.
  for (unsigned window : {8192u, 32768u, 65536u}) {
    std::vector<uint8_t> d(window - 3 + 5000);
    for (size_t i = 0; i < d.size(); ++i) d[i] = i < window - 3 ? (uint8_t)rng() : d[i - (window - 3)];
    files.push_back({"period" + std::to_string(window), d});
  }
  std::vector<uint8_t> noise(20000);
  for (uint8_t &b : noise) b = (uint8_t)rng();
  files.push_back({"noise", noise});
  std::string in = dir + "/in";
  std::filesystem::create_directories(in);
  std::string names;
  for (const auto &f : files) write_file(in + "/" + f.first, f.second), names += " " + f.first;
  for (char method : {'5', '6', '7'}) {
    SCOPED_TRACE(method);
    std::string archive = dir + "/j" + method + ".lzh";
    ASSERT_EQ(shell("cd " + in + " && jlha a2qo" + method + " " + archive + names), 0);
    ASSERT_EQ(shell("lhasa t " + archive), 0);
    std::vector<uint8_t> bytes = read_file(archive);
    std::string tag = std::string("-lh") + method + "-";
    ASSERT_NE(std::search(bytes.begin(), bytes.end(), tag.begin(), tag.end()), bytes.end());
    write_sfx(bytes);
    std::filesystem::remove_all(dest);
    ASSERT_EQ(run_program("-n " + dest), 1) << last_box_text();
    for (const auto &f : files) EXPECT_EQ(read_file(dest + "/" + f.first), f.second) << f.first;
  }
}

}  // namespace
