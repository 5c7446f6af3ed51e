// The MF4 converter on songs built event by event.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "convert/karaoke.h"
#include "convert/mf4_converter.h"
#include "convert/midi_reader.h"
#include "convert/tests/mf4_test_support.h"
#include "convert/work_files.h"

namespace kestro {
namespace {

namespace fs = std::filesystem;
using namespace mf4test;

class Converter : public ::testing::Test {
 protected:
  Install in;

  Mf4Content Convert(const ByteVec& song, bool* written = nullptr) {
    auto src = in.Write("src.mid", song);
    auto r = MidiStreamReader::open(*in.env, src);
    EXPECT_TRUE(r);
    if (!r) return {};
    bool ok = convert_midi(*in.env, in.ctx, *r, in.Path("out.MID"));
    if (written) *written = ok;
    EXPECT_EQ(in.ctx.outputWritten, ok);
    return ParseOrFail(in.Read("out.MID"));
  }
};

TEST(ScaleTime, Table) {
  struct Case {
    uint32_t ticks;
    int division;
    uint32_t want;
  } cases[] = {
      {96, 96, 480},           {0, 96, 0},        {1, 96, 5},           {1000, 480, 1000},
      {1000, 960, 500},        {1001, 960, 500},  {7, 0, 7},            {0xFFFFFFFFu, 480, 0xFFFFFFFFu},
      {0x10000000u, 1, 0xFFFFFFFFu},              {300, 192, 750},
  };
  for (const auto& c : cases) EXPECT_EQ(scale_time(c.ticks, c.division), c.want) << c.ticks << " @" << c.division;
}

TEST_F(Converter, EventsOfASongAt96TicksPerQuarter) {
  Track conductor, melody, drums;
  conductor.Meta(0, 0x03, "First Title")
      .At(0, {0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20})
      .At(0, {0xFF, 0x58, 0x04, 0x03, 0x02, 0x18, 0x08})
      .Meta(10, 0x01, "a text event")
      .Meta(20, 0x03, "Second Title")
      .Meta(96, 0x06, "m")
      .At(96, {0xFF, 0x7F, 0x02, 0x00, 0x01});
  melody.At(0, {0xC0, 0x05})
      .At(0, {0xB0, 0x07, 0x64})
      .At(0, {0xB0, 0x0A, 0x20})
      .At(0, {0xB0, 0x5B, 0x30})
      .At(0, {0xB0, 0x5D, 0x40})
      .At(0, {0xB0, 0x00, 0x01})
      .At(5, {0xB0, 0x07, 0x10})
      .At(5, {0xC0, 0x06})
      .At(96, {0x90, 0x3C, 0x40})
      .At(150, {0xE0, 0x00, 0x50})
      .At(192, {0x80, 0x3C, 0x40});
  drums.At(96, {0x99, 0x24, 0x64})
      .At(96, {0x99, 0x2E, 0x64})
      .At(144, {0x89, 0x24, 0x40})
      .At(144, {0x89, 0x2E, 0x40})
      .At(144, {0x89, 0x3D, 0x40})
      .At(200, {0x99, 0x24, 0x00});
  Mf4Content c = Convert(SongFile(96, {conductor.End(), melody.End(), drums.End()}));
  EXPECT_EQ(c.division, 480);
  EXPECT_TRUE(c.ended);
  const std::vector<Mf4Event> want = {
      {0, {0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20}},
      {0, {0xFF, 0x58, 0x04, 0x03, 0x02, 0x18, 0x08}},
      {0, {0xC0, 0x05}},
      {0, {0xB0, 0x07, 0x64}},
      {0, {0xB0, 0x0A, 0x20}},
      {0, {0xB0, 0x5B, 0x30}},
      {0, {0xB0, 0x5D, 0x40}},
      {0, {0xB0, 0x00, 0x01}},
      {25, {0xB0, 0x07, 0x10}},
      {25, {0xC0, 0x06}},
      {480, {0xFF, 0x06, 0x01, 'm'}},
      {480, {0xFF, 0x7F, 0x02, 0x00, 0x01}},
      {480, {0x90, 0x3C, 0x40}},
      {480, {0x99, 0x24, 0x64}},
      {480, {0x99, 0x2E, 0x64}},
      {720, {0x89, 0x2E}},  // a drum note-off of 46 stays, those of 35-60 go
      {720, {0x89, 0x3D}},  // 61 is above that range
      {750, {0xE0, 0x00, 0x50}},
      {960, {0x80, 0x3C}},
      {1000, {0x89, 0x24}},  // a drum note-on with velocity 0 is a note-off that stays
  };
  EXPECT_EQ(c.events, want);

  const ConvertContext& x = in.ctx;
  EXPECT_EQ(x.Title(), "First Title");
  EXPECT_TRUE(x.HadTitle());
  EXPECT_EQ(x.Tempo(), 120);
  EXPECT_TRUE(x.MarkersFlag());
  EXPECT_EQ(x.Program(0), 5);
  EXPECT_EQ(x.Bank(0), 1);
  EXPECT_EQ(x.Volume(0), 0x64);
  EXPECT_EQ(x.Pan(0), 0x20);
  EXPECT_EQ(x.Reverb(0), 0x30);
  EXPECT_EQ(x.Chorus(0), 0x40);
  for (int ch = 1; ch < 16; ++ch) {
    EXPECT_EQ(x.Program(ch), kNoValue);
    EXPECT_EQ(x.Volume(ch), kNoValue);
  }
  EXPECT_EQ(x.header.Magic(), "_MF4");
  EXPECT_EQ(x.header.Word8(), 0u) << "the conversion starts from a cleared header";
  EXPECT_TRUE(in.ui.messages.empty());
}

TEST_F(Converter, TrackLengthIsTheFileSizeLessTheHeadAndMarker) {
  Track t;
  for (uint32_t i = 0; i < 300; ++i) t.At(i * 10, {0x90, static_cast<uint8_t>(40 + i % 40), 0x50});
  Convert(SongFile(480, {t.End()}));
  ByteVec f = in.Read("out.MID");
  ASSERT_GT(f.size(), 25u);
  const uint32_t length = uint32_t{f[18]} << 24 | uint32_t{f[19]} << 16 | uint32_t{f[20]} << 8 | f[21];
  EXPECT_EQ(length, f.size() - 25);
  EXPECT_EQ(ByteVec(f.end() - 4, f.end()), (ByteVec{0x00, 0xFF, 0x2F, 0x00}));
}

TEST_F(Converter, TempoComesFromWhicheverIsFirst) {
  struct Case {
    const char* name;
    std::vector<ByteVec> events;
    int tempo;
  } cases[] = {
      {"none", {}, 0},
      {"set_tempo", {{0xFF, 0x51, 0x03, 0x09, 0x27, 0xC0}}, 100},
      {"item 5 first", {Track::MetaEvent(0x4B, "\x05" "96"), {0xFF, 0x51, 0x03, 0x09, 0x27, 0xC0}}, 96},
      {"set_tempo first", {{0xFF, 0x51, 0x03, 0x09, 0x27, 0xC0}, Track::MetaEvent(0x4B, "\x05" "96")}, 100},
      {"zero set_tempo", {{0xFF, 0x51, 0x03, 0x00, 0x00, 0x00}, {0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20}}, 120},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Track t;
    uint32_t time = 0;
    for (const auto& ev : c.events) t.At(time += 10, ev);
    t.At(time + 10, {0x90, 0x40, 0x40});
    Mf4Content out = Convert(SongFile(480, {t.End()}));
    EXPECT_EQ(in.ctx.Tempo(), c.tempo);
    for (const auto& e : out.events) EXPECT_NE(e.bytes[1], 0x4B) << "FF 4B is not written";
  }
}

TEST_F(Converter, TextsFromTrackNameRightsNoticeAndItems) {
  auto pad = [](std::string s, size_t n) {
    s.resize(n, ' ');
    return s;
  };
  struct Case {
    const char* name;
    std::vector<ByteVec> events;
    std::string title, author, performer, genre, editor, rights;
  } cases[] = {
      {"short name", {Track::MetaEvent(0x03, "  Volare  ")}, "  Volare  ", "", "", "", "", ""},
      {"32 characters", {Track::MetaEvent(0x03, std::string(32, 'n'))}, std::string(31, 'n'), "", "", "", "", ""},
      {"title;author at 32",
       {Track::MetaEvent(0x03, pad("  Nel blu dipinto", 32) + ";words and music by d. modugno ")},
       "NEL BLU DIPINTO", "D. MODUGNO", "", "", "", ""},
      {"author without music by",
       {Track::MetaEvent(0x03, pad("Azzurro", 32) + ";  paolo conte")}, "AZZURRO", "PAOLO CONTE", "", "", "", ""},
      {"semicolon elsewhere", {Track::MetaEvent(0x03, "Short;" + std::string(40, 'x'))}, "SHORT", "", "", "", "", ""},
      {"long name without semicolon", {Track::MetaEvent(0x03, " " + std::string(40, 'a'))}, std::string(31, 'A'),
       "", "", "", "", ""},
      {"rights with editor",
       {Track::MetaEvent(0x02, pad("(C) 1958", 32) + "; 1958 - edizioni curci  ")},
       "", "", "", "", "EDIZIONI CURCI", "(C) 1958" + std::string(23, ' ')},
      {"editor all digits", {Track::MetaEvent(0x02, pad("(C)", 32) + ";2001")}, "", "", "", "", "2001",
       "(C)" + std::string(28, ' ')},
      {"last rights notice wins", {Track::MetaEvent(0x02, "first"), Track::MetaEvent(0x02, "second")}, "", "", "",
       "", "", "second"},
      {"items",
       {Track::MetaEvent(0x4B, "\x01Pop"), Track::MetaEvent(0x4B, "\x02Mina"), Track::MetaEvent(0x4B, "\x03Pino"),
        Track::MetaEvent(0x4B, "\x03Other"), Track::MetaEvent(0x4B, "\x02" + std::string(40, 'p'))},
       "", "Pino", "Mina", "Pop", "", ""},
      {"two track names", {Track::MetaEvent(0x03, "One"), Track::MetaEvent(0x03, "Two")}, "One", "", "", "", "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Track t;
    uint32_t time = 0;
    for (const auto& ev : c.events) t.At(time += 10, ev);
    Mf4Content out = Convert(SongFile(480, {t.End()}));
    const ConvertContext& x = in.ctx;
    EXPECT_EQ(x.Title(), c.title);
    EXPECT_EQ(x.Author(), c.author);
    EXPECT_EQ(x.Performer(), c.performer);
    EXPECT_EQ(x.Genre(), c.genre);
    EXPECT_EQ(x.Editor(), c.editor);
    EXPECT_EQ(x.RightsNotice(), c.rights);
    for (const auto& e : out.events) EXPECT_NE(e.bytes[1], 0x03) << "track names are not written";
  }
}

TEST_F(Converter, ChordsAndTextItemsOfKaraokeMessages) {
  Track t;
  t.At(10, Karaoke(1, "\x01" "Am"))
      .At(20, Karaoke(1, "G7"))
      .At(30, Karaoke(1, "C"))
      .At(40, Karaoke(4, "uno\n"))
      .At(45, Karaoke(5, "due\n"))
      .At(50, Karaoke(6, "tre\n"))
      .At(55, Karaoke(7, "quattro\n"))
      .At(60, Karaoke(8, ""))
      .At(100, Karaoke(4, "cinque " + std::string(50, 'x') + "\n"))
      .At(105, Karaoke(7, "sei\n"))
      .At(110, {0xF0, 0x05, 0x7E, 0x7F, 0x09, 0x01, 0xF7});
  Mf4Content c = Convert(SongFile(480, {t.End()}));
  std::vector<std::string> chords;
  for (const auto& e : KaraokeOfKind(c.events, 1)) chords.push_back(std::to_string(e.time) + " " + KaraokeText(e.bytes));
  EXPECT_EQ(chords, (std::vector<std::string>{"10 >Am|G7|C", "20 >G7|C|", "30 >C||"}));
  auto previews = KaraokeOfKind(c.events, 15);
  ASSERT_EQ(previews.size(), 2u);
  EXPECT_EQ(previews[0].time, 55u);
  EXPECT_EQ(KaraokeText(previews[0].bytes), "cinque " + std::string(34, 'x')) << "the next item, cut to 41 characters";
  EXPECT_EQ(KaraokeText(previews[1].bytes), "") << "no item after the last page";
  // The preview follows its kind-7 message directly.
  for (size_t i = 0; i + 1 < c.events.size(); ++i) {
    if (KaraokeKind(c.events[i].bytes) == 7) {
      EXPECT_EQ(KaraokeKind(c.events[i + 1].bytes), 15);
    }
  }
  EXPECT_EQ(KaraokeOfKind(c.events, 4).size(), 2u);
  EXPECT_EQ(KaraokeOfKind(c.events, 8).size(), 1u);
  EXPECT_EQ(c.events.back().bytes, (ByteVec{0xF0, 0x05, 0x7E, 0x7F, 0x09, 0x01, 0xF7})) << "other messages stay";
  EXPECT_EQ(in.ctx.counters.itemsSeen, 6);
  EXPECT_EQ(in.ctx.counters.chordsMet, 3);
}

TEST_F(Converter, MoreChordsThanTheTableHolds) {
  Track t;
  const int n = 1200;
  for (int i = 0; i < n; ++i) t.At(static_cast<uint32_t>(i * 4), Karaoke(1, "C" + std::to_string(i) + std::string(20, '#')));
  Mf4Content c = Convert(SongFile(480, {t.End()}));
  auto chords = KaraokeOfKind(c.events, 1);
  ASSERT_EQ(chords.size(), static_cast<size_t>(n));
  EXPECT_EQ(in.ctx.lyrics.chords.size(), LyricTables::kChordCapacity);
  EXPECT_EQ(in.ctx.lyrics.chordsDropped, static_cast<size_t>(n) - LyricTables::kChordCapacity);
  const std::string c0 = "C0" + std::string(13, '#');
  EXPECT_EQ(KaraokeText(chords[0].bytes), ">" + c0 + "|C1" + std::string(13, '#') + "|C2" + std::string(13, '#'));
  EXPECT_EQ(KaraokeText(chords[1175].bytes), ">C1175" + std::string(10, '#') + "|C1176" + std::string(10, '#') + "|");
  EXPECT_EQ(KaraokeText(chords[1177].bytes), ">||");
  EXPECT_EQ(KaraokeText(chords[n - 1].bytes), ">||");
}

TEST_F(Converter, EventsLongerThanTheBufferAreLeftOut) {
  auto sysex = [](size_t body) {
    ByteVec ev = {0xF0, static_cast<uint8_t>(0x80 | (body / 128)), static_cast<uint8_t>(body % 128)};
    for (size_t i = 0; i + 1 < body; ++i) ev.push_back(static_cast<uint8_t>(i & 0x7F));
    ev.push_back(0xF7);
    return ev;
  };
  Track t;
  t.At(0, sysex(600))
      .Meta(10, 0x05, std::string(600, 'l'))
      .Meta(20, 0x05, std::string(508, 'k'))  // 512 bytes with its header
      .Meta(30, 0x7F, std::string(509, 's'))  // 513
      .Meta(40, 0x02, std::string(700, 'r'))
      .At(50, {0x90, 0x40, 0x50});
  Mf4Content c = Convert(SongFile(480, {t.End()}));
  ASSERT_EQ(c.events.size(), 2u);
  EXPECT_EQ(c.events[0].time, 20u);
  EXPECT_EQ(c.events[0].bytes.size(), 512u);
  EXPECT_EQ(c.events[1], (Mf4Event{50, {0x90, 0x40, 0x50}}));
  EXPECT_EQ(in.ctx.counters.longEventsSkipped, 4);
  EXPECT_EQ(in.ctx.RightsNotice(), std::string(31, 'r')) << "a long rights notice is still read";
}

TEST_F(Converter, TrackWithoutEndOfTrackAndTruncatedFile) {
  Track a;
  a.At(0, {0x90, 0x40, 0x50}).At(100, {0x80, 0x40, 0x00});
  ByteVec noEnd = a.data;  // no FF 2F
  Track b;
  b.At(50, {0x91, 0x41, 0x50});
  bool written = false;
  Mf4Content c = Convert(SongFile(480, {noEnd, b.End()}), &written);
  EXPECT_TRUE(written);
  EXPECT_TRUE(c.ended);
  EXPECT_EQ(c.events.size(), 3u);
  EXPECT_TRUE(in.ui.messages.empty());

  // A chunk that claims more than the file holds: the reader's error is
  // shown and what came before is a valid file.
  ByteVec cut = SongFile(480, {a.End()});
  cut.resize(cut.size() - 4);
  Mf4Content d = Convert(cut, &written);
  EXPECT_TRUE(d.ended);
  EXPECT_EQ(d.events.size(), 2u);
  ASSERT_FALSE(in.ui.messages.empty());
  EXPECT_EQ(in.ui.messages.back().text, "Midifile error 02");
}

TEST_F(Converter, DestinationThatCannotBeCreated) {
  Track t;
  t.At(0, {0x90, 0x40, 0x50});
  auto src = in.Write("src.mid", SongFile(480, {t.End()}));
  auto r = MidiStreamReader::open(*in.env, src);
  ASSERT_TRUE(r);
  EXPECT_FALSE(convert_midi(*in.env, in.ctx, *r, in.Path("missing/out.MID")));
  EXPECT_FALSE(in.ctx.outputWritten);
  ASSERT_EQ(in.ui.messages.size(), 1u);
  EXPECT_EQ(in.ui.messages[0].caption, "Errore di scrittura");
}

TEST_F(Converter, Mf3ContentIsRewrapped) {
  // Unpacked .MF3 content: a 22-byte head, then the events as they stand.
  Track t;
  t.At(0, {0x90, 0x40, 0x50}).At(480, {0x80, 0x40}).Meta(480, 0x05, "la");
  ByteVec content = SongFile(480, {t.End()});
  auto src = in.Write("TEMP.MID", content);
  in.ctx.header.SetMagic("_MF3");
  in.ctx.header.SetTitle("KEPT");
  ASSERT_TRUE(convert_mf3_content(*in.env, in.ctx, src, in.Path("0.MID")));
  EXPECT_EQ(in.ctx.header.Magic(), "_MF4");
  EXPECT_EQ(in.ctx.header.Title(), "KEPT");
  ByteVec out = in.Read("0.MID");
  ByteVec want = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0x01, 0xE0, 'M', 'T', 'r', 'k'};
  const uint32_t counted = static_cast<uint32_t>(content.size() - 22 + 4);
  want.insert(want.end(), {uint8_t(counted >> 24), uint8_t(counted >> 16), uint8_t(counted >> 8), uint8_t(counted)});
  want.insert(want.end(), {0xFF, 0x00, 0xFF});
  want.insert(want.end(), content.begin() + 22, content.end());
  want.insert(want.end(), {0x00, 0xFF, 0x2F, 0x00});
  EXPECT_EQ(out, want);

  // Not MIDI content at all.
  auto junk = in.Write("junk.MID", ByteVec(100, 'x'));
  EXPECT_FALSE(convert_mf3_content(*in.env, in.ctx, junk, in.Path("1.MID")));
  EXPECT_FALSE(fs::exists(in.Path("1.MID")));
  ASSERT_FALSE(in.ui.messages.empty());
  EXPECT_EQ(in.ui.messages.back().text, "Impossibile aprire il file " + junk.string());
}

}  // namespace
}  // namespace kestro
