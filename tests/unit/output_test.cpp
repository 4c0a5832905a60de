// The progress step: the percentage shown, and Cancel seen between writes.
#include "support.h"
#include "lzh/lzh.h"

namespace {

TEST(Progress, PercentagesRoundDownAndAnEmptyTotalIsDone) {
  const DWORD rows[][3] = {{999, 1000, 99}, {1000, 1000, 100}, {149, 150, 100}, {0, 50, 100},
                           {100, 250, 50},  {65536, 150000, 43}, {5, 0, 0},  {0xFFFFFFFFu, 200, 100}};
  for (const auto &r : rows) EXPECT_EQ(progress_percent(r[0], r[1]), r[2]) << r[0] << " of " << r[1];
}

class OutputTest : public SfxTest {};

TEST_F(OutputTest, ProgressShowsTextAndCancelEndsTheRun) {
  make_context();
  show_progress(100, 250);  // no dialog: nothing to show, no harm
  ctx->cancel_requested = 1;
  EXPECT_EQ(posix::run([] { show_progress(1, 2); }), 1);
  EXPECT_TRUE(posix::message_boxes().empty());
}

}  // namespace
