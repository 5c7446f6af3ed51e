#include "convert/midi_writer.h"

#include <gtest/gtest.h>

#include "convert/tests/midi_test_support.h"

namespace kestro {
namespace {

using namespace miditest;

ByteVec ReadBytes(const std::filesystem::path& p) {
  std::string s = testing::ReadFileOrEmpty(p);
  return ByteVec(s.begin(), s.end());
}

class Writer : public ::testing::Test {
 protected:
  TestEnv t;
};

TEST_F(Writer, WritesAFormat0FileWithOneTrack) {
  auto p = t.Path("out.mid");
  {
    auto w = MidiFileWriter::create(*t.env, p, 480);
    ASSERT_TRUE(w);
    const uint8_t on[] = {0x90, 0x3C, 0x40};
    const uint8_t off[] = {0x80, 0x3C};
    w->write_event(on, 0);
    w->write_event(off, 480);
    w->write_event(on, 480);  // the same time: delta 0
    EXPECT_EQ(w->time_written(), 480u);
    EXPECT_TRUE(w->close());
  }
  ByteVec want;
  AppendText(want, "MThd");
  Append(want, {0, 0, 0, 6, 0, 0, 0, 1, 0x01, 0xE0});
  AppendText(want, "MTrk");
  Append(want, {0, 0, 0, 16});
  Append(want, {0x00, 0x90, 0x3C, 0x40, 0x83, 0x60, 0x80, 0x3C, 0x00, 0x90, 0x3C, 0x40, 0x00, 0xFF, 0x2F, 0x00});
  EXPECT_EQ(ReadBytes(p), want);
  EXPECT_TRUE(t.ui.messages.empty());
}

TEST_F(Writer, DeltasTakeTheirShortestForm) {
  struct Case {
    uint32_t ticks;
    ByteVec vlq;
  } cases[] = {
      {0, {0x00}},
      {0x7F, {0x7F}},
      {0x80, {0x81, 0x00}},
      {0x3FFF, {0xFF, 0x7F}},
      {0x4000, {0x81, 0x80, 0x00}},
      {0x1FFFFF, {0xFF, 0xFF, 0x7F}},
      {0x200000, {0x81, 0x80, 0x80, 0x00}},
      {0x0FFFFFFF, {0xFF, 0xFF, 0xFF, 0x7F}},
      {0x10000000, {0x81, 0x80, 0x80, 0x80, 0x00}},
      {0xFFFFFFFF, {0x8F, 0xFF, 0xFF, 0xFF, 0x7F}},
  };
  for (const auto& c : cases) {
    uint8_t out[5];
    size_t n = EncodeMidiVlq(c.ticks, out);
    EXPECT_EQ(ByteVec(out, out + n), c.vlq) << c.ticks;
  }
  // And the reader takes each of them back.
  auto p = t.Path("vlq.mid");
  {
    auto w = MidiFileWriter::create(*t.env, p, 96);
    ASSERT_TRUE(w);
    const uint8_t ev[] = {0xB0, 0x07, 0x64};
    uint32_t time = 0;
    for (const auto& c : cases) {
      if (uint64_t{time} + c.ticks > 0xFFFFFFFFu) break;
      time += c.ticks;
      w->write_event(ev, time);
    }
  }
  auto r = MidiStreamReader::open(*t.env, p);
  ASSERT_TRUE(r);
  ByteVec ev;
  for (const auto& c : cases) {
    if (c.ticks == 0xFFFFFFFF) break;
    EXPECT_EQ(r->next_event(ev), c.ticks);
  }
  EXPECT_EQ(r->error(), 0);
}

TEST_F(Writer, RawBytesAreNotCountedInTheTrackLength) {
  auto p = t.Path("mf4.mid");
  {
    auto w = MidiFileWriter::create(*t.env, p, 480);
    ASSERT_TRUE(w);
    const uint8_t marker[] = {0xFF, 0x00, 0xFF};
    w->write_raw(marker);
    const uint8_t ev[] = {0xC0, 0x05};
    w->write_delta(10);
    w->write_bytes(ev);
    EXPECT_EQ(w->time_written(), 10u);
    w->write_event(ev, 25);
    EXPECT_EQ(w->track_bytes(), 6u);
  }
  ByteVec b = ReadBytes(p);
  ASSERT_GE(b.size(), 25u);
  uint32_t length = (uint32_t{b[18]} << 24) | (uint32_t{b[19]} << 16) | (uint32_t{b[20]} << 8) | b[21];
  EXPECT_EQ(length, b.size() - 25);
  EXPECT_EQ(ByteVec(b.begin() + 22, b.end()),
            (ByteVec{0xFF, 0x00, 0xFF, 0x0A, 0xC0, 0x05, 0x0F, 0xC0, 0x05, 0x00, 0xFF, 0x2F, 0x00}));
}

TEST_F(Writer, AnEarlierTimeStopsTheWriter) {
  auto p = t.Path("late.mid");
  auto w = MidiFileWriter::create(*t.env, p, 96);
  ASSERT_TRUE(w);
  const uint8_t ev[] = {0x90, 0x3C, 0x40};
  w->write_event(ev, 100);
  EXPECT_FALSE(w->stopped());
  w->write_event(ev, 50);
  EXPECT_TRUE(w->error());
  EXPECT_TRUE(w->stopped());
  EXPECT_EQ(w->time_written(), 100u);
  ASSERT_EQ(t.ui.messages.size(), 1u);
  EXPECT_EQ(t.ui.messages[0].text, "Error writing midifile at: 100 tPos req= 50");
  EXPECT_EQ(t.ui.messages[0].caption, "Attenzione");
  EXPECT_EQ(t.ui.messages[0].style, 0x1010u);
  EXPECT_TRUE(w->close());
  // Still a well-formed file: the late event sits at the time written.
  auto r = MidiStreamReader::open(*t.env, p);
  ASSERT_TRUE(r);
  auto got = ReadAll(*r);
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(got[1].time, 100u);
  EXPECT_EQ(got[1].bytes, ByteVec(ev, ev + 3));
}

TEST_F(Writer, ClosingTwiceOrByTheDestructor) {
  auto p = t.Path("d.mid");
  {
    auto w = MidiFileWriter::create(*t.env, p, 96);
    ASSERT_TRUE(w);
    const uint8_t ev[] = {0x90, 0x3C, 0x40};
    w->write_event(ev, 7);
  }
  ByteVec b = ReadBytes(p);
  ASSERT_EQ(b.size(), 22u + 8u);
  EXPECT_EQ(ByteVec(b.begin() + 8, b.begin() + 12), (ByteVec{0, 0, 0, 1}));
  EXPECT_EQ(b[21], 8u);

  auto w = MidiFileWriter::create(*t.env, t.Path("e.mid"), 96);
  ASSERT_TRUE(w);
  EXPECT_TRUE(w->close());
  EXPECT_FALSE(w->close());
  EXPECT_EQ(ReadBytes(t.Path("e.mid")).size(), 26u);
}

TEST_F(Writer, LargeFilesGoOutWhole) {
  // Events of every size from 2 to 300 bytes, over several of the writer's
  // blocks, and the file that should come of them.
  auto w = MidiFileWriter::create(*t.env, t.dir / "big.mid", 480);
  ASSERT_TRUE(w);
  ByteVec track;
  uint32_t time = 0;
  for (int i = 0; track.size() < 300000; ++i) {
    const size_t n = 2 + static_cast<size_t>(i * 7) % 299;
    ByteVec ev(n, static_cast<uint8_t>(i & 0x7F));
    ev[0] = 0x90;
    const uint32_t delta = static_cast<uint32_t>(i % 5 == 0 ? 200 : i % 2);
    time += delta;
    w->write_event(ev, time);
    uint8_t v[5];
    track.insert(track.end(), v, v + EncodeMidiVlq(delta, v));
    track.insert(track.end(), ev.begin(), ev.end());
  }
  EXPECT_EQ(w->track_bytes(), track.size());
  Append(track, {0x00, 0xFF, 0x2F, 0x00});
  ASSERT_TRUE(w->close());
  EXPECT_EQ(w->track_bytes(), track.size());

  ByteVec want = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0x01, 0xE0, 'M', 'T', 'r', 'k'};
  AppendBe32(want, static_cast<uint32_t>(track.size()));
  want.insert(want.end(), track.begin(), track.end());
  auto bytes = testing::ReadFileOrEmpty(t.dir / "big.mid");
  EXPECT_EQ(bytes.size(), want.size());
  EXPECT_TRUE(ByteVec(bytes.begin(), bytes.end()) == want);
}

TEST_F(Writer, CannotCreate) {
  EXPECT_FALSE(MidiFileWriter::create(*t.env, t.dir / "no" / "such" / "dir.mid", 96));
  EXPECT_FALSE(MidiFileWriter::create(*t.env, t.dir.path(), 96));
  EXPECT_TRUE(t.ui.messages.empty());
}

TEST_F(Writer, AFullDeviceIsAnError) {
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  auto w = MidiFileWriter::create(*t.env, "/dev/full", 96);
  ASSERT_TRUE(w);  // the header still sits in the stream buffer
  std::vector<uint8_t> big(65536, 0x40);
  big[0] = 0xF0;
  w->write_event(big, 0);
  EXPECT_TRUE(w->stopped());
  EXPECT_FALSE(w->close());
  EXPECT_TRUE(w->error());
}

}  // namespace
}  // namespace kestro
