// CRC-16, the output sink and the progress step.
#include "support.h"
#include "lzh/lzh.h"
#include "startup/startup.h"

namespace {

class OutputTest : public SfxTest {
 protected:
  void SetUp() override {
    SfxTest::SetUp();
    make_context();
    build_crc_table(CRC16_POLY);
  }
  WORD crc_of(const std::string &s) {
    ctx->running_crc = 0;
    return crc_update((const BYTE *)s.data(), (LONG)s.size());
  }
};

TEST_F(OutputTest, Crc16ArcCheckValues) {
  EXPECT_EQ(crc_of("123456789"), 0xBB3D);
  EXPECT_EQ(crc_of("abc"), 0x9738);
  EXPECT_EQ(crc_of(""), 0);
  ctx->running_crc = 0x1234;
  EXPECT_EQ(crc_update((const BYTE *)"x", -5), 0x1234);  // a negative count changes nothing
}

TEST_F(OutputTest, ProgressPercentages) {
  EXPECT_EQ(progress_percent(999, 1000), 99u);
  EXPECT_EQ(progress_percent(1000, 1000), 100u);
  EXPECT_EQ(progress_percent(149, 150), 100u);
  EXPECT_EQ(progress_percent(0, 50), 100u);
  EXPECT_EQ(progress_percent(100, 250), 50u);
  EXPECT_EQ(progress_percent(65536, 150000), 43u);
  EXPECT_EQ(progress_percent(5, 0), 0u);
  EXPECT_EQ(progress_percent(0xFFFFFFFFu, 200), 100u);
}

TEST_F(OutputTest, MessageAndScriptTextsAreCutToTheirFields) {
  std::string big(2000, 'm');
  ctx->sink_mode = SINK_MESSAGE;
  write_output((const BYTE *)big.data(), (DWORD)big.size(), NO_FILE);
  EXPECT_EQ(strlen(ctx->text_scratch), 1023u);
  std::string zero("ten chars!\0rest", 15);
  write_output((const BYTE *)zero.data(), (DWORD)zero.size(), NO_FILE);
  EXPECT_STREQ(ctx->text_scratch, "ten chars!");
  std::string script(70000, 's');
  ctx->sink_mode = SINK_SCRIPT;
  write_output((const BYTE *)script.data(), (DWORD)script.size(), NO_FILE);
  EXPECT_EQ(strlen(ctx->script_text), 4095u);
  EXPECT_EQ(ctx->running_crc, 0);  // memory output never touches the CRC
}

TEST_F(OutputTest, ShortWriteShowsWriteErrorAndDeletesThePartialFile) {
  std::string target = dir + "/partial.bin";
  lstrcpyA(ctx->target_path, target.c_str());
  ctx->output_file = CreateFileA(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
  BYTE data[10] = {1, 2, 3};
  write_output(data, 10, ctx->output_file);
  EXPECT_EQ(ctx->running_crc, crc16(data, 10));
  posix::fail_call("WriteFile", 2);
  int status = posix::run([&] { write_output(data, 10, ctx->output_file); });
  EXPECT_EQ(status, 1);
  ASSERT_EQ(box_texts().size(), 1u);
  EXPECT_EQ(box_texts()[0], "\"" + target + "\" Write ERROR");
  EXPECT_FALSE(exists(target));
  EXPECT_EQ(ctx->output_file, NO_FILE);
}

TEST_F(OutputTest, ProgressShowsTextAndCancelEndsTheRun) {
  show_progress(100, 250);  // no dialog: nothing to show, no harm
  ctx->cancel_requested = 1;
  EXPECT_EQ(posix::run([] { show_progress(1, 2); }), 1);
  EXPECT_TRUE(posix::message_boxes().empty());
}

}  // namespace
