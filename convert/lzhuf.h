// LZSS with adaptive Huffman coding (the LZHUF algorithm of Okumura and
// Yoshizaki) with the window and match sizes of the player's song packages.
// The output is bit for bit the one of the published algorithm with these
// parameters, so that the player and older packages agree with us.
//
// Every table lives in a coder object, so that several songs can be coded at
// once; the coders read memory buffers, and the encoder can hand its output
// on in blocks as it goes.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <vector>

namespace kestro::lzhuf {

inline constexpr int kWindow = 4096;    // ring buffer size N
inline constexpr int kLookahead = 29;   // longest match F
inline constexpr int kThreshold = 2;    // matches of this length or shorter go as literals
inline constexpr int kSymbols = 256 - kThreshold + kLookahead;  // 283: literals and match lengths
inline constexpr int kNodes = 2 * kSymbols - 1;                  // 565
inline constexpr int kRoot = kNodes - 1;
inline constexpr unsigned kMaxFreq = 0x8000;  // root frequency that triggers a rebuild

// Size of the word that opens a body: the length of the unpacked data.
inline constexpr size_t kSizeWordBytes = 4;
// Longest data that a body can describe.
inline constexpr uint64_t kMaxDataSize = 0xFFFFFFFFu;

// The fixed code of the upper 6 bits of a match distance: code lengths 3 to
// 8 bits, each code the next free one (left-aligned in a byte).
inline constexpr uint8_t kPositionLength[64] = {
    3, 4, 4, 4, 5, 5, 5, 5, 5, 5, 5, 5, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 7, 7, 7, 7, 7, 7, 7, 7,
    7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8,
};
inline constexpr uint8_t kPositionCode[64] = {
    0x00, 0x20, 0x30, 0x40, 0x50, 0x58, 0x60, 0x68, 0x70, 0x78, 0x80, 0x88, 0x90, 0x94, 0x98, 0x9C,
    0xA0, 0xA4, 0xA8, 0xAC, 0xB0, 0xB4, 0xB8, 0xBC, 0xC0, 0xC2, 0xC4, 0xC6, 0xC8, 0xCA, 0xCC, 0xCE,
    0xD0, 0xD2, 0xD4, 0xD6, 0xD8, 0xDA, 0xDC, 0xDE, 0xE0, 0xE2, 0xE4, 0xE6, 0xE8, 0xEA, 0xEC, 0xEE,
    0xF0, 0xF1, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF7, 0xF8, 0xF9, 0xFA, 0xFB, 0xFC, 0xFD, 0xFE, 0xFF,
};

// The adaptive Huffman tree over the 283 symbols, as both directions keep it.
class HuffmanTree {
 public:
  // The encoder keeps the codes it has walked, the decoder a table of where
  // the first bits of a code lead.
  enum class Use { Encoding, Decoding };
  explicit HuffmanTree(Use use = Use::Encoding) : use_(use) { Start(); }

  // Every symbol at frequency 1, leaves paired bottom-up.
  void Start();
  // Counts one more of `symbol` and restores the order of the tree; rebuilds
  // it first when the root has reached kMaxFreq.
  void Update(int symbol) { UpdateLeaf(prnt_[symbol + kNodes]); }
  // The same for the symbol in the leaf node `leaf`.
  void UpdateLeaf(int leaf);

  // The code of `symbol`: `length` bits, the first bit to send highest.
  uint64_t Code(int symbol, int* length) const;
  // The same, walked once and then kept until the tree changes it
  // (Use::Encoding only).
  uint64_t KnownCode(int symbol, int* length);
  // Depth of the deepest leaf (longest code).
  int MaxCodeLength() const;

  // Where the walk from the root with the next kPrefixBits bits of the
  // stream ends: at a leaf on the way, or at the node that many levels
  // down. Kept by a tree for Use::Decoding from KeepReach() on, until the
  // next Start().
  static constexpr int kPrefixBits = 8;
  struct Reach {
    uint16_t node;
    uint8_t bits;  // bits the walk used
    bool leaf;
  };
  const Reach& Reached(unsigned nextBits) const { return reach_[nextBits]; }
  void KeepReach();

  int Son(int node) const { return son_[node]; }
  unsigned Freq(int node) const { return freq_[node]; }

 private:
  // The decoder's loop takes UpdateLeaf's body whole (CountLeaf).
  friend class Decoder;
  void CountLeaf(int leaf);

  void Rebuild();
  // Node c has reached frequency k, more than its right neighbour: it trades
  // places with the last node of a lower frequency. Returns that place.
  int MoveAhead(int c, unsigned k);
  // How many nodes from `from` on have a frequency below k.
  int RunBelow(int from, unsigned k) const;
  // Counts one more at node c and at each node above it.
  void Climb(int c);
  // After node's sons changed: the links to their grandparents and
  // great-grandparents of the nodes up to three levels below it.
  void SetLinksBelow(int node);
  void SetAllLinks();
  // The prefix table's entries for the walks through `node`, which is
  // `depth` levels down at the end of the walk `prefix`.
  void FillReach(int node, int depth, unsigned prefix);
  // The same for a node whose sons have just changed, wherever it is.
  void RefreshReach(int node);
  // After a rebuild: no kept code is true any more.
  void ForgetCodes();
  // After a subtree has moved to `node`: the kept codes below it are no
  // longer true (every other code stays as it was).
  void ForgetCodesBelow(int node);

  // Sorted by node index, sentinels after the end (RunBelow reads a block
  // at a time). The root never passes kMaxFreq: 16 bits hold every count.
  static constexpr int kRunBlock = 16;
  // Two nodes above the root: a climb that has counted the root may count
  // there once or twice more rather than test for the root at every level;
  // the counts to their right are never passed.
  static constexpr int kAboveRoot = kNodes + kSymbols;
  uint16_t freq_[kAboveRoot + 4];
  // Node numbers fit 16 bits; small tables leave the first-level cache to
  // the encoder's search trees.
  int16_t prnt_[kAboveRoot + 4];  // parent of each node; [kNodes + s] is the leaf of symbol s
  int16_t son_[kNodes];           // smaller son (the other is son + 1); >= kNodes for a leaf
  // Parent of the parent, and its parent: a climb waits for one link per
  // three levels.
  int16_t gp_[kNodes];
  int16_t g3_[kNodes];
  const Use use_;
  bool keepReach_ = false;
  Reach reach_[1 << kPrefixBits];  // Use::Decoding
  uint64_t code_[kSymbols];        // Use::Encoding, valid where the length is not 0
  uint8_t codeLength_[kSymbols];
};

class Encoder {
 public:
  Encoder();

  // Receives the body in pieces as it is made; false stops the coding.
  using Sink = std::function<bool(const uint8_t* bytes, size_t count)>;

  // Appends the body for data[0..size) to `out`: the size as 4 bytes
  // little-endian, then the bit stream, most significant bit first, the last
  // byte padded with zero bits. False (and nothing appended) when size does
  // not fit the size word.
  bool Encode(const uint8_t* data, size_t size, std::vector<uint8_t>& out);
  // The same body handed to `sink` a block at a time, so that a large body
  // never has to be held whole. False when size does not fit the size word
  // (then nothing is handed over) or when the sink refused a block.
  //
  // The string matching never looks at the Huffman coding, so on inputs of
  // some size a second thread does it and hands its choices (literal or
  // match) over in blocks while this thread codes them; the sink is always
  // called on the calling thread.
  bool Encode(const uint8_t* data, size_t size, const Sink& sink);

  // Inputs shorter than this are parsed and coded on the calling thread: a
  // thread would cost more than it saves.
  static constexpr size_t kParallelFrom = 32 * 1024;

  // A step of the parse: symbol (a literal byte or 253 + match length) in
  // the low 16 bits, match position (distance - 1) in the high 16.
  using Token = uint32_t;
  static constexpr size_t kTokensPerBlock = 8192;

 private:
  using TokenSink = std::function<bool(const Token* tokens, size_t count)>;
  class TokenRing;
  class BitWriter;

  // The parse: the tokens of data[0..size) to `emit`, a block at a time,
  // until it refuses one.
  void Parse(const uint8_t* data, size_t size, const TokenSink& emit);
  void InitTree();
  // Puts the string at r into its search tree; with kFindMatch also finds
  // the longest match on the way (matchLength_, matchPosition_).
  template <bool kFindMatch>
  void InsertNode(int r);
  void DeleteNode(int p);

  // The coding: Huffman codes of the tokens, in order.
  void Code(const Token* tokens, size_t count, BitWriter& bits);
  void EncodeSymbol(int symbol, BitWriter& bits);
  void EncodePosition(unsigned position, BitWriter& bits);

  // The coding's tables; the parse's follow. With two threads each side
  // touches only its own.
  HuffmanTree tree_;

  uint8_t text_[kWindow + kLookahead - 1];
  // Binary search trees of the strings in the window: one root per first
  // byte (the right son of node kWindow + 1 + byte); kWindow is the empty
  // link. Left and right son of node p at 2p and 2p + 1.
  // 16-bit links keep the trees in the first-level cache.
  uint16_t& Left(int p) { return sons_[2 * p]; }
  uint16_t& Right(int p) { return sons_[2 * p + 1]; }
  // Both sons of p in one load: left in the low half, right in the high.
  uint32_t Sons(size_t p) const {
    uint32_t s;
    std::memcpy(&s, sons_ + 2 * p, sizeof s);
    return std::endian::native == std::endian::little ? s : s >> 16 | s << 16;
  }
  uint16_t sons_[2 * (kWindow + 257)];
  // Where each string hangs: the index in sons_ of the link to it, so that
  // taking it out needs no look at its parent's sons.
  uint16_t dad_[kWindow + 1];
  int matchPosition_ = 0;  // distance - 1 of the longest match found
  int matchLength_ = 0;
};

enum class DecodeStatus {
  Ok,
  Truncated,     // shorter than the size word
  SizeTooLarge,  // the size cannot come from a stream this short
  Corrupt,       // the stream ends early or codes more bytes than the size
};

class Decoder {
 public:
  Decoder();

  // Decodes a whole body into `out` (replaced). Never reads past `size`
  // bytes and never produces more than the size word says.
  DecodeStatus Decode(const uint8_t* body, size_t size, std::vector<uint8_t>& out);

  // The size word of a body, and whether a stream of this length can hold
  // it (each symbol takes at least one bit and gives at most kLookahead
  // bytes).
  static bool SizeFits(uint32_t unpackedSize, size_t bodySize);

 private:
  HuffmanTree tree_{HuffmanTree::Use::Decoding};
};

}  // namespace kestro::lzhuf
