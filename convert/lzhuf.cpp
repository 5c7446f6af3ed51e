#include "convert/lzhuf.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

namespace kestro::lzhuf {

namespace {

constexpr int kNil = kWindow;  // empty link of the search trees
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
// at most kLookahead, and whether a sorts at or after b. Bytes 1 to 28 are
// compared as four words (the last two overlap), and the first word that
// differs is picked without branches: where two strings part is as good as
// random, so a branch on it would be guessed wrong half the time.
struct Comparison {
  int length;
  bool notLess;
};

inline uint64_t LoadWord(const uint8_t* p) {
  uint64_t w;
  std::memcpy(&w, p, 8);
  return w;
}

inline Comparison Compare(const uint8_t* a, const uint8_t* b) {
  static_assert(kLookahead == 29, "four words cover bytes 1 to 28");
  constexpr int kAt[4] = {1, 9, 17, 21};
  int length = kLookahead;
  uint64_t x = 0, y = 0;
  for (int w = 3; w >= 0; --w) {
    uint64_t xa = LoadWord(a + kAt[w]);
    uint64_t yb = LoadWord(b + kAt[w]);
    uint64_t d = xa ^ yb;
    bool differs = d != 0;
    length = differs ? kAt[w] + std::countr_zero(d) / 8 : length;
    x = differs ? xa : x;
    y = differs ? yb : y;
  }
  // In memory order the words compare as the strings do.
  if constexpr (std::endian::native == std::endian::little) {
    x = __builtin_bswap64(x);
    y = __builtin_bswap64(y);
  }
  return {length, x >= y};
}

uint32_t ReadLe32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

// Reads the stream most significant bit first. Past the end it reads zero
// bits, and remembers that it did so that a short stream can be told apart.
class BitReader {
 public:
  BitReader(const uint8_t* data, size_t size) : p_(data), end_(data + size) {}

  unsigned Bit() {
    if (count_ == 0) Refill();
    unsigned b = static_cast<unsigned>(buf_ >> 63);
    buf_ <<= 1;
    --count_;
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

 private:
  void Refill() {
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
    freq_[j] = freq_[i] + freq_[i + 1];
    son_[j] = i;
    prnt_[i] = prnt_[i + 1] = j;
  }
  freq_[kNodes] = 0xFFFF;
  prnt_[kRoot] = 0;
  for (int i = 0; i < kNodes; ++i) SetGrandsons(i);
}

void HuffmanTree::SetGrandsons(int node) {
  int s = son_[node];
  if (s < kNodes) {
    grand_[2 * node] = son_[s];
    grand_[2 * node + 1] = son_[s + 1];
  }
}

void HuffmanTree::Rebuild() {
  // Gather the leaves at the front with their frequencies halved.
  int j = 0;
  for (int i = 0; i < kNodes; ++i) {
    if (son_[i] >= kNodes) {
      freq_[j] = (freq_[i] + 1) / 2;
      son_[j] = son_[i];
      ++j;
    }
  }
  // Pair them up again, each new node placed after the nodes of equal or
  // smaller frequency.
  for (int i = 0, n = kSymbols; n < kNodes; i += 2, ++n) {
    unsigned f = freq_[n] = freq_[i] + freq_[i + 1];
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
  for (int i = 0; i < kNodes; ++i) SetGrandsons(i);
}

int HuffmanTree::MoveAhead(int c, unsigned k) {
  // The frequencies are sorted (the sentinel ends them), so search by
  // doubling steps and halving instead of walking the whole run of equal
  // frequencies, which is long when many symbols are equally common.
  int lo = c + 1;  // freq_[lo] < k
  int hi;
  for (int step = 1;; step <<= 1) {
    hi = lo + step;
    if (hi >= kNodes) {
      hi = kNodes;
      break;
    }
    if (freq_[hi] >= k) break;
    lo = hi;
  }
  while (hi - lo > 1) {
    int mid = lo + (hi - lo) / 2;
    if (freq_[mid] < k) {
      lo = mid;
    } else {
      hi = mid;
    }
  }
  int l = lo;
  freq_[c] = freq_[l];
  freq_[l] = k;

  int i = son_[c];
  prnt_[i] = l;
  if (i < kNodes) prnt_[i + 1] = l;

  int j = son_[l];
  son_[l] = i;

  prnt_[j] = c;
  if (j < kNodes) prnt_[j + 1] = c;
  son_[c] = j;

  SetGrandsons(c);
  SetGrandsons(l);
  grand_[2 * prnt_[c] + (c & 1)] = j;
  grand_[2 * prnt_[l] + (l & 1)] = i;
  return l;
}

void HuffmanTree::Climb(int c) {
  do {
    unsigned k = ++freq_[c];
    if (k > freq_[c + 1]) c = MoveAhead(c, k);
    c = prnt_[c];
  } while (c != 0);
}

void HuffmanTree::Update(int symbol) {
  if (freq_[kRoot] == kMaxFreq) Rebuild();
  Climb(prnt_[symbol + kNodes]);
}

void HuffmanTree::Update(int leaf, const Path& above) {
  if (freq_[kRoot] == kMaxFreq) {
    // The rebuild moves every node: the walked path is no longer the way up.
    int symbol = son_[leaf] - kNodes;
    Rebuild();
    Climb(prnt_[symbol + kNodes]);
    return;
  }
  // Most counts move no node; up to the first that moves, the next node is
  // known without waiting for the parent link.
  int c = leaf;
  for (int i = above.end;;) {
    unsigned k = ++freq_[c];
    if (k > freq_[c + 1]) {
      c = prnt_[MoveAhead(c, k)];
      if (c != 0) Climb(c);
      return;
    }
    if (i == above.begin) return;  // c was the root
    c = above.node[--i];
  }
}

uint64_t HuffmanTree::Code(int symbol, int* length) const {
  int leaf = 0;
  Path above;
  return Code(symbol, length, &leaf, &above);
}

uint64_t HuffmanTree::Code(int symbol, int* length, int* leaf, Path* above) const {
  // From the leaf up: an odd node is the bigger son, bit 1. The bit next to
  // the root is sent first. A tree whose root stays below kMaxFreq is at
  // most about 23 levels deep, far from the 64 bits held here.
  uint64_t code = 0;
  int len = 0;
  int k = prnt_[symbol + kNodes];
  *leaf = k;
  above->end = kSymbols;
  do {
    code |= static_cast<uint64_t>(k & 1) << len;
    k = prnt_[k];
    above->node[kSymbols - 1 - len] = static_cast<uint16_t>(k);
    ++len;
  } while (k != kRoot && len < 64);
  above->begin = kSymbols - len;
  *length = len;
  return code;
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
  explicit BitWriter(std::vector<uint8_t>& out) : out_(out), pos_(out.size()) {}

  // Room for the codes of one more symbol and its position.
  void Reserve() {
    if (out_.size() - pos_ < 32) out_.resize(std::max<size_t>(out_.size() * 2, pos_ + 4096));
  }

  void Put(uint64_t code, int length) {
    if (length > 32) {
      Put(code >> 32, length - 32);
      length = 32;
      code &= 0xFFFFFFFFu;
    }
    acc_ = (acc_ << length) | code;
    count_ += length;
    while (count_ >= 8) {
      count_ -= 8;
      out_[pos_++] = static_cast<uint8_t>(acc_ >> count_);
    }
  }

  // Pads the last byte with zero bits and trims the buffer.
  void Finish() {
    if (count_ > 0) {
      Reserve();
      out_[pos_++] = static_cast<uint8_t>(acc_ << (8 - count_));
      count_ = 0;
    }
    out_.resize(pos_);
  }

 private:
  std::vector<uint8_t>& out_;
  size_t pos_;
  uint64_t acc_ = 0;
  int count_ = 0;  // bits of acc_ not yet written
};

Encoder::Encoder() {
  std::memset(text_, 0, sizeof text_);
  std::memset(sons_, 0, sizeof sons_);
  std::memset(dad_, 0, sizeof dad_);
  InitTree();
}

void Encoder::InitTree() {
  for (int i = kWindow + 1; i <= kWindow + 256; ++i) Right(i) = kNil;
  for (int i = 0; i < kWindow; ++i) dad_[i] = kNil;
}

void Encoder::InsertNode(int r) {
  const uint8_t* key = &text_[r];
  int p = kWindow + 1 + key[0];
  Right(r) = Left(r) = kNil;
  // The best match so far, kept in registers; a candidate of more than
  // kThreshold bytes wins when it is longer, or as long and nearer. Chosen
  // without branches, as the outcome changes from node to node.
  int bestLength = 0;
  int bestPosition = matchPosition_;
  int side = 1;  // right on equal or greater, left on smaller
  for (;;) {
    int next = sons_[2 * p + side];
    if (next == kNil) {
      sons_[2 * p + side] = static_cast<int16_t>(r);
      dad_[r] = static_cast<int16_t>(p);
      matchLength_ = bestLength;
      matchPosition_ = bestPosition;
      return;
    }
    p = next;
    Comparison c = Compare(key, &text_[p]);
    int i = c.length;
    side = c.notLess;
    int distance = ((r - p) & kMask) - 1;
    bool better = i > kThreshold && (i > bestLength || (i == bestLength && distance < bestPosition));
    bestPosition = better ? distance : bestPosition;
    bestLength = better ? i : bestLength;
    if (i >= kLookahead) break;
  }
  matchLength_ = bestLength;
  matchPosition_ = bestPosition;
  // A full-length match: the new string takes the place of the old one.
  dad_[r] = dad_[p];
  Left(r) = Left(p);
  Right(r) = Right(p);
  dad_[Left(p)] = r;
  dad_[Right(p)] = r;
  if (Right(dad_[p]) == p) {
    Right(dad_[p]) = r;
  } else {
    Left(dad_[p]) = r;
  }
  dad_[p] = kNil;
}

void Encoder::DeleteNode(int p) {
  if (dad_[p] == kNil) return;
  int q;
  if (Right(p) == kNil) {
    q = Left(p);
  } else if (Left(p) == kNil) {
    q = Right(p);
  } else {
    q = Left(p);
    if (Right(q) != kNil) {
      do {
        q = Right(q);
      } while (Right(q) != kNil);
      Right(dad_[q]) = Left(q);
      dad_[Left(q)] = dad_[q];
      Left(q) = Left(p);
      dad_[Left(p)] = q;
    }
    Right(q) = Right(p);
    dad_[Right(p)] = q;
  }
  dad_[q] = dad_[p];
  if (Right(dad_[p]) == p) {
    Right(dad_[p]) = q;
  } else {
    Left(dad_[p]) = q;
  }
  dad_[p] = kNil;
}

void Encoder::EncodeSymbol(int symbol, BitWriter& bits) {
  int len = 0;
  int leaf = 0;
  uint64_t code = tree_.Code(symbol, &len, &leaf, &path_);
  bits.Put(code, len);
  tree_.Update(leaf, path_);
}

void Encoder::EncodePosition(unsigned position, BitWriter& bits) {
  unsigned upper = position >> 6;
  int len = kPositionLength[upper];
  bits.Put(kPositionCode[upper] >> (8 - len), len);
  bits.Put(position & 0x3F, 6);
}

bool Encoder::Encode(const uint8_t* data, size_t size, std::vector<uint8_t>& out) {
  if (size > kMaxDataSize) return false;
  uint32_t size32 = static_cast<uint32_t>(size);
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(size32 >> (8 * i)));
  if (size == 0) return true;

  // Fresh tables for every body: the output depends only on the data.
  tree_.Start();
  InitTree();
  matchPosition_ = matchLength_ = 0;
  int s = 0;
  int r = kWindow - kLookahead;
  std::memset(text_, ' ', static_cast<size_t>(r));
  std::memset(text_ + r, 0, sizeof text_ - static_cast<size_t>(r));

  BitWriter bits(out);
  size_t in = 0;
  int len = 0;
  while (len < kLookahead && in < size) text_[r + len++] = data[in++];
  for (int i = 1; i <= kLookahead; ++i) InsertNode(r - i);
  InsertNode(r);
  do {
    bits.Reserve();
    if (matchLength_ > len) matchLength_ = len;
    if (matchLength_ <= kThreshold) {
      matchLength_ = 1;
      EncodeSymbol(text_[r], bits);
    } else {
      EncodeSymbol(255 - kThreshold + matchLength_, bits);
      EncodePosition(static_cast<unsigned>(matchPosition_), bits);
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
      InsertNode(r);
    }
    // The data has ended: shrink the look-ahead.
    while (i++ < last) {
      DeleteNode(s);
      s = (s + 1) & kMask;
      r = (r + 1) & kMask;
      if (--len) InsertNode(r);
    }
  } while (len > 0);
  bits.Finish();
  return true;
}

// ---------------------------------------------------------------------------
// Decoder

Decoder::Decoder() { std::memset(text_, 0, sizeof text_); }

bool Decoder::SizeFits(uint32_t unpackedSize, size_t bodySize) {
  if (unpackedSize == 0) return true;
  if (bodySize <= kSizeWordBytes) return false;
  uint64_t bits = static_cast<uint64_t>(bodySize - kSizeWordBytes) * 8;
  return unpackedSize <= bits * kLookahead;
}

DecodeStatus Decoder::Decode(const uint8_t* body, size_t size, std::vector<uint8_t>& out) {
  out.clear();
  if (size < kSizeWordBytes) return DecodeStatus::Truncated;
  const uint32_t total = ReadLe32(body);
  if (total == 0) return DecodeStatus::Ok;
  if (!SizeFits(total, size)) return DecodeStatus::SizeTooLarge;

  tree_.Start();
  std::memset(text_, ' ', kWindow - kLookahead);
  std::memset(text_ + kWindow - kLookahead, 0, kLookahead);
  int r = kWindow - kLookahead;

  BitReader in(body + kSizeWordBytes, size - kSizeWordBytes);
  // Grow the output as it fills rather than trusting the size word with a
  // large allocation up front.
  out.resize(std::min<size_t>(total, size_t{1} << 20));
  uint8_t* o = out.data();
  size_t count = 0;
  while (count < total) {
    if (out.size() - count < static_cast<size_t>(kLookahead)) {
      out.resize(std::min<size_t>(total, std::max(out.size() * 2, count + kLookahead)));
      o = out.data();
    }
    // Down from the root, one bit per node, noting the way for the update.
    // The sons of the next node come from the grandsons of this one, so
    // each lookup waits only for the one two levels up.
    int node = kRoot;
    int sons = tree_.Son(node);
    path_.begin = path_.end = 0;
    do {
      path_.node[path_.end++] = static_cast<uint16_t>(node);
      int bit = static_cast<int>(in.Bit());
      int nextSons = tree_.Grandson(node, bit);
      node = sons + bit;
      sons = nextSons;
    } while (sons < kNodes);
    tree_.Update(node, path_);
    int c = sons - kNodes;
    if (c < 256) {
      o[count++] = static_cast<uint8_t>(c);
      text_[r] = static_cast<uint8_t>(c);
      r = (r + 1) & kMask;
    } else {
      int from = (r - static_cast<int>(in.Position()) - 1) & kMask;
      int n = c - 255 + kThreshold;
      if (static_cast<size_t>(n) > total - count) {
        out.clear();
        return DecodeStatus::Corrupt;
      }
      for (int k = 0; k < n; ++k) {
        uint8_t b = text_[(from + k) & kMask];
        o[count++] = b;
        text_[r] = b;
        r = (r + 1) & kMask;
      }
    }
    if (in.Overrun()) {
      out.clear();
      return DecodeStatus::Corrupt;
    }
  }
  return DecodeStatus::Ok;
}

}  // namespace kestro::lzhuf
