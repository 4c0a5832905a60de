// The bit reader, the decode-table builder and the block decoder, on
// hand-made streams whose expected output is worked out by hand; and the
// progress step: the percentage shown, and Cancel seen between writes.
#include "support.h"
#include "../fuzz/limiter_property.h"
#include "archive/archive.h"
#include "lzh/lzh.h"
#include "startup/startup.h"
#include <tuple>

namespace {

// A most-significant-bit-first writer for hand-made streams.
struct BitWriter {
  std::vector<uint8_t> bytes;
  unsigned count = 0;
  BitWriter &put(uint32_t value, unsigned bits) {
    for (unsigned i = bits; i-- > 0; ++count) {
      if (count % 8 == 0) bytes.push_back(0);
      if (value >> i & 1) bytes.back() |= (uint8_t)(0x80 >> count % 8);
    }
    return *this;
  }
};

struct DecodeOutcome { int status; std::string text; };  // status: ExitProcess's, -1 when the decoder returned

class DecoderTest : public SfxTest {
 protected:
  void SetUp() override {
    SfxTest::SetUp();
    make_context();
    build_crc_table(CRC16_POLY);
    output = dir + "/out.bin";
  }
  // Decodes `compressed` as the member loop would a member of `method` with
  // the given sizes.
  DecodeOutcome decode(char method, const std::vector<uint8_t> &compressed, uint32_t size,
                       uint32_t compressed_size = 0xFFFFFFFF, uint16_t file_crc = 0) {
    write_file(dir + "/in.bin", compressed);
    if (compressed_size == 0xFFFFFFFF) compressed_size = (uint32_t)compressed.size();
    std::vector<uint8_t> header = {0, 0, '-', 'l', 'h', (uint8_t)method, '-'};
    put32(header, compressed_size), put32(header, size), header.resize(32);
    header[HDR_FILE_CRC] = (uint8_t)file_crc, header[HDR_FILE_CRC + 1] = (uint8_t)(file_crc >> 8);
    ctx->header_buffer = header.data(), ctx->archive_file = _lopen((dir + "/in.bin").c_str(), OF_READ);
    lstrcpyA(ctx->target_path, output.c_str());
    ctx->output_file = CreateFileA(output.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ctx->input_pos = (DWORD)-1;
    int status = posix::run(decode_member);
    if (status < 0) CloseHandle(ctx->output_file), _lclose(ctx->archive_file);  // the decoder returned; an exit has closed them
    ctx->header_buffer = nullptr, ctx->output_file = NO_FILE;
    return {status, read_text(output)};
  }
  std::string output;
};

// Codes of a block with the literal 'A' (code 0) and the match of length 10
// (symbol 263, code 1); the position code has the single symbol 0.
BitWriter two_symbol_block(uint16_t block_size, unsigned pos_bits = 4) {
  BitWriter w;
  w.put(block_size, 16).put(4, 5).put(0, 3).put(0, 3).put(1, 3).put(0, 2).put(1, 3);  // code-length code: 2 and 3, length 1
  w.put(264, 9);
  w.put(0, 1).put(65 - 20, 9).put(1, 1);    // 65 zero lengths, then length 1 for 'A'
  w.put(0, 1).put(197 - 20, 9).put(1, 1);   // 197 zero lengths, then length 1 for symbol 263
  w.put(0, pos_bits).put(0, pos_bits);      // position code: single symbol 0
  return w;
}

// Streams whose output is worked out by hand: 'A', then the match of length
// 10 at distance 1, where a size that ends inside the match gets exactly its
// bytes and fails the CRC check even where the header's CRC is theirs (-lh4-
// streams are laid out as -lh5- ones, with a 4-bit position count field;
// -lh6- and -lh7- with a 5-bit one); a literal code of every length from 1 to
// 16 bits ('a' 0, 'b' 10, ... 'o' fourteen ones and a zero, 'p' fifteen ones
// and a zero, 'q' sixteen ones); a block size of 0, meaning 65,536, after
// which the next block header comes from zero bits past the end: a
// single-symbol code for 0.
TEST_F(DecoderTest, HandMadeStreamsDecodeAsWorkedOut) {
  BitWriter sixteen, zero;
  sixteen.put(4, 16);                                            // four symbols
  sixteen.put(19, 5).put(0, 3).put(0, 3).put(4, 3).put(0, 2);    // code-length code: symbol 2 has 4 bits,
  for (int t = 3; t <= 18; ++t) sixteen.put(t >= 17 ? 5 : 4, 3);  // 3..16 have 4 bits, 17 and 18 have 5
  sixteen.put(114, 9).put(0, 4).put(97 - 20, 9);                 // literal lengths up to 'q': 97 zeros,
  for (int t = 3; t <= 16; ++t) sixteen.put((uint32_t)(t - 2), 4);  // 'a'..'n': 1..14 bits
  sixteen.put(0b11110, 5).put(0b11111, 5).put(0b11111, 5);       // 'o': 15 bits, 'p' and 'q': 16
  sixteen.put(0, 4).put(0, 4).put(0, 1).put(0xFFFF, 16).put(0xFFFE, 16).put(0b10, 2);
  zero.put(0, 16).put(0, 5).put(0, 5).put(0, 9).put('A', 9).put(0, 4).put(0, 4);
  std::vector<std::tuple<char, BitWriter, uint32_t, std::string>> rows = {
      {'5', sixteen, 4, "aqpb"}, {'5', zero, 70000, std::string(65536, 'A') + std::string(70000 - 65536, '\0')}};
  for (const auto &[method, size] : {std::pair<char, uint32_t>{'4', 11}, {'5', 11}, {'6', 5}})
    rows.push_back({method, two_symbol_block(2, method == '6' ? 5 : 4).put(0, 1).put(1, 1), size, std::string(size, 'A')});
  for (const auto &[method, w, size, text] : rows) {
    uint16_t crc = crc16((const uint8_t *)text.data(), text.size());
    DecodeOutcome o = decode(method, w.bytes, size, 0xFFFFFFFF, crc);
    EXPECT_EQ(o.status, -1);
    EXPECT_TRUE(o.text == text) << method << ", " << size << " bytes: " << o.text.substr(0, 20);
    EXPECT_EQ(ctx->running_crc == crc, size != 5) << method << ", " << size << " bytes";  // only the cut match fails
  }
  // Wherever the size ends in real data, here in a run of long matches: its first bytes, exactly.
  std::vector<uint8_t> data = pattern_bytes(100000, 3);
  std::fill(data.begin() + 50000, data.end(), 'a');
  std::vector<uint8_t> packed = lzh_encode(data.data(), data.size(), *method_params('7'));
  for (uint32_t size = 50990; size < 51000; ++size)
    EXPECT_EQ(decode('7', packed, size).text, std::string(data.begin(), data.begin() + size)) << size;
}

// Streams whose tables cannot be used: code-length codes that are over-full
// (three of 1 bit; four, twice the code space, a multiple of 65,536) or hold
// a length of 17 bits; a single symbol outside its alphabet (literal,
// code-length, position); 511 literal lengths (all zero, or ending in a
// length for a 511th symbol after two that alone make a complete code). And a
// stream cut short of its declared size: "Read ERROR". Each stops the run.
TEST_F(DecoderTest, UnusableTablesAndCutStreamsStopTheRun) {
  BitWriter three, four, too_long, literal, code_length, position, zeros, complete;
  three.put(1, 16).put(3, 5).put(1, 3).put(1, 3).put(1, 3).put(0, 2);
  four.put(1, 16).put(4, 5).put(1, 3).put(1, 3).put(1, 3).put(0, 2).put(1, 3);
  too_long.put(1, 16).put(2, 5).put(1, 3).put(7, 3).put(0b11111111110, 11);  // 7, ten more, the end

  literal.put(1, 16).put(0, 5).put(0, 5).put(0, 9).put(510, 9);
  code_length.put(1, 16).put(0, 5).put(19, 5);
  position.put(1, 16).put(0, 5).put(0, 5).put(0, 9).put('A', 9).put(0, 4).put(14, 4);
  zeros.put(1, 16).put(0, 5).put(0, 5).put(511, 9);
  complete.put(1, 16).put(4, 5).put(0, 3).put(0, 3).put(1, 3).put(0, 2).put(1, 3);  // symbols 2 and 3
  complete.put(511, 9).put(0, 1).put(508 - 20, 9).put(1, 1).put(1, 1).put(1, 1);  // 508 zeros, three ones
  complete.put(0, 5).put(0, 5).put(0, 1);  // one position; then the match of symbol 508
  std::vector<uint8_t> data = pattern_bytes(100000, 3), packed = lzh_encode(data.data(), data.size(), *method_params('5'));
  const std::tuple<char, std::vector<uint8_t>, uint32_t, uint32_t, const char *> rows[] = {
      {'5', three.bytes, 10, 0, "Bad table"}, {'5', four.bytes, 10, 0, "Bad table"}, {'5', too_long.bytes, 10, 0, "Bad table"},
      {'5', literal.bytes, 10, 0, "Bad table"}, {'5', code_length.bytes, 10, 0, "Bad table"}, {'5', position.bytes, 10, 0, "Bad table"},
      {'7', zeros.bytes, 10, 0, "Bad table"}, {'7', complete.bytes, 10, 0, "Bad table"},
      {'5', std::vector<uint8_t>(packed.begin(), packed.begin() + packed.size() / 2), 100000, (uint32_t)packed.size(), "Read ERROR"}};
  for (const auto &[method, bytes, size, declared, message] : rows) {
    EXPECT_EQ(decode(method, bytes, size, declared ? declared : (uint32_t)bytes.size()).status, 1);
    EXPECT_EQ(last_box_text(), "\"" + sfx_path + "\" " + message);
    EXPECT_FALSE(exists(output));
  }
}

// The code-length limiter (tests/fuzz/limiter_property.h): Fibonacci weights
// make the deepest trees; the fuzz target tries any others.
TEST(CodeLengthLimiter, AnyFrequenciesGiveACompleteCodeOfOneToSixteenBits) {
  std::vector<std::vector<uint32_t>> rows = {{}, {0, 7, 0}, {1, 1}, std::vector<uint32_t>(510, 1)};
  std::vector<uint32_t> fibonacci = {1, 1}, huge(510, 1);
  while (fibonacci.size() < 47) fibonacci.push_back(fibonacci.end()[-1] + fibonacci.end()[-2]);
  huge[300] = 0xFFFFFFFF;  // one huge, many tiny
  rows.push_back(fibonacci), rows.push_back(huge);
  fibonacci.resize(510, 0);  // the same among unused symbols
  rows.push_back(fibonacci);
  for (const auto &freq : rows) EXPECT_TRUE(limited_complete_code(freq)) << freq.size() << " symbols";
}

// An input handed to the encoder in pieces of any size, across its chunks
// and its window, gives the bytes it gives for the whole, and decodes back.
TEST_F(DecoderTest, AnInputGivenInPiecesOfAnySizeEncodesAsAWhole) {
  std::vector<uint8_t> data = pattern_bytes(700000, 9), pieces;
  for (char method : {'5', '7'}) {
    std::vector<uint8_t> whole = lzh_encode(data.data(), data.size(), *method_params(method));
    pieces.clear();
    LzhStream stream(*method_params(method), DEFAULT_EFFORT,
                     [&](const uint8_t *p, size_t n) { pieces.insert(pieces.end(), p, p + n); });
    for (size_t at = 0, step = 1; at < data.size(); at += step, step = step * 7 % 300007)
      stream.write(data.data() + at, std::min(step, data.size() - at));
    stream.finish();
    EXPECT_EQ(pieces, whole);
    EXPECT_EQ(decode(method, pieces, (uint32_t)data.size()).text, std::string(data.begin(), data.end()));
  }
}

TEST(Progress, PercentagesRoundDownAndAnEmptyTotalIsDone) {
  const DWORD rows[][3] = {{999, 1000, 99}, {1000, 1000, 100}, {149, 150, 100}, {0, 50, 100},
                           {100, 250, 50},  {65536, 150000, 43}, {5, 0, 0},  {0xFFFFFFFFu, 200, 100}};
  for (const auto &r : rows) EXPECT_EQ(progress_percent(r[0], r[1]), r[2]) << r[0] << " of " << r[1];
}

TEST_F(DecoderTest, ProgressShowsTextAndCancelEndsTheRun) {
  show_progress(100, 250);  // no dialog: nothing to show, no harm
  ctx->cancel_requested = 1;
  EXPECT_EQ(posix::run([] { show_progress(1, 2); }), 1);
  EXPECT_TRUE(posix::message_boxes().empty());
}

}  // namespace
