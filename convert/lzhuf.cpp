#include "convert/lzhuf.h"

#include <algorithm>
#include <array>
#include <bit>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <type_traits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kestro::lzhuf {

namespace {

constexpr int kNil = kWindow;  // empty link of the search trees
constexpr uint16_t kNoSlot = 0xFFFF;  // a string in no search tree
constexpr int kMask = kWindow - 1;

// Decoding side of the position code: for every value of the next 8 bits,
// the upper 6 bits of the distance and the length of their code.
struct PositionDecodeTables {
  std::array<uint8_t, 256> code{};
  std::array<uint8_t, 256> length{};
};

constexpr PositionDecodeTables MakePositionDecodeTables() {
  PositionDecodeTables t;
  for (int upper = 0; upper < 64; ++upper) {
    int len = kPositionLength[upper];
    int first = kPositionCode[upper];
    for (int v = first; v < first + (1 << (8 - len)); ++v) {
      t.code[static_cast<size_t>(v)] = static_cast<uint8_t>(upper);
      t.length[static_cast<size_t>(v)] = static_cast<uint8_t>(len);
    }
  }
  return t;
}

constexpr PositionDecodeTables kPositionDecode = MakePositionDecodeTables();

// How far a and b agree from byte 1 on (byte 0 is equal by construction),
// at most kLookahead; `cmp` gets the sign of a[i] - b[i] at the first
// difference, else 0. Compares eight bytes at a time.
inline int CommonLength(const uint8_t* a, const uint8_t* b, int* cmp) {
  int i = 1;
  if constexpr (std::endian::native == std::endian::little) {
    for (; i + 8 <= kLookahead; i += 8) {
      uint64_t x, y;
      std::memcpy(&x, a + i, 8);
      std::memcpy(&y, b + i, 8);
      if (uint64_t d = x ^ y) {
        // Only the sign of the difference steers the search; comparing the
        // words in memory order gives it without loading the bytes again.
        *cmp = __builtin_bswap64(x) > __builtin_bswap64(y) ? 1 : -1;
        return i + std::countr_zero(d) / 8;
      }
    }
  }
  for (; i < kLookahead; ++i) {
    if (a[i] != b[i]) {
      *cmp = a[i] - b[i];
      return i;
    }
  }
  *cmp = 0;
  return kLookahead;
}

// The search trees' way down is a coin toss for any branch predictor, and
// the compiler turns a plain choice of two values into a branch: these pick
// with conditional moves.
// cond ? b : a.
template <typename T>
inline T Pick(bool cond, T a, T b) {
#if defined(__x86_64__)
  asm("test %b2, %b2\n\tcmovnz %1, %0" : "+r"(a) : "r"(b), "q"(cond) : "cc");
  return a;
#else
  return cond ? b : a;
#endif
}

// When key > word: the right son's place, word and sons in place of the
// left's. One comparison sets the flags all three moves wait for.
inline void PickAbove(uint64_t key, uint64_t word, uint64_t& next, uint64_t right, uint64_t& nextWord,
                      uint64_t rightWord, uint32_t& nextSons, uint32_t rightSons) {
#if defined(__x86_64__)
  asm("cmp %[w], %[k]\n\t"
      "cmova %[r], %[n]\n\t"
      "cmova %[rw], %[nw]\n\t"
      "cmova %[rs], %[ns]"
      : [n] "+r"(next), [nw] "+r"(nextWord), [ns] "+r"(nextSons)
      : [k] "r"(key), [w] "r"(word), [r] "r"(right), [rw] "r"(rightWord), [rs] "r"(rightSons)
      : "cc");
#else
  const bool above = key > word;
  next = Pick(above, next, right);
  nextWord = Pick(above, nextWord, rightWord);
  nextSons = Pick(above, nextSons, rightSons);
#endif
}

inline uint64_t Load64(const uint8_t* p) {
  uint64_t w;
  std::memcpy(&w, p, 8);
  return w;
}

// Eight bytes loaded as they lie, as one number with the first byte highest:
// numbers compare as the byte strings do.
inline uint64_t ToBigEndian(uint64_t w) {
  if constexpr (std::endian::native == std::endian::little) w = __builtin_bswap64(w);
  return w;
}

inline uint64_t Word(const uint8_t* p) { return ToBigEndian(Load64(p)); }

uint32_t ReadLe32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

// Reads the stream most significant bit first. Past the end it reads zero
// bits, and remembers that it did so that a short stream can be told apart.
class BitReader {
 public:
  BitReader(const uint8_t* data, size_t size) : p_(data), end_(data + size) {}

  // At least 32 bits held from here on, for a code read with Peek, Skip
  // and TakeBit.
  void HoldCode() {
    if (count_ < 32) Refill();
  }
  unsigned Peek(int n) const { return static_cast<unsigned>(buf_ >> (64 - n)); }
  void Skip(int n) {
    buf_ <<= n;
    count_ -= n;
  }
  unsigned TakeBit() {
    unsigned b = Peek(1);
    Skip(1);
    return b;
  }

  // The upper 6 bits of a distance through the position code, then the
  // lower 6 bits as they stand.
  unsigned Position() {
    if (count_ < 14) Refill();
    unsigned next8 = static_cast<unsigned>(buf_ >> 56);
    int len = kPositionDecode.length[next8];
    buf_ <<= len;
    unsigned low = static_cast<unsigned>(buf_ >> 58);
    buf_ <<= 6;
    count_ -= len + 6;
    return static_cast<unsigned>(kPositionDecode.code[next8]) << 6 | low;
  }

  // True once a bit beyond the end of the data has been used.
  bool Overrun() const { return padBytes_ * 8 > static_cast<uint64_t>(count_); }
  // Whether a symbol with its position can be read from here with whole
  // words, which never go past the end: two refills at most, each taking
  // at most 7 bytes, and the second still finds a word.
  bool Plenty() const { return end_ - p_ >= 16; }

 private:
  void Refill() {
    if (end_ - p_ >= 8) {
      // A whole word, big-endian, below the bits still held; only its whole
      // bytes count as read. The bits of the byte it cut into sit where the
      // next word will put that byte again, so OR-ing it twice is harmless.
      uint64_t w;
      std::memcpy(&w, p_, 8);
      if constexpr (std::endian::native == std::endian::little) w = __builtin_bswap64(w);
      buf_ |= w >> count_;
      p_ += (63 - count_) >> 3;
      count_ |= 56;
      return;
    }
    while (count_ <= 56) {
      uint64_t b = 0;
      if (p_ < end_) {
        b = *p_++;
      } else {
        ++padBytes_;
      }
      buf_ |= b << (56 - count_);
      count_ += 8;
    }
  }

  const uint8_t* p_;
  const uint8_t* end_;
  uint64_t buf_ = 0;
  int count_ = 0;          // bits left in buf_, from the top
  uint64_t padBytes_ = 0;  // zero bytes loaded past the end
};

}  // namespace

// ---------------------------------------------------------------------------
// Adaptive Huffman tree

void HuffmanTree::Start() {
  for (int i = 0; i < kSymbols; ++i) {
    freq_[i] = 1;
    son_[i] = i + kNodes;
    prnt_[i + kNodes] = i;
  }
  for (int i = 0, j = kSymbols; j <= kRoot; i += 2, ++j) {
    freq_[j] = static_cast<uint16_t>(freq_[i] + freq_[i + 1]);
    son_[j] = i;
    prnt_[i] = prnt_[i + 1] = j;
  }
  for (int i = kNodes; i < kNodes + kRunBlock; ++i) freq_[i] = 0xFFFF;
  for (int above = kAboveRoot; above < kAboveRoot + 4; above += 2) {
    freq_[above] = 0;
    freq_[above + 1] = 0xFFFF;
    prnt_[above] = static_cast<int16_t>(above + 2);  // the last only ever compared, as above the root
  }
  prnt_[kRoot] = kAboveRoot;
  keepReach_ = false;
  SetAllLinks();
}

void HuffmanTree::KeepReach() {
  keepReach_ = use_ == Use::Decoding;
  if (keepReach_) FillReach(kRoot, 0, 0);
}

void HuffmanTree::SetAllLinks() {
  for (int i = 0; i < kNodes; ++i) {
    gp_[i] = prnt_[prnt_[i]];
    g3_[i] = prnt_[gp_[i]];
  }
  if (keepReach_) FillReach(kRoot, 0, 0);
  if (use_ == Use::Encoding) ForgetCodes();
}

void HuffmanTree::FillReach(int node, int depth, unsigned prefix) {
  const bool leaf = son_[node] >= kNodes;
  if (leaf || depth == kPrefixBits) {
    // Every value of the bits after the walk's own leads here.
    const int rest = kPrefixBits - depth;
    std::fill_n(reach_ + (prefix << rest), size_t{1} << rest,
                Reach{static_cast<uint16_t>(node), static_cast<uint8_t>(depth), leaf});
    return;
  }
  FillReach(son_[node], depth + 1, prefix << 1);
  FillReach(son_[node] + 1, depth + 1, prefix << 1 | 1);
}

void HuffmanTree::RefreshReach(int node) {
  // The walk to the node is its code: from the node up, an odd node is the
  // bit 1 of its level. Two levels a step: most subtrees that move lie
  // deeper than the table looks, and that is known sooner.
  unsigned prefix = 0;
  int depth = 0;
  for (int q = node; q != kRoot;) {
    if (depth >= kPrefixBits) return;
    const int up = prnt_[q];
    const int upper = gp_[q];
    prefix |= static_cast<unsigned>(q & 1) << depth++;
    if (up == kRoot) break;
    if (depth >= kPrefixBits) return;
    prefix |= static_cast<unsigned>(up & 1) << depth++;
    q = upper;
  }
  FillReach(node, depth, prefix);
}

void HuffmanTree::SetLinksBelow(int node) {
  const int up = prnt_[node];
  const int s = son_[node];
  if (s >= kNodes) return;
  for (int a = s; a <= s + 1; ++a) {
    gp_[a] = static_cast<int16_t>(up);
    g3_[a] = gp_[node];
    const int t = son_[a];
    if (t >= kNodes) continue;
    for (int b = t; b <= t + 1; ++b) {
      gp_[b] = static_cast<int16_t>(node);
      g3_[b] = static_cast<int16_t>(up);
      const int u = son_[b];
      if (u < kNodes) g3_[u] = g3_[u + 1] = static_cast<int16_t>(node);
    }
  }
}

void HuffmanTree::Rebuild() {
  // Gather the leaves at the front with their frequencies halved.
  int j = 0;
  for (int i = 0; i < kNodes; ++i) {
    if (son_[i] >= kNodes) {
      freq_[j] = static_cast<uint16_t>((freq_[i] + 1) / 2);
      son_[j] = son_[i];
      ++j;
    }
  }
  // Pair them up again, each new node placed after the nodes of equal or
  // smaller frequency.
  for (int i = 0, n = kSymbols; n < kNodes; i += 2, ++n) {
    uint16_t f = freq_[n] = static_cast<uint16_t>(freq_[i] + freq_[i + 1]);
    int k = n - 1;
    while (f < freq_[k]) --k;
    ++k;
    size_t moved = static_cast<size_t>(n - k);
    std::memmove(&freq_[k + 1], &freq_[k], moved * sizeof freq_[0]);
    freq_[k] = f;
    std::memmove(&son_[k + 1], &son_[k], moved * sizeof son_[0]);
    son_[k] = i;
  }
  for (int i = 0; i < kNodes; ++i) {
    int k = son_[i];
    if (k >= kNodes) {
      prnt_[k] = i;
    } else {
      prnt_[k] = prnt_[k + 1] = i;
    }
  }
  SetAllLinks();
}

int HuffmanTree::RunBelow(int from, unsigned k) const {
  // The frequencies are sorted: the nodes below k are a run, here counted a
  // block at a time instead of node by node. The sentinels end every run.
#if defined(__SSE2__)
  // Unsigned 16-bit counts compare as signed ones with their top bits
  // flipped; the run's length is the number of lanes before the first that
  // is not below.
  const __m128i flip = _mm_set1_epi16(static_cast<int16_t>(0x8000));
  const __m128i limit = _mm_set1_epi16(static_cast<int16_t>(k ^ 0x8000));
  static_assert(kRunBlock == 16, "two vectors of eight counts");
  for (int n = 0;;) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(freq_ + from + n));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(freq_ + from + n + 8));
    const __m128i below = _mm_packs_epi16(_mm_cmpgt_epi16(limit, _mm_xor_si128(a, flip)),
                                          _mm_cmpgt_epi16(limit, _mm_xor_si128(b, flip)));
    const int run = std::countr_one(static_cast<unsigned>(_mm_movemask_epi8(below)));
    n += run;
    if (run < kRunBlock) return n;
  }
#else
  int n = 0;
  while (freq_[from + n] < k) ++n;
  return n;
#endif
}

// Kept out of the climbs written into their callers: few counts move a node.
[[gnu::noinline]] int HuffmanTree::MoveAhead(int c, unsigned k) {
  const int l = c + RunBelow(c + 1, k);
  // l had the count c had before: the run's.
  freq_[c] = static_cast<uint16_t>(k - 1);
  freq_[l] = static_cast<uint16_t>(k);

  const int i = son_[c];
  const int j = son_[l];
  son_[c] = static_cast<int16_t>(j);
  son_[l] = static_cast<int16_t>(i);
  if (i >= kNodes && j >= kNodes) {
    // Two leaves, as mostly: only the links of the two symbols change, and
    // every walk from the root stays as it was.
    prnt_[i] = static_cast<int16_t>(l);
    prnt_[j] = static_cast<int16_t>(c);
    if (use_ == Use::Encoding) {
      // Each symbol now has the code the other had.
      std::swap(code_[i - kNodes], code_[j - kNodes]);
      std::swap(codeLength_[i - kNodes], codeLength_[j - kNodes]);
    }
    return l;
  }
  prnt_[i] = static_cast<int16_t>(l);
  if (i < kNodes) prnt_[i + 1] = static_cast<int16_t>(l);
  prnt_[j] = static_cast<int16_t>(c);
  if (j < kNodes) prnt_[j + 1] = static_cast<int16_t>(c);
  SetLinksBelow(c);
  SetLinksBelow(l);
  // A subtree moved: the walks through both places changed.
  if (keepReach_) {
    RefreshReach(c);
    RefreshReach(l);
  }
  if (use_ == Use::Encoding) {
    ForgetCodesBelow(c);
    ForgetCodesBelow(l);
  }
  return l;
}

[[gnu::always_inline]] inline void HuffmanTree::Climb(int c) {
  // Three levels a step: the parent, grandparent and great-grandparent are
  // looked up together and hold unless a node below them moves. One test a
  // step for the end: past the root the counts land above it.
  for (;;) {
    unsigned k = ++freq_[c];
    if (k > freq_[c + 1]) c = MoveAhead(c, k);
    int up = prnt_[c];
    int mid = gp_[c];
    int top = g3_[c];
    k = ++freq_[up];
    if (k > freq_[up + 1]) {
      up = MoveAhead(up, k);
      mid = prnt_[up];
      top = gp_[up];
    }
    k = ++freq_[mid];
    if (k > freq_[mid + 1]) top = prnt_[MoveAhead(mid, k)];
    if (top > kRoot) return;
    c = top;
  }
}

[[gnu::always_inline]] inline void HuffmanTree::CountLeaf(int leaf) {
  if (freq_[kRoot] == kMaxFreq) {
    const int symbol = son_[leaf] - kNodes;
    Rebuild();
    leaf = prnt_[symbol + kNodes];
  }
  Climb(leaf);
}

void HuffmanTree::UpdateLeaf(int leaf) { CountLeaf(leaf); }

uint64_t HuffmanTree::Code(int symbol, int* length) const {
  // From the leaf up: an odd node is the bigger son, bit 1. The bit next to
  // the root is sent first. A tree whose root stays below kMaxFreq is at
  // most about 23 levels deep, far from the 64 bits held here.
  // Two levels a step, as in Climb.
  uint64_t code = 0;
  int len = 0;
  for (int k = prnt_[symbol + kNodes];;) {
    code |= static_cast<uint64_t>(k & 1) << len++;
    const int up = prnt_[k];
    const int upper = gp_[k];
    if (up == kRoot || len == 64) break;
    code |= static_cast<uint64_t>(up & 1) << len++;
    if (upper == kRoot || len == 64) break;
    k = upper;
  }
  *length = len;
  return code;
}

uint64_t HuffmanTree::KnownCode(int symbol, int* length) {
  if (codeLength_[symbol] == 0) {
    int len = 0;
    code_[symbol] = Code(symbol, &len);
    codeLength_[symbol] = static_cast<uint8_t>(len);
  }
  *length = codeLength_[symbol];
  return code_[symbol];
}

void HuffmanTree::ForgetCodes() { std::fill_n(codeLength_, kSymbols, uint8_t{0}); }

void HuffmanTree::ForgetCodesBelow(int node) {
  const int s = son_[node];
  if (s >= kNodes) {
    codeLength_[s - kNodes] = 0;
    return;
  }
  ForgetCodesBelow(s);
  ForgetCodesBelow(s + 1);
}

int HuffmanTree::MaxCodeLength() const {
  int longest = 0;
  for (int s = 0; s < kSymbols; ++s) {
    int len = 0;
    Code(s, &len);
    longest = std::max(longest, len);
  }
  return longest;
}

// ---------------------------------------------------------------------------
// Encoder

class Encoder::BitWriter {
 public:
  explicit BitWriter(const Sink& sink) : sink_(sink) {}

  // Room for the codes of one more symbol and its position.
  void Reserve() {
    if (kBlock - pos_ < 32) Flush();
  }

  void Put(uint64_t code, int length) {
    if (length > 32) {
      Put(code >> 32, length - 32);
      length = 32;
      code &= 0xFFFFFFFFu;
    }
    // Fewer than 32 bits wait in acc_ between calls; whole 32-bit words go
    // out as they fill (bits above the waiting ones are left over from
    // words already written).
    acc_ = (acc_ << length) | code;
    count_ += length;
    if (count_ >= 32) {
      count_ -= 32;
      const uint32_t word = static_cast<uint32_t>(acc_ >> count_);
      const uint8_t bytes[4] = {static_cast<uint8_t>(word >> 24), static_cast<uint8_t>(word >> 16),
                                static_cast<uint8_t>(word >> 8), static_cast<uint8_t>(word)};
      std::memcpy(block_ + pos_, bytes, 4);
      pos_ += 4;
    }
  }

  // Whole bytes, before any bits.
  void PutBytes(const uint8_t* bytes, size_t n) {
    for (size_t i = 0; i < n; ++i) {
      Reserve();
      block_[pos_++] = bytes[i];
    }
  }

  // Pads the last byte with zero bits and hands over what is left.
  bool Finish() {
    Reserve();
    for (; count_ >= 8; count_ -= 8) block_[pos_++] = static_cast<uint8_t>(acc_ >> (count_ - 8));
    if (count_ > 0) {
      block_[pos_++] = static_cast<uint8_t>(acc_ << (8 - count_));
      count_ = 0;
    }
    Flush();
    return ok_;
  }

  bool ok() const { return ok_; }

 private:
  static constexpr size_t kBlock = size_t{1} << 16;

  void Flush() {
    if (pos_ > 0 && ok_) ok_ = sink_(block_, pos_);
    pos_ = 0;
  }

  const Sink& sink_;
  uint8_t block_[kBlock];
  size_t pos_ = 0;
  uint64_t acc_ = 0;
  int count_ = 0;  // bits of acc_ not yet written
  bool ok_ = true;
};

Encoder::Encoder() {
  std::memset(text_, 0, sizeof text_);
  std::memset(sons_, 0, sizeof sons_);
  std::memset(dad_, 0, sizeof dad_);
  InitTree();
}

void Encoder::InitTree() {
  for (int i = kWindow + 1; i <= kWindow + 256; ++i) Right(i) = kNil;
  for (int i = 0; i < kWindow; ++i) dad_[i] = kNoSlot;
}

template <bool kFindMatch>
void Encoder::InsertNode(int r) {
  const uint8_t* key = &text_[r];
  const int root = kWindow + 1 + key[0];
  Right(r) = Left(r) = kNil;
  int q = Right(root);
  if (q == kNil) {
    Right(root) = static_cast<uint16_t>(r);
    dad_[r] = static_cast<uint16_t>(2 * root + 1);
    if constexpr (kFindMatch) matchLength_ = 0;
    return;
  }
  // Bytes 1 to 8 as one number, first byte highest, decide almost every
  // comparison. The way down changes from node to node and no branch could
  // guess it, so a step is written to wait only for its comparison: the
  // words and sons of both sons of the node are loaded while it is made, and
  // it merely picks one of them (Pick, PickAbove).
  const uint64_t keyWord = Word(key + 1);
  uint64_t word = Word(text_ + q + 1);
  uint32_t sons = Sons(static_cast<size_t>(q));
  int p = root;
  // The best match so far as one number, length above nearness
  // (kWindow - distance), so that a candidate wins when it is longer, or as
  // long and nearer: the larger number. One of kThreshold bytes or fewer
  // never beats a longer one, and the parse codes a literal for it.
  int best = 0;
  int toRight = 1;
  for (;;) {
    const size_t left = sons & 0xFFFF;
    const size_t right = sons >> 16;
    // An empty link (kNil) loads harmless bytes past the ring. Only the
    // word picked is turned into a number.
    uint64_t next = left;
    uint64_t nextWord = Load64(text_ + left + 1);
    const uint64_t rightWord = Load64(text_ + right + 1);
    uint32_t nextSons = Sons(left);
    const uint32_t rightSons = Sons(right);
    if (const uint64_t differ = keyWord ^ word) [[likely]] {
      toRight = keyWord > word;
      PickAbove(keyWord, word, next, right, nextWord, rightWord, nextSons, rightSons);
      // Only a match longer than kThreshold bytes is ever coded: for most
      // strings bytes 1 and 2 already differ.
      if constexpr (kFindMatch) {
        if (differ < uint64_t{1} << 48) [[unlikely]] {
          const int i = 1 + std::countl_zero(differ) / 8;
          best = std::max(best, i << 12 | ((q - r) & kMask));
        }
      }
    } else {
      int cmp = 0;
      const int i = CommonLength(key, &text_[q], &cmp);
      if constexpr (kFindMatch) best = std::max(best, i << 12 | ((q - r) & kMask));
      if (i >= kLookahead) break;
      toRight = cmp >= 0;
      next = Pick<uint64_t>(toRight, left, right);
      nextWord = Pick(toRight, nextWord, rightWord);
      nextSons = Pick(toRight, nextSons, rightSons);
    }
    p = q;
    if (next == kNil) break;
    q = static_cast<int>(next);
    word = ToBigEndian(nextWord);
    sons = nextSons;
  }
  if constexpr (kFindMatch) {
    matchLength_ = best >> 12;
    matchPosition_ = kWindow - (best & kMask) - 1;
  }
  if (p == q) {
    // The search ended at an empty link: the new string hangs there.
    sons_[2 * p + toRight] = static_cast<uint16_t>(r);
    dad_[r] = static_cast<uint16_t>(2 * p + toRight);
    return;
  }
  // A full-length match: the new string takes the place of the old one.
  dad_[r] = dad_[q];
  Left(r) = Left(q);
  Right(r) = Right(q);
  dad_[Left(q)] = static_cast<uint16_t>(2 * r);
  dad_[Right(q)] = static_cast<uint16_t>(2 * r + 1);
  sons_[dad_[q]] = static_cast<uint16_t>(r);
  dad_[q] = kNoSlot;
}

inline void Encoder::DeleteNode(int p) {
  const int slot = dad_[p];
  if (slot == kNoSlot) return;
  const int left = Left(p);
  const int right = Right(p);
  int q;
  if ((left == kNil) | (right == kNil)) {
    q = left ^ right ^ kNil;  // the son there is, if any
  } else {
    // Two sons: the predecessor (the rightmost string on the left) takes
    // p's place.
    q = left;
    if (Right(q) != kNil) {
      do {
        q = Right(q);
      } while (Right(q) != kNil);
      sons_[dad_[q]] = Left(q);
      dad_[Left(q)] = dad_[q];
      Left(q) = static_cast<uint16_t>(left);
      dad_[left] = static_cast<uint16_t>(2 * q);
    }
    Right(q) = static_cast<uint16_t>(right);
    dad_[right] = static_cast<uint16_t>(2 * q + 1);
  }
  dad_[q] = static_cast<uint16_t>(slot);
  sons_[slot] = static_cast<uint16_t>(q);
  dad_[p] = kNoSlot;
}

void Encoder::EncodeSymbol(int symbol, BitWriter& bits) {
  int len = 0;
  const uint64_t code = tree_.KnownCode(symbol, &len);
  bits.Put(code, len);
  tree_.Update(symbol);
}

void Encoder::EncodePosition(unsigned position, BitWriter& bits) {
  unsigned upper = position >> 6;
  int len = kPositionLength[upper];
  bits.Put(kPositionCode[upper] >> (8 - len), len);
  bits.Put(position & 0x3F, 6);
}

bool Encoder::Encode(const uint8_t* data, size_t size, std::vector<uint8_t>& out) {
  if (size > kMaxDataSize) return false;
  return Encode(data, size, [&out](const uint8_t* bytes, size_t count) {
    out.insert(out.end(), bytes, bytes + count);
    return true;
  });
}

// Hands the parse's tokens from its thread to the coding thread: a fixed
// ring of blocks, so that the parse runs at most a few blocks ahead and the
// memory stays small.
class Encoder::TokenRing {
 public:
  struct Block {
    Token tokens[kTokensPerBlock];
    size_t count = 0;
  };

  // Parse side: copies a block in, waiting for room. False once the coding
  // has stopped.
  bool Put(const Token* tokens, size_t count) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return stopped_ || produced_ - consumed_ < kBlocks; });
    if (stopped_) return false;
    Block& b = blocks_[produced_ % kBlocks];
    lock.unlock();
    // The slot is the parse's until it is counted as produced.
    std::memcpy(b.tokens, tokens, count * sizeof(Token));
    b.count = count;
    lock.lock();
    ++produced_;
    changed_.notify_all();
    return true;
  }
  // Parse side: there will be no more blocks.
  void Finish() {
    std::lock_guard lock(mutex_);
    finished_ = true;
    changed_.notify_all();
  }

  // Coding side: the next block, or nullptr after the last one.
  const Block* Next() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return finished_ || consumed_ < produced_; });
    return consumed_ < produced_ ? &blocks_[consumed_ % kBlocks] : nullptr;
  }
  // Coding side: done with the block Next gave.
  void Release() {
    std::lock_guard lock(mutex_);
    ++consumed_;
    changed_.notify_all();
  }
  // Coding side: no more blocks wanted; the parse stops at its next block.
  void Stop() {
    std::lock_guard lock(mutex_);
    stopped_ = true;
    changed_.notify_all();
  }

 private:
  static constexpr size_t kBlocks = 4;
  Block blocks_[kBlocks];
  std::mutex mutex_;
  std::condition_variable changed_;
  size_t produced_ = 0;
  size_t consumed_ = 0;
  bool finished_ = false;
  bool stopped_ = false;
};

bool Encoder::Encode(const uint8_t* data, size_t size, const Sink& sink) {
  if (size > kMaxDataSize) return false;
  // The writer's block is too large for the stack of every caller.
  auto bits = std::make_unique<BitWriter>(sink);
  uint32_t size32 = static_cast<uint32_t>(size);
  const uint8_t sizeWord[4] = {static_cast<uint8_t>(size32), static_cast<uint8_t>(size32 >> 8),
                               static_cast<uint8_t>(size32 >> 16), static_cast<uint8_t>(size32 >> 24)};
  bits->PutBytes(sizeWord, sizeof sizeWord);
  if (size == 0) return bits->Finish();

  // Fresh tables for every body: the output depends only on the data.
  tree_.Start();
  auto codeHere = [&] {
    Parse(data, size, [&](const Token* tokens, size_t count) {
      Code(tokens, count, *bits);
      return bits->ok();
    });
    return bits->Finish();
  };
  if (size < kParallelFrom) return codeHere();

  // Default-initialized: the blocks are written before they are read.
  std::unique_ptr<TokenRing> ring(new TokenRing);
  std::thread parser;
  try {
    parser = std::thread([this, data, size, &ring] {
      Parse(data, size, [&ring](const Token* tokens, size_t count) { return ring->Put(tokens, count); });
      ring->Finish();
    });
  } catch (const std::system_error&) {
    return codeHere();  // no thread to be had: all of it here
  }
  // However the coding ends (a refusing sink, an exception from it), the
  // parse is stopped and waited for before its tables and the ring go.
  struct StopAndJoin {
    TokenRing& ring;
    std::thread& thread;
    ~StopAndJoin() {
      ring.Stop();
      thread.join();
    }
  } stopAndJoin{*ring, parser};
  while (const TokenRing::Block* block = ring->Next()) {
    Code(block->tokens, block->count, *bits);
    ring->Release();
    if (!bits->ok()) break;
  }
  return bits->Finish();
}

void Encoder::Parse(const uint8_t* data, size_t size, const TokenSink& emit) {
  InitTree();
  matchPosition_ = matchLength_ = 0;
  int s = 0;
  int r = kWindow - kLookahead;
  std::memset(text_, ' ', static_cast<size_t>(r));
  std::memset(text_ + r, 0, sizeof text_ - static_cast<size_t>(r));

  auto block = std::make_unique_for_overwrite<Token[]>(kTokensPerBlock);
  size_t tokens = 0;
  size_t in = 0;
  int len = 0;
  while (len < kLookahead && in < size) text_[r + len++] = data[in++];
  for (int i = 1; i <= kLookahead; ++i) InsertNode<false>(r - i);
  InsertNode<true>(r);
  do {
    if (matchLength_ > len) matchLength_ = len;
    if (matchLength_ <= kThreshold) {
      matchLength_ = 1;
      block[tokens++] = text_[r];
    } else {
      block[tokens++] = static_cast<Token>(255 - kThreshold + matchLength_) | static_cast<Token>(matchPosition_) << 16;
    }
    if (tokens == kTokensPerBlock) {
      if (!emit(block.get(), tokens)) return;
      tokens = 0;
    }
    int last = matchLength_;
    int i = 0;
    for (; i < last && in < size; ++i) {
      uint8_t c = data[in++];
      DeleteNode(s);
      text_[s] = c;
      // The first F - 1 bytes are mirrored past the end, so that a string
      // near the end of the ring can be compared without wrapping.
      if (s < kLookahead - 1) text_[s + kWindow] = c;
      s = (s + 1) & kMask;
      r = (r + 1) & kMask;
      // Only the match at the last string of the step is coded; the strings
      // before it just go into the trees.
      if (i + 1 < last) {
        InsertNode<false>(r);
      } else {
        InsertNode<true>(r);
      }
    }
    // The data has ended: shrink the look-ahead.
    while (i++ < last) {
      DeleteNode(s);
      s = (s + 1) & kMask;
      r = (r + 1) & kMask;
      if (--len) InsertNode<true>(r);
    }
  } while (len > 0);
  if (tokens > 0) emit(block.get(), tokens);
}

void Encoder::Code(const Token* tokens, size_t count, BitWriter& bits) {
  for (size_t i = 0; i < count; ++i) {
    bits.Reserve();
    const int symbol = static_cast<int>(tokens[i] & 0xFFFF);
    EncodeSymbol(symbol, bits);
    if (symbol > 255) EncodePosition(tokens[i] >> 16, bits);
  }
}

// ---------------------------------------------------------------------------
// Decoder

Decoder::Decoder() = default;

bool Decoder::SizeFits(uint32_t unpackedSize, size_t bodySize) {
  if (unpackedSize == 0) return true;
  if (bodySize <= kSizeWordBytes) return false;
  uint64_t bits = static_cast<uint64_t>(bodySize - kSizeWordBytes) * 8;
  return unpackedSize <= bits * kLookahead;
}

DecodeStatus Decoder::Decode(const uint8_t* body, size_t size, std::vector<uint8_t>& out) {
  if (size < kSizeWordBytes) {
    out.clear();
    return DecodeStatus::Truncated;
  }
  const uint32_t total = ReadLe32(body);
  if (total == 0 || !SizeFits(total, size)) {
    out.clear();
    return total == 0 ? DecodeStatus::Ok : DecodeStatus::SizeTooLarge;
  }

  tree_.Start();
  BitReader in(body + kSizeWordBytes, size - kSizeWordBytes);
  // The output is its own window: a match copies from the bytes already
  // there, a word at a time into room after the end. Whatever `out` held is
  // written over rather than cleared first.
  constexpr size_t kAfter = 32;
  static_assert(kAfter >= kLookahead + 3, "a match is copied in four words");
  // Room for what a body of this size usually holds (songs pack to a third
  // or more, random data not at all), grown as it fills beyond that, rather
  // than trusting the size word with a large allocation up front.
  size_t room = std::min<size_t>(total, std::max<size_t>(size_t{1} << 20, 4 * size));
  out.resize(room + kAfter);
  uint8_t* o = out.data();
  size_t count = 0;

  // One symbol and what it stands for, its code read with the prefix table
  // or not. False when a match would go past the size (which only a corrupt
  // stream does). Written into each loop below: a call would keep the
  // reader and the output in memory.
  using WithTable = std::true_type;
  using Walked = std::false_type;
  auto step = [&]<bool kTable>(std::bool_constant<kTable>) __attribute__((always_inline)) {
    // The first bits of the code in one lookup, then on down one bit per
    // node: few codes are longer than the table's bits.
    // A leaf at depth d needs a root count of at least the Fibonacci number
    // F(d + 2), and the root stays below kMaxFreq: no code is longer than
    // 22 bits, so 32 bits in hand read any of them without a refill.
    in.HoldCode();
    int node = kRoot;
    bool leaf = false;
    if constexpr (kTable) {
      const HuffmanTree::Reach& reach = tree_.Reached(in.Peek(HuffmanTree::kPrefixBits));
      in.Skip(reach.bits);
      node = reach.node;
      leaf = reach.leaf;
    }
    if (!leaf) {
      int sons = tree_.Son(node);
      do {
        node = sons + static_cast<int>(in.TakeBit());
        sons = tree_.Son(node);
      } while (sons < kNodes);
    }
    const int c = tree_.Son(node) - kNodes;
    tree_.CountLeaf(node);
    if (c < 256) {
      o[count++] = static_cast<uint8_t>(c);
      return true;
    }
    const size_t distance = in.Position() + 1;
    const size_t n = static_cast<size_t>(c - 255 + kThreshold);
    if (n > total - count) return false;
    uint8_t* to = o + count;
    if (distance > count) {
      // Early in the data a match reaches back into the window as it
      // starts: spaces, and farthest back the zeros of the look-ahead.
      for (size_t k = 0; k < n; ++k) {
        const size_t at = count + k;
        const size_t back = distance - at;  // how far before the first byte, while at < distance
        to[k] = at >= distance ? o[at - distance] : back <= kWindow - kLookahead ? ' ' : 0;
      }
    } else if (const uint8_t* from = to - distance; distance >= 8) {
      // Each word reads only bytes before the one it writes.
      for (size_t k = 0; k < n; k += 8) std::memcpy(to + k, from + k, 8);
    } else {
      for (size_t k = 0; k < n; ++k) to[k] = from[k];
    }
    count += n;
    return true;
  };
  auto fail = [&out] {
    out.clear();
    return DecodeStatus::Corrupt;
  };
  // Room for one more match.
  auto makeRoom = [&] {
    if (room - count < static_cast<size_t>(kLookahead)) {
      room = std::min<size_t>(total, std::max(room * 2, count + kLookahead));
      out.resize(room + kAfter);
      o = out.data();
    }
  };

  // The first symbols reshape the tree near the root at nearly every step:
  // keeping the table through them would cost more than it saves.
  constexpr size_t kSettled = 2048;
  for (size_t symbols = 0; symbols < kSettled && count < total; ++symbols) {
    makeRoom();
    if (!step(Walked{}) || in.Overrun()) return fail();
  }
  if (count < total) tree_.KeepReach();
  while (count < total) {
    makeRoom();
    // As long as a whole match fits the room (which never passes the size)
    // and the input holds whole words, neither needs a look at every symbol:
    // a step there can neither fail nor read past the end.
    const size_t before = count;
    if (room - count > static_cast<size_t>(kLookahead)) {
      const size_t last = room - kLookahead;
      while (count <= last && in.Plenty()) step(WithTable{});
    }
    if (count == before && (!step(WithTable{}) || in.Overrun())) return fail();
  }
  out.resize(total);
  return DecodeStatus::Ok;
}

}  // namespace kestro::lzhuf
