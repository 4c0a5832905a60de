// Failing platform calls: whichever fails, no crash, no dialog left without a
// way out, every file left in the destination is exactly a member's bytes, and
// a run that fails says why. (Damaged archives are the fuzz target's.)
#include "support.h"
#include <filesystem>
#include <map>

namespace {

namespace fs = std::filesystem;

class SweepTest : public SfxTest {
 protected:
  // Members of every method and a directory, written as a self-extractor
  // that replaces existing files without asking.
  std::map<std::string, std::vector<uint8_t>> originals;
  void write_members(std::vector<TestMember> extra = {}) {
    for (char method : {'0', '5', '6', '7'}) {
      uint32_t i = (uint32_t)originals.size();
      TestMember t{std::string("dir") + method + "/file" + std::to_string(i) + ".bin", pattern_bytes(300 + 700 * i, i), method};
      originals[t.path] = t.data, extra.push_back(t);
    }
    extra.push_back({"empty/", {}, 'd'});
    HeaderBlockFields block;
    block.flags = BLOCK_OVERWRITE_ALL;
    write_sfx(extra, block);
  }
  // Every file under dest must be exactly a member's bytes.
  void expect_only_whole_members() {
    if (!fs::exists(dest)) return;
    for (auto &e : fs::recursive_directory_iterator(dest)) {
      if (!e.is_regular_file()) continue;
      std::string name = e.path().string().substr(dest.size() + 1);
      ASSERT_TRUE(originals.count(name)) << "unexpected file " << name;
      EXPECT_EQ(read_file(e.path().string()), originals[name]) << name << " is not the member's bytes";
    }
  }
};

// Every platform call of a full extraction fails once, call by call.
TEST_F(SweepTest, EveryPlatformCallFailingOnce) {
  write_members({file_member("$", "$ClassTitle=R\r\n$Class=.x,X,dir0/file0.bin,XFile\r\n")});
  const char *calls[] = {"LocalAlloc", "_lopen", "_lread", "_llseek", "CreateFileA", "WriteFile", "CloseHandle", "SetFileTime",
                         "SetFileAttributesA", "GetFileAttributesA", "CreateDirectoryA", "DeleteFileA", "GetVolumeInformationA",
                         "RegCreateKeyExA", "RegSetValueExA", "MessageBoxA", "PostMessageA", "DialogBoxParamA", "SetTimer"};
  int runs = 0;
  for (const char *call : calls) {
    fresh();
    run_program("-n " + dest);
    int count = posix::call_count(call);
    for (int n = 1; n <= count; ++n) {
      SCOPED_TRACE(std::string(call) + " #" + std::to_string(n));
      fresh();
      posix::fail_call(call, n);
      int status = run_program("-n " + dest);
      ++runs;
      // Never -2, a dialog left with no way out; a failed run says why or gives its user the dialog.
      EXPECT_TRUE(status == 0 || status == 1) << status;
      EXPECT_TRUE(status != 0 || !box_texts().empty() || posix::user_gave_up()) << "status 0 without a message";
      EXPECT_TRUE(status == 0 || posix::call_count("DialogBoxParamA")) << "a run stopped before the dialog extracted nothing";
      expect_only_whole_members();
      // Silence means success: then every member must be there.
      if (status == 1 && box_texts().empty()) {
        for (const auto &o : originals) EXPECT_TRUE(exists(dest + "/" + o.first)) << o.first << " lost silently";
        EXPECT_TRUE(exists(dest + "/empty")) << "directory lost silently";
      }
      EXPECT_TRUE(exited || posix::live_local_blocks() == 0) << posix::live_local_blocks() << " blocks leaked";
    }
  }
  printf("[sweep] %d runs, each with one failing platform call\n", runs);
  EXPECT_GT(runs, 40);
}

}  // namespace
