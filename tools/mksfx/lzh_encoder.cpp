// LZ77 parsing (binary-tree match finding, the cheapest parse under the codes
// of an earlier pass) and static-Huffman block writing.
// Each block describes three canonical codes by their lengths: the code-length
// code (19 symbols), the literal/length code (510) and the position code; a
// code with one symbol (or none) uses the single-symbol form, which decodes in
// zero bits.
#include "lzh_encoder.h"
#include <algorithm>
#include <cstring>

namespace {

constexpr unsigned MIN_MATCH = 3, MAX_MATCH = 256;
constexpr unsigned LITERAL_LENGTH_SYMBOLS = 510, CODE_LENGTH_SYMBOLS = 19;
constexpr unsigned MAX_CODE_LENGTH = 16;
constexpr unsigned MAX_BLOCK_SYMBOLS = 65535;  // the 16-bit block size; 0 would mean 65,536
constexpr unsigned HASH_BITS = 16;
constexpr unsigned MAX_CANDIDATES = 16;
constexpr unsigned MAX_POSITION_SYMBOLS = 17;
constexpr size_t SPLIT_STEP = 1024;  // tokens
constexpr size_t CHUNK_BYTES = 1 << 18;  // parsed as one; written as blocks of <= 65,535 symbols
// A parse costs at most a literal's longest code per byte; the cheapest
// parse keeps a length in the 8 bits below such a cost.
static_assert((uint64_t)MAX_CODE_LENGTH * (CHUNK_BYTES + MAX_MATCH) << 8 <= UINT32_MAX, "parse costs overflow");
static_assert(MAX_MATCH - MIN_MATCH < 256, "lengths take 8 bits");

const MethodParams METHODS[] = {
    {'5', 8192, 14, 4},
    {'6', 32768, 17, 5},
    {'7', 65536, 17, 5},
};

class BitWriter {
 public:
  explicit BitWriter(std::vector<uint8_t> *out) : out_(out) {}
  void put(uint32_t value, unsigned bits) {  // most significant bit first, at most 16 bits
    acc_ = acc_ << bits | (value & ((1u << bits) - 1));
    for (count_ += bits; count_ >= 8;) count_ -= 8, out_->push_back((uint8_t)(acc_ >> count_));
  }
  void flush() {
    if (count_) out_->push_back((uint8_t)(acc_ << (8 - count_)));
    acc_ = 0, count_ = 0;
  }

 private:
  std::vector<uint8_t> *out_;
  uint32_t acc_ = 0;  // its low count_ bits are not written yet
  unsigned count_ = 0;
};

// Prices a block: the writer's interface, counting only.
struct BitCounter {
  size_t bits = 0;
  void put(uint32_t, unsigned n) { bits += n; }
};

struct Token {
  uint16_t symbol;    // 0..255 literal, 256.. match of length symbol - 253
  uint16_t position;  // distance - 1, for matches
};

unsigned token_bytes(const Token &t) { return t.symbol < 256 ? 1 : t.symbol - 256 + MIN_MATCH; }

struct Candidate {
  uint16_t length;
  uint16_t position;  // distance - 1
};

// The bit length: 0 for 0, 1 for 1, s for 2^(s-1)..2^s-1.
unsigned position_symbol(unsigned position) { return position ? 32 - (unsigned)__builtin_clz(position) : 0; }

struct SymbolCounts {
  std::vector<uint32_t> literal_length, position;

  explicit SymbolCounts(const MethodParams &m) : literal_length(LITERAL_LENGTH_SYMBOLS), position(m.pos_symbols) {}
  void add(const Token *tokens, size_t count) {
    for (size_t i = 0; i < count; ++i) {
      ++literal_length[tokens[i].symbol];
      if (tokens[i].symbol >= 256) ++position[position_symbol(tokens[i].position)];
    }
  }
  void add(const SymbolCounts &other) {
    for (size_t s = 0; s < literal_length.size(); ++s) literal_length[s] += other.literal_length[s];
    for (size_t s = 0; s < position.size(); ++s) position[s] += other.position[s];
  }
};

// Canonical codes: shorter lengths first, equal lengths in symbol order.
std::vector<uint16_t> canonical_codes(const std::vector<uint8_t> &lengths) {
  unsigned count[MAX_CODE_LENGTH + 2] = {}, next[MAX_CODE_LENGTH + 2] = {};
  for (uint8_t l : lengths) ++count[l];
  count[0] = 0;
  unsigned code = 0;
  for (unsigned l = 1; l <= MAX_CODE_LENGTH; ++l) {
    code = (code + count[l - 1]) << 1;
    next[l] = code;
  }
  std::vector<uint16_t> codes(lengths.size());
  for (size_t s = 0; s < lengths.size(); ++s)
    if (lengths[s]) codes[s] = (uint16_t)next[lengths[s]]++;
  return codes;
}

// Symbols that occur; *only is the last of them (0 when none does).
unsigned used_symbols(const std::vector<uint32_t> &freq, unsigned *only) {
  unsigned used = 0;
  *only = 0;
  for (unsigned s = 0; s < freq.size(); ++s)
    if (freq[s]) ++used, *only = s;
  return used;
}

// Lengths of the code-length or position code: a count, then 3-bit lengths,
// 7 and above as 7 followed by (length - 7) one bits and a zero; after the
// entry numbered zero_run_index, 2 bits giving a run of zero lengths.
template <class Sink>
void write_small_lengths(Sink &w, const std::vector<uint8_t> &lengths, unsigned count_bits,
                         int zero_run_index) {
  unsigned n = (unsigned)lengths.size();
  while (n > 0 && lengths[n - 1] == 0) --n;
  w.put(n, count_bits);
  unsigned i = 0;
  while (i < n) {
    unsigned len = lengths[i++];
    if (len < 7) {
      w.put(len, 3);
    } else {
      w.put(7, 3);
      for (unsigned k = 7; k < len; ++k) w.put(1, 1);
      w.put(0, 1);
    }
    if ((int)i == zero_run_index) {
      unsigned zeros = 0;
      while (zeros < 3 && i + zeros < n && lengths[i + zeros] == 0) ++zeros;
      w.put(zeros, 2);
      i += zeros;
    }
  }
}

// The literal/length lengths as code-length symbols: 0 one zero, 1 a run of
// 3..18 zeros (4 bits), 2 a run of 20..531 zeros (9 bits), 3.. a length + 2.
struct LengthSymbol {
  uint8_t symbol;
  uint16_t extra;
};

std::vector<LengthSymbol> code_length_symbols(const std::vector<uint8_t> &lengths, unsigned n) {
  std::vector<LengthSymbol> out;
  for (unsigned i = 0; i < n;) {
    if (lengths[i]) {
      out.push_back({(uint8_t)(lengths[i++] + 2), 0});
      continue;
    }
    unsigned run = 0;
    while (i + run < n && lengths[i + run] == 0) ++run;
    i += run;
    while (run > 0) {
      if (run <= 2) {
        out.push_back({0, 0});
        --run;
      } else if (run <= 18) {
        out.push_back({1, (uint16_t)(run - 3)});
        run = 0;
      } else if (run == 19) {
        out.push_back({0, 0});
        out.push_back({1, 15});
        run = 0;
      } else {
        unsigned take = std::min(run, 531u);
        out.push_back({2, (uint16_t)(take - 20)});
        run -= take;
      }
    }
  }
  return out;
}

// One block's codes as the counts of its symbols make them.
struct BlockCodes {
  std::vector<uint8_t> literal_length, position;  // all zero for a single-symbol code
  unsigned literal_only, position_only;            // the symbol of a single-symbol code
};

BlockCodes block_codes(const SymbolCounts &counts) {
  BlockCodes b;
  b.literal_length = huffman_lengths(counts.literal_length, MAX_CODE_LENGTH);
  b.position = huffman_lengths(counts.position, MAX_CODE_LENGTH);
  used_symbols(counts.literal_length, &b.literal_only);
  used_symbols(counts.position, &b.position_only);
  return b;
}

// The symbol count and the three codes' descriptions.
template <class Sink>
void write_block_header(Sink &w, unsigned count, const BlockCodes &b, const MethodParams &m) {
  w.put(count, 16);
  unsigned n = LITERAL_LENGTH_SYMBOLS;
  while (n > 0 && b.literal_length[n - 1] == 0) --n;
  if (n == 0) {
    w.put(0, 5), w.put(0, 5);                // code-length code: single symbol 0, never used
    w.put(0, 9), w.put(b.literal_only, 9);  // literal/length code: single symbol
  } else {
    std::vector<LengthSymbol> coded = code_length_symbols(b.literal_length, n);
    std::vector<uint32_t> t_freq(CODE_LENGTH_SYMBOLS);
    for (const LengthSymbol &c : coded) ++t_freq[c.symbol];
    std::vector<uint8_t> t_len = huffman_lengths(t_freq, MAX_CODE_LENGTH);
    unsigned t_only = 0;
    if (used_symbols(t_freq, &t_only) <= 1) {
      w.put(0, 5), w.put(t_only, 5);
    } else {
      write_small_lengths(w, t_len, 5, 3);
    }
    std::vector<uint16_t> t_code = canonical_codes(t_len);
    w.put(n, 9);
    for (const LengthSymbol &c : coded) {
      w.put(t_code[c.symbol], t_len[c.symbol]);
      if (c.symbol == 1) w.put(c.extra, 4);
      if (c.symbol == 2) w.put(c.extra, 9);
    }
  }
  if (std::all_of(b.position.begin(), b.position.end(), [](uint8_t l) { return l == 0; })) {
    w.put(0, m.pos_bits), w.put(b.position_only, m.pos_bits);
  } else {
    write_small_lengths(w, b.position, m.pos_bits, -1);
  }
}

// The whole block's size in bits, header included.
size_t block_bits(const SymbolCounts &counts, const MethodParams &m) {
  BlockCodes b = block_codes(counts);
  BitCounter w;
  write_block_header(w, 0, b, m);
  for (size_t s = 0; s < LITERAL_LENGTH_SYMBOLS; ++s) w.bits += (size_t)counts.literal_length[s] * b.literal_length[s];
  for (size_t s = 0; s < counts.position.size(); ++s)
    w.bits += (size_t)counts.position[s] * (b.position[s] + (s > 1 ? s - 1 : 0));
  return w.bits;
}

void write_block(BitWriter &w, const Token *tokens, unsigned count, const SymbolCounts &counts,
                 const MethodParams &m) {
  BlockCodes b = block_codes(counts);
  write_block_header(w, count, b, m);
  std::vector<uint16_t> lit_code = canonical_codes(b.literal_length), pos_code = canonical_codes(b.position);
  for (unsigned i = 0; i < count; ++i) {
    const Token &t = tokens[i];
    w.put(lit_code[t.symbol], b.literal_length[t.symbol]);
    if (t.symbol >= 256) {
      unsigned s = position_symbol(t.position);
      w.put(pos_code[s], b.position[s]);
      if (s > 1) w.put(t.position & ((1u << (s - 1)) - 1), s - 1);
    }
  }
}

// Blocks end where new codes pay for their description: the tokens are taken
// SPLIT_STEP at a time, and a step starts a new block when the two blocks
// cost fewer bits than the one they would make together. Returns the token
// index each block starts at, and the end.
std::vector<size_t> block_starts(const std::vector<Token> &tokens, const MethodParams &m) {
  std::vector<size_t> starts = {0};
  size_t n = tokens.size(), at = std::min(SPLIT_STEP, n);
  SymbolCounts block(m);
  block.add(tokens.data(), at);
  size_t bits = block_bits(block, m);
  while (at < n) {
    size_t next = std::min(at + SPLIT_STEP, n);
    SymbolCounts step(m);
    step.add(tokens.data() + at, next - at);
    SymbolCounts joined = block;
    joined.add(step);
    size_t step_bits = block_bits(step, m), joined_bits = block_bits(joined, m);
    if (next - starts.back() > MAX_BLOCK_SYMBOLS || bits + step_bits < joined_bits) {
      starts.push_back(at);
      block = step, bits = step_bits;
    } else {
      block = joined, bits = joined_bits;
    }
    at = next;
  }
  starts.push_back(n);
  return starts;
}

void write_blocks(BitWriter &w, const std::vector<Token> &tokens, const MethodParams &m) {
  std::vector<size_t> starts = block_starts(tokens, m);
  for (size_t b = 0; b + 1 < starts.size(); ++b) {
    SymbolCounts counts(m);
    counts.add(tokens.data() + starts[b], starts[b + 1] - starts[b]);
    write_block(w, tokens.data() + starts[b], (unsigned)(starts[b + 1] - starts[b]), counts, m);
  }
}

// Bytes that match at a and b, at most limit, compared eight at a time.
unsigned common_length(const uint8_t *a, const uint8_t *b, unsigned limit) {
  unsigned len = 0;
  while (len + 8 <= limit) {
    uint64_t x, y;
    memcpy(&x, a + len, 8);
    memcpy(&y, b + len, 8);
    if (x != y) return len + (unsigned)__builtin_ctzll(x ^ y) / 8;
    len += 8;
  }
  while (len < limit && a[len] == b[len]) ++len;
  return len;
}

// Binary trees over the window, one per 4-byte hash: each position is
// inserted as the root of its tree, which keeps the older positions sorted by
// the bytes that follow them, so the walk from the root meets ever longer
// matches and skips the ones that cannot be longer. The walk that inserts a
// position is the one that finds its matches; positions inside long matches
// are still inserted, by the same walk without recording. Matches of three
// come from a table of the latest position of each 3-byte hash: trees keyed
// by three bytes are larger, and their walks a tenth slower in all.
class MatchFinder {
 public:
  MatchFinder(unsigned window, const Effort &effort)
      : window_(window), depth_(effort.depth), nice_(effort.nice), head_(1u << HASH_BITS, -1),
        head3_(1u << HASH_BITS, -1) {}

  // The bytes from absolute position `base` on, up to `end`: the end of the
  // input, or at least MAX_MATCH past the positions walked next.
  void view(const uint8_t *data, size_t base, size_t end) { data_ = data, base_ = base, size_ = end; }

  // Every match at pos longer than all met before it, up to `limit`; lengths
  // strictly grow. Returns the number written to out.
  unsigned find_all(size_t pos, unsigned limit, Candidate *out) { return walk(pos, limit, out); }
  void skip(size_t pos) { walk(pos, 0, nullptr); }

 private:
  static constexpr size_t TREE_SLOTS = 1u << 17;  // a power of two above the largest window
  static constexpr int32_t NONE = -1;

  const uint8_t *at(size_t pos) const { return data_ + (pos - base_); }

  unsigned walk(size_t pos, unsigned limit, Candidate *out) {
    if (pos + MIN_MATCH > size_) return 0;
    const uint8_t *here = at(pos);
    if (pos + 2 + 4 <= size_) {  // the heads two positions on, which a cache miss would stall
      __builtin_prefetch(&head3_[hash3(here + 2)]);
      __builtin_prefetch(&head_[hash4(here + 2)]);
    }
    unsigned best = MIN_MATCH - 1, count = 0;
    uint32_t h3 = hash3(here);
    int32_t near = head3_[h3];
    head3_[h3] = (int32_t)pos;
    if (out && limit >= MIN_MATCH && near != NONE && pos - (size_t)near <= window_ &&
        memcmp(at((size_t)near), here, MIN_MATCH) == 0) {
      best = MIN_MATCH;
      out[count++] = {(uint16_t)MIN_MATCH, (uint16_t)(pos - (size_t)near - 1)};
    }
    if (pos + 4 > size_) return count;  // the tree's key is longer than what is left
    unsigned max_len = (unsigned)std::min<size_t>(MAX_MATCH, size_ - pos);
    unsigned nice = std::min(nice_, max_len);
    size_t slot = pos & (TREE_SLOTS - 1);
    // Slots are taken in order until they wrap: a small input gets no more
    // of them than it has positions.
    if (2 * slot >= child_.size()) child_.resize(std::max<size_t>(128, 2 * child_.size()));
    int32_t *lesser = &child_[2 * slot], *greater = lesser + 1;
    uint32_t h = hash4(here);
    int32_t node = head_[h];
    head_[h] = (int32_t)pos;
    unsigned lesser_len = 0, greater_len = 0, len = 0;
    for (unsigned depth = depth_;;) {
      if (node == NONE || pos - (size_t)node > window_ || depth-- == 0) {
        *lesser = *greater = NONE;
        return count;
      }
      const uint8_t *there = at((size_t)node);
      int32_t *pair = &child_[2 * ((size_t)node & (TREE_SLOTS - 1))];
      if (there[len] == here[len]) {
        len = len + 1 + common_length(here + len + 1, there + len + 1, max_len - len - 1);
        if (out && len > best && best < limit) {
          best = len;
          Candidate c = {(uint16_t)std::min(len, limit), (uint16_t)(pos - (size_t)node - 1)};
          if (count == MAX_CANDIDATES) --count;
          out[count++] = c;
        }
        if (len >= nice) {  // as good as it gets: this node's subtrees become ours
          *lesser = pair[0];
          *greater = pair[1];
          return count;
        }
      }
      if (there[len] < here[len]) {
        *lesser = node, lesser = &pair[1], node = *lesser, lesser_len = len;
      } else {
        *greater = node, greater = &pair[0], node = *greater, greater_len = len;
      }
      len = std::min(lesser_len, greater_len);
    }
  }

  uint32_t hash3(const uint8_t *p) const { return ((p[0] | p[1] << 8 | p[2] << 16) * 2654435761u) >> (32 - HASH_BITS); }
  uint32_t hash4(const uint8_t *p) const {
    uint32_t v;
    memcpy(&v, p, 4);
    return (v * 2654435761u) >> (32 - HASH_BITS);
  }
  const uint8_t *data_ = nullptr;
  size_t base_ = 0, size_ = 0;
  unsigned window_, depth_, nice_;
  std::vector<int32_t> head_, head3_, child_;
};

// Bit costs of every choice under one set of code lengths. A symbol the
// lengths leave unused still gets a price, so a later pass may pick it.
struct CostModel {
  uint32_t literal_length[LITERAL_LENGTH_SYMBOLS];
  uint32_t position[MAX_POSITION_SYMBOLS];

  void from_lengths(const std::vector<uint8_t> &lit, const std::vector<uint8_t> &pos) {
    for (unsigned s = 0; s < LITERAL_LENGTH_SYMBOLS; ++s) literal_length[s] = lit[s] ? lit[s] : 12;
    for (unsigned s = 0; s < MAX_POSITION_SYMBOLS; ++s) {
      unsigned code = s < pos.size() && pos[s] ? pos[s] : 6;
      position[s] = code + (s > 1 ? s - 1 : 0);
    }
  }
  void from_tokens(const Token *tokens, size_t count, const MethodParams &m) {
    SymbolCounts counts(m);
    counts.add(tokens, count);
    from_lengths(huffman_lengths(counts.literal_length, MAX_CODE_LENGTH),
                 huffman_lengths(counts.position, MAX_CODE_LENGTH));
  }
  uint32_t match(unsigned len, unsigned position_value) const {
    return literal_length[len - MIN_MATCH + 256] + position[position_symbol(position_value)];
  }
};

// The cheapest parse of data[start, end) under `costs`, found backwards: the
// cost of the rest from each position is known before the position itself.
// first[i]..first[i + 1] are the candidates of position start + i in found.
void cheapest_parse(const uint8_t *data, size_t start, size_t end, const std::vector<Candidate> &found,
                    const uint32_t *first, const CostModel &costs, std::vector<Token> *out) {
  size_t n = end - start;
  std::vector<uint32_t> cost(n + 1, 0);
  std::vector<Token> choice(n);
  const uint32_t *length_cost = costs.literal_length + 256 - MIN_MATCH;  // by match length
  for (size_t i = n; i-- > 0;) {
    uint32_t best = costs.literal_length[data[start + i]] + cost[i + 1];
    Token pick = {data[start + i], 0};
    const uint32_t *rest = &cost[i];  // rest[len]: the cost after a match of len
    unsigned from = MIN_MATCH;
    for (uint32_t k = first[i]; k < first[i + 1]; ++k) {
      const Candidate &c = found[k];
      // The cheapest length of this candidate, in a loop without branches
      // the compiler can vectorise: each cost carries its length below it.
      uint32_t cheapest = UINT32_MAX;
      // A match that runs past `end` (a block's, inside its chunk) ends there.
      unsigned longest = (unsigned)std::min<size_t>(c.length, n - i);
      if (longest < from) break;
      for (unsigned len = from; len <= longest; ++len)
        cheapest = std::min(cheapest, (length_cost[len] + rest[len]) << 8 | (len - MIN_MATCH));
      uint32_t total = (cheapest >> 8) + costs.position[position_symbol(c.position)];
      if (total < best) best = total, pick = {(uint16_t)((cheapest & 255) + 256), c.position};
      from = c.length + 1u;
    }
    cost[i] = best;
    choice[i] = pick;
  }
  out->clear();
  for (size_t i = 0; i < n;) {
    out->push_back(choice[i]);
    i += token_bytes(choice[i]);
  }
}

// The longest match wherever there is one: a parse that costs nothing to
// find, whose codes are a better start for the cheapest parse than a guess.
void longest_parse(const uint8_t *data, size_t start, size_t end, const std::vector<Candidate> &found,
                   const std::vector<uint32_t> &first, std::vector<Token> *out) {
  out->clear();
  for (size_t i = 0; i < end - start;) {
    if (first[i + 1] > first[i]) {
      const Candidate &c = found[first[i + 1] - 1];
      out->push_back({(uint16_t)(c.length - MIN_MATCH + 256), c.position});
      i += c.length;
    } else {
      out->push_back({data[start + i++], 0});
    }
  }
}

// Each block parsed again under its own codes, which fit it better than the
// chunk's that its tokens were chosen under.
void parse_blocks_again(const uint8_t *data, size_t start, const std::vector<Candidate> &found,
                        const std::vector<uint32_t> &first, const MethodParams &m, std::vector<Token> *tokens) {
  std::vector<size_t> starts = block_starts(*tokens, m);
  std::vector<Token> parsed, block;
  size_t at = 0;  // the block's first byte, from start
  for (size_t b = 0; b + 1 < starts.size(); ++b) {
    size_t bytes = 0;
    for (size_t t = starts[b]; t < starts[b + 1]; ++t) bytes += token_bytes((*tokens)[t]);
    CostModel costs;
    costs.from_tokens(tokens->data() + starts[b], starts[b + 1] - starts[b], m);
    cheapest_parse(data, start + at, start + at + bytes, found, first.data() + at, costs, &block);
    parsed.insert(parsed.end(), block.begin(), block.end());
    at += bytes;
  }
  tokens->swap(parsed);
}

}  // namespace

const MethodParams *method_params(char letter) {
  for (const MethodParams &m : METHODS)
    if (m.letter == letter) return &m;
  return nullptr;
}

std::vector<uint8_t> huffman_lengths(const std::vector<uint32_t> &freq_in, unsigned limit) {
  std::vector<uint64_t> freq(freq_in.begin(), freq_in.end());
  std::vector<uint8_t> lengths(freq.size(), 0);
  std::vector<std::pair<uint64_t, unsigned>> leaves;  // weight, symbol
  std::vector<uint64_t> weight;                       // of the inner nodes, made in growing order
  std::vector<unsigned> parent, depth;                // leaves 0..m-1, then the inner nodes
  for (;;) {
    leaves.clear();
    for (unsigned s = 0; s < freq.size(); ++s)
      if (freq[s]) leaves.push_back({freq[s], s});
    size_t m = leaves.size();
    if (m <= 1) return lengths;
    std::sort(leaves.begin(), leaves.end());
    // Two queues, the sorted leaves and the inner nodes in the order made:
    // the two lightest fronts are always the two lightest nodes.
    weight.assign(m - 1, 0);
    parent.assign(2 * m - 1, 0);
    size_t next_leaf = 0, next_inner = 0;
    auto lightest = [&](size_t made) {
      if (next_leaf < m && (next_inner == made || leaves[next_leaf].first <= weight[next_inner])) return next_leaf++;
      return m + next_inner++;
    };
    auto weight_of = [&](size_t node) { return node < m ? leaves[node].first : weight[node - m]; };
    for (size_t made = 0; made < m - 1; ++made) {
      size_t a = lightest(made), b = lightest(made);
      weight[made] = weight_of(a) + weight_of(b);
      parent[a] = parent[b] = (unsigned)(m + made);
    }
    depth.assign(2 * m - 1, 0);
    unsigned deepest = 0;
    for (size_t node = 2 * m - 2; node-- > 0;) {
      depth[node] = depth[parent[node]] + 1;
      if (node < m) {
        // Below 64: a tree that deep needs a total weight past 2^43.
        lengths[leaves[node].second] = (uint8_t)depth[node];
        deepest = std::max(deepest, depth[node]);
      }
    }
    if (deepest <= limit) return lengths;
    // Too deep: flatten the frequencies and build again.
    for (uint64_t &f : freq)
      if (f) f = (f + 1) / 2;
  }
}

// The input is parsed in chunks: all matches of a chunk are gathered once,
// then the cheapest parse is found `passes` times, first under the codes of
// the previous chunk (for the first, of its longest-match parse), then under
// the codes the last parse gave; the tokens are then cut into blocks where new
// codes pay, each block is parsed again under its own codes `block_passes`
// times, and the tokens are cut again. Inside a match of the effort's nice
// length or more no further matches are gathered.
thread_local std::atomic<uint64_t> *lzh_encode_progress = nullptr;

struct LzhStream::State {
  State(const MethodParams &method, const Effort &e, Sink sink)
      : m(method), effort(e), out(std::move(sink)), writer(&bits), finder(method.window, e) {}

  // Parses and writes data[next, end): the input must be here from the
  // window before `next` to MAX_MATCH past `end`, or to its end.
  void chunk(size_t end) {
    const size_t start = next;
    finder.view(input.data(), base, base + input.size());
    first.assign(end - start + 1, 0);
    size_t skip_until = start, used = 0;
    for (size_t p = start; p < end; ++p) {
      first[p - start] = (uint32_t)used;
      if (p >= skip_until) {
        if (found.size() < used + MAX_CANDIDATES) found.resize(2 * (used + MAX_CANDIDATES));
        Candidate *c = found.data() + used;
        unsigned n = finder.find_all(p, (unsigned)std::min<size_t>(MAX_MATCH, end - p), c);
        used += n;
        if (n && c[n - 1].length >= effort.nice) skip_until = p + c[n - 1].length;
      } else {
        finder.skip(p);
      }
    }
    first[end - start] = (uint32_t)used;
    const uint8_t *data = input.data() + (start - base);
    if (start == 0) {
      longest_parse(data, 0, end - start, found, first, &tokens);
      costs.from_tokens(tokens.data(), tokens.size(), m);
    }
    for (unsigned pass = 0; pass < effort.passes; ++pass) {
      cheapest_parse(data, 0, end - start, found, first.data(), costs, &tokens);
      costs.from_tokens(tokens.data(), tokens.size(), m);
    }
    for (unsigned pass = 0; pass < effort.block_passes; ++pass) parse_blocks_again(data, 0, found, first, m, &tokens);
    write_blocks(writer, tokens, m);
    if (lzh_encode_progress) *lzh_encode_progress += end - start;
    next = end;
    emit();
    // Only the window before the next chunk is looked at again.
    size_t keep_from = next > m.window ? next - m.window : 0;
    if (keep_from > base) {
      input.erase(input.begin(), input.begin() + (ptrdiff_t)(keep_from - base));
      base = keep_from;
    }
  }
  void emit() {
    if (!bits.empty()) out(bits.data(), bits.size());
    bits.clear();
  }

  const MethodParams &m;
  Effort effort;
  Sink out;
  std::vector<uint8_t> bits;  // written, not yet handed out
  BitWriter writer;
  MatchFinder finder;
  std::vector<uint8_t> input;  // the input from absolute position base on
  size_t base = 0, next = 0;   // next: where the next chunk starts
  std::vector<Candidate> found;
  std::vector<uint32_t> first;
  std::vector<Token> tokens;
  CostModel costs;
};

LzhStream::LzhStream(const MethodParams &method, const Effort &effort, Sink out)
    : s_(new State(method, effort, std::move(out))) {}
LzhStream::~LzhStream() = default;

void LzhStream::write(const uint8_t *data, size_t size) {
  while (size > 0) {  // taken a chunk at a time, so the buffer never holds more than two
    size_t take = std::min(size, CHUNK_BYTES);
    s_->input.insert(s_->input.end(), data, data + take);
    data += take, size -= take;
    while (s_->base + s_->input.size() >= s_->next + CHUNK_BYTES + MAX_MATCH) s_->chunk(s_->next + CHUNK_BYTES);
  }
}

void LzhStream::finish() {
  for (size_t end = s_->base + s_->input.size(); s_->next < end;) s_->chunk(std::min(end, s_->next + CHUNK_BYTES));
  s_->writer.flush();
  s_->emit();
}

std::vector<uint8_t> lzh_encode(const uint8_t *data, size_t size, const MethodParams &m, const Effort &effort) {
  std::vector<uint8_t> out;
  LzhStream stream(m, effort, [&](const uint8_t *bytes, size_t n) { out.insert(out.end(), bytes, bytes + n); });
  stream.write(data, size);
  stream.finish();
  return out;
}
