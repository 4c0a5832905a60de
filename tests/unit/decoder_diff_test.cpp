// The stub's fast decoder against the plain reference decoder, on valid,
// damaged and random streams: the same bytes, CRC, messages, exit status,
// bit reader state and file position, or the test fails.
#include "lzh_encoder.h"
#include "decode_run.h"
#include "reference_decoder.h"
#include "support.h"
#include "lzh/lzh.h"
#include "archive/archive.h"
#include <random>

namespace {

class DecoderDiffTest : public SfxTest {
 protected:
  void SetUp() override {
    SfxTest::SetUp();
    make_context();
    build_crc_table(CRC16_POLY);
  }

  DecodeOutcome run(void (*decoder)(), char method, const std::vector<uint8_t> &file, uint32_t csize,
                    uint32_t size, const std::vector<uint8_t> &window) {
    size_t boxes_before = posix::message_boxes().size();
    write_file(dir + "/in.bin", file);
    memcpy(ctx->window, window.data(), WINDOW_SIZE);
    DecodeOutcome o = run_decoder(decoder, dir + "/in.bin", dir + "/out.bin", method, csize, size);
    std::vector<std::string> all = box_texts();
    boxes.assign(all.begin() + (long)boxes_before, all.end());
    return o;
  }

  void compare(char method, const std::vector<uint8_t> &file, uint32_t csize, uint32_t size,
               const std::vector<uint8_t> &window, const std::string &what) {
    DecodeOutcome fast = run(decode_member, method, file, csize, size, window);
    std::vector<std::string> fast_boxes = boxes;
    DecodeOutcome plain = run(reference_decode_member, method, file, csize, size, window);
    ASSERT_EQ(fast_boxes, boxes) << what;
    ASSERT_TRUE(fast == plain) << what << ": status " << fast.status << "/" << plain.status << ", "
                               << fast.output.size() << "/" << plain.output.size() << " bytes, position "
                               << fast.position << "/" << plain.position << ", crc " << fast.crc << "/"
                               << plain.crc << ", bits " << fast.bit_buffer << "/" << plain.bit_buffer << " held "
                               << (int)fast.held_bits << "/" << (int)plain.held_bits << " count "
                               << (int)fast.held_count << "/" << (int)plain.held_count << ", left "
                               << fast.compressed_left << "/" << plain.compressed_left << ", decoded "
                               << fast.decoded << "/" << plain.decoded;
    ++compared;
  }
  int compared = 0;
  std::vector<std::string> boxes;
};

std::vector<uint8_t> sample_data(std::mt19937 &rng, size_t size) {
  std::vector<uint8_t> d(size);
  unsigned alphabet = 2 + rng() % 60;
  for (size_t i = 0; i < size; ++i) {
    if (i > 300 && rng() % 4 == 0) {  // copy from somewhere back, near or far
      size_t back = 1 + rng() % std::min<size_t>(i, rng() % 2 ? 16 : 70000);
      size_t run = 3 + rng() % 300;
      for (size_t k = 0; k < run && i < size; ++k, ++i) d[i] = d[i - back];
      --i;
    } else {
      d[i] = (uint8_t)('a' + rng() % alphabet);
    }
  }
  return d;
}

TEST_F(DecoderDiffTest, FastPathMatchesThePlainDecoder) {
  std::mt19937 rng(12345);
  std::vector<uint8_t> window(WINDOW_SIZE);
  for (uint8_t &b : window) b = (uint8_t)rng();  // what earlier members left behind
  const char methods[] = {'4', '5', '6', '7'};
  for (int round = 0; round < 120; ++round) {
    char method = methods[round % 4];
    const MethodParams *params = method_params(method == '4' ? '5' : method);
    size_t size = round % 10 == 0 ? rng() % 300000 : rng() % 40000;
    std::vector<uint8_t> data = sample_data(rng, size);
    std::vector<uint8_t> packed = lzh_encode(data.data(), data.size(), *params);
    std::vector<uint8_t> file = packed;
    for (int k = 0; k < 16; ++k) file.push_back((uint8_t)rng());  // the next member's bytes
    uint32_t csize = (uint32_t)packed.size(), usize = (uint32_t)size;
    std::string what = "round " + std::to_string(round);
    switch (round % 6) {
    case 0:
      break;
    case 1:  // damaged bits
      for (int k = 0; k < 3 && !packed.empty(); ++k) file[rng() % packed.size()] ^= (uint8_t)(1u << (rng() % 8));
      break;
    case 2:  // the header claims more output: the zero-bit tail
      usize += (uint32_t)(rng() % 70000);
      break;
    case 3:  // the header claims fewer compressed bytes than were written
      csize = csize / 2 + 1;
      break;
    case 4:  // the file ends inside the member
      file.resize(packed.size() / 2);
      break;
    case 5:  // the header claims less output: the file stays inside the data
      usize = usize / 3;
      break;
    }
    compare(method, file, csize, usize, window, what);
  }
  for (int round = 0; round < 200; ++round) {  // noise as a stream
    std::vector<uint8_t> noise(rng() % 3000);
    for (uint8_t &b : noise) b = (uint8_t)rng();
    compare(methods[round % 4], noise, (uint32_t)noise.size(), rng() % 100000, window,
            "noise " + std::to_string(round));
  }
  EXPECT_EQ(compared, 320);
}

// Periods just under the window size give matches whose source lies a few
// bytes ahead of where they are written, in what the window's last round
// left: a copy by words must not read bytes it has already replaced.
TEST_F(DecoderDiffTest, MatchesReachingBackAlmostTheWholeWindow) {
  std::mt19937 rng(7);
  std::vector<uint8_t> window(WINDOW_SIZE, 0);
  for (unsigned ahead = 0; ahead <= 9; ++ahead) {
    unsigned period = WINDOW_SIZE - ahead;
    std::vector<uint8_t> data(period + 700 + 300);  // noise after the repeat keeps the fast loop open
    for (size_t i = 0; i < data.size(); ++i)
      data[i] = i < period || i >= period + 700 ? (uint8_t)rng() : data[i - period];
    std::vector<uint8_t> packed = lzh_encode(data.data(), data.size(), *method_params('7'));
    compare('7', packed, (uint32_t)packed.size(), (uint32_t)data.size(), window,
            "period " + std::to_string(period));
    DecodeOutcome plain = run(reference_decode_member, '7', packed, (uint32_t)packed.size(),
                              (uint32_t)data.size(), window);
    ASSERT_TRUE(plain.output == data) << period;
  }
}

// An all-zero position length set leaves the table of the code-length code
// in place, while the position lengths are now all zero. Symbols 17 and 18
// are no position symbols: both decoders must walk them as tree nodes; 4 and
// 5 are, and take their (zero) length from the new set, not from the table.
TEST_F(DecoderDiffTest, StaleTableFromAnotherCodeDecodesAlike) {
  for (int first : {17, 4}) {
    std::vector<uint8_t> file;
    unsigned acc = 0, n = 0;
    auto put = [&](unsigned value, unsigned bits) {
      for (unsigned b = bits; b-- > 0;) {
        acc = acc << 1 | (value >> b & 1);
        if (++n % 8 == 0) file.push_back((uint8_t)acc);
      }
    };
    put(100, 16);                                // symbols in the block
    put(19, 5);                                  // code-length code: 19 lengths
    put(0, 3), put(0, 3), put(0, 3), put(0, 2);  // three zeros, no run
    for (int i = 3; i < 19; ++i) put(i == first || i == first + 1 ? 1 : 0, 3);
    put(0, 9), put(256, 9);                      // one literal/length symbol: a match of 3
    put(1, 4), put(0, 3);                        // position lengths: one, zero
    while (n % 8) put(0, 1);
    for (int k = 0; k < 24; ++k) file.push_back((uint8_t)(0x5A + k));
    std::vector<uint8_t> window(WINDOW_SIZE, 0x33);
    compare('5', file, (uint32_t)file.size(), 300, window, "stale table, symbols " + std::to_string(first));
  }
  EXPECT_EQ(compared, 2);
}

}  // namespace
