// LZ77 parsing (hash chains, lazy matching) and static-Huffman block writing.
// Each block describes three canonical codes by their lengths: the code-length
// code (19 symbols), the literal/length code (510) and the position code; a
// code with one symbol (or none) uses the single-symbol form, which decodes in
// zero bits.
#include "lzh_encoder.h"
#include <algorithm>
#include <cstring>
#include <queue>

namespace {

constexpr unsigned MIN_MATCH = 3, MAX_MATCH = 256;
constexpr unsigned LITERAL_LENGTH_SYMBOLS = 510, CODE_LENGTH_SYMBOLS = 19;
constexpr unsigned MAX_CODE_LENGTH = 16;
constexpr unsigned MAX_BLOCK_SYMBOLS = 65535;  // the 16-bit block size; 0 would mean 65,536
constexpr unsigned HASH_BITS = 16;
constexpr unsigned MAX_CHAIN = 48, NICE_LENGTH = 64, MAX_CANDIDATES = 16;
constexpr unsigned MAX_POSITION_SYMBOLS = 17;
constexpr size_t CHUNK_BYTES = 1 << 18;  // parsed as one; written as blocks of <= 65,535 symbols

const MethodParams METHODS[] = {
    {'5', 8192, 14, 4},
    {'6', 32768, 17, 5},
    {'7', 65536, 17, 5},
};

class BitWriter {
 public:
  explicit BitWriter(std::vector<uint8_t> *out) : out_(out) {}
  void put(uint32_t value, unsigned bits) {  // most significant bit first
    for (unsigned i = bits; i-- > 0;) {
      acc_ = (uint8_t)(acc_ << 1 | (value >> i & 1));
      if (++count_ == 8) out_->push_back(acc_), acc_ = 0, count_ = 0;
    }
  }
  void flush() {
    if (count_) out_->push_back((uint8_t)(acc_ << (8 - count_)));
    acc_ = 0, count_ = 0;
  }

 private:
  std::vector<uint8_t> *out_;
  uint8_t acc_ = 0;
  unsigned count_ = 0;
};

struct Token {
  uint16_t symbol;    // 0..255 literal, 256.. match of length symbol - 253
  uint16_t position;  // distance - 1, for matches
};

struct Candidate {
  uint16_t length;
  uint16_t position;  // distance - 1
};

unsigned position_symbol(unsigned position) {
  unsigned s = 0;
  while (position >> s) ++s;  // bit length: 0 for 0, 1 for 1, s for 2^(s-1)..2^s-1
  return s;
}

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
void write_small_lengths(BitWriter &w, const std::vector<uint8_t> &lengths, unsigned count_bits,
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

void write_block(BitWriter &w, const Token *tokens, unsigned count, const MethodParams &m) {
  std::vector<uint32_t> lit_freq(LITERAL_LENGTH_SYMBOLS), pos_freq(m.pos_symbols);
  for (unsigned i = 0; i < count; ++i) {
    ++lit_freq[tokens[i].symbol];
    if (tokens[i].symbol >= 256) ++pos_freq[position_symbol(tokens[i].position)];
  }
  std::vector<uint8_t> lit_len = huffman_lengths(lit_freq, MAX_CODE_LENGTH);
  std::vector<uint8_t> pos_len = huffman_lengths(pos_freq, MAX_CODE_LENGTH);
  std::vector<uint16_t> lit_code = canonical_codes(lit_len), pos_code = canonical_codes(pos_len);

  w.put(count, 16);
  unsigned only = 0;
  if (used_symbols(lit_freq, &only) <= 1) {
    w.put(0, 5), w.put(0, 5);    // code-length code: single symbol 0, never used
    w.put(0, 9), w.put(only, 9);  // literal/length code: single symbol
    lit_len.assign(LITERAL_LENGTH_SYMBOLS, 0);
  } else {
    unsigned n = LITERAL_LENGTH_SYMBOLS;
    while (lit_len[n - 1] == 0) --n;
    std::vector<LengthSymbol> coded = code_length_symbols(lit_len, n);
    std::vector<uint32_t> t_freq(CODE_LENGTH_SYMBOLS);
    for (const LengthSymbol &c : coded) ++t_freq[c.symbol];
    std::vector<uint8_t> t_len = huffman_lengths(t_freq, MAX_CODE_LENGTH);
    unsigned t_only = 0;
    if (used_symbols(t_freq, &t_only) <= 1) {
      w.put(0, 5), w.put(t_only, 5);
      t_len.assign(CODE_LENGTH_SYMBOLS, 0);
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
  if (used_symbols(pos_freq, &only) <= 1) {
    w.put(0, m.pos_bits), w.put(only, m.pos_bits);
    pos_len.assign(m.pos_symbols, 0);
  } else {
    write_small_lengths(w, pos_len, m.pos_bits, -1);
  }
  for (unsigned i = 0; i < count; ++i) {
    const Token &t = tokens[i];
    w.put(lit_code[t.symbol], lit_len[t.symbol]);
    if (t.symbol >= 256) {
      unsigned s = position_symbol(t.position);
      w.put(pos_code[s], pos_len[s]);
      if (s > 1) w.put(t.position & ((1u << (s - 1)) - 1), s - 1);
    }
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

// Hash chains over the whole input; positions older than the window are
// never followed.
class MatchFinder {
 public:
  MatchFinder(const uint8_t *data, size_t size, unsigned window)
      : data_(data), size_(size), window_(window), head_(1u << HASH_BITS, -1), prev_(size ? size : 1) {}

  void insert(size_t pos) {
    if (pos + MIN_MATCH > size_) return;
    uint32_t h = hash(pos);
    prev_[pos] = head_[h];
    head_[h] = (int32_t)pos;
  }

  // Every match at pos that is longer than all nearer ones, nearest first:
  // lengths strictly grow and each length is paired with its nearest
  // distance. `limit` caps the length. Returns the number written.
  unsigned find_all(size_t pos, unsigned limit, Candidate *out) const {
    if (limit < MIN_MATCH || pos + MIN_MATCH > size_) return 0;
    unsigned best = MIN_MATCH - 1, count = 0, chain = MAX_CHAIN;
    const uint8_t *here = data_ + pos;
    for (int32_t cand = head_[hash(pos)]; cand >= 0 && chain-- > 0; cand = prev_[(size_t)cand]) {
      size_t dist = pos - (size_t)cand;
      if (dist > window_) break;
      const uint8_t *there = data_ + cand;
      if (there[best] != here[best] || there[0] != here[0] || there[1] != here[1]) continue;
      unsigned len = common_length(here, there, limit);
      if (len > best) {
        best = len;
        out[count++] = {(uint16_t)len, (uint16_t)(dist - 1)};
        if (len >= limit || len >= NICE_LENGTH || count == MAX_CANDIDATES) break;
      }
    }
    return count;
  }

 private:
  uint32_t hash(size_t pos) const {
    uint32_t v = data_[pos] | data_[pos + 1] << 8 | data_[pos + 2] << 16;
    return (v * 2654435761u) >> (32 - HASH_BITS);
  }
  const uint8_t *data_;
  size_t size_;
  unsigned window_;
  std::vector<int32_t> head_, prev_;
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
  void initial() {
    for (unsigned s = 0; s < LITERAL_LENGTH_SYMBOLS; ++s) literal_length[s] = s < 256 ? 8 : 7 + (s - 256) / 32;
    for (unsigned s = 0; s < MAX_POSITION_SYMBOLS; ++s) position[s] = 4 + (s > 1 ? s - 1 : 0);
  }
  uint32_t match(unsigned len, unsigned position_value) const {
    return literal_length[len - MIN_MATCH + 256] + position[position_symbol(position_value)];
  }
};

// The cheapest parse of data[start, end) under `costs`, found backwards: the
// cost of the rest from each position is known before the position itself.
void cheapest_parse(const uint8_t *data, size_t start, size_t end, const std::vector<Candidate> &found,
                    const std::vector<uint32_t> &first, const CostModel &costs, std::vector<Token> *out) {
  size_t n = end - start;
  std::vector<uint32_t> cost(n + 1, 0);
  std::vector<Token> choice(n);
  for (size_t i = n; i-- > 0;) {
    uint32_t best = costs.literal_length[data[start + i]] + cost[i + 1];
    Token pick = {data[start + i], 0};
    unsigned from = MIN_MATCH;
    for (uint32_t k = first[i]; k < first[i + 1]; ++k) {
      const Candidate &c = found[k];
      uint32_t position_cost = costs.position[position_symbol(c.position)];
      for (unsigned len = from; len <= c.length; ++len) {
        uint32_t total = costs.literal_length[len - MIN_MATCH + 256] + position_cost + cost[i + len];
        if (total < best) best = total, pick = {(uint16_t)(len - MIN_MATCH + 256), c.position};
      }
      from = c.length + 1u;
    }
    cost[i] = best;
    choice[i] = pick;
  }
  out->clear();
  for (size_t i = 0; i < n;) {
    out->push_back(choice[i]);
    i += choice[i].symbol < 256 ? 1 : choice[i].symbol - 256 + MIN_MATCH;
  }
}

void token_lengths(const std::vector<Token> &tokens, unsigned pos_symbols, std::vector<uint8_t> *lit,
                   std::vector<uint8_t> *pos) {
  std::vector<uint32_t> lit_freq(LITERAL_LENGTH_SYMBOLS), pos_freq(pos_symbols);
  for (const Token &t : tokens) {
    ++lit_freq[t.symbol];
    if (t.symbol >= 256) ++pos_freq[position_symbol(t.position)];
  }
  *lit = huffman_lengths(lit_freq, MAX_CODE_LENGTH);
  *pos = huffman_lengths(pos_freq, MAX_CODE_LENGTH);
}

}  // namespace

const MethodParams *method_params(char letter) {
  for (const MethodParams &m : METHODS)
    if (m.letter == letter) return &m;
  return nullptr;
}

std::vector<uint8_t> huffman_lengths(const std::vector<uint32_t> &freq_in, unsigned limit) {
  std::vector<uint64_t> freq(freq_in.begin(), freq_in.end());
  size_t n = freq.size();
  std::vector<uint8_t> lengths(n, 0);
  for (;;) {
    struct Node {
      uint64_t weight;
      int left, right;
    };
    std::vector<Node> nodes;
    using Item = std::pair<uint64_t, int>;
    std::priority_queue<Item, std::vector<Item>, std::greater<Item>> heap;
    for (size_t s = 0; s < n; ++s)
      if (freq[s]) nodes.push_back({freq[s], -1 - (int)s, 0}), heap.push({freq[s], (int)nodes.size() - 1});
    if (nodes.size() <= 1) {
      for (size_t s = 0; s < n; ++s) lengths[s] = 0;
      return lengths;
    }
    while (heap.size() > 1) {
      Item a = heap.top();
      heap.pop();
      Item b = heap.top();
      heap.pop();
      nodes.push_back({a.first + b.first, a.second, b.second});
      heap.push({a.first + b.first, (int)nodes.size() - 1});
    }
    unsigned deepest = 0;
    std::vector<std::pair<int, unsigned>> stack = {{heap.top().second, 0}};
    while (!stack.empty()) {
      auto [index, depth] = stack.back();
      stack.pop_back();
      const Node &node = nodes[(size_t)index];
      if (node.left < 0) {
        lengths[(size_t)(-1 - node.left)] = (uint8_t)depth;
        deepest = std::max(deepest, depth);
      } else {
        stack.push_back({node.left, depth + 1});
        stack.push_back({node.right, depth + 1});
      }
    }
    if (deepest <= limit) return lengths;
    // Too deep: flatten the frequencies and build again.
    for (uint64_t &f : freq)
      if (f) f = (f + 1) / 2;
  }
}

// The input is parsed in chunks: all matches of a chunk are gathered once,
// then the cheapest parse is found twice, first under a guessed cost model
// (or the previous chunk's codes), then under the codes that parse gives.
// Inside a match of NICE_LENGTH or more no further matches are gathered.
std::vector<uint8_t> lzh_encode(const uint8_t *data, size_t size, const MethodParams &m) {
  std::vector<uint8_t> out;
  BitWriter writer(&out);
  MatchFinder finder(data, size, m.window);
  std::vector<Candidate> found;
  std::vector<uint32_t> first;
  std::vector<Token> tokens;
  std::vector<uint8_t> lit_len, pos_len;
  CostModel costs;
  costs.initial();
  for (size_t start = 0; start < size;) {
    size_t end = std::min(size, start + CHUNK_BYTES);
    found.clear();
    first.assign(end - start + 1, 0);
    size_t skip_until = start;
    for (size_t p = start; p < end; ++p) {
      first[p - start] = (uint32_t)found.size();
      if (p >= skip_until) {
        Candidate c[MAX_CANDIDATES];
        unsigned n = finder.find_all(p, (unsigned)std::min<size_t>(MAX_MATCH, end - p), c);
        found.insert(found.end(), c, c + n);
        if (n && c[n - 1].length >= NICE_LENGTH) skip_until = p + c[n - 1].length;
      }
      finder.insert(p);
    }
    first[end - start] = (uint32_t)found.size();
    for (int pass = 0; pass < 2; ++pass) {
      cheapest_parse(data, start, end, found, first, costs, &tokens);
      token_lengths(tokens, m.pos_symbols, &lit_len, &pos_len);
      costs.from_lengths(lit_len, pos_len);
    }
    for (size_t i = 0; i < tokens.size(); i += MAX_BLOCK_SYMBOLS)
      write_block(writer, tokens.data() + i, (unsigned)std::min<size_t>(MAX_BLOCK_SYMBOLS, tokens.size() - i), m);
    start = end;
  }
  writer.flush();
  return out;
}
