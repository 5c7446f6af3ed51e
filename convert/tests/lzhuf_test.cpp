#include "convert/lzhuf.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <thread>

#include "convert/tests/lzhuf_reference.h"
#include "convert/tests/test_data.h"

namespace kestro {
namespace {

using Bytes = std::vector<uint8_t>;
using namespace kestro::testing;

Bytes EncodeBody(const Bytes& data) {
  auto enc = std::make_unique<lzhuf::Encoder>();
  Bytes out;
  EXPECT_TRUE(enc->Encode(data.data(), data.size(), out));
  return out;
}

lzhuf::DecodeStatus DecodeBody(const Bytes& body, Bytes& out) {
  auto dec = std::make_unique<lzhuf::Decoder>();
  return dec->Decode(body.data(), body.size(), out);
}

struct Input {
  const char* name;
  std::function<Bytes()> make;
};

// The first rebuild of the tree comes after 0x8000 - 283 symbols; random
// bytes are nearly all literals, one symbol each.
constexpr size_t kFirstRebuild = lzhuf::kMaxFreq - lzhuf::kSymbols;

// Random bytes with runs of one byte of the given lengths between them.
Bytes WithRuns(std::initializer_list<size_t> runs, uint32_t seed) {
  Bytes v = RandomBytes(100, seed);
  uint8_t b = 0;
  for (size_t n : runs) {
    v.insert(v.end(), n, b++);
    Bytes r = RandomBytes(50, seed + b);
    v.insert(v.end(), r.begin(), r.end());
  }
  return v;
}

std::vector<Input> Inputs() {
  std::vector<Input> inputs = {
      {"empty", [] { return Bytes{}; }},
      {"one byte", [] { return Bytes{0x42}; }},
      {"one space", [] { return Bytes{' '}; }},
      {"abc", [] { return Text("abc"); }},
      {"100 A", [] { return Repeated(100, 'A'); }},
      {"28 bytes", [] { return RandomBytes(28, 1); }},
      {"29 bytes", [] { return RandomBytes(29, 2); }},
      {"30 bytes", [] { return RandomBytes(30, 3); }},
      {"spaces like the window", [] { return Repeated(5000, ' '); }},
      {"zeros across the window", [] { return Repeated(70000, 0); }},
      {"text", [] {
         std::string s;
         for (int i = 0; i < 300; ++i) s += "Nel blu dipinto di blu, felice di stare lassu " + std::to_string(i % 17) + "\n";
         return Text(s);
       }},
      {"window size", [] { return RandomBytes(4096, 4); }},
      {"window minus look-ahead", [] { return RandomBytes(4096 - 29, 5); }},
      {"random before first rebuild", [] { return RandomBytes(kFirstRebuild - 2, 6); }},
      {"random at first rebuild", [] { return RandomBytes(kFirstRebuild, 7); }},
      {"random just after first rebuild", [] { return RandomBytes(kFirstRebuild + 3, 8); }},
      {"random far beyond", [] { return RandomBytes(400000, 9); }},
      {"midi-like", [] { return MidiLike(250000, 10); }},
      {"long run far beyond (rebuilds on matches)", [] { return Repeated(1500000, 0x90); }},
      {"mixed", [] {
         Bytes v = MidiLike(60000, 11);
         Bytes r = RandomBytes(40000, 12);
         v.insert(v.end(), r.begin(), r.end());
         Bytes z = Repeated(30000, 0);
         v.insert(v.end(), z.begin(), z.end());
         Bytes m = MidiLike(60000, 13);
         v.insert(v.end(), m.begin(), m.end());
         return v;
       }},
      {"runs around the look-ahead", [] { return WithRuns({27, 28, 29, 30, 31, 57, 58, 59, 87, 300}, 14); }},
      {"a run as long as the window", [] { return WithRuns({4096 - 29, 4096, 4097, 5000}, 15); }},
      {"midi-like around the first rebuild", [] { return MidiLike(3 * kFirstRebuild, 16); }},
      // Strings that agree on their first eight bytes after the first and
      // differ at each later one, upward and downward: the match search
      // decides those past its first word.
      {"shared prefixes of every length", [] {
         const Bytes base = RandomBytes(40, 17);
         Bytes v;
         for (int round = 0; round < 3; ++round) {
           for (size_t k = 1; k < base.size(); ++k) {
             Bytes s = base;
             s[k] = static_cast<uint8_t>(s[k] ^ (1 + round * 0x40 + static_cast<int>(k)));
             v.insert(v.end(), s.begin(), s.end());
           }
         }
         return v;
       }},
  };
  // Bodies that end on either side of a 64-bit word of the bit stream.
  for (size_t n = 1; n <= 17; ++n) {
    inputs.push_back({"short", [n] { return RandomBytes(n, static_cast<uint32_t>(100 + n)); }});
  }
  // Random bodies are a little longer than their data: these end on either
  // side of the coder's 64 KB output block.
  for (size_t n : {65520, 65527, 65530, 65533, 65536, 65540}) {
    inputs.push_back({"around the output block", [n] { return RandomBytes(n, static_cast<uint32_t>(n)); }});
  }
  return inputs;
}

TEST(Lzhuf, OutputIsBitForBitThePublishedAlgorithm) {
  for (const auto& in : Inputs()) {
    SCOPED_TRACE(in.name);
    Bytes data = in.make();
    auto ref = std::make_unique<ReferenceLzhuf>();
    Bytes expected = ref->Encode(data);
    ASSERT_FALSE(ref->codeTooLong);
    Bytes body = EncodeBody(data);
    ASSERT_EQ(body.size(), expected.size());
    EXPECT_TRUE(body == expected);
    // And the published decoder reads it back.
    auto refDec = std::make_unique<ReferenceLzhuf>();
    EXPECT_TRUE(refDec->Decode(body) == data);
  }
}

TEST(Lzhuf, RoundTrips) {
  for (const auto& in : Inputs()) {
    SCOPED_TRACE(in.name);
    Bytes data = in.make();
    Bytes body = EncodeBody(data);
    Bytes back{1, 2, 3};
    ASSERT_EQ(DecodeBody(body, back), lzhuf::DecodeStatus::Ok);
    ASSERT_EQ(back.size(), data.size());
    EXPECT_TRUE(back == data);
  }
}

TEST(Lzhuf, RoundTripFarBeyondManyRebuilds) {
  Bytes data = MidiLike(3000000, 21);
  Bytes r = RandomBytes(1000000, 22);
  data.insert(data.end(), r.begin(), r.end());
  Bytes body = EncodeBody(data);
  EXPECT_LT(body.size(), data.size());
  Bytes back;
  ASSERT_EQ(DecodeBody(body, back), lzhuf::DecodeStatus::Ok);
  EXPECT_TRUE(back == data);
}

TEST(Lzhuf, BodiesGoToASinkInBlocks) {
  Bytes data = RandomBytes(200000, 61);
  Bytes whole = EncodeBody(data);
  auto enc = std::make_unique<lzhuf::Encoder>();
  Bytes pieces;
  std::vector<size_t> sizes;
  ASSERT_TRUE(enc->Encode(data.data(), data.size(), [&](const uint8_t* b, size_t n) {
    sizes.push_back(n);
    pieces.insert(pieces.end(), b, b + n);
    return true;
  }));
  EXPECT_TRUE(pieces == whole);
  ASSERT_GE(sizes.size(), 3u);
  for (size_t n : sizes) EXPECT_LE(n, size_t{1} << 16);

  // A sink that refuses stops the coding, and the coder says so.
  int calls = 0;
  EXPECT_FALSE(enc->Encode(data.data(), data.size(), [&](const uint8_t*, size_t) { return ++calls < 2; }));
  EXPECT_EQ(calls, 2);
  // The coder is fine for the next body.
  Bytes again;
  ASSERT_TRUE(enc->Encode(data.data(), data.size(), again));
  EXPECT_TRUE(again == whole);
}

// Random bytes whose parse is exactly `tokens` literals and matches: random
// data has a three-byte match now and then, so the length is read off the
// parse of a longer input and checked.
Bytes WithTokens(size_t tokens, uint32_t seed) {
  Bytes all = RandomBytes(tokens + 64, seed);
  auto ref = std::make_unique<ReferenceLzhuf>();
  ref->Encode(all);
  size_t n = 0;
  for (size_t k = 0; k < tokens; ++k) n += ref->symbols[k] < 256 ? 1 : static_cast<size_t>(ref->symbols[k] - 253);
  for (; n <= all.size(); ++n) {
    Bytes data(all.begin(), all.begin() + static_cast<long>(n));
    ref->Encode(data);
    if (ref->symbols.size() == tokens) return data;
  }
  ADD_FAILURE() << "no input of " << tokens << " tokens";
  return {};
}

TEST(Lzhuf, ParseHandedOverInBlocksIsTheSameBody) {
  // Larger inputs are parsed on a second thread and handed over a block of
  // tokens at a time through a ring of four: bodies whose parse ends on
  // either side of a block and of a full ring, and inputs on either side of
  // the size where the second thread starts.
  const size_t block = lzhuf::Encoder::kTokensPerBlock;
  std::vector<Bytes> inputs;
  for (size_t tokens : {block - 1, block, block + 1, 4 * block - 1, 4 * block, 4 * block + 1, 5 * block}) {
    inputs.push_back(WithTokens(tokens, static_cast<uint32_t>(tokens)));
  }
  for (size_t n : {lzhuf::Encoder::kParallelFrom - 1, lzhuf::Encoder::kParallelFrom}) {
    inputs.push_back(MidiLike(n, static_cast<uint32_t>(n)));
    inputs.back().resize(n);
    inputs.push_back(RandomBytes(n, static_cast<uint32_t>(n)));
  }
  auto enc = std::make_unique<lzhuf::Encoder>();
  for (const Bytes& data : inputs) {
    SCOPED_TRACE(data.size());
    auto ref = std::make_unique<ReferenceLzhuf>();
    Bytes body;
    ASSERT_TRUE(enc->Encode(data.data(), data.size(), body));
    EXPECT_TRUE(body == ref->Encode(data));
    Bytes back;
    ASSERT_EQ(DecodeBody(body, back), lzhuf::DecodeStatus::Ok);
    EXPECT_TRUE(back == data);
  }
}

TEST(Lzhuf, SinkRunsOnTheCallingThreadAndMayThrow) {
  Bytes data = MidiLike(300000, 62);
  Bytes whole = EncodeBody(data);
  auto enc = std::make_unique<lzhuf::Encoder>();
  const auto caller = std::this_thread::get_id();
  bool elsewhere = false;
  Bytes pieces;
  ASSERT_TRUE(enc->Encode(data.data(), data.size(), [&](const uint8_t* b, size_t n) {
    elsewhere = elsewhere || std::this_thread::get_id() != caller;
    pieces.insert(pieces.end(), b, b + n);
    return true;
  }));
  EXPECT_FALSE(elsewhere);
  EXPECT_TRUE(pieces == whole);

  // A sink that throws: the parse is stopped and waited for, the exception
  // reaches the caller, and the coder is fine for the next body.
  struct Full {};
  EXPECT_THROW(enc->Encode(data.data(), data.size(), [](const uint8_t*, size_t) -> bool { throw Full{}; }), Full);
  Bytes again;
  ASSERT_TRUE(enc->Encode(data.data(), data.size(), again));
  EXPECT_TRUE(again == whole);
}

TEST(Lzhuf, KnownBodies) {
  // Empty: only the size word.
  EXPECT_EQ(EncodeBody({}), (Bytes{0, 0, 0, 0}));
  // The size word is little-endian.
  Bytes abc = EncodeBody(Text("abc"));
  ASSERT_GE(abc.size(), 4u);
  EXPECT_EQ((Bytes(abc.begin(), abc.begin() + 4)), (Bytes{3, 0, 0, 0}));
  Bytes big = EncodeBody(Repeated(0x012345, 7));
  EXPECT_EQ((Bytes(big.begin(), big.begin() + 4)), (Bytes{0x45, 0x23, 0x01, 0}));
  // In the fresh tree these letters have 8-bit codes: three bytes.
  EXPECT_EQ(abc.size(), 4u + 3u);
}

TEST(Lzhuf, HundredLettersAreOneLiteralThenMatches) {
  Bytes data = Repeated(100, 'A');
  auto ref = std::make_unique<ReferenceLzhuf>();
  Bytes body = ref->Encode(data);
  // One literal, then matches at distance 1: three of 29 bytes and the
  // last 12.
  EXPECT_EQ(ref->symbols, (std::vector<int>{'A', 253 + 29, 253 + 29, 253 + 29, 253 + 12}));
  EXPECT_TRUE(EncodeBody(data) == body);
  Bytes back;
  ASSERT_EQ(DecodeBody(body, back), lzhuf::DecodeStatus::Ok);
  EXPECT_TRUE(back == data);
}

TEST(Lzhuf, CodersKeepNoStateBetweenBodiesOrInstances) {
  Bytes a = MidiLike(90000, 31);
  Bytes b = RandomBytes(50000, 32);
  Bytes bodyA = EncodeBody(a);
  Bytes bodyB = EncodeBody(b);

  // One encoder used twice gives what two fresh ones give.
  auto enc = std::make_unique<lzhuf::Encoder>();
  Bytes out;
  ASSERT_TRUE(enc->Encode(b.data(), b.size(), out));
  out.clear();
  ASSERT_TRUE(enc->Encode(a.data(), a.size(), out));
  EXPECT_TRUE(out == bodyA);

  // Two songs coded at the same time.
  Bytes outA, outB, backA, backB;
  std::thread ta([&] {
    auto e = std::make_unique<lzhuf::Encoder>();
    e->Encode(a.data(), a.size(), outA);
    auto d = std::make_unique<lzhuf::Decoder>();
    d->Decode(bodyA.data(), bodyA.size(), backA);
  });
  std::thread tb([&] {
    auto e = std::make_unique<lzhuf::Encoder>();
    e->Encode(b.data(), b.size(), outB);
    auto d = std::make_unique<lzhuf::Decoder>();
    d->Decode(bodyB.data(), bodyB.size(), backB);
  });
  ta.join();
  tb.join();
  EXPECT_TRUE(outA == bodyA);
  EXPECT_TRUE(outB == bodyB);
  EXPECT_TRUE(backA == a);
  EXPECT_TRUE(backB == b);

  // A decoder used twice.
  auto dec = std::make_unique<lzhuf::Decoder>();
  Bytes back;
  ASSERT_EQ(dec->Decode(bodyB.data(), bodyB.size(), back), lzhuf::DecodeStatus::Ok);
  ASSERT_EQ(dec->Decode(bodyA.data(), bodyA.size(), back), lzhuf::DecodeStatus::Ok);
  EXPECT_TRUE(back == a);
}

TEST(Lzhuf, PositionCodeIsThePublishedTable) {
  // A prefix code: lengths 3 to 8 whose code space is exactly full, each
  // code the next free one.
  unsigned next = 0;  // in units of 1/256
  for (int i = 0; i < 64; ++i) {
    int len = lzhuf::kPositionLength[i];
    ASSERT_GE(len, 3);
    ASSERT_LE(len, 8);
    if (i > 0) {
      ASSERT_GE(len, lzhuf::kPositionLength[i - 1]);
    }
    EXPECT_EQ(lzhuf::kPositionCode[i], next) << i;
    next += 1u << (8 - len);
  }
  EXPECT_EQ(next, 256u);
  EXPECT_EQ(lzhuf::kPositionLength[0], 3);
  EXPECT_EQ(lzhuf::kPositionCode[12], 0x90);
  EXPECT_EQ(lzhuf::kPositionCode[24], 0xC0);
  EXPECT_EQ(lzhuf::kPositionCode[48], 0xF0);
}

// Walks from the root with the bits of a code.
int WalkCode(const lzhuf::HuffmanTree& t, uint64_t code, int len) {
  int c = t.Son(lzhuf::kRoot);
  for (int i = len - 1; i >= 0 && c < lzhuf::kNodes; --i) c = t.Son(c + static_cast<int>((code >> i) & 1));
  return c - lzhuf::kNodes;
}

TEST(Lzhuf, TreeStartsBalancedAndStaysOrdered) {
  lzhuf::HuffmanTree t;
  EXPECT_EQ(t.Freq(lzhuf::kRoot), static_cast<unsigned>(lzhuf::kSymbols));
  // 283 leaves: some at depth 8, the rest at 9.
  EXPECT_EQ(t.MaxCodeLength(), 9);
  std::mt19937 rng(5);
  for (int n = 0; n < 200000; ++n) {
    int s = static_cast<int>(rng() % 40 == 0 ? rng() % lzhuf::kSymbols : rng() % 8);
    t.Update(s);
    if (n % 9973 == 0) {
      for (int i = 0; i + 1 < lzhuf::kNodes; ++i) ASSERT_LE(t.Freq(i), t.Freq(i + 1)) << "node " << i;
      for (int sym = 0; sym < lzhuf::kSymbols; ++sym) {
        int len = 0;
        uint64_t code = t.Code(sym, &len);
        ASSERT_EQ(WalkCode(t, code, len), sym);
      }
    }
    ASSERT_LE(t.Freq(lzhuf::kRoot), lzhuf::kMaxFreq);
  }
}

TEST(Lzhuf, KeptCodesStayTheWalkedCodes) {
  // The encoder keeps each code it has walked: two leaves that trade places
  // trade codes, a moved subtree makes it walk the codes below both places
  // again, a rebuild every code. Every code handed out must be the one a
  // walk up the tree gives, while the favourite symbols change and across
  // rebuilds.
  lzhuf::HuffmanTree t;
  std::mt19937 rng(7);
  for (int n = 0; n < 3 * static_cast<int>(lzhuf::kMaxFreq); ++n) {
    const int phase = n / 2500;
    const int s = static_cast<int>(phase % 2 == 0 ? rng() % lzhuf::kSymbols : (phase * 29 + rng() % 12) % lzhuf::kSymbols);
    int len = 0, walkedLen = 0;
    const uint64_t code = t.KnownCode(s, &len);
    ASSERT_EQ(code, t.Code(s, &walkedLen)) << "symbol " << s << " after " << n;
    ASSERT_EQ(len, walkedLen) << "symbol " << s << " after " << n;
    ASSERT_EQ(WalkCode(t, code, len), s);
    t.Update(s);
    if (n % 997 == 0) {
      // Every code known, so that the next moves trade known codes.
      for (int other = 0; other < lzhuf::kSymbols; ++other) {
        ASSERT_EQ(t.KnownCode(other, &len), t.Code(other, &walkedLen)) << "symbol " << other << " after " << n;
        ASSERT_EQ(len, walkedLen);
      }
    }
  }
}

// Where the walk from the root with the 8 bits of `prefix` ends.
lzhuf::HuffmanTree::Reach WalkPrefix(const lzhuf::HuffmanTree& t, unsigned prefix) {
  int node = lzhuf::kRoot;
  int bits = 0;
  while (bits < lzhuf::HuffmanTree::kPrefixBits && t.Son(node) < lzhuf::kNodes) {
    node = t.Son(node) + static_cast<int>((prefix >> (lzhuf::HuffmanTree::kPrefixBits - 1 - bits)) & 1);
    ++bits;
  }
  return {static_cast<uint16_t>(node), static_cast<uint8_t>(bits), t.Son(node) >= lzhuf::kNodes};
}

TEST(Lzhuf, PrefixTableFollowsTheTree) {
  // The decoder's table of where the first 8 bits of a code lead must stay
  // what a walk from the root finds, as subtrees near the top trade places
  // and across rebuilds. The favourite symbols change from phase to phase,
  // so that inner nodes near the root keep moving.
  lzhuf::HuffmanTree t(lzhuf::HuffmanTree::Use::Decoding);
  t.KeepReach();
  std::mt19937 rng(11);
  int changedWithoutRebuild = 0;
  std::vector<lzhuf::HuffmanTree::Reach> before(256);
  unsigned rootBefore = 0;
  for (int n = 0; n < 4 * static_cast<int>(lzhuf::kMaxFreq); ++n) {
    const int phase = n / 3000;
    const int s = static_cast<int>(rng() % 3 == 0 ? rng() % lzhuf::kSymbols : (phase * 37 + rng() % (2 + phase % 5)) % lzhuf::kSymbols);
    t.Update(s);
    if (n % 501 == 0) {
      bool changed = false;
      for (unsigned prefix = 0; prefix < 256; ++prefix) {
        const lzhuf::HuffmanTree::Reach got = t.Reached(prefix);
        const lzhuf::HuffmanTree::Reach want = WalkPrefix(t, prefix);
        ASSERT_EQ(got.node, want.node) << "prefix " << prefix << " after " << n;
        ASSERT_EQ(got.bits, want.bits) << "prefix " << prefix << " after " << n;
        ASSERT_EQ(got.leaf, want.leaf) << "prefix " << prefix << " after " << n;
        changed |= got.node != before[prefix].node || got.bits != before[prefix].bits || got.leaf != before[prefix].leaf;
        before[prefix] = got;
      }
      // A rebuild halves the root's count; between two checks without one,
      // a change of the table came from nodes trading places.
      if (changed && t.Freq(lzhuf::kRoot) > rootBefore) ++changedWithoutRebuild;
      rootBefore = t.Freq(lzhuf::kRoot);
    }
  }
  EXPECT_GT(changedWithoutRebuild, 20);
}

TEST(Lzhuf, CodesLongerThanSixteenBitsSurvive) {
  // Symbol counts that grow like Fibonacci numbers push the rare symbols
  // deep down the tree. The published code keeps codes in 16 bits and would
  // lose bits here; ours sends them whole.
  lzhuf::HuffmanTree enc, dec;
  std::vector<int> sent;
  std::vector<int> counts;
  unsigned total = lzhuf::kSymbols;
  for (unsigned a = 300, b = 300; total + a < lzhuf::kMaxFreq - 1; ) {
    counts.push_back(static_cast<int>(a));
    total += a;
    unsigned c = a + b;
    a = b;
    b = c;
  }
  // Interleave the heavy symbols so that every count is reached gradually.
  std::vector<int> left = counts;
  for (bool any = true; any;) {
    any = false;
    for (size_t i = 0; i < left.size(); ++i) {
      if (left[i] > 0) {
        sent.push_back(static_cast<int>(i) + 10);
        --left[i];
        any = true;
      }
    }
  }
  // Then every symbol once, the rare ones with the longest codes.
  for (int s = 0; s < lzhuf::kSymbols; ++s) sent.push_back(s);

  int longest = 0;
  std::vector<std::pair<uint64_t, int>> codes;
  for (int s : sent) {
    int len = 0;
    uint64_t code = enc.Code(s, &len);
    longest = std::max(longest, len);
    codes.emplace_back(code, len);
    enc.Update(s);
  }
  EXPECT_GT(longest, 16);
  for (size_t i = 0; i < sent.size(); ++i) {
    ASSERT_EQ(WalkCode(dec, codes[i].first, codes[i].second), sent[i]) << i;
    dec.Update(sent[i]);
  }
}

TEST(Lzhuf, BadBodiesAreReportedNotDecoded) {
  Bytes data = MidiLike(20000, 41);
  Bytes body = EncodeBody(data);
  Bytes out;

  // Shorter than the size word.
  for (size_t n = 0; n < 4; ++n) {
    EXPECT_EQ(DecodeBody(Bytes(body.begin(), body.begin() + static_cast<long>(n)), out),
              lzhuf::DecodeStatus::Truncated);
  }
  // Size word alone, but a size: nothing to decode it from.
  EXPECT_EQ(DecodeBody(Bytes(body.begin(), body.begin() + 4), out), lzhuf::DecodeStatus::SizeTooLarge);

  // Cut anywhere in the stream: the decoder needs bits that are not there.
  for (size_t cut : {body.size() - 1, body.size() - 2, body.size() / 2, size_t{1000}}) {
    SCOPED_TRACE(cut);
    out = {9};
    EXPECT_EQ(DecodeBody(Bytes(body.begin(), body.begin() + static_cast<long>(cut)), out),
              lzhuf::DecodeStatus::Corrupt);
    EXPECT_TRUE(out.empty());
  }
  // Cut so short that the size alone gives it away.
  for (size_t cut : {size_t{5}, size_t{40}}) {
    EXPECT_EQ(DecodeBody(Bytes(body.begin(), body.begin() + static_cast<long>(cut)), out),
              lzhuf::DecodeStatus::SizeTooLarge);
  }

  // A size larger than the stream could ever give (29 bytes per bit).
  Bytes big = body;
  uint64_t bits = (big.size() - 4) * 8;
  uint32_t tooBig = static_cast<uint32_t>(bits * 29 + 1);
  for (int i = 0; i < 4; ++i) big[static_cast<size_t>(i)] = static_cast<uint8_t>(tooBig >> (8 * i));
  EXPECT_EQ(DecodeBody(big, out), lzhuf::DecodeStatus::SizeTooLarge);
  for (int i = 0; i < 4; ++i) big[static_cast<size_t>(i)] = 0xFF;
  EXPECT_EQ(DecodeBody(big, out), lzhuf::DecodeStatus::SizeTooLarge);
  // A size that could fit but is more than the stream holds ends as corrupt.
  uint32_t more = static_cast<uint32_t>(data.size() * 3);
  for (int i = 0; i < 4; ++i) big[static_cast<size_t>(i)] = static_cast<uint8_t>(more >> (8 * i));
  EXPECT_EQ(DecodeBody(big, out), lzhuf::DecodeStatus::Corrupt);
  // A smaller size gives just that much.
  Bytes small = body;
  small[0] = 100;
  small[1] = small[2] = small[3] = 0;
  ASSERT_EQ(DecodeBody(small, out), lzhuf::DecodeStatus::Ok);
  EXPECT_TRUE(out == Bytes(data.begin(), data.begin() + 100));
}

TEST(Lzhuf, AnyStreamDecodesAsThePublishedDecoderDoes) {
  // Streams no encoder made: their early matches reach back before the first
  // byte, into the spaces the window starts with and, farthest back, into the
  // zeros where the look-ahead would be. Whatever decodes must decode as the
  // published decoder does.
  std::mt19937 rng(61);
  int decoded = 0;
  for (int round = 0; round < 400; ++round) {
    Bytes body = RandomBytes(8 + rng() % 600, static_cast<uint32_t>(1000 + round));
    const uint32_t size = 1 + rng() % 400;
    for (int i = 0; i < 4; ++i) body[static_cast<size_t>(i)] = static_cast<uint8_t>(size >> (8 * i));
    Bytes out = {7, 7, 7};  // whatever was there before is replaced
    if (DecodeBody(body, out) != lzhuf::DecodeStatus::Ok) continue;
    ++decoded;
    auto published = std::make_unique<ReferenceLzhuf>();
    ASSERT_EQ(out, published->Decode(body)) << "round " << round;
  }
  EXPECT_GT(decoded, 100);

  // A stream that opens with a match reaching back exactly so far, then a
  // few literals: farther back than the spaces lie the zeros.
  const int spaces = lzhuf::kWindow - lzhuf::kLookahead;
  for (int distance : {1, 2, 30, spaces - 1, spaces, spaces + 1, spaces + 10, lzhuf::kWindow}) {
    for (int length : {3, 17, lzhuf::kLookahead}) {
      SCOPED_TRACE(::testing::Message() << "distance " << distance << ", length " << length);
      std::vector<bool> bits;
      auto put = [&bits](uint64_t code, int n) {
        for (int i = n - 1; i >= 0; --i) bits.push_back((code >> i) & 1);
      };
      lzhuf::HuffmanTree tree;
      auto putSymbol = [&](int symbol) {
        int len = 0;
        const uint64_t code = tree.Code(symbol, &len);
        put(code, len);
        tree.Update(symbol);
      };
      putSymbol(255 - lzhuf::kThreshold + length);
      const unsigned position = static_cast<unsigned>(distance - 1);
      put(lzhuf::kPositionCode[position >> 6] >> (8 - lzhuf::kPositionLength[position >> 6]),
          lzhuf::kPositionLength[position >> 6]);
      put(position & 0x3F, 6);
      const Bytes tail = Text("and then");
      for (uint8_t t : tail) putSymbol(t);
      Bytes body = {static_cast<uint8_t>(length + static_cast<int>(tail.size())), 0, 0, 0};
      for (size_t i = 0; i < bits.size(); i += 8) {
        uint8_t byte = 0;
        for (size_t k = 0; k < 8; ++k) byte = static_cast<uint8_t>(byte << 1 | (i + k < bits.size() && bits[i + k]));
        body.push_back(byte);
      }
      Bytes out;
      ASSERT_EQ(DecodeBody(body, out), lzhuf::DecodeStatus::Ok);
      auto published = std::make_unique<ReferenceLzhuf>();
      ASSERT_EQ(out, published->Decode(body));
      // What the opening match copied: spaces, then zeros as far back as
      // those lie (a match longer than its distance repeats itself).
      for (int k = 0; k < length; ++k) {
        const int back = distance - k % distance;
        EXPECT_EQ(out[static_cast<size_t>(k)], back <= spaces ? ' ' : 0) << k;
      }
      EXPECT_TRUE(std::equal(tail.begin(), tail.end(), out.begin() + length));
    }
  }
}

TEST(Lzhuf, BodiesDamagedAtTheirEndAreCaughtThere) {
  // Long bodies, one of whose output outgrows the room first given: a body
  // cut short anywhere in its last bytes is reported and not decoded, and a
  // flipped bit there gives what the published decoder gives.
  const Bytes inputs[] = {RandomBytes(100000, 71), MidiLike(150000, 72), Repeated(1100000, 0x90)};
  auto published = std::make_unique<ReferenceLzhuf>();
  for (const Bytes& data : inputs) {
    const Bytes body = EncodeBody(data);
    SCOPED_TRACE(::testing::Message() << data.size() << " bytes in a body of " << body.size());
    for (size_t cut = 1; cut <= 20 && cut < body.size() - 4; ++cut) {
      Bytes out = {1, 2, 3};
      EXPECT_EQ(DecodeBody(Bytes(body.begin(), body.end() - static_cast<long>(cut)), out),
                lzhuf::DecodeStatus::Corrupt)
          << "cut " << cut;
      EXPECT_TRUE(out.empty());
    }
    for (size_t back = 1; back <= 20 && back < body.size() - 4; ++back) {
      Bytes bad = body;
      bad[bad.size() - back] ^= static_cast<uint8_t>(1u << (back % 8));
      Bytes out;
      if (DecodeBody(bad, out) == lzhuf::DecodeStatus::Ok) {
        EXPECT_EQ(out, published->Decode(bad)) << "flip " << back;
      } else {
        EXPECT_TRUE(out.empty());
      }
    }
  }
}

TEST(Lzhuf, DamagedStreamsNeverRunAway) {
  // Flipped bits and garbage: any answer is allowed except a crash, a hang or
  // more output than the size word.
  Bytes data = MidiLike(30000, 51);
  Bytes body = EncodeBody(data);
  std::mt19937 rng(52);
  int corrupt = 0;
  for (int round = 0; round < 300; ++round) {
    Bytes bad = body;
    int flips = 1 + static_cast<int>(rng() % 8);
    for (int f = 0; f < flips; ++f) {
      size_t at = 4 + rng() % (bad.size() - 4);
      bad[at] ^= static_cast<uint8_t>(1u << (rng() % 8));
    }
    if (round % 3 == 0) bad.resize(4 + rng() % (bad.size() - 4));
    Bytes out;
    auto st = DecodeBody(bad, out);
    if (st == lzhuf::DecodeStatus::Ok) {
      EXPECT_EQ(out.size(), data.size());
    } else {
      EXPECT_TRUE(out.empty());
      ++corrupt;
    }
  }
  EXPECT_GT(corrupt, 0);
  for (int round = 0; round < 50; ++round) {
    Bytes junk = RandomBytes(4 + rng() % 3000, static_cast<uint32_t>(100 + round));
    Bytes out;
    auto st = DecodeBody(junk, out);
    uint32_t size = static_cast<uint32_t>(junk[0] | junk[1] << 8 | junk[2] << 16 | static_cast<uint32_t>(junk[3]) << 24);
    if (st == lzhuf::DecodeStatus::Ok) {
      EXPECT_EQ(out.size(), size);
    }
  }
}

}  // namespace
}  // namespace kestro
