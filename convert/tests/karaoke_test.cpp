// The text tests and character maps of the lyric tools.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "convert/karaoke.h"

namespace kestro {
namespace {

using Bytes = std::vector<uint8_t>;

TEST(CharacterMaps, TitleTableAndItsInverse) {
  // Windows Latin-1 letter -> player code.
  const std::pair<uint8_t, uint8_t> table[] = {
      {0xC4, 21}, {0xC8, 29}, {0xCC, 9},  {0xD1, 30}, {0xD6, 22}, {0xDC, 23}, {0xDF, 25},
      {0xE0, 1},  {0xE1, 4},  {0xE2, 2},  {0xE4, 3},  {0xE7, 24}, {0xE8, 6},  {0xE9, 5},
      {0xEA, 8},  {0xEB, 7},  {0xED, 12}, {0xEE, 31}, {0xEF, 11}, {0xF1, 26}, {0xF2, 13},
      {0xF3, 16}, {0xF4, 14}, {0xF6, 15}, {0xF9, 17}, {0xFA, 20}, {0xFB, 18}, {0xFC, 19},
  };
  for (auto [latin, code] : table) {
    SCOPED_TRACE(int(latin));
    EXPECT_EQ(to_player_codes(std::string(1, char(latin))), std::string(1, char(code)));
    EXPECT_EQ(from_player_codes(std::string(1, char(code))), std::string(1, char(latin)));
  }
  // Every other byte stays, both ways; codes 10, 27 and 28 have no letter.
  int mapped = 0;
  for (int c = 0; c < 256; ++c) {
    std::string s(1, char(c));
    if (to_player_codes(s) != s) ++mapped;
  }
  EXPECT_EQ(mapped, 28);
  for (int c : {0, 10, 27, 28, 32, 65, 0x7F}) EXPECT_EQ(from_player_codes(std::string(1, char(c))), std::string(1, char(c)));
  EXPECT_EQ(to_player_codes("PERCH\xC8 s\xEC caf\xE9"), "PERCH\x1D s\xEC caf\x05") << "0xEC has no player code";
}

TEST(CharacterMaps, MetaEventsKeepTheirHeaderBytes) {
  // FF 05 with length 0xE8 would be a letter if the header were mapped.
  Bytes ev = {0xFF, 0x05, 0x03, 0xE8, 'a', 0xF9};
  to_player_codes_meta(ev);
  EXPECT_EQ(ev, (Bytes{0xFF, 0x05, 0x03, 6, 'a', 17}));
  Bytes header = {0xFF, 0x01, 0x06};
  to_player_codes_meta(header);
  EXPECT_EQ(header, (Bytes{0xFF, 0x01, 0x06}));
  from_player_codes_meta(ev);
  EXPECT_EQ(ev, (Bytes{0xFF, 0x05, 0x03, 0xE8, 'a', 0xF9}));
}

TEST(ChannelLabels, Table) {
  const std::pair<const char*, bool> cases[] = {
      {"CH1", true},         {"ch 10 piano", true}, {"CH", false},           {"CHORUS", false},
      {"MIDI1", true},       {"Midi 4", true},      {"MIDI  4", false},      {"MIDI", false},
      {"CANALE1", true},     {"canale 12", true},   {"CANALE  1", false},    {"CANALE", false},
      {" CH1", false},       {"Canto 1", false},    {"", false},             {"MIDIX5", true},
  };
  for (auto [text, label] : cases) EXPECT_EQ(is_channel_label(text), label) << text;
}

TEST(InstrumentalKeywords, FoundInAnyCaseWithOneSpace) {
  const std::pair<const char*, int> cases[] = {
      {"-- INSTRUMENTAL --", 0}, {"(guitar solo)", 1}, {"Piano Solo", 2}, {"sax solo", 3},
      {"SYNTH SOLO!", 4},        {"dist solo", 5},     {"GUITAR  SOLO", -1}, {"Instrumentale", 0},
      {"solo guitar", -1},       {"", -1},
  };
  for (auto [text, index] : cases) {
    Bytes m = MakeKaraokeMessage(karaoke::kLine1, text);
    EXPECT_EQ(find_instrumental_keyword(m), index) << text;
  }
  // Only the text counts, not the bytes after F7.
  Bytes m = MakeKaraokeMessage(karaoke::kLine1, "la la");
  std::string tail = "INSTRUMENTAL";
  m.insert(m.end(), tail.begin(), tail.end());
  EXPECT_EQ(find_instrumental_keyword(m), -1);
}

TEST(ChordNames, Table) {
  const std::pair<const char*, bool> cases[] = {
      {"Am  ", true},   {"C  ", true},         {"G7sus4  ", true},     {"do  ", true},   {"Sol#m  ", true},
      {"FA  ", true},   {"Am ", false},        {"am  ", false},        {"Hm  ", false},  {"la la la  ", true},
      {"  ", false},    {"Am7/G  ", true},     {"Bbmaj7/F        ", true}, {"Bbmaj7/F         ", false},
      {"Xyz  ", false}, {"", false},
  };
  for (auto [text, chord] : cases) EXPECT_EQ(IsChordName(text), chord) << '"' << text << '"';
}

TEST(KaraokeMessages, BuildAndRead) {
  Bytes m = MakeKaraokeMessage(karaoke::kLine4, "ciao\n");
  EXPECT_EQ(m, (Bytes{0xF0, 11, 0x00, 0x20, 0x24, 0x00, 7, 'c', 'i', 'a', 'o', '\n', 0xF7}));
  EXPECT_TRUE(IsKaraokeMessage(m));
  EXPECT_EQ(KaraokeKind(m), 7);
  EXPECT_EQ(KaraokeText(m), "ciao\n");
  EXPECT_EQ(KaraokeKind(Bytes{0xF0, 0x05, 0x7E, 0x7F, 0x09, 0x01, 0xF7}), -1);
  EXPECT_EQ(KaraokeKind(Bytes{0xF0, 0x04, 0x00, 0x20, 0x24}), -1) << "too short";
  EXPECT_TRUE(IsPageMark(Bytes{0xF0, 0x07, 0x00, 0x20, 0x24, 0x00, 0x04, 0x0A, 0xF7}));
  EXPECT_FALSE(IsPageMark(Bytes{0xF0, 0x07, 0x00, 0x20, 0x24, 0x00, 0x05, 0x0A, 0xF7}));
  EXPECT_FALSE(IsPageMark(MakeKaraokeMessage(karaoke::kLine1, "\nx")));
  // A text too long for a one-byte length is cut.
  Bytes longOne = MakeKaraokeMessage(karaoke::kLine1, std::string(300, 'x'));
  EXPECT_EQ(longOne[1], 127);
  EXPECT_EQ(longOne.size(), 129u);
  EXPECT_EQ(longOne.back(), 0xF7);
}

}  // namespace
}  // namespace kestro
