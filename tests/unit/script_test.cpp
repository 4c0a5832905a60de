// The script member: the line scanner, the field splitter and each key.
#include "support.h"
#include "startup/startup.h"

namespace {

class ScriptTest : public SfxTest {
 protected:
  void SetUp() override {
    SfxTest::SetUp();
    make_context();
  }
  void interpret(const std::string &text) {
    lstrcpynA(ctx->script_text, text.c_str(), sizeof(ctx->script_text));
    interpret_script();
  }
};

TEST_F(ScriptTest, FlagBitsApplyInOrderLaterOnesWinning) {
  interpret("$Flag=4098");  // 0x1002
  EXPECT_EQ(overwrite_all, 1);
  EXPECT_EQ(ctx->block.restore_attributes, 0);
  interpret("$Flag=16");
  EXPECT_EQ(ctx->block.restore_attributes, '/');
  auto_start = 1;
  interpret("$Flag=257");  // 0x0101: on, then off
  EXPECT_EQ(auto_start, 0);
  interpret("$Flag=8");
  EXPECT_EQ(keep_newer, 0);
  interpret("$Flag=  +2048");
  EXPECT_EQ(keep_newer, 1);
  interpret("$Flag=73729");  // 0x12001: only the low 16 bits count, so 0x2001
  EXPECT_EQ(auto_start, 1);
  EXPECT_EQ(keep_controls, 1);
}

TEST_F(ScriptTest, LinesEndWithAnyControlByteAndKeysAreCaseSensitive) {
  interpret("$WindowTitle=One\n$InstallTitle=Two\x01$Command=run.exe\t$Flag=1\x1f$flag=2\r $Flag=2\n$AskRegist=");
  EXPECT_STREQ(ctx->window_title, "One");
  EXPECT_STREQ(ctx->dir_caption, "Two");
  EXPECT_STREQ(ctx->block.run_command, "run.exe");
  EXPECT_EQ(auto_start, 1);     // the tab ended the line before it
  EXPECT_EQ(overwrite_all, 0);  // "$flag=" is no key, and a line starting with a space never matches
  EXPECT_EQ(ask_class, 1);
}

TEST_F(ScriptTest, InstallDirOnlyFillsAnEmptyDirectory) {
  interpret("$InstallDir=\"C:\\My Dir\",ignored");
  EXPECT_STREQ(ctx->block.default_dir, "C:\\My Dir");
  interpret("$InstallDir=D:\\Other");
  EXPECT_STREQ(ctx->block.default_dir, "C:\\My Dir");
}

}  // namespace
