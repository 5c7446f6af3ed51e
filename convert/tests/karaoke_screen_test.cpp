// What the player's screen shows at a given play time: a hand-made stream
// with every kind of karaoke step and a tempo change, a song without text,
// and a song whose words and times are known, through the converter.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "convert/event_stream.h"
#include "convert/karaoke.h"
#include "convert/karaoke_screen.h"
#include "convert/mf4_converter.h"
#include "convert/tests/mf4_test_support.h"

namespace kestro {
namespace {

using namespace mf4test;

// Stream bytes: headers, marker and events at absolute ticks.
struct StreamBuilder {
  ByteVec bytes = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0x01, 0xE0, 'M', 'T', 'r', 'k', 0, 0, 0, 0, 0xFF, 0x00, 0xFF};
  uint32_t last = 0;
  StreamBuilder& At(uint32_t t, const ByteVec& ev) {
    AppendVlq(bytes, t - last);
    bytes.insert(bytes.end(), ev.begin(), ev.end());
    last = t;
    return *this;
  }
  StreamBuilder& Line(uint32_t t, int line, const std::string& text) {
    return At(t, MakeKaraokeMessage(static_cast<uint8_t>(karaoke::kLine1 + line), text));
  }
  StreamBuilder& Step(uint32_t t) { return At(t, MakeKaraokeMessage(karaoke::kColourStep, "")); }
  StreamBuilder& Count(uint32_t t, uint8_t n) { return At(t, {0xB0, 0x1F, n}); }
  StreamBuilder& Tempo(uint32_t t, uint32_t us) {
    return At(t, {0xFF, 0x51, 0x03, uint8_t(us >> 16), uint8_t(us >> 8), uint8_t(us)});
  }
  ByteVec End(uint32_t t) {
    At(t, {0xFF, 0x2F, 0x00});
    return bytes;
  }
};

// The screen in one string: "|" between lines, the coloured part of each in
// brackets; "T:" in front of a title card.
std::string Shown(const KaraokeScreen& s) {
  std::string out = s.titleCard ? "T:" : "";
  for (size_t i = 0; i < 4; ++i) {
    const auto& l = s.lines[i];
    if (i) out += "|";
    out += "[" + l.text.substr(0, l.coloured) + "]" + l.text.substr(l.coloured);
  }
  return out;
}

TEST(KaraokeScreen, PagesColouringChordsAndTempo) {
  // 120 beats a minute: 480 ticks are half a second; from tick 1920 (2 s)
  // 60 a minute: 480 ticks a second.
  StreamBuilder b;
  b.Tempo(0, 500000)
      .At(5, MakeKaraokeMessage(karaoke::kSongStartLong, ""))
      .Count(10, 127)
      .Line(20, 0, "CIAO BELLA\n")
      .Line(25, 1, "COME STAI\n")
      .Line(30, 2, "AL CAF\x05\n")
      .Line(35, 3, "\n")
      .At(40, {0x90, 0x3C, 0x40})
      .Count(480, 0)
      .Step(480)
      .At(480, MakeKaraokeMessage(karaoke::kChord, ">C|G|Am"))
      .Count(480, 2)
      .At(600, {0xF0, 0x07, 0x00, 0x20, 0x24, 0x00, 0x04, 0x0A, 0xF7})  // a page mark: not shown
      .Count(720, 4)
      .Count(960, 7)
      .Count(1200, 9)
      .Count(1440, 0)
      .Step(1440)
      .At(1440, MakeKaraokeMessage(karaoke::kChord, ">G|Am|"))
      .Count(1440, 4)
      .Tempo(1920, 1000000)
      .Count(2400, 8)
      .Step(2640)  // 3.5 s: a line coloured whole as its step comes
      .Count(2900, 127)
      .Count(2910, 127)
      .Line(2920, 0, "SECONDA PAGINA\n")
      .Line(2925, 1, "\n")
      .Line(2930, 2, "\n")
      .Line(2935, 3, "\n")
      .Count(3360, 0)
      .Step(3360)
      .Count(3360, 3)
      .At(3600, {0x80, 0x3C});
  const ByteVec stream = b.End(3840);
  const KaraokeTimeline k = KaraokeTimeline::FromStream(stream, StreamEventsOffset(stream), "CANZONE DI PROVA",
                                                        "IL CANTANTE");
  ASSERT_TRUE(k.HasText());
  EXPECT_DOUBLE_EQ(k.Seconds(480), 0.5);
  EXPECT_DOUBLE_EQ(k.Seconds(2400), 3.0);
  EXPECT_DOUBLE_EQ(k.Seconds(3360), 5.0);
  EXPECT_DOUBLE_EQ(k.LengthSeconds(), 6.0);

  struct Case {
    double at;
    std::string shown;
    std::string chord;
  } cases[] = {
      {0.0, "T:[]CANZONE DI PROVA|[]IL CANTANTE|[]|[]", ""},
      {0.02, "T:[]CANZONE DI PROVA|[]IL CANTANTE|[]|[]", ""},
      {0.04, "[]CIAO BELLA|[]COME STAI|[]AL CAF\xE9|[]", ""},
      {0.49, "[]CIAO BELLA|[]COME STAI|[]AL CAF\xE9|[]", ""},
      {0.5, "[CI]AO BELLA|[]COME STAI|[]AL CAF\xE9|[]", "C"},
      {0.7, "[CI]AO BELLA|[]COME STAI|[]AL CAF\xE9|[]", "C"},
      {0.75, "[CIAO] BELLA|[]COME STAI|[]AL CAF\xE9|[]", "C"},
      {1.0, "[CIAO BEL]LA|[]COME STAI|[]AL CAF\xE9|[]", "C"},
      {1.25, "[CIAO BELLA]|[]COME STAI|[]AL CAF\xE9|[]", "C"},
      {1.5, "[CIAO BELLA]|[COME] STAI|[]AL CAF\xE9|[]", "G"},
      {2.99, "[CIAO BELLA]|[COME] STAI|[]AL CAF\xE9|[]", "G"},
      {3.0, "[CIAO BELLA]|[COME STAI]|[]AL CAF\xE9|[]", "G"},
      {3.49, "[CIAO BELLA]|[COME STAI]|[]AL CAF\xE9|[]", "G"},
      {3.5, "[CIAO BELLA]|[COME STAI]|[AL CAF\xE9]|[]", "G"},
      {4.05, "[CIAO BELLA]|[COME STAI]|[AL CAF\xE9]|[]", "G"},
      {4.1, "[]SECONDA PAGINA|[]|[]|[]", "G"},
      {4.99, "[]SECONDA PAGINA|[]|[]|[]", "G"},
      {5.0, "[SEC]ONDA PAGINA|[]|[]|[]", "G"},
      {60.0, "[SEC]ONDA PAGINA|[]|[]|[]", "G"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.at);
    const KaraokeScreen s = k.At(c.at);
    EXPECT_EQ(Shown(s), c.shown);
    EXPECT_EQ(s.chord, c.chord);
  }
  EXPECT_EQ(k.At(0.04).page, 0);
  EXPECT_EQ(k.At(4.1).page, 1);
  EXPECT_EQ(k.At(0.0).page, -1);
}

TEST(KaraokeScreen, SongWithoutTextShowsTitleAndPerformer) {
  StreamBuilder b;
  b.At(0, {0x90, 0x3C, 0x40}).At(480, {0x80, 0x3C}).At(480, {0xF0, 0x05, 0x7E, 0x7F, 0x09, 0x01, 0xF7});
  const ByteVec stream = b.End(960);
  const KaraokeTimeline k = KaraokeTimeline::FromStream(stream, 25, "PERCH\x05", "NESSUNO");
  EXPECT_FALSE(k.HasText());
  for (double t : {0.0, 0.4, 1.0, 100.0}) EXPECT_EQ(Shown(k.At(t)), "T:[]PERCH\xE9|[]NESSUNO|[]|[]");
  // A stream that breaks off keeps what came before.
  ByteVec broken = stream;
  broken.resize(broken.size() - 2);
  broken.insert(broken.end(), {0x00, 0x3C});
  EXPECT_EQ(Shown(KaraokeTimeline::FromStream(broken, 25, "X", "Y").At(0)), "T:[]X|[]Y|[]|[]");
}

TEST(KaraokeScreen, ColouredLengthCountsLettersNotSpaces) {
  EXPECT_EQ(ColouredLength("CIAO BELLA", 0), 0u);
  EXPECT_EQ(ColouredLength("CIAO BELLA", 4), 4u);
  EXPECT_EQ(ColouredLength("CIAO BELLA", 5), 6u);
  EXPECT_EQ(ColouredLength("  CIAO", 1), 3u);
  EXPECT_EQ(ColouredLength("CIAO", 99), 4u);
}

// A song whose words are lyric events at known times, converted as an
// import does: at each word the screen shows its page, the lines before it
// coloured whole and its own line coloured up to and including the word.
TEST(KaraokeScreen, WordsColouredAsTheyAreSung) {
  const std::vector<std::vector<std::string>> lines = {
      {"Quando", "la", "notte", "scende"}, {"sul", "mare", "blu"},       {"le", "stelle", "brillano"},
      {"sopra", "di", "noi"},             {"canta", "con", "me"},       {"questa", "canzone"},
      {"fino", "al", "mattino"},          {"e", "poi", "ancora"},
  };
  constexpr uint32_t kFirst = 1920, kGap = 480;  // a word every half second at 120 a minute
  Track voice;
  voice.Meta(0, 0x51, std::string("\x07\xA1\x20", 3));
  struct Word {
    size_t line, index;
    uint32_t tick;
  };
  std::vector<Word> words;
  uint32_t t = kFirst;
  for (size_t l = 0; l < lines.size(); ++l) {
    for (size_t w = 0; w < lines[l].size(); ++w) {
      const bool last = w + 1 == lines[l].size();
      voice.Meta(t, 0x05, lines[l][w] + (last ? "/" : " "));
      voice.At(t, {0x90, 0x40, 0x50}).At(t + 400, {0x80, 0x40, 0x40});
      words.push_back({l, w, t});
      t += kGap;
    }
    t += kGap;
  }
  Install in;
  const auto src = in.Write("words.mid", SongFile(480, {voice.End()}));
  ASSERT_EQ(import_midi_file(*in.env, in.ctx, src, in.Path("0.MID"), true), kImportGoOn);
  const ByteVec content = in.Read("0.MID");
  const KaraokeTimeline k = KaraokeTimeline::FromStream(content, StreamEventsOffset(content), "WORDS", "ME");
  ASSERT_TRUE(k.HasText());

  auto lineText = [&](size_t l, size_t upTo) {
    std::string s;
    if (l >= lines.size()) return s;
    for (size_t w = 0; w < upTo && w < lines[l].size(); ++w) s += (w ? " " : "") + lines[l][w];
    return s;
  };
  // Words without page ends are laid out three lines a page; the fourth
  // line of each page stays empty.
  constexpr size_t kPageLines = 3;
  for (const Word& w : words) {
    SCOPED_TRACE(lines[w.line][w.index]);
    const size_t first = w.line / kPageLines * kPageLines;
    const KaraokeScreen s = k.At(k.Seconds(w.tick) + 0.05);
    ASSERT_FALSE(s.titleCard);
    EXPECT_EQ(s.page, static_cast<int>(w.line / kPageLines));
    for (size_t i = 0; i < 4; ++i) {
      const size_t l = i < kPageLines ? first + i : lines.size();
      EXPECT_EQ(s.lines[i].text, lineText(l, 99));
      const std::string coloured = s.lines[i].text.substr(0, s.lines[i].coloured);
      const std::string want = l < w.line ? lineText(l, 99) : l == w.line ? lineText(l, w.index + 1) : "";
      EXPECT_EQ(coloured, want) << "line " << i;
    }
    // Just before the word, its line is coloured up to the word before.
    const KaraokeScreen before = k.At(k.Seconds(w.tick) - 0.05);
    const size_t i = w.line % kPageLines;
    if (w.index > 0) {
      EXPECT_EQ(before.lines[i].text.substr(0, before.lines[i].coloured), lineText(w.line, w.index));
    }
  }
  // Before the first words: the title card.
  EXPECT_TRUE(k.At(0.5).titleCard);
}

}  // namespace
}  // namespace kestro
