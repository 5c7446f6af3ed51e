#include "convert/midi_reader.h"

#include <gtest/gtest.h>

#include <random>

#include "convert/song_event_list.h"
#include "convert/tests/midi_test_support.h"

namespace kestro {
namespace {

using namespace miditest;

class Reader : public ::testing::Test {
 protected:
  TestEnv t;
  std::unique_ptr<MidiStreamReader> Open(const ByteVec& bytes) {
    return MidiStreamReader::open(*t.env, t.Write("in.mid", bytes));
  }
};

TEST_F(Reader, SingleTrackWithRunningStatusMetaAndSysex) {
  ByteVec trk;
  Append(trk, {0x00, 0xC1, 0x05});                    // program change
  Append(trk, {0x10, 0x91, 0x3C, 0x40});              // note on
  Append(trk, {0x00, 0x3E, 0x41});                    // running status
  Append(trk, {0x81, 0x00, 0xFF, 0x05, 0x02, 'l', 'a'});  // lyric after 128 ticks
  Append(trk, {0x00, 0x40, 0x00});                    // still channel 2 note on
  Append(trk, {0x05, 0xF0, 0x03, 0x7E, 0x01, 0xF7});  // sysex
  Append(trk, {0x00, 0xD1, 0x22});                    // channel pressure
  Append(trk, {0x00, 0x23});                          // running status, one data byte
  Append(trk, {0x00, 0xFF, 0x2F, 0x00});
  auto r = Open(Smf(0, 1, 96).Track(trk).bytes);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->format(), 0);
  EXPECT_EQ(r->track_count(), 1);
  EXPECT_EQ(r->division(), 96);
  std::vector<ReadEvent> want = {
      {0, 0, 0, {0xC1, 0x05}},
      {16, 16, 0, {0x91, 0x3C, 0x40}},
      {0, 16, 0, {0x91, 0x3E, 0x41}},
      {128, 144, 0, {0xFF, 0x05, 0x02, 'l', 'a'}},
      {0, 144, 0, {0x91, 0x40, 0x00}},
      {5, 149, 0, {0xF0, 0x03, 0x7E, 0x01, 0xF7}},
      {0, 149, 0, {0xD1, 0x22}},
      {0, 149, 0, {0xD1, 0x23}},
      {0, 149, 0, {0xFF, 0x2F, 0x00}},
  };
  EXPECT_EQ(ReadAll(*r), want);
  EXPECT_TRUE(r->end_of_song());
  EXPECT_EQ(r->error(), 0);
  EXPECT_TRUE(t.ui.messages.empty());
}

TEST_F(Reader, LongHeaderChunkAndTwoByteMetaLength) {
  ByteVec trk;
  Append(trk, {0x00, 0xFF, 0x01, 0x80, 0x05, 'a', 'b', 'c', 'd', 'e', 0x00, 0x90, 0x3C, 0x40});
  auto r = Open(Smf(1, 1, 480, 4).Track(trk).bytes);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->format(), 1);
  std::vector<uint8_t> buf(32, 0xEE);
  size_t len = 0;
  r->next_event(buf, len);
  // The header bytes as in the file, five data bytes, then an uncounted 0.
  EXPECT_EQ(len, 9u);
  EXPECT_EQ(ByteVec(buf.begin(), buf.begin() + 10), (ByteVec{0xFF, 0x01, 0x80, 0x05, 'a', 'b', 'c', 'd', 'e', 0x00}));
  r->next_event(buf, len);
  EXPECT_EQ(ByteVec(buf.begin(), buf.begin() + static_cast<long>(len)), (ByteVec{0x90, 0x3C, 0x40}));
}

TEST_F(Reader, MergesTracksWithTiesToTheLowerTrack) {
  ByteVec a, b, c;
  Append(a, {0x0A, 0x90, 0x01, 0x01, 0x00, 0x90, 0x02, 0x01, 0x0A, 0x90, 0x03, 0x01, 0x00, 0xFF, 0x2F, 0x00});
  Append(b, {0x0A, 0x91, 0x11, 0x01, 0x05, 0x91, 0x12, 0x01, 0x00, 0x91, 0x13, 0x01, 0x05, 0x91, 0x14, 0x01});
  Append(c, {0x00, 0x92, 0x21, 0x01, 0x0A, 0x92, 0x22, 0x01});
  auto r = Open(Smf(1, 3, 96).Track(a).Track(b).Track(c).bytes);
  ASSERT_TRUE(r);
  std::vector<ReadEvent> want = {
      {0, 0, 2, {0x92, 0x21, 0x01}},
      {10, 10, 0, {0x90, 0x01, 0x01}},
      {0, 10, 0, {0x90, 0x02, 0x01}},  // delta 0: the same track again
      {0, 10, 1, {0x91, 0x11, 0x01}},
      {0, 10, 2, {0x92, 0x22, 0x01}},
      {5, 15, 1, {0x91, 0x12, 0x01}},
      {0, 15, 1, {0x91, 0x13, 0x01}},
      {5, 20, 0, {0x90, 0x03, 0x01}},
      {0, 20, 0, {0xFF, 0x2F, 0x00}},
      {0, 20, 1, {0x91, 0x14, 0x01}},
  };
  EXPECT_EQ(ReadAll(*r), want);
  EXPECT_EQ(r->error(), 0);
}

TEST_F(Reader, PeekDeltaDoesNotConsume) {
  ByteVec a, b;
  Append(a, {0x20, 0x90, 0x01, 0x01});
  Append(b, {0x08, 0x91, 0x11, 0x01, 0x30, 0x91, 0x12, 0x01});
  auto r = Open(Smf(1, 2, 96).Track(a).Track(b).bytes);
  ASSERT_TRUE(r);
  ByteVec ev;
  for (uint32_t expect : {8u, 24u, 24u}) {
    EXPECT_EQ(r->peek_delta(), expect);
    EXPECT_EQ(r->peek_delta(), expect);
    EXPECT_EQ(r->next_event(ev), expect);
  }
  EXPECT_EQ(r->absolute_time(), 56u);
  EXPECT_FALSE(r->end_of_song());
  EXPECT_EQ(r->peek_delta(), 0u);
  EXPECT_TRUE(r->end_of_song());
}

TEST_F(Reader, AlienChunksCountAgainstTheAnnouncedTracks) {
  ByteVec a, b, c;
  Append(a, {0x00, 0x90, 0x01, 0x01});
  Append(b, {0x00, 0x91, 0x02, 0x01});
  Append(c, {0x00, 0x92, 0x03, 0x01});
  // Three announced: track, alien chunk, track. The third track is beyond.
  auto r = Open(Smf(1, 3, 96).Track(a).Chunk("XFIH", {1, 2, 3, 4, 5}).Track(b).Track(c).bytes);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->tracks_read(), 2);
  auto got = ReadAll(*r);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].bytes, (ByteVec{0x90, 0x01, 0x01}));
  EXPECT_EQ(got[1].bytes, (ByteVec{0x91, 0x02, 0x01}));
  EXPECT_EQ(got[1].track, 1);
}

TEST_F(Reader, MoreThan64TracksReadsTheFirst64) {
  Smf smf(1, 70, 96);
  for (int i = 0; i < 70; ++i) smf.Track({0x00, 0xB0, static_cast<uint8_t>(i), 0x00});
  auto r = Open(smf.bytes);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->track_count(), 70);
  EXPECT_EQ(r->tracks_read(), 64);
  auto got = ReadAll(*r);
  ASSERT_EQ(got.size(), 64u);
  for (int i = 0; i < 64; ++i) {
    EXPECT_EQ(got[static_cast<size_t>(i)].track, i);
    EXPECT_EQ(got[static_cast<size_t>(i)].bytes[1], i);
  }
  EXPECT_EQ(r->error(), 0);
}

TEST_F(Reader, TracksLongerThanTheBufferAndEmptyOnes) {
  // Notes of one and two delta bytes, so that events straddle the ends of
  // the track buffer at every offset, over a few buffers; then a system
  // exclusive event longer than a buffer, read across two refills.
  ByteVec big;
  const int notes = static_cast<int>(kMidiTrackBufferSize / 2);
  uint32_t time = 0;
  std::vector<uint32_t> times;
  for (int i = 0; i < notes; ++i) {
    const bool longDelta = i % 3 == 0;
    if (longDelta) {
      Append(big, {0x81, 0x00});  // 128
      time += 128;
    } else {
      Append(big, {0x01});
      time += 1;
    }
    Append(big, {0x90, static_cast<uint8_t>(i & 0x7F), 0x40});
    times.push_back(time);
  }
  ByteVec sysex = {0x00, 0xF0, 0xFF, 0xFF};  // the longest body: 127 * 128 + 255 bytes
  for (size_t i = 0; i + 1 < kMidiMaxLongBody; ++i) sysex.push_back(static_cast<uint8_t>(i & 0x7F));
  sysex.push_back(0xF7);
  ASSERT_GT(sysex.size(), kMidiTrackBufferSize);
  big.insert(big.end(), sysex.begin(), sysex.end());
  Append(big, {0x00, 0x80, 0x01, 0x00});  // no end-of-track: the chunk simply ends
  ASSERT_GT(big.size(), 3 * kMidiTrackBufferSize);
  auto r = Open(Smf(1, 2, 96).Track({}).Track(big).bytes);
  ASSERT_TRUE(r);
  auto got = ReadAll(*r);
  ASSERT_EQ(got.size(), static_cast<size_t>(notes) + 2);
  for (int i = 0; i < notes; ++i) {
    const auto& e = got[static_cast<size_t>(i)];
    ASSERT_EQ(e.time, times[static_cast<size_t>(i)]) << i;
    ASSERT_EQ(e.bytes, (ByteVec{0x90, static_cast<uint8_t>(i & 0x7F), 0x40})) << i;
  }
  EXPECT_EQ(got[static_cast<size_t>(notes)].bytes, ByteVec(sysex.begin() + 1, sysex.end()));
  EXPECT_EQ(got[static_cast<size_t>(notes) + 1].bytes, (ByteVec{0x80, 0x01, 0x00}));
  EXPECT_EQ(got[static_cast<size_t>(notes) + 1].track, 1);
  EXPECT_EQ(r->error(), 0);
  EXPECT_TRUE(r->end_of_song());
  EXPECT_TRUE(t.ui.messages.empty());

  // The same track cut inside the long event: the missing bytes are an error.
  ByteVec cut(big.begin(), big.begin() + static_cast<long>(big.size() - 1000));
  auto c = Open(Smf(1, 2, 96).Track({}).Track(cut).bytes);
  ASSERT_TRUE(c);
  auto part = ReadAll(*c);
  EXPECT_EQ(c->error(), kMidiShortRead);
  EXPECT_GE(part.size(), static_cast<size_t>(notes));
}

TEST_F(Reader, RewindStartsAgainWithA44BarClock) {
  ByteVec trk;
  Append(trk, {0x00, 0xFF, 0x58, 0x04, 0x03, 0x02, 0x18, 0x08, 0x60, 0x90, 0x3C, 0x40, 0x60, 0x80, 0x3C, 0x00});
  auto r = Open(Smf(0, 1, 120).Track(trk).bytes);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->bar_clock().ticksPerBeat, 480u);
  auto first = ReadAll(*r);
  r->bar_clock() = MidiBarClock{3, 4, 240, 120, 360};
  ASSERT_TRUE(r->rewind());
  EXPECT_EQ(r->bar_clock().numerator, 4);
  EXPECT_EQ(r->bar_clock().denominator, 4);
  EXPECT_EQ(r->bar_clock().barStart, 0u);
  EXPECT_EQ(r->absolute_time(), 0u);
  EXPECT_FALSE(r->end_of_song());
  EXPECT_EQ(ReadAll(*r), first);
  EXPECT_EQ(first.size(), 3u);
}

TEST_F(Reader, FiveByteDeltasAreReadWhenTheyFit) {
  ByteVec trk;
  Append(trk, {0x81, 0x80, 0x80, 0x80, 0x00, 0x90, 0x3C, 0x40});
  auto r = Open(Smf(0, 1, 96).Track(trk).bytes);
  ASSERT_TRUE(r);
  auto got = ReadAll(*r);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].delta, 0x10000000u);
  EXPECT_EQ(r->error(), 0);
}

// Every damaged input ends with its error code shown in the warning box, the
// events before it delivered and nothing after it.
TEST_F(Reader, DamagedTracksGiveTheirErrorCode) {
  struct Case {
    const char* what;
    ByteVec track;
    int declaredExtra;  // added to the chunk length field
    int code;
    size_t eventsBefore;
    bool eof;
  } cases[] = {
      {"chunk longer than the file", {0x00, 0x90, 0x3C, 0x40, 0x00, 0x80, 0x3C}, 40, 2, 1, true},
      {"event cut by the chunk end", {0x00, 0x90, 0x3C, 0x40, 0x00, 0x80, 0x3C}, 0, 2, 1, true},
      {"delta cut by the chunk end", {0x00, 0x90, 0x3C, 0x40, 0x81}, 0, 2, 1, true},
      {"sysex longer than the chunk", {0x00, 0x90, 0x3C, 0x40, 0x00, 0xF0, 0x7F, 0x01, 0x02}, 0, 2, 1, true},
      {"meta longer than the file", {0x00, 0xFF, 0x01, 0xFF, 0x7F, 'x'}, 20000, 2, 0, true},
      {"six-byte delta", {0x00, 0x90, 0x3C, 0x40, 0x81, 0x81, 0x81, 0x81, 0x81, 0x00}, 0, 4, 1, false},
      {"five-byte delta above 32 bits", {0x00, 0x90, 0x3C, 0x40, 0x90, 0x80, 0x80, 0x80, 0x00, 0x80}, 0, 4, 1, false},
      {"data byte without running status", {0x00, 0x3C, 0x40}, 0, 5, 0, false},
      {"data byte after sysex", {0x00, 0x90, 0x3C, 0x40, 0x00, 0xF0, 0x01, 0xF7, 0x00, 0x3C, 0x00}, 0, 5, 2, false},
      {"song position", {0x00, 0x90, 0x3C, 0x40, 0x00, 0xF2, 0x00, 0x00}, 0, 6, 1, false},
      {"escape packet", {0x00, 0xF7, 0x01, 0xF8}, 0, 6, 0, false},
      {"real-time byte", {0x00, 0xFE}, 0, 6, 0, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TestEnv env;
    auto r = MidiStreamReader::open(
        *env.env, env.Write("bad.mid", Smf(0, 1, 96)
                                           .TrackDeclared(c.track, static_cast<uint32_t>(c.track.size() + c.declaredExtra))
                                           .bytes));
    ASSERT_TRUE(r);
    ByteVec ev;
    size_t delivered = 0;
    for (int i = 0; i < 20 && !r->error() && !r->end_of_song(); ++i) {
      r->next_event(ev);
      if (!r->error() && !r->end_of_song()) ++delivered;
    }
    EXPECT_EQ(r->error(), c.code);
    EXPECT_EQ(delivered, c.eventsBefore);
    EXPECT_EQ(r->end_of_file(), c.eof);
    ASSERT_EQ(env.ui.messages.size(), 1u);
    EXPECT_EQ(env.ui.messages[0].text, MidiErrorText(c.code));
    EXPECT_EQ(env.ui.messages[0].caption, "Attenzione");
    EXPECT_EQ(env.ui.messages[0].style, 0x1010u);
    // Nothing more comes out, and the stream has ended.
    EXPECT_EQ(r->next_event(ev), 0u);
    EXPECT_TRUE(ev.empty());
    EXPECT_EQ(r->next_event(ev), 0u);
    EXPECT_TRUE(r->end_of_song());
    EXPECT_EQ(env.ui.messages.size(), 1u);
  }
}

TEST_F(Reader, ErrorTexts) {
  EXPECT_EQ(MidiErrorText(0), "No error");
  EXPECT_EQ(MidiErrorText(2), "Midifile error 02");
  EXPECT_EQ(MidiErrorText(6), "Midifile error 06");
}

TEST_F(Reader, FilesThatCannotBeOpened) {
  struct Case {
    const char* what;
    ByteVec bytes;
    const char* printed;
    const char* shown;  // nullptr: no message box
  } cases[] = {
      {"not a MIDI file", ByteVec{'R', 'I', 'F', 'F', 0, 0, 0, 6, 0, 0, 0, 1, 0, 96}, "position error\n", nullptr},
      {"header length below 6", Smf(0, 0, 96).bytes, nullptr, nullptr},
      {"header cut short", ByteVec{'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0}, "position error\n", "Midifile error 03"},
      {"fewer chunks than announced", Smf(1, 2, 96).Track({0x00, 0xFF, 0x2F, 0x00}).bytes, "position error\n",
       "Midifile error 03"},
      {"empty file", ByteVec{}, "position error\n", "Midifile error 03"},
  };
  // A header chunk that says 5 bytes.
  cases[1].bytes[7] = 5;
  cases[1].printed = "position error\n";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TestEnv env;
    auto p = env.Write("x.mid", c.bytes);
    ::testing::internal::CaptureStdout();
    auto r = MidiStreamReader::open(*env.env, p);
    std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_FALSE(r);
    EXPECT_EQ(out, c.printed);
    if (c.shown) {
      ASSERT_EQ(env.ui.messages.size(), 1u);
      EXPECT_EQ(env.ui.messages[0].text, c.shown);
    } else {
      EXPECT_TRUE(env.ui.messages.empty());
    }
  }
  ::testing::internal::CaptureStdout();
  EXPECT_FALSE(MidiStreamReader::open(*t.env, t.Path("missing.mid")));
  EXPECT_FALSE(MidiStreamReader::open(*t.env, t.dir.path()));
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "open error\nopen error\n");
}

TEST_F(Reader, AnEventLargerThanTheBufferIsCutButTheStreamStaysInStep) {
  ByteVec trk;
  ByteVec sysex = {0xF0, 0x84, 0x58};  // 600 bytes of body
  for (int i = 0; i < 599; ++i) sysex.push_back(static_cast<uint8_t>(i % 100));
  sysex.push_back(0xF7);
  trk.push_back(0x00);
  trk.insert(trk.end(), sysex.begin(), sysex.end());
  Append(trk, {0x07, 0x90, 0x3C, 0x40, 0x00, 0xFF, 0x01, 0x03, 'a', 'b', 'c'});
  auto r = Open(Smf(0, 1, 96).Track(trk).bytes);
  ASSERT_TRUE(r);
  // The caller's 512 bytes sit between guard bytes that must stay as they are.
  ByteVec area(512 + 64, 0xEE);
  std::span<uint8_t> buf(area.data() + 32, 512);
  size_t len = 0;
  r->next_event(buf, len);
  EXPECT_EQ(len, sysex.size());
  EXPECT_TRUE(r->last_event_cut());
  EXPECT_TRUE(std::equal(buf.begin(), buf.end(), sysex.begin()));
  for (size_t i = 0; i < 32; ++i) {
    EXPECT_EQ(area[i], 0xEE);
    EXPECT_EQ(area[area.size() - 1 - i], 0xEE);
  }
  EXPECT_EQ(r->next_event(buf, len), 7u);
  EXPECT_FALSE(r->last_event_cut());
  EXPECT_EQ(ByteVec(buf.begin(), buf.begin() + static_cast<long>(len)), (ByteVec{0x90, 0x3C, 0x40}));
  // Exactly the event's length: whole, without room for the trailing 0.
  std::span<uint8_t> tight(area.data() + 32, 6);
  area[38] = 0xEE;
  r->next_event(tight, len);
  EXPECT_EQ(len, 6u);
  EXPECT_FALSE(r->last_event_cut());
  EXPECT_EQ(ByteVec(tight.begin(), tight.end()), (ByteVec{0xFF, 0x01, 0x03, 'a', 'b', 'c'}));
  EXPECT_EQ(area[38], 0xEE);
  EXPECT_EQ(r->error(), 0);
  // A buffer of the largest size takes the largest event the reader can see.
  EXPECT_EQ(kMidiMaxEventBytes, 4u + 0x7Fu * 128u + 0xFFu + 1u);
}

TEST_F(Reader, TwoReadersSideBySide) {
  ByteVec a, b;
  Append(a, {0x00, 0x90, 0x01, 0x01, 0x10, 0x80, 0x01, 0x00});
  Append(b, {0x05, 0x91, 0x02, 0x01, 0x05, 0x81, 0x02, 0x00});
  auto ra = MidiStreamReader::open(*t.env, t.Write("a.mid", Smf(0, 1, 96).Track(a).bytes));
  auto rb = MidiStreamReader::open(*t.env, t.Write("b.mid", Smf(0, 1, 96).Track(b).bytes));
  ASSERT_TRUE(ra && rb);
  ByteVec ev;
  ra->next_event(ev);
  rb->next_event(ev);
  EXPECT_EQ(ev, (ByteVec{0x91, 0x02, 0x01}));
  ra->next_event(ev);
  EXPECT_EQ(ev, (ByteVec{0x80, 0x01, 0x00}));
  EXPECT_EQ(ra->absolute_time(), 16u);
  EXPECT_EQ(rb->absolute_time(), 5u);
}

}  // namespace
}  // namespace kestro

namespace kestro {
namespace {

using namespace miditest;

// Damaged copies of a good file: every one is read to an end (an error or
// the end of the song) without touching memory it should not (the sanitizer
// build watches), and the whole-file loader copes with each as well.
TEST(DamagedFiles, NeverReadOutOfBoundsOrLoopForever) {
  ByteVec a, b;
  Append(a, {0x00, 0xFF, 0x03, 0x04, 'n', 'a', 'm', 'e', 0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20});
  for (int i = 0; i < 40; ++i) {
    Append(a, {0x10, 0x90, static_cast<uint8_t>(40 + i), 0x40, 0x08, static_cast<uint8_t>(40 + i), 0x00});
    if (i % 9 == 0) Append(a, {0x00, 0xF0, 0x05, 0x43, 0x10, 0x4C, 0x00, 0xF7});
    if (i % 7 == 0) Append(a, {0x00, 0xFF, 0x05, 0x81, 0x01, 'x'});
  }
  Append(a, {0x00, 0xFF, 0x2F, 0x00});
  for (int i = 0; i < 30; ++i) Append(b, {0x0C, 0xB1, 0x07, static_cast<uint8_t>(i), 0x03, 0xE1, 0x00, 0x40});
  ByteVec good = Smf(1, 3, 96).Track(a).Chunk("XFIH", {1, 2, 3}).Track(b).bytes;

  std::mt19937 rnd(2024);
  for (int round = 0; round < 400; ++round) {
    ByteVec bad = good;
    int damage = 1 + static_cast<int>(rnd() % 6);
    for (int k = 0; k < damage; ++k) {
      size_t at = rnd() % bad.size();
      switch (rnd() % 4) {
        case 0: bad[at] = static_cast<uint8_t>(rnd()); break;
        case 1: bad[at] ^= 0x80; break;
        case 2: bad.resize(at); break;
        default: bad.insert(bad.begin() + static_cast<long>(at), static_cast<uint8_t>(rnd())); break;
      }
      if (bad.size() < 4) bad = good;
    }
    SCOPED_TRACE(round);
    TestEnv env;
    auto path = env.Write("damaged.mid", bad);
    ::testing::internal::CaptureStdout();  // "position error" for some
    auto r = MidiStreamReader::open(*env.env, path);
    ::testing::internal::GetCapturedStdout();
    if (r) {
      uint8_t small[16];
      size_t len = 0, events = 0;
      // Each event takes at least one byte of the file.
      while (events <= bad.size() && !r->end_of_song()) {
        r->next_event(small, len);
        if (r->error()) break;
        ++events;
      }
      EXPECT_LE(events, bad.size());
      EXPECT_TRUE(r->error() || r->end_of_song());
      EXPECT_LE(env.ui.messages.size(), 1u);
      ASSERT_TRUE(r->rewind());
      auto all = ReadAll(*r, bad.size() + 1);
      EXPECT_LE(all.size(), bad.size());
    }
    SongEventList list(*env.env);
    if (list.load(path)) {
      EXPECT_LE(list.size(), bad.size());
      for (size_t i = 0; i < list.size(); ++i) {
        EXPECT_FALSE(list.event_bytes(i).empty());
        if (i > 0) {
          EXPECT_LE(list.at(i - 1).time, list.at(i).time);
        }
      }
      list.catalogue_mark_percent();
    } else {
      EXPECT_EQ(list.size(), 0u);
    }
  }
}

}  // namespace
}  // namespace kestro
