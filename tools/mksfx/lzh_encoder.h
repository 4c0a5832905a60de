// The builder's LZH encoder: LZ77 matching over binary trees with a
// cost-based parse, then static-Huffman blocks in the -lh5-/-lh6-/-lh7- layout.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

struct MethodParams {
  char letter;           // '5', '6' or '7'
  unsigned window;       // largest match distance
  unsigned pos_symbols;  // position-code symbols the stream describes
  unsigned pos_bits;     // width of the position-code count field
};

const MethodParams *method_params(char letter);  // null for other letters

// Where lzh_encode, on this thread, adds the bytes of each chunk it has
// parsed; null: nowhere. Every call covers all of its input.
extern thread_local std::atomic<uint64_t> *lzh_encode_progress;

// How hard the encoder looks: tree nodes visited per position, the match
// length that ends a search, cheapest parses per chunk (each under the codes
// the one before gave), then parses of each block under its own codes.
struct Effort {
  unsigned depth, nice, passes, block_passes;
};
constexpr Effort DEFAULT_EFFORT = {32, 128, 1, 0}, BEST_EFFORT = {128, 256, 1, 2};

// Compresses an input given in pieces of any size: it holds the window and
// one chunk (a few hundred KiB, whatever the input's size) and hands the
// compressed bytes to `out` as each chunk is written. The bytes are those
// lzh_encode gives for the whole input.
class LzhStream {
 public:
  using Sink = std::function<void(const uint8_t *data, size_t size)>;
  LzhStream(const MethodParams &method, const Effort &effort, Sink out);
  ~LzhStream();
  void write(const uint8_t *data, size_t size);
  void finish();  // the input has ended: the last chunk and the last bits

 private:
  struct State;
  std::unique_ptr<State> s_;
};

// Compresses `size` bytes; the result is the member's compressed data.
std::vector<uint8_t> lzh_encode(const uint8_t *data, size_t size, const MethodParams &method,
                                const Effort &effort = DEFAULT_EFFORT);

// Code lengths of a Huffman code for `freq`, none longer than `limit`; unused
// symbols get 0. Exposed for tests.
std::vector<uint8_t> huffman_lengths(const std::vector<uint32_t> &freq, unsigned limit);
