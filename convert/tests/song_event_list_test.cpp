#include "convert/song_event_list.h"

#include <gtest/gtest.h>

#include "convert/tests/midi_test_support.h"

namespace kestro {
namespace {

using namespace miditest;
namespace sef = song_event_flags;

ByteVec Bytes(const SongEventList& l, size_t i) {
  auto b = l.event_bytes(i);
  return ByteVec(b.begin(), b.end());
}

class EventList : public ::testing::Test {
 protected:
  TestEnv t;
  SongEventList list{*t.env};
  bool Load(const ByteVec& bytes) { return list.load(t.Write("song.mid", bytes)); }
};

TEST_F(EventList, OrderWithinOneTick) {
  ByteVec a, b;
  // Track 0: channel events and a text event at tick 0, a track name at 10.
  Append(a, {0x00, 0x90, 0x3C, 0x40, 0x00, 0xC0, 0x05, 0x00, 0x80, 0x3E, 0x40, 0x00, 0xFF, 0x01, 0x04, 't', 'e', 'x', 't'});
  Append(a, {0x0A, 0x90, 0x40, 0x40, 0x00, 0xFF, 0x01, 0x04, 'w', 'o', 'r', 'd'});
  Append(a, {0x00, 0xFF, 0x2F, 0x00});
  // Track 1: a track name and a tempo at tick 0, another name at 10.
  Append(b, {0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20, 0x00, 0xFF, 0x03, 0x04, 'n', 'a', 'm', 'e'});
  Append(b, {0x0A, 0xFF, 0x03, 0x04, 'l', 'a', 't', 'e'});
  ASSERT_TRUE(Load(Smf(1, 2, 96).Track(a).Track(b).bytes));
  std::vector<std::pair<uint32_t, ByteVec>> want = {
      {0, {0xFF, 0x03, 0x04, 'n', 'a', 'm', 'e'}},
      {0, {0xFF, 0x01, 0x04, 't', 'e', 'x', 't'}},
      {0, {0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20}},
      {0, {0xC0, 0x05}},
      {0, {0x80, 0x3E, 0x40}},
      {0, {0x90, 0x3C, 0x40}},
      {10, {0xFF, 0x03, 0x04, 'l', 'a', 't', 'e'}},
      {10, {0xFF, 0x01, 0x04, 'w', 'o', 'r', 'd'}},
      {10, {0x90, 0x40, 0x40}},
      {10, {0xFF, 0x2F, 0x00}},  // three bytes: a short event
  };
  ASSERT_EQ(list.size(), want.size());
  for (size_t i = 0; i < want.size(); ++i) {
    EXPECT_EQ(list.at(i).time, want[i].first) << i;
    EXPECT_EQ(Bytes(list, i), want[i].second) << i;
  }
  EXPECT_EQ(list.track_of(0), 1);
  EXPECT_EQ(list.track_of(1), 0);
  EXPECT_TRUE(list.is_long(0));
  EXPECT_FALSE(list.is_long(9));
  EXPECT_EQ(list.info().division, 96);
  EXPECT_EQ(list.info().tracks, 3);
  EXPECT_EQ(list.info().format, 1);
  EXPECT_EQ(list.info().gridQuarter, 24);
  EXPECT_EQ(list.info().gridSixteenth, 6);
  EXPECT_EQ(list.info().name, "Master");
  EXPECT_EQ(list.info().tempo, 500000u);
  EXPECT_TRUE(t.ui.messages.empty());
}

TEST_F(EventList, SeventeenTracksLoadTheFirstSixteen) {
  Smf smf(1, 17, 96);
  for (int i = 0; i < 17; ++i) smf.Track({0x00, 0xB0, static_cast<uint8_t>(i), 0x01, 0x00, 0xFF, 0x2F, 0x00});
  ASSERT_TRUE(Load(smf.bytes));
  EXPECT_EQ(list.info().tracks, 17);
  int controllers = 0;
  for (size_t i = 0; i < list.size(); ++i) {
    auto b = Bytes(list, i);
    if (b[0] == 0xB0) {
      ++controllers;
      EXPECT_EQ(b[1], list.track_of(i));
      EXPECT_LT(b[1], 16);
    }
  }
  EXPECT_EQ(controllers, 16);
}

TEST_F(EventList, RunningStatusAndBytesThatMakeNoEvent) {
  ByteVec a;
  Append(a, {0x00, 0x40});                          // data byte without running status: passed over
  Append(a, {0x00, 0x91, 0x3C, 0x40, 0x05, 0x3E, 0x41});  // running status
  Append(a, {0x00, 0xFF, 0x01, 0x01, 'x'});           // a meta event cancels it
  Append(a, {0x00, 0x3F});                          // passed over
  Append(a, {0x00, 0xF1});                          // passed over
  Append(a, {0x00, 0xE2, 0x00, 0x40, 0x00, 0xFF, 0x2F, 0x00});
  ASSERT_TRUE(Load(Smf(0, 1, 96).Track(a).bytes));
  std::vector<ByteVec> want = {{0x91, 0x3C, 0x40}, {0xFF, 0x01, 0x01, 'x'}, {0x91, 0x3E, 0x41}, {0xE2, 0x00, 0x40},
                               {0xFF, 0x2F, 0x00}};
  ASSERT_EQ(list.size(), want.size());
  for (size_t i = 0; i < want.size(); ++i) EXPECT_EQ(Bytes(list, i), want[i]) << i;
  EXPECT_EQ(list.at(2).time, 5u);
}

TEST_F(EventList, SysexAndUnknownMetaMessages) {
  ByteVec a;
  Append(a, {0x00, 0xF0, 0x05, 0x43, 0x10, 0xF7, 0x7F, 0x7F});      // stored up to its F7
  Append(a, {0x00, 0xF0, 0x04, 0x43, 0x90, 0x01, 0xF7});            // bit 7 set inside
  Append(a, {0x00, 0xF0, 0x04, 0x43, 0x91, 0x01, 0xF7});            // shown once only
  Append(a, {0x00, 0xFF, 0xC8, 0x02, 0x01, 0x02});                  // meta type 200
  Append(a, {0x00, 0x90, 0x3C, 0x40});
  ASSERT_TRUE(Load(Smf(0, 1, 96).Track(a).bytes));
  ASSERT_EQ(t.ui.messages.size(), 2u);
  EXPECT_EQ(t.ui.messages[0].text, "Error in Midifile!\n\nSystemexclusive message with bit 8 set.\nTruncated!");
  EXPECT_EQ(t.ui.messages[1].text, "<Unknown metaevent > 127>|200 hc8");
  EXPECT_EQ(t.ui.messages[1].caption, "Attenzione");
  EXPECT_EQ(t.ui.messages[1].style, 0x1010u);
  // At one tick: long events first, then the short ones by length and bytes
  // (the cut messages are three bytes long now).
  std::vector<ByteVec> want = {{0xF0, 0x05, 0x43, 0x10, 0xF7}, {0x90, 0x3C, 0x40}, {0xF0, 0x04, 0x43}, {0xF0, 0x04, 0x43}};
  ASSERT_EQ(list.size(), want.size());
  for (size_t i = 0; i < want.size(); ++i) EXPECT_EQ(Bytes(list, i), want[i]) << i;
}

TEST_F(EventList, TrackDataFoundDespiteWrongLengths) {
  ByteVec a, b;
  Append(a, {0x00, 0x90, 0x3C, 0x40, 0x00, 0xFF, 0x2F, 0x00});
  Append(b, {0x00, 0x91, 0x3E, 0x40, 0x00, 0xFF, 0x2F, 0x00});
  // The first track says it is 3 bytes long, the last one 100.
  Smf smf(1, 2, 96);
  smf.TrackDeclared(a, 3).TrackDeclared(b, 100);
  ASSERT_TRUE(Load(smf.bytes));
  ASSERT_EQ(list.size(), 4u);
  EXPECT_EQ(Bytes(list, 0), (ByteVec{0x90, 0x3C, 0x40}));
  EXPECT_EQ(Bytes(list, 1), (ByteVec{0x91, 0x3E, 0x40}));
  EXPECT_EQ(list.track_of(1), 1);

  // An alien chunk between the tracks counts against the announced ones.
  Smf alien(1, 3, 96);
  alien.Track(a).Chunk("XFIH", {0x4D, 0x54, 0x72}).Track(b);
  ASSERT_TRUE(Load(alien.bytes));
  EXPECT_EQ(list.size(), 4u);
  EXPECT_EQ(list.info().tracks, 3);
}

TEST_F(EventList, LoadFailuresLeaveTheListEmpty) {
  ByteVec good;
  Append(good, {0x00, 0x90, 0x3C, 0x40, 0x00, 0xFF, 0x2F, 0x00});
  ByteVec notMidi = {'R', 'I', 'F', 'F', 0, 0, 0, 6, 0, 0, 0, 1, 0, 96};
  ByteVec shortHeader = {'M', 'T', 'h', 'd', 0, 0, 0, 6};
  struct Case {
    const char* what;
    std::optional<ByteVec> bytes;  // none: no file
    std::string shown;
  } cases[] = {
      {"missing file", std::nullopt, "Couldn't find file <" + t.Path("song.mid").string() + ">"},
      {"not a MIDI file", notMidi, "This is not\na standard midifile!\nHeadchunk <> 'MThd'"},
      {"header cut short", shortHeader, "This is not\na standard midifile!\nHeadchunk <> 'MThd'"},
      {"fewer tracks than announced", Smf(1, 3, 96).Track(good).Track(good).bytes, "Track 3: Midifile error!\nAborted\n"},
      {"a middle track runs off the end", Smf(1, 2, 96).TrackDeclared(good, 500).bytes,
       "Track 1: Midifile error!\nAborted\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(Load(Smf(0, 1, 96).Track(good).bytes));
    ASSERT_EQ(list.size(), 2u);
    t.ui.messages.clear();
    std::filesystem::remove(t.Path("song.mid"));
    bool ok = c.bytes ? Load(*c.bytes) : list.load(t.Path("song.mid"));
    EXPECT_FALSE(ok);
    EXPECT_EQ(list.size(), 0u);
    ASSERT_EQ(t.ui.messages.size(), 1u);
    EXPECT_EQ(t.ui.messages[0].text, c.shown);
    EXPECT_EQ(t.ui.messages[0].caption, "Attenzione");
    EXPECT_EQ(t.ui.messages[0].style, 0x1010u);
  }
}

TEST_F(EventList, TheTwoThousandBarQuestion) {
  // Division 2: 8000 quarter notes are 16000 ticks.
  ByteVec a;
  Append(a, {0x00, 0x90, 0x3C, 0x40});
  Append(a, {0xFD, 0x00, 0x80, 0x3C, 0x00});  // tick 16000: not beyond
  Append(a, {0x01, 0x90, 0x3E, 0x40});              // tick 16001: beyond
  Append(a, {0x01, 0x80, 0x3E, 0x00, 0x00, 0xFF, 0x2F, 0x00});
  auto bytes = Smf(0, 1, 2).Track(a).bytes;

  t.ui.answers = {kIdCancel};
  ASSERT_TRUE(Load(bytes));
  EXPECT_EQ(list.size(), 2u);
  ASSERT_EQ(t.ui.messages.size(), 2u);
  EXPECT_EQ(t.ui.messages[0].kind, BoxKind::System);
  EXPECT_EQ(t.ui.messages[0].text, "Time > 2000 bars!|File may be corrupted!|Continue anyway?");
  EXPECT_EQ(t.ui.messages[0].caption, "Alert");
  EXPECT_EQ(t.ui.messages[0].style, mb::kOkCancel | mb::kIconQuestion);
  EXPECT_EQ(t.ui.messages[1].kind, BoxKind::Program);
  EXPECT_EQ(t.ui.messages[1].text, "Attention!|File not completly loaded!");

  t.ui.messages.clear();
  t.ui.answers = {kIdOk};
  ASSERT_TRUE(Load(bytes));
  EXPECT_EQ(list.size(), 5u);
  EXPECT_EQ(t.ui.messages.size(), 1u);  // asked once
  EXPECT_EQ(list.at(4).time, 16002u);
}

TEST_F(EventList, InsertAtTime) {
  ASSERT_TRUE(list.create(5, 64));
  const uint8_t on[] = {0x90, 0x3C, 0x40};
  const uint8_t off[] = {0x80, 0x3C};
  const uint8_t text[] = {0xFF, 0x01, 0x05, 'h', 'e', 'l', 'l', 'o'};
  ASSERT_TRUE(list.insert_at_time(10, on, 1));
  ASSERT_TRUE(list.insert_at_time(20, off, 2));
  ASSERT_TRUE(list.insert_at_time(10, text, 3));  // appended? no: 10 is below 20
  ASSERT_TRUE(list.insert_at_time(20, on, 63));
  ASSERT_EQ(list.size(), 4u);
  EXPECT_EQ(list.at(0).time, 10u);
  EXPECT_EQ(Bytes(list, 0), ByteVec(text, text + 8));  // before the event already at 10
  EXPECT_EQ(list.at(0).flags, sef::kInserted | sef::kLong | (3u << sef::kTrackShift));
  EXPECT_EQ(Bytes(list, 1), ByteVec(on, on + 3));
  EXPECT_EQ(list.at(1).flags, sef::kAppended | (1u << sef::kTrackShift));
  EXPECT_EQ(list.at(1).data[0], 3);
  EXPECT_EQ(Bytes(list, 2), ByteVec(off, off + 2));
  EXPECT_EQ(list.track_of(3), 63);
  EXPECT_EQ(list.at(3).flags & 0xFF, sef::kAppended);
  EXPECT_TRUE(list.event_bytes(4).empty());
  EXPECT_FALSE(list.insert_at_time(5, {}, 0));

  // The fifth event fits, a sixth does not; nor does a body the pool cannot hold.
  ASSERT_TRUE(list.insert_at_time(30, on, 0));
  EXPECT_FALSE(list.insert_at_time(40, on, 0));
  EXPECT_EQ(list.size(), 5u);
  ASSERT_EQ(t.ui.messages.size(), 1u);
  EXPECT_EQ(t.ui.messages[0].text, "Too many events.|Out of memory!");
  ASSERT_TRUE(list.create(5, 20));
  std::vector<uint8_t> big(30, 0x11);
  EXPECT_FALSE(list.insert_at_time(0, big, 0));
  EXPECT_EQ(list.size(), 0u);

  list.release();
  EXPECT_EQ(list.size(), 0u);
  EXPECT_EQ(list.capacity(), 0u);
}

// A channel's note-ons whose velocities carry the mark bits.
ByteVec MarkedNotes(uint8_t channel, const std::vector<int>& bits, uint8_t baseVelocity) {
  ByteVec trk;
  for (int bit : bits) {
    Append(trk, {0x0A, static_cast<uint8_t>(0x90 | channel), 0x3C, static_cast<uint8_t>(baseVelocity | bit)});
    Append(trk, {0x0A, static_cast<uint8_t>(0x80 | channel), 0x3C, 0x00});
  }
  return trk;
}

// "M" then "S": bits 0-4, bit 5 inverted, then bits 1 and 2 of (c >> 5) - 1.
const std::vector<int> kMarkBits = {1, 0, 1, 1, 0, 1, 0, 0, 1, 1, 0, 0, 1, 1, 0, 0};

TEST_F(EventList, CatalogueMark) {
  // Fourteen bits of the pattern complete one mark (16 matched bits); the
  // note-offs have velocity 0 and are not looked at.
  std::vector<int> first14(kMarkBits.begin(), kMarkBits.begin() + 14);
  ASSERT_TRUE(Load(Smf(0, 1, 96).Track(MarkedNotes(0, first14, 0x40)).bytes));
  ASSERT_EQ(list.size(), 28u);
  EXPECT_EQ(list.catalogue_mark_percent(), 16 * 100 / 28);
  EXPECT_EQ(list.mark().patterns, 1);
  EXPECT_EQ(list.mark().matchedBits, 16);
  EXPECT_EQ(list.mark().mismatches, 0);
  EXPECT_EQ(list.mark().matchRatio, 100);

  // One wrong bit: no mark.
  auto wrong = first14;
  wrong[5] ^= 1;
  ASSERT_TRUE(Load(Smf(0, 1, 96).Track(MarkedNotes(0, wrong, 0x40)).bytes));
  EXPECT_EQ(list.catalogue_mark_percent(), 0);
  EXPECT_GT(list.mark().mismatches, 0);
  EXPECT_EQ(list.mark().matchRatio, 0);

  // Velocities below 32 do not count on a melodic channel, from 16 they do on
  // the drum channel.
  ASSERT_TRUE(Load(Smf(0, 1, 96).Track(MarkedNotes(0, first14, 0x10)).bytes));
  EXPECT_EQ(list.catalogue_mark_percent(), 0);
  EXPECT_EQ(list.mark().matchRatio, -1);
  ASSERT_TRUE(Load(Smf(0, 1, 96).Track(MarkedNotes(9, first14, 0x10)).bytes));
  EXPECT_EQ(list.catalogue_mark_percent(), 16 * 100 / 28);
}

TEST_F(EventList, CatalogueMarkScansAreSeparate) {
  // The pattern split between controller 7 and note-ons of one channel never
  // completes; carried by controller 11 of two channels at once it does twice.
  ByteVec trk;
  for (size_t i = 0; i < 14; ++i) {
    uint8_t v = static_cast<uint8_t>(0x60 | kMarkBits[i]);
    if (i % 2) Append(trk, {0x01, 0xB0, 0x07, v});
    else Append(trk, {0x01, 0x90, 0x3C, v});
  }
  ASSERT_TRUE(Load(Smf(0, 1, 96).Track(trk).bytes));
  list.catalogue_mark_percent();
  EXPECT_EQ(list.mark().patterns, 0);

  ByteVec two;
  for (size_t i = 0; i < 14; ++i) {
    uint8_t v = static_cast<uint8_t>(0x60 | kMarkBits[i]);
    Append(two, {0x01, 0xB1, 0x0B, v, 0x00, 0xB2, 0x0B, v});
  }
  ASSERT_TRUE(Load(Smf(0, 1, 96).Track(two).bytes));
  EXPECT_EQ(list.catalogue_mark_percent(), 32 * 100 / 28);
  EXPECT_EQ(list.mark().patterns, 2);
}

TEST_F(EventList, CatalogueMarkTurnsSilentNoteOnsIntoNoteOffs) {
  // Note-ons with velocity 0 become note-offs with velocity 64, which the
  // note-off scan then sees (bit 0 against the pattern's first bit 1).
  ByteVec trk;
  Append(trk, {0x00, 0x90, 0x3C, 0x50, 0x10, 0x90, 0x3C, 0x00, 0x00, 0xFF, 0x2F, 0x00});
  ASSERT_TRUE(Load(Smf(0, 1, 96).Track(trk).bytes));
  list.catalogue_mark_percent();
  EXPECT_EQ(Bytes(list, 1), (ByteVec{0x80, 0x3C, 0x40}));
  EXPECT_EQ(list.mark().systemEvents, 1);
  // The note-on (bit 0 against 1) and the note-off: two mismatches.
  EXPECT_EQ(list.mark().mismatches, 2);

  // A hidden event is skipped by every pass.
  ASSERT_TRUE(Load(Smf(0, 1, 96).Track(trk).bytes));
  list.set_hidden(1, true);
  list.catalogue_mark_percent();
  EXPECT_EQ(Bytes(list, 1), (ByteVec{0x90, 0x3C, 0x00}));
  EXPECT_EQ(list.mark().mismatches, 1);
}

TEST_F(EventList, MarkOfAnEmptyList) {
  EXPECT_EQ(list.catalogue_mark_percent(), 0);
  ASSERT_EQ(t.ui.messages.size(), 1u);
  EXPECT_EQ(t.ui.messages[0].text, "No file loaded!");
}

}  // namespace
}  // namespace kestro
