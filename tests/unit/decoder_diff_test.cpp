// The stub's fast decoder against the plain reference decoder, on valid,
// damaged and random streams: the same bytes, CRC, messages, exit status,
// bit reader state and file position, or the test fails.
#include "lzh_encoder.h"
#include "reference_decoder.h"
#include "support.h"
#include "lzh/lzh.h"
#include "archive/archive.h"
#include <random>

namespace {

struct Outcome {
  int status;
  std::vector<uint8_t> output;
  WORD crc, bit_buffer;
  BYTE held_bits, held_count;
  DWORD compressed_left, decoded;
  LONG position;
  std::vector<std::string> boxes;
  bool operator==(const Outcome &o) const {
    return status == o.status && output == o.output && crc == o.crc && bit_buffer == o.bit_buffer &&
           held_bits == o.held_bits && held_count == o.held_count && compressed_left == o.compressed_left &&
           decoded == o.decoded && position == o.position && boxes == o.boxes;
  }
};

class DecoderDiffTest : public SfxTest {
 protected:
  void SetUp() override {
    SfxTest::SetUp();
    make_context();
    build_crc_table(CRC16_POLY);
  }

  Outcome run(void (*decoder)(), char method, const std::vector<uint8_t> &file, uint32_t csize,
              uint32_t size, const std::vector<uint8_t> &window) {
    size_t boxes_before = posix::message_boxes().size();
    std::string input = dir + "/in.bin", output = dir + "/out.bin";
    write_file(input, file);
    std::vector<uint8_t> header(32, 0);
    memcpy(header.data() + 2, "-lh?-", 5);
    header[HDR_METHOD_LETTER] = (uint8_t)method;
    for (int i = 0; i < 4; ++i) header[7 + i] = (uint8_t)(csize >> 8 * i), header[11 + i] = (uint8_t)(size >> 8 * i);
    memcpy(ctx->window, window.data(), WINDOW_SIZE);
    ctx->header_buffer = header.data();
    ctx->archive_file = _lopen(input.c_str(), OF_READ);
    lstrcpyA(ctx->target_path, output.c_str());
    ctx->output_file = CreateFileA(output.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ctx->input_pos = (DWORD)-1;
    Outcome o;
    o.status = posix::run(decoder);
    o.position = -1;
    if (o.status < 0) {
      o.position = _llseek(ctx->archive_file, 0, FILE_CURRENT);
      CloseHandle(ctx->output_file);
      _lclose(ctx->archive_file);
    }
    o.output = read_file(output);
    o.crc = ctx->running_crc;
    o.bit_buffer = ctx->bit_buffer;
    o.held_bits = ctx->held_bits;
    o.held_count = ctx->held_count;
    o.compressed_left = ctx->compressed_left;
    o.decoded = ctx->decoded_count;
    std::vector<std::string> all = box_texts();
    o.boxes.assign(all.begin() + (long)boxes_before, all.end());
    ctx->header_buffer = nullptr;
    ctx->output_file = NO_FILE;
    return o;
  }

  void compare(char method, const std::vector<uint8_t> &file, uint32_t csize, uint32_t size,
               const std::vector<uint8_t> &window, const std::string &what) {
    Outcome fast = run(decode_member, method, file, csize, size, window);
    Outcome plain = run(reference_decode_member, method, file, csize, size, window);
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

}  // namespace
