// Songs whose words are ordinary MIDI lyric and text events: the text
// timelines, the choice of the text, the page layout and the files that
// carry the karaoke messages.
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "convert/karaoke.h"
#include "convert/lyrics.h"
#include "convert/midi_reader.h"
#include "convert/tests/mf4_test_support.h"

namespace kestro {
namespace {

namespace fs = std::filesystem;
using namespace mf4test;

// The collection's characters, line ends as "|", page ends as "#", marks in
// brackets.
std::string Shown(const std::vector<TextEntry>& entries) {
  std::string s;
  for (const auto& e : entries) {
    if (e.mark == TextEntry::kHeading) s += "[%]";
    else if (e.mark == TextEntry::kChordRun) s += e.ch == TextEntry::kLineEnd ? std::string("]") : e.ch == '~' ? std::string("[~") : std::string(1, char(e.ch));
    else if (e.IsLineEnd()) s += "|";
    else if (e.IsPageEnd()) s += "#";
    else s += char(e.ch);
  }
  return s;
}

std::vector<miditest::ReadEvent> ReadMidi(Env& env, const fs::path& p) {
  auto r = MidiStreamReader::open(env, p);
  EXPECT_TRUE(r) << p;
  if (!r) return {};
  auto events = miditest::ReadAll(*r);
  EXPECT_EQ(r->error(), 0);
  return events;
}

TEST(TextTimeline, SlashesAndLineFeeds) {
  TextCollection c;
  c.AddText(10, 0x05, "ciao/");
  c.AddText(20, 0x05, "a\\te\n");
  c.AddText(30, 0x01, "tu/tti");
  EXPECT_EQ(Shown(c.entries()), "ciao|a|tetu|tti");
  EXPECT_EQ(c.entries()[4], (TextEntry{10, TextEntry::kLineEnd, TextEntry::kPlain})) << "the line ends after the o";
  EXPECT_EQ(c.entries()[5].time, 20u);
}

TEST(TextTimeline, TrackNamesChordsAndMarks) {
  TextCollection c;
  c.AddText(0, 0x03, "Titolo");
  c.AddText(5, 0x01, "%Am");
  c.AddText(6, 0x01, "G7  ");
  c.AddText(7, 0x01, "Dm7/A   ");
  c.AddText(8, 0x05, "@KMIDI KARAOKE FILE");
  c.AddText(9, 0x05, "<intro");
  c.AddText(12, 0x03, "Una/canzone/lunga/lunghissima x");
  c.AddText(13, 0x03, std::string(35, 'n'));
  EXPECT_EQ(Shown(c.entries()), "[%]Titolo|[~Am][~G7 ][~Dm7/A  ]@<intro|[%]Una/canzone/lunga lunghissima x|[%]" +
                                    std::string(28, 'n') + "|");
  EXPECT_EQ(c.chordLines(), 3);
  EXPECT_TRUE(c.angleMarked());
  EXPECT_FALSE(c.IsChordCollection());
  for (int i = 0; i < 4; ++i) c.AddText(20, 0x01, "%C");
  EXPECT_TRUE(c.IsChordCollection()) << "more than six chord lines";
}

TEST(TextTimeline, LineBreaking) {
  struct Case {
    const char* name;
    int linesBefore;
    std::string text;
    std::string shown;
  } cases[] = {
      // The fourth line is 32 wide: at its 32nd character, the character
      // 16 entries back ends the line when it is a comma.
      {"comma on the fourth line", 3, "abcdefghijklmnop,qrstuvwxyzABCDEF", "|||abcdefghijklmnop|qrstuvwxyzABCDEF"},
      {"space before it", 3, "abcdefgh ijklmnopqrstuvwxyzABCDEFG", "|||abcdefgh|ijklmnopqrstuvwxyzABCDEFG"},
      {"nowhere to break", 3, std::string(33, 'x'), "|||" + std::string(32, 'x') + "|x"},
      {"first line is 39 wide", 0, std::string(38, 'y') + "z", std::string(39, 'y').replace(38, 1, "z") + "|"},
      {"question mark", 0, std::string(20, 'q') + "?" + std::string(18, 'r'), std::string(20, 'q') + "|" + std::string(18, 'r')},
      {"space not past a line end", 0, "ab cd/" + std::string(39, 'e'), "ab cd|" + std::string(39, 'e') + "|"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TextCollection t;
    for (int i = 0; i < c.linesBefore; ++i) t.EndLine(0);
    t.AddText(1, 0x05, c.text);
    EXPECT_EQ(Shown(t.entries()), c.shown);
  }
  // After a break the next line starts with the characters after it: the
  // second line breaks again only when it is full.
  TextCollection t;
  t.AddText(1, 0x05, std::string(15, 'a') + " " + std::string(23, 'b') + std::string(16, 'c') + "d");
  EXPECT_EQ(Shown(t.entries()), std::string(15, 'a') + "|" + std::string(23, 'b') + std::string(16, 'c') + "|d");
}

TEST(TextTimeline, FullCollectionKeepsItsLimit) {
  TextCollection c;
  for (int i = 0; i < 2000; ++i) c.AddText(static_cast<uint32_t>(i), 0x05, "parola ");
  EXPECT_EQ(c.size(), TextCollection::kMaxEntries);
  EXPECT_GT(c.dropped(), 0u);
}

std::vector<TextCollection> Collections(const std::vector<std::pair<int, int>>& sizes) {
  std::vector<TextCollection> slots(128);
  for (auto [slot, n] : sizes) {
    for (int i = 0; i < n; ++i) {
      slots[static_cast<size_t>(slot)].entries().push_back({static_cast<uint32_t>(i), static_cast<uint8_t>('a' + i % 26), 0});
    }
  }
  return slots;
}

TEST(TextChoice, LargestPlainFirstAndTheFrenchRule) {
  EXPECT_EQ(ChooseTextSlot(Collections({{0, 100}, {64, 100}}), false), -1) << "101 entries at least";
  EXPECT_EQ(ChooseTextSlot(Collections({{0, 150}, {1, 200}, {64, 180}}), false), 1);
  EXPECT_EQ(ChooseTextSlot(Collections({{0, 150}, {1, 150}}), false), 0) << "a tie keeps the first";
  EXPECT_EQ(ChooseTextSlot(Collections({{1, 150}, {65, 200}}), false), 65);
  EXPECT_EQ(ChooseTextSlot(Collections({{1, 150}, {65, 200}}), true), 1) << "needs more than 1.5 times";
  EXPECT_EQ(ChooseTextSlot(Collections({{1, 150}, {65, 226}}), true), 65);
  EXPECT_EQ(ChooseTextSlot(Collections({{1, 150}, {65, 225}}), true), 1);

  auto slots = Collections({{2, 300}, {3, 120}});
  slots[2].AddText(0, 0x05, "<titolo");
  EXPECT_EQ(ChooseTextSlot(slots, false), 3) << "plain texts before those marked <";
  slots[3] = TextCollection();
  EXPECT_EQ(ChooseTextSlot(slots, false), 2);

  auto chords = Collections({{4, 300}, {70, 150}});
  for (int i = 0; i < 7; ++i) chords[4].AddText(0, 0x01, "%C");
  EXPECT_EQ(ChooseTextSlot(chords, false), 70) << "a chord collection is never the text";
  EXPECT_EQ(ChordSlot(chords), 4);
}

TEST(TextChoice, ChordRunsMergedByTime) {
  TextCollection text, chords;
  text.AddText(10, 0x05, "ab");
  text.AddText(20, 0x05, "cd");
  chords.AddText(20, 0x01, "%Am");
  chords.AddText(15, 0x01, "ignored?");  // not a chord line: left out
  chords.AddText(25, 0x01, "%G");
  EXPECT_EQ(Shown(MergeChordRuns(text.entries(), chords.entries())), "abcd[~Am][~G]");
  chords = TextCollection();
  chords.AddText(12, 0x01, "%F");
  EXPECT_EQ(Shown(MergeChordRuns(text.entries(), chords.entries())), "ab[~F]cd");
}

TEST(Layout, APageWithMoreThanThreeInnerLineEndsIsSplitAfterItsThirdLine) {
  // "|" a line end, "#" a page end; one tick per entry.
  auto entries = [](const std::string& s) {
    std::vector<TextEntry> out;
    uint32_t t = 0;
    for (char ch : s) out.push_back({++t, static_cast<uint8_t>(ch == '|' ? 13 : ch == '#' ? 10 : ch), 0});
    return out;
  };
  struct Case {
    const char* text;
    const char* split;
  } cases[] = {
      {"a|b|c|#d|", "a|b|c|#d|"},                // three lines
      {"a|b|c|d|#e|", "a|b|c|d|#e|"},            // four lines, the last ended by the page end
      {"a|b|c|d#e|", "a|b|c|d#e|"},              // four lines, the page end ends the fourth
      {"a|b|c|d|e|#f|", "a|b|c|#d|e|#f|"},       // four inner line ends
      {"a|b|c|d|e|f|g|h", "a|b|c|#d|e|f|#g|h"},  // no page end at all
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    std::vector<TextEntry> text = entries(c.text);
    SplitLongPages(text);
    EXPECT_EQ(Shown(text), c.split);
    for (size_t i = 1; i < text.size(); ++i) EXPECT_LE(text[i - 1].time, text[i].time) << "in time order";
  }

  TextCollection c;
  for (int i = 0; i < 9; ++i) c.AddText(static_cast<uint32_t>(10 * i), 0x05, "riga " + std::to_string(i) + "/");
  std::vector<TextEntry> text = c.entries();
  SplitLongPages(text);
  EXPECT_EQ(Shown(text), "riga 0|riga 1|riga 2|#riga 3|riga 4|riga 5|#riga 6|riga 7|riga 8|");
  AppendClosingLines(text, 480);
  EXPECT_EQ(text.back().time, 80u + 480 + 30);
  EXPECT_EQ(text[text.size() - 4].time, 80u + 480);
  auto lines = NormalisePages(text);
  ASSERT_EQ(lines.size(), 16u) << "the closing line ends fill the last page";
  EXPECT_EQ(Shown(lines[3].entries), "|") << "a page of three lines gets an empty fourth";
  EXPECT_EQ(Shown(lines[4].entries), "riga 3|");
  EXPECT_EQ(Shown(lines[8].entries), "riga 6|");
  EXPECT_EQ(Shown(lines[11].entries), "|");
  EXPECT_EQ(lines[4].StartTime(), 30u);

  // A page end after two lines gives two empty lines.
  std::vector<TextEntry> short_ = {{1, 'a', 0}, {1, 13, 0}, {2, 'b', 0}, {2, 10, 0}, {3, 'c', 0}, {3, 13, 0}};
  auto l2 = NormalisePages(short_);
  ASSERT_EQ(l2.size(), 8u);
  EXPECT_EQ(Shown(l2[1].entries), "b|");
  EXPECT_EQ(Shown(l2[2].entries), "|");
  EXPECT_EQ(Shown(l2[3].entries), "|");
  EXPECT_EQ(Shown(l2[4].entries), "c|");
}

TEST(Layout, Preview) {
  std::vector<LaidOutLine> lines(8);
  const char* texts[] = {"uno", "due", "", "quattro", "", "", "", "perch\x06"};
  std::string longOne(45, 'x');
  for (size_t i = 0; i < 8; ++i) {
    std::string t = i == 4 ? longOne : texts[i];
    for (char ch : t) lines[i].entries.push_back({0, static_cast<uint8_t>(ch), 0});
    lines[i].entries.push_back({0, 13, 0});
  }
  std::istringstream in(PreviewText(lines));
  std::vector<std::string> rows;
  std::string row;
  while (std::getline(in, row)) rows.push_back(row);
  ASSERT_EQ(rows.size(), 11u);
  for (const auto& r : rows) EXPECT_EQ(r.size(), 41u) << r;
  const std::string h = [] { return std::string(39, '\xC4'); }();
  EXPECT_EQ(rows[0], "\xDA" + h + "\xBF");
  EXPECT_EQ(rows[1], "\xB3uno" + std::string(36, ' ') + "\xB3");
  EXPECT_EQ(rows[4], "\xB3quattro" + std::string(25, ' ') + "\xDA" + std::string(6, '\xC4') + "\xB4");
  EXPECT_EQ(rows[5], "\xC3" + std::string(32, '\xC4') + "\xC1" + std::string(6, '\xC4') + "\xB4");
  EXPECT_EQ(rows[6], "\xB3" + std::string(39, 'x') + "\xB3");
  EXPECT_EQ(rows[9], "\xB3perch\xE8" + std::string(26, ' ') + "\xDA" + std::string(6, '\xC4') + "\xB4");
  EXPECT_EQ(rows[10], "\xC0" + std::string(32, '\xC4') + "\xC1" + std::string(6, '\xC4') + "\xD9");
}

// A song with lyric events in track 1 (and its notes), at 96 ticks.
struct LyricSong {
  Track conductor, voice;
  uint32_t time = 100;
  LyricSong() { conductor.Meta(0, 0x03, "Canzone").At(0, {0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20}); }
  LyricSong& Syllable(const std::string& text, uint32_t gap = 48) {
    voice.Meta(time, 0x05, text).At(time, {0x90, 0x40, 0x50}).At(time + gap / 2, {0x80, 0x40, 0x40});
    time += gap;
    return *this;
  }
  LyricSong& Words(int characters) {
    int n = 0;
    while (n < characters) {
      std::string w = n % 30 == 27 ? "ri/" : "la ";
      Syllable(w);
      n += 3;
    }
    return *this;
  }
  ByteVec File() {
    Track c = conductor, v = voice;
    return SongFile(96, {c.End(), v.End()});
  }
};

class Detection : public ::testing::Test {
 protected:
  Install in;
  int Detect(const ByteVec& song) { return detect_tune1000(*in.env, in.ctx, in.Write("song.mid", song)); }
};

TEST_F(Detection, EnoughLyricsMakeATune1000Song) {
  LyricSong song;
  song.Words(150);
  EXPECT_EQ(Detect(song.File()), 1);
  EXPECT_TRUE(in.ctx.lyricScan.tune1000);
  EXPECT_GE(in.ctx.lyricScan.textMeasure, 150);
  for (const char* f : {"Tune1000.MID", "WB.MID", "TEMP.MID", "TEXT.TXT", "LOGILE.TXT"}) {
    EXPECT_TRUE(fs::exists(in.Path(f))) << f;
  }
  EXPECT_TRUE(in.ui.messages.empty());

  LyricSong few;
  few.Words(80);
  EXPECT_EQ(Detect(few.File()), 0);
  EXPECT_FALSE(fs::exists(in.Path("Tune1000.MID"))) << "the old one is gone";
  EXPECT_EQ(in.ctx.lyricScan.textMeasure, 0);
  EXPECT_FALSE(in.ctx.lyricScan.tune1000);
}

TEST_F(Detection, LyricsAtTickZeroDoNotCount) {
  Track t;
  t.Meta(0, 0x05, std::string(200, 'a'));
  EXPECT_EQ(Detect(SongFile(96, {t.End()})), 0);
  EXPECT_EQ(in.ctx.lyricScan.textMeasure, 0);
}

TEST_F(Detection, SongWithItsOwnLyricStepsIsLeftAlone) {
  LyricSong song;
  song.Words(150);
  for (int i = 0; i < 7; ++i) song.voice.At(song.time + static_cast<uint32_t>(i), Karaoke(8, ""));
  song.time += 10;
  EXPECT_EQ(Detect(song.File()), 0);
  EXPECT_EQ(in.ctx.lyricScan.kind8Count, 7);
  EXPECT_GE(in.ctx.lyricScan.textMeasure, 150) << "the measure is left all the same";
  EXPECT_FALSE(fs::exists(in.Path("WB.MID")));
}

TEST_F(Detection, RolandNoticeOnceAndTheDetectionGoesOn) {
  LyricSong song;
  const ByteVec roland = {0xF0, 0x0A, 0x41, 0x10, 0x42, 0x12, 0x7F, 0x00, 0x00, 0x01, 0x00, 0xF7};
  song.voice.At(50, roland).At(60, roland);
  song.Words(150);
  auto src = in.Write("roland.mid", song.File());
  EXPECT_EQ(detect_tune1000(*in.env, in.ctx, src), 1);
  ASSERT_EQ(in.ui.messages.size(), 1u);
  EXPECT_EQ(in.ui.messages[0].kind, BoxKind::System);
  EXPECT_EQ(in.ui.messages[0].text, "La song " + src.string() + " contiene SXS tipo ROLAND");
  EXPECT_EQ(in.ui.messages[0].caption, "Attenzione");
  EXPECT_TRUE(in.ctx.lyricScan.roland);
}

TEST_F(Detection, MissingSource) {
  EXPECT_EQ(detect_tune1000(*in.env, in.ctx, in.Path("nowhere.mid")), 0);
  EXPECT_TRUE(in.ui.messages.empty());
}

TEST_F(Detection, KaraokeMessagesOfTheLaidOutText) {
  LyricSong song;
  // Page 1: "Tan-ti au-gu-ri" / "a te" ... syllables with their own times.
  const std::vector<std::string> syllables = {"Tan", "ti ", "au", "gu", "ri/", "a ", "te/"};
  for (int rep = 0; rep < 12; ++rep) {
    for (const auto& s : syllables) song.Syllable(s);
  }
  ASSERT_EQ(Detect(song.File()), 1);
  auto wb = ReadMidi(*in.env, in.Path("WB.MID"));
  ASSERT_GT(wb.size(), 10u);
  EXPECT_EQ(wb[0].time, 5u);
  EXPECT_EQ(wb[0].bytes, (ByteVec{0xF0, 0x06, 0x00, 0x20, 0x24, 0x00, 0x44, 0xF7}));
  EXPECT_EQ(wb[1].time, 10u);
  EXPECT_EQ(wb[1].bytes, (ByteVec{0xF0, 0x06, 0x00, 0x20, 0x24, 0x00, 0x03, 0xF7}));
  EXPECT_EQ(wb[2].time, 11u);
  EXPECT_EQ(wb[2].bytes, (ByteVec{0xB0, 0x1F, 0x7F}));
  // The first page: the track name as a heading, then the lyric lines.
  std::vector<std::string> lines;
  for (size_t i = 3; i < 7; ++i) {
    EXPECT_EQ(KaraokeKind(wb[i].bytes), static_cast<int>(4 + i - 3));
    lines.push_back(KaraokeText(wb[i].bytes));
  }
  // More than three lines in a row: the page ends after its third, and the
  // fourth opens the next page.
  EXPECT_EQ(lines, (std::vector<std::string>{"Tanti auguri\n", "a te\n", "Tanti auguri\n", "\n"}));
  std::vector<std::string> pageStarts;
  for (const auto& e : wb) {
    if (KaraokeKind(e.bytes) == 4) pageStarts.push_back(KaraokeText(e.bytes));
  }
  ASSERT_GE(pageStarts.size(), 3u);
  EXPECT_EQ(pageStarts[1], "a te\n");
  EXPECT_EQ(pageStarts[2], "Tanti auguri\n");
  // Times never go back and keep their gaps.
  for (size_t i = 1; i + 1 < wb.size(); ++i) EXPECT_GE(wb[i].time, wb[i - 1].time + 1) << i;

  // Colouring of "Tanti auguri" (syllables from tick 100, 48 apart): a
  // reset and a colour step at the line start, then the count of letters
  // when each syllable ends.
  std::vector<std::pair<uint32_t, std::string>> colour;
  for (const auto& e : wb) {
    if (e.time >= 100 && e.time < 340) colour.push_back({e.time, miditest::Hex(e.bytes)});
  }
  const std::vector<std::pair<uint32_t, std::string>> want = {
      {100, "b0 1f 00"}, {105, "f0 06 00 20 24 00 08 f7"}, {107, "b0 1f 03"}, {148, "b0 1f 05"},
      {196, "b0 1f 07"}, {244, "b0 1f 09"}, {292, "b0 1f 0b"},
  };
  EXPECT_EQ(colour, want);

  // Tune1000.MID: the song's own events and the karaoke messages, one track.
  auto tune = ReadMidi(*in.env, in.Path("Tune1000.MID"));
  auto temp = ReadMidi(*in.env, in.Path("TEMP.MID"));
  EXPECT_EQ(tune.size(), (wb.size() - 1) + (temp.size() - 1) + 1) << "both files less their ends, and one end";
  size_t notes = 0, karaoke = 0, wbKaraoke = 0;
  for (const auto& e : tune) {
    if ((e.bytes[0] & 0xF0) == 0x90) ++notes;
    if (IsKaraokeMessage(e.bytes)) ++karaoke;
  }
  for (const auto& e : wb) wbKaraoke += IsKaraokeMessage(e.bytes);
  EXPECT_EQ(notes, 84u);
  EXPECT_EQ(karaoke, wbKaraoke);
  // At one tick the song's own event comes first.
  auto fromWb = [](const ByteVec& b) { return b[0] == 0xF0 || b[0] == 0xB0; };
  int shared = 0;
  for (size_t i = 1; i + 1 < tune.size(); ++i) {
    EXPECT_GE(tune[i].time, tune[i - 1].time);
    if (tune[i].time != tune[i - 1].time) continue;
    if (fromWb(tune[i - 1].bytes) != fromWb(tune[i].bytes)) ++shared;
    EXPECT_FALSE(fromWb(tune[i - 1].bytes) && !fromWb(tune[i].bytes)) << "at " << tune[i].time;
  }
  EXPECT_GT(shared, 0);

  // Event for event: WB.MID and TEMP.MID less their ends, merged by time with
  // the song's own event first at one tick, then one end.
  std::vector<std::pair<uint32_t, ByteVec>> merged, written;
  size_t a = 0, b = 0;
  while (a + 1 < wb.size() || b + 1 < temp.size()) {
    const bool own = b + 1 < temp.size() && (a + 1 >= wb.size() || temp[b].time <= wb[a].time);
    const auto& e = own ? temp[b++] : wb[a++];
    merged.push_back({e.time, e.bytes});
  }
  for (const auto& e : tune) written.push_back({e.time, e.bytes});
  ASSERT_FALSE(written.empty());
  EXPECT_EQ(written.back().second, (ByteVec{0xFF, 0x2F, 0x00}));
  written.pop_back();
  EXPECT_EQ(written, merged);
}

TEST_F(Detection, TempAndLogFiles) {
  LyricSong song;
  song.Words(150);
  // A long text after a long pause: fields wider than the log's columns.
  song.Syllable(std::string(120, 'o') + " ", 1500000).Syllable("fine ");
  ASSERT_EQ(Detect(song.File()), 1);
  auto src = ReadMidi(*in.env, in.Path("song.mid"));
  auto temp = ReadMidi(*in.env, in.Path("TEMP.MID"));
  // Every event but the ends of track, then the writer's own end.
  std::vector<std::pair<uint32_t, ByteVec>> want, got;
  for (const auto& e : src) {
    if (e.bytes != ByteVec{0xFF, 0x2F, 0x00}) want.push_back({e.time, e.bytes});
  }
  for (const auto& e : temp) got.push_back({e.time, e.bytes});
  ASSERT_FALSE(got.empty());
  EXPECT_EQ(got.back().second, (ByteVec{0xFF, 0x2F, 0x00}));
  got.pop_back();
  EXPECT_EQ(got, want);

  std::istringstream lines(testing::ReadFileOrEmpty(in.Path("LOGILE.TXT")));
  std::string first, second;
  std::getline(lines, first);
  std::getline(lines, second);
  EXPECT_EQ(first, "     0   0 10 ff 03 07");
  EXPECT_EQ(second, "     0   0 6 ff 51 03");
  std::vector<std::string> rest;
  for (std::string l; std::getline(lines, l);) rest.push_back(l);
  ASSERT_EQ(rest.size() + 2, src.size()) << "a line per event, the ends of track too";
  // Each line as printf formats it, the wide ones included.
  bool wide = false;
  for (size_t i = 2; i < src.size(); ++i) {
    const auto& e = src[i];
    auto b = [&](size_t k) { return k < e.bytes.size() ? e.bytes[k] : 0; };
    char line[96];
    std::snprintf(line, sizeof line, "%6ld %3ld %d %02x %02x %02x", static_cast<long>(e.time), static_cast<long>(e.delta),
                  static_cast<int>(e.bytes.size()), b(0), b(1), b(2));
    EXPECT_EQ(rest[i - 2], line) << "event " << i;
    wide = wide || (e.time >= 1000000 && e.delta >= 1000);
  }
  EXPECT_TRUE(wide);
}

TEST_F(Detection, ChordCollectionMergedIntoTheText) {
  LyricSong song;
  song.Words(150);
  Track chords;
  const char* names[] = {"%Am", "%G", "%C", "%F", "%Dm", "%E7", "%Am", "%G"};
  for (int i = 0; i < 8; ++i) chords.Meta(100 + 48 * 3 * static_cast<uint32_t>(i), 0x01, names[i]);
  Track c = song.conductor, v = song.voice;
  ASSERT_EQ(Detect(SongFile(96, {c.End(), v.End(), chords.End()})), 1);
  auto wb = ReadMidi(*in.env, in.Path("WB.MID"));
  std::vector<std::string> written;
  for (const auto& e : wb) {
    if (KaraokeKind(e.bytes) == 1) written.push_back(KaraokeText(e.bytes));
  }
  EXPECT_EQ(written, (std::vector<std::string>{"Am\r", "G\r", "C\r", "F\r", "Dm\r", "E7\r", "Am\r", "G\r"}));
  // The chords are not part of the lines.
  for (const auto& e : wb) {
    int k = KaraokeKind(e.bytes);
    if (k >= 4 && k <= 7) {
      EXPECT_EQ(KaraokeText(e.bytes).find('\r'), std::string::npos);
    }
  }
}

TEST_F(Detection, MoreChordsOnAPageThanTheListHolds) {
  LyricSong song;
  song.Words(150);
  Track chords;
  for (int i = 0; i < 250; ++i) chords.Meta(100, 0x01, "%C" + std::to_string(i % 10));
  Track c = song.conductor, v = song.voice;
  ASSERT_EQ(Detect(SongFile(96, {c.End(), v.End(), chords.End()})), 1);
  size_t written = 0;
  for (const auto& e : ReadMidi(*in.env, in.Path("WB.MID"))) written += KaraokeKind(e.bytes) == 1;
  EXPECT_EQ(written, 200u);
}

// The dictionary's language decides between a track's lyric and text events.
TEST(DetectionLanguage, FrenchKeepsTheLyricsUnlessTheTextIsMuchLonger) {
  for (const char* language : {"ITALIANO", "FRENCH"}) {
    SCOPED_TRACE(language);
    Install in(language);
    Track conductor, voice;
    conductor.Meta(0, 0x03, "Chanson");
    for (uint32_t i = 0; i < 50; ++i) {
      voice.Meta(100 + i * 48, 0x05, i % 10 == 9 ? "la/" : "la ");
      if (i < 40) voice.Meta(100 + i * 48, 0x01, "lo ");  // 120 entries against 150
    }
    voice.Meta(100 + 50 * 48, 0x01, "lo lo lo lo lo lo lo lo lo lo lo lo lo lo lo lo lo lo lo lo lo lo lo lo lo lo lo lo lo lo ");
    ASSERT_EQ(detect_tune1000(*in.env, in.ctx, in.Write("s.mid", SongFile(96, {conductor.End(), voice.End()}))), 1);
    std::string first;
    for (const auto& e : ReadMidi(*in.env, in.Path("WB.MID"))) {
      if (KaraokeKind(e.bytes) == 4) {
        first = KaraokeText(e.bytes);
        break;
      }
    }
    // 210 text entries are more than 150 lyric entries, but not 1.5 times.
    EXPECT_EQ(first.substr(0, 2), std::string(language) == "FRENCH" ? "la" : "lo") << first;
  }
}

}  // namespace
}  // namespace kestro
