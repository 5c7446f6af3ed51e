// The maker's own songs: page marks moved to the end of their pages, channel
// labels taken out, count-in dots before instrumental passages.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "convert/karaoke.h"
#include "convert/lyrics.h"
#include "convert/mf4_converter.h"
#include "convert/midi_reader.h"
#include "convert/tests/mf4_test_support.h"

namespace kestro {
namespace {

namespace fs = std::filesystem;
using namespace mf4test;

using Timed = std::pair<uint32_t, ByteVec>;

std::vector<Timed> ReadEvents(Env& env, const fs::path& p) {
  std::vector<Timed> out;
  auto r = MidiStreamReader::open(env, p);
  EXPECT_TRUE(r) << p;
  if (!r) return out;
  for (const auto& e : miditest::ReadAll(*r)) {
    if (e.bytes != ByteVec{0xFF, 0x2F, 0x00}) out.push_back({e.time, e.bytes});
  }
  EXPECT_EQ(r->error(), 0);
  return out;
}

ByteVec FileOf(int division, const std::vector<Timed>& events) {
  Track t;
  for (const auto& [time, ev] : events) t.At(time, ev);
  return SongFile(division, {t.End()});
}

const ByteVec kPageMark4 = {0xF0, 0x07, 0x00, 0x20, 0x24, 0x00, 0x04, 0x0A, 0xF7};
const ByteVec kPageMark5 = {0xF0, 0x07, 0x00, 0x20, 0x24, 0x00, 0x05, 0x0A, 0xF7};
const ByteVec kPageMark6 = {0xF0, 0x07, 0x00, 0x20, 0x24, 0x00, 0x06, 0x0A, 0xF7};
const ByteVec kPageMark7 = {0xF0, 0x07, 0x00, 0x20, 0x24, 0x00, 0x07, 0x0A, 0xF7};
const ByteVec kColourAll = {0xB0, 0x1F, 0x7F};
const ByteVec kStep = {0xF0, 0x06, 0x00, 0x20, 0x24, 0x00, 0x08, 0xF7};
const ByteVec kControl = {0xF0, 0x06, 0x00, 0x20, 0x24, 0x00, 0x09, 0xF7};

class Retime : public ::testing::Test {
 protected:
  Install in;
  std::vector<Timed> Run(const std::vector<Timed>& song, int division = 480) {
    auto src = in.Write("in.mid", FileOf(division, song));
    EXPECT_TRUE(retime_catalogue_lyrics(*in.env, src, in.Path("out.mid")));
    return ReadEvents(*in.env, in.Path("out.mid"));
  }
};

TEST_F(Retime, BracketsOfTheFirstPageOnly) {
  std::vector<Timed> song = {
      {10, Karaoke(4, "(uno)\n")}, {11, Karaoke(5, "d(u)e\n")}, {12, Karaoke(6, "tre\n")},
      {13, Karaoke(7, "(4)\n")},   {20, Karaoke(4, "(cinque)\n")}, {21, {0x90, 0x40, 0x40}},
  };
  std::vector<Timed> want = {
      {10, Karaoke(4, "-uno-\n")}, {11, Karaoke(5, "d-u-e\n")}, {12, Karaoke(6, "tre\n")},
      {13, Karaoke(7, "-4-\n")},   {20, Karaoke(4, "(cinque)\n")}, {21, {0x90, 0x40, 0x40}},
  };
  EXPECT_EQ(Run(song), want);
}

TEST_F(Retime, ChannelLabelPagesGo) {
  std::vector<Timed> song = {
      {5, Karaoke(7, "fine\n")},
      {10, Karaoke(4, "CH1 Piano\n")},   // opens a block
      {11, Karaoke(5, "ch2 basso\n")},   // deepens it
      {12, Karaoke(6, "testo\n")},
      {13, kPageMark7},                  // closes it
      {14, {0x90, 0x40, 0x40}},
      {20, kStep},
      {30, Karaoke(5, "MIDI 3 archi\n")},  // a label outside a block
      {40, Karaoke(4, "Canale 5\n")},
      {41, kStep},                         // depth back to 0
      {42, kControl},
      {43, Karaoke(6, "ciao\n")},
      {50, Karaoke(4, "CH 9\n")},
      {51, kControl},                      // inside: not copied
      {52, kStep},
  };
  std::vector<Timed> want = {
      {5, Karaoke(7, "fine\n")},
      {14, {0x90, 0x40, 0x40}},
      {20, kStep},
      {30, {0xF0, 0x08, 0x00, 0x20, 0x24, 0x00, 0x05, 0x29, 0x0A, 0xF7}},
      {42, kControl},
      {43, Karaoke(6, "ciao\n")},
  };
  EXPECT_EQ(Run(song), want);
}

// Notes every half beat from 0 to `end`, and the karaoke messages given.
std::vector<Timed> WithNotes(std::vector<Timed> karaoke, uint32_t end) {
  std::vector<Timed> out;
  size_t k = 0;
  for (uint32_t t = 0; t <= end; t += 240) {
    while (k < karaoke.size() && karaoke[k].first < t) out.push_back(karaoke[k++]);
    out.push_back({t, {0x90, 0x40, 0x40}});
    while (k < karaoke.size() && karaoke[k].first == t) out.push_back(karaoke[k++]);
  }
  while (k < karaoke.size()) out.push_back(karaoke[k++]);
  return out;
}

TEST_F(Retime, CountInBeforeAnInstrumentalPassage) {
  const ByteVec keyword = Karaoke(5, "  INSTRUMENTAL     \n");
  ASSERT_GT(keyword[1], 18);
  std::vector<Timed> song = WithNotes(
      {
          {500, Karaoke(4, "Strofa uno\n")},
          {1000, keyword},
          {1010, Karaoke(6, "tre\n")},
          {1020, Karaoke(7, "quattro\n")},
          {1200, kStep},  // starts the measure
          {4840, kStep},  // ends it after 8 beats; starts the keyword's line
          {6000, kColourAll},
          {8000, kStep},
      },
      9600);
  std::vector<Timed> out = Run(song);

  // 8 beats: the keyword line becomes its first character, 8 dots, ")".
  std::vector<Timed> want;
  for (const auto& e : song) {
    if (e.first == 1000 && e.second == keyword) {
      want.push_back({1000, {0xF0, 17, 0x00, 0x20, 0x24, 0x00, 0x05, ' ', '~', '~', '~', '~', '~', '~', '~', '~', ')', '\n', 0xF7}});
      continue;
    }
    if (e.second == kColourAll) continue;  // not copied while the dots run
    // A dot at the first event of each new beat, at the time of the event before.
    if (e.first >= 5280 && e.first <= 7680 && e.first % 480 == 0 && e.second[0] == 0x90) {
      const uint8_t n = static_cast<uint8_t>((e.first - 5280) / 480 + 1);
      want.push_back({e.first - 240, {0xB0, 0x1F, n}});
    }
    if (e.first == 8000) want.push_back({8000, {0xB0, 0x1F, 10}});
    want.push_back(e);
  }
  EXPECT_EQ(out, want);
}

TEST_F(Retime, LongPassagesCountBars) {
  auto countIn = [&](uint32_t measureEnd) {
    const ByteVec keyword = Karaoke(4, "Guitar Solo ........\n");
    std::vector<Timed> song = WithNotes({{1000, keyword}, {1200, kStep}, {measureEnd, kStep}}, measureEnd + 960);
    for (const auto& [time, ev] : Run(song)) {
      if (time == 1000 && KaraokeKind(ev) == 4) return KaraokeText(ev);
    }
    return std::string("missing");
  };
  EXPECT_EQ(countIn(1000 + 20 * 480), "G" + std::string(20, '~') + ")\n") << "20 beats: a dot per beat";
  // 40 beats = 10 bars: a dot per bar, one less than the bars.
  EXPECT_EQ(countIn(1000 + 40 * 480 + 100), "G" + std::string(9, '~') + ")\n");
  // 100 bars: 20 dots.
  EXPECT_EQ(countIn(1000 + 400 * 480 + 100), "G" + std::string(20, '~') + ")\n");
}

TEST_F(Retime, PassageThatNeverEndsIsCopiedAsItIs) {
  std::vector<Timed> song = WithNotes({{1000, Karaoke(4, "   instrumental   xx\n")}, {1200, kStep}}, 4000);
  EXPECT_EQ(Run(song), song);
  // A second passage after the first one that never ends.
  std::vector<Timed> two = WithNotes({{1000, Karaoke(4, "INSTRUMENTAL ........\n")},
                                      {1200, Karaoke(5, "PIANO SOLO ..........\n")},
                                      {1300, kStep}},
                                     3000);
  EXPECT_EQ(Run(two), two);
}

TEST_F(Retime, TimeSignatureAtABarStart) {
  // 3/4 from tick 0: the keyword in beat 2 of bar 0, the measure ending in
  // beat 32, bar 10 (bar 8 in 4/4): 9 dots, one per bar.
  std::vector<Timed> song = WithNotes({{0, {0xFF, 0x58, 0x04, 0x03, 0x02, 0x18, 0x08}},
                                       {960, Karaoke(4, "INSTRUMENTAL ........\n")},
                                       {1200, kStep},
                                       {960 + 30 * 480, kStep}},
                                      17000);
  int found = 0;
  for (const auto& [time, ev] : Run(song)) {
    if (KaraokeKind(ev) == 4) {
      EXPECT_EQ(KaraokeText(ev), "I" + std::string(9, '~') + ")\n");
      ++found;
    }
  }
  EXPECT_EQ(found, 1);
}

TEST_F(Retime, InputThatIsNoMidiFile) {
  auto junk = in.Write("junk.mid", ByteVec(30, 'j'));
  EXPECT_FALSE(retime_catalogue_lyrics(*in.env, junk, in.Path("out.mid")));
}

TEST(Preprocess, PageMarksMoveToTheEndOfTheirPage) {
  Install in;
  std::vector<Timed> song = {
      {100, Karaoke(4, "uno\n")},     {105, Karaoke(5, "due\n")},  {110, Karaoke(6, "tre\n")},
      {115, Karaoke(7, "quattro\n")}, {200, kStep},
      {1000, kPageMark4},             {1005, kPageMark5},          {1010, Karaoke(6, "cinque\n")},
      {1015, Karaoke(7, "sei\n")},    {1100, kStep},               {1200, kStep},
      {1250, kControl},               {1300, kStep},
      {2000, Karaoke(4, "sette\n")},  {2100, kStep},               {2200, kControl},
  };
  auto src = in.Write("Canzone.mid", FileOf(480, song));
  ASSERT_TRUE(preprocess_catalogue_song(*in.env, src, in.Path("pre.MID")));
  std::vector<Timed> want = {
      {100, Karaoke(4, "uno\n")},
      {105, Karaoke(5, "due\n")},
      {110, Karaoke(6, "tre\n")},
      {115, Karaoke(7, "quattro\n")},
      {200, kStep},
      {1000, kColourAll},
      {1005, kColourAll},
      {1010, Karaoke(4, "cinque\n")},
      {1010, {0xF0, 0x06, 0x00, 0x20, 0x24, 0x00, 0x09, 0x7F}},
      {1015, Karaoke(5, "sei\n")},
      {1015, kPageMark6},
      {1015, kPageMark7},
      {1100, kColourAll},
      {1200, kColourAll},
      {1250, kColourAll},
      {1300, kStep},
      {2000, Karaoke(4, "sette\n")},
      {2100, kStep},
      {2200, kControl},
  };
  EXPECT_EQ(ReadEvents(*in.env, in.Path("pre.MID")), want);
  for (const char* f : {"Canzone_M1.MID", "Canzone_M2.MID", "Canzone_M3.MID", "midi.tmp"}) {
    EXPECT_FALSE(fs::exists(in.Path(f))) << f;
  }
}

TEST(Preprocess, WholePagesOfMarksAndPagesUpToTheEnd) {
  Install in;
  // Four page marks (C = 4): left alone.
  std::vector<Timed> four = {{10, kPageMark4}, {11, kPageMark5}, {12, kPageMark6}, {13, kPageMark7},
                             {20, Karaoke(4, "testo\n")}, {30, kStep}};
  auto a = in.Write("a.mid", FileOf(480, four));
  ASSERT_TRUE(preprocess_catalogue_song(*in.env, a, in.Path("a.out")));
  EXPECT_EQ(ReadEvents(*in.env, in.Path("a.out")), four);
  // A page mark whose page runs to the end of the song (C = 5): left alone.
  std::vector<Timed> open = {{10, Karaoke(4, "uno\n")}, {20, kPageMark4}, {21, kPageMark5}};
  auto b = in.Write("b.mid", FileOf(480, open));
  ASSERT_TRUE(preprocess_catalogue_song(*in.env, b, in.Path("b.out")));
  EXPECT_EQ(ReadEvents(*in.env, in.Path("b.out")), open);
  // Two pages that need it: both are done, one pass each.
  std::vector<Timed> two = {{10, kPageMark4}, {11, Karaoke(5, "a\n")}, {12, Karaoke(6, "b\n")}, {13, Karaoke(7, "c\n")},
                            {20, kPageMark4}, {21, kPageMark5}, {22, kPageMark6}, {23, Karaoke(7, "d\n")}, {30, kStep}};
  auto c = in.Write("c.mid", FileOf(480, two));
  ASSERT_TRUE(preprocess_catalogue_song(*in.env, c, in.Path("c.out")));
  std::vector<std::string> kinds;
  for (const auto& [time, ev] : ReadEvents(*in.env, in.Path("c.out"))) {
    kinds.push_back(std::to_string(time) + ":" + (IsKaraokeMessage(ev) ? std::to_string(ev[6]) : miditest::Hex(ev)));
  }
  EXPECT_EQ(kinds, (std::vector<std::string>{"10:b0 1f 7f", "11:4", "11:9", "12:5", "13:6", "13:7", "20:b0 1f 7f",
                                             "21:b0 1f 7f", "22:b0 1f 7f", "23:4", "23:9", "23:5", "23:6", "23:7",
                                             "30:b0 1f 7f"}));
  // A source that is not there.
  EXPECT_FALSE(preprocess_catalogue_song(*in.env, in.Path("none.mid"), in.Path("d.out")));
}

}  // namespace
}  // namespace kestro
