// kestro-demosongs OUTDIR
//
// Writes the demo karaoke songs that a new user finds ready to send to the
// player: public-domain melodies with public-domain words, set down below as
// note tables and arranged here (melody, chords, bass, drums on some). Each
// song is a .KAR file the way karaoke files carry their words: a Standard
// MIDI file of type 1 whose "Words" track holds one text event per syllable
// at its note's time, "\" opening a verse and "/" a new line, after the "@"
// lines (language, title, performer). The first track also names the title
// (track name) and the performer and author (FF 4B tags), where the MF4
// conversion takes them from.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

constexpr int kDivision = 480;  // ticks per quarter note

// ---------------------------------------------------------------- the songs

enum class Style { kPad, kComp };  // held chords, or "oom-pah" on the off beats

struct Instruments {
  int melody, chords, bass;  // General MIDI programs, counted from 0
};

struct Song {
  const char* file;
  const char* title;
  const char* performer;
  const char* author;  // of the words
  const char* genre;
  const char* language;  // after "@L"
  int bpm;               // quarter notes a minute
  int meterTop, meterBottom;
  int keySharps;  // key signature: sharps, or flats as a negative count
  int unit;       // ticks of one duration unit in the tables
  Style style;
  Instruments programs;
  bool drums;
  // "PITCH:UNITS" tokens (C4 = middle C, sharps "#", flats "b"), "r:UNITS" a rest.
  const char* melody;
  // One string per sung line. Syllables are separated by spaces; "-" at the
  // end of a syllable joins it to the next ("--" keeps a hyphen), "_" holds
  // the previous syllable over one more note, and an empty string starts a
  // new verse.
  std::vector<const char*> words;
  // "NAME:UNITS" tokens: C, Cm, C7, F#m, Bb ... covering the whole song.
  const char* chords;
};

const std::vector<Song>& Songs() {
  static const std::vector<Song> songs = {
      {"Twinkle_Twinkle.kar", "Twinkle, Twinkle, Little Star", "Traditional", "Jane Taylor", "Children", "ENGL",
       100, 4, 4, 0, kDivision, Style::kPad, {79, 0, 32}, false,
       "r:4 "
       "C4:1 C4:1 G4:1 G4:1 A4:1 A4:1 G4:2  F4:1 F4:1 E4:1 E4:1 D4:1 D4:1 C4:2 "
       "G4:1 G4:1 F4:1 F4:1 E4:1 E4:1 D4:2  G4:1 G4:1 F4:1 F4:1 E4:1 E4:1 D4:2 "
       "C4:1 C4:1 G4:1 G4:1 A4:1 A4:1 G4:2  F4:1 F4:1 E4:1 E4:1 D4:1 D4:1 C4:2 "
       "C4:1 C4:1 G4:1 G4:1 A4:1 A4:1 G4:2  F4:1 F4:1 E4:1 E4:1 D4:1 D4:1 C4:2 "
       "G4:1 G4:1 F4:1 F4:1 E4:1 E4:1 D4:2  G4:1 G4:1 F4:1 F4:1 E4:1 E4:1 D4:2 "
       "C4:1 C4:1 G4:1 G4:1 A4:1 A4:1 G4:2  F4:1 F4:1 E4:1 E4:1 D4:1 D4:1 C4:2 "
       "r:4",
       {"Twin- kle, twin- kle, lit- tle star,", "How I won- der what you are!", "Up a- bove the world so high,",
        "Like a dia- mond in the sky.", "Twin- kle, twin- kle, lit- tle star,", "How I won- der what you are!", "",
        "When the bla- zing sun is gone,", "When he no- thing shines up- on,", "Then you show your lit- tle light,",
        "Twin- kle, twin- kle, all the night.", "Twin- kle, twin- kle, lit- tle star,",
        "How I won- der what you are!"},
       "C:4 "
       "C:4 F:2 C:2  F:2 C:2 G7:2 C:2  C:2 F:2 C:2 G:2  C:2 F:2 C:2 G:2  C:4 F:2 C:2  F:2 C:2 G7:2 C:2 "
       "C:4 F:2 C:2  F:2 C:2 G7:2 C:2  C:2 F:2 C:2 G:2  C:2 F:2 C:2 G:2  C:4 F:2 C:2  F:2 C:2 G7:2 C:2 "
       "C:4"},

      {"Fra_Martino.kar", "Fra Martino", "Traditional", "Traditional", "Children", "ITAL",
       108, 4, 4, -1, kDivision / 2, Style::kComp, {71, 11, 32}, false,
       "r:8 "
       "F4:2 G4:2 A4:2 F4:2  F4:2 G4:2 A4:2 F4:2  A4:2 Bb4:2 C5:4  A4:2 Bb4:2 C5:4 "
       "C5:1 D5:1 C5:1 Bb4:1 A4:2 F4:2  C5:1 D5:1 C5:1 Bb4:1 A4:2 F4:2  F4:2 C4:2 F4:4  F4:2 C4:2 F4:4 "
       "F4:2 G4:2 A4:2 F4:2  F4:2 G4:2 A4:2 F4:2  A4:2 Bb4:2 C5:4  A4:2 Bb4:2 C5:4 "
       "C5:1 D5:1 C5:1 Bb4:1 A4:2 F4:2  C5:1 D5:1 C5:1 Bb4:1 A4:2 F4:2  F4:2 C4:2 F4:4  F4:2 C4:2 F4:4 "
       "F4:2 G4:2 A4:2 F4:2  F4:2 G4:2 A4:2 F4:2  A4:2 Bb4:2 C5:4  A4:2 Bb4:2 C5:4 "
       "C5:1 D5:1 C5:1 Bb4:1 A4:2 F4:2  C5:1 D5:1 C5:1 Bb4:1 A4:2 F4:2  F4:2 C4:2 F4:4  F4:2 C4:2 F4:4 "
       "r:8",
       {"Fra Mar- ti- no, cam- pa- na- ro,", "dor- mi tu? dor- mi tu?", "Suo- na le cam- pa- ne, suo- na le cam- pa- ne,",
        "din, don, dan, din, don, dan.", "", "Fra Mar- ti- no, cam- pa- na- ro,", "dor- mi tu? dor- mi tu?",
        "Suo- na le cam- pa- ne, suo- na le cam- pa- ne,", "din, don, dan, din, don, dan.", "",
        "Fra Mar- ti- no, cam- pa- na- ro,", "dor- mi tu? dor- mi tu?",
        "Suo- na le cam- pa- ne, suo- na le cam- pa- ne,", "din, don, dan, din, don, dan."},
       "F:4 C7:4 "
       "F:8 F:8 F:8 F:8 C7:4 F:4 C7:4 F:4 F:8 F:8 "
       "F:8 F:8 F:8 F:8 C7:4 F:4 C7:4 F:4 F:8 F:8 "
       "F:8 F:8 F:8 F:8 C7:4 F:4 C7:4 F:4 F:8 F:8 "
       "F:8"},

      {"Oh_Susanna.kar", "Oh! Susanna", "Stephen Foster", "Stephen Foster", "Folk", "ENGL",
       112, 2, 4, 0, kDivision / 2, Style::kComp, {22, 105, 33}, true,
       // Two bars of introduction with the first pickup in them.
       "r:6 C4:1 D4:1 "
       // Verse 1
       "E4:1 G4:1 G4:1 A4:1  G4:1 E4:1 C4:1 D4:1  E4:1 E4:1 D4:1 C4:1  D4:2 C4:1 D4:1 "
       "E4:1 G4:1 G4:1 A4:1  G4:1 E4:1 C4:1 D4:1  E4:1 E4:1 D4:1 D4:1  C4:2 C4:1 D4:1 "
       "E4:1 G4:1 G4:1 A4:1  G4:1 E4:1 C4:1 D4:1  E4:1 E4:1 D4:1 C4:1  D4:2 C4:1 D4:1 "
       "E4:1 G4:1 G4:1 A4:1  G4:1 E4:1 C4:1 D4:1  E4:1 E4:1 D4:2  C4:2 r:2 "
       // Chorus
       "F4:3 F4:1  A4:2 A4:1 A4:1  G4:1 G4:1 E4:1 C4:1  D4:2 C4:1 D4:1 "
       "E4:1 G4:1 G4:1 A4:1  G4:1 E4:1 C4:1 D4:1  E4:1 E4:1 D4:1 D4:1  C4:2 C4:1 D4:1 "
       // Verse 2
       "E4:1 G4:1 G4:1 A4:1  G4:1 E4:1 C4:1 D4:1  E4:1 E4:1 D4:1 C4:1  D4:2 C4:1 D4:1 "
       "E4:1 G4:1 G4:1 A4:1  G4:2 C4:1 D4:1  E4:1 E4:1 D4:2  C4:2 C4:1 D4:1 "
       "E4:1 G4:1 G4:1 A4:1  G4:1 E4:1 C4:1 D4:1  E4:1 E4:1 D4:1 C4:1  D4:2 C4:1 D4:1 "
       "E4:1 G4:1 G4:1 A4:1  G4:1 E4:1 C4:1 D4:1  E4:1 E4:1 D4:2  C4:2 r:2 "
       // Chorus
       "F4:3 F4:1  A4:2 A4:1 A4:1  G4:1 G4:1 E4:1 C4:1  D4:2 C4:1 D4:1 "
       "E4:1 G4:1 G4:1 A4:1  G4:1 E4:1 C4:1 D4:1  E4:1 E4:1 D4:1 D4:1  C4:4 "
       "r:4",
       {"I come from Al- a- bam- a", "with my ban- jo on my _ knee,", "I'm go- ing to Lou- i- si- an- a,",
        "my true love for to see.", "It rained all night the day I left,", "the weath- er it was _ dry,",
        "The sun so hot I froze to death,", "Su- san- na, don't you cry.", "",
        "Oh! Su- san- na,", "oh don't you cry for me,", "For I come from Al- a- bam- a",
        "with my ban- jo on my knee.", "",
        "I had a dream the oth- er night,", "when ev- ery- thing was _ still;", "I thought I saw Su- san- na,",
        "a-- com- ing down the hill.", "The buck- wheat cake was in her mouth,", "the tear was in her _ eye;",
        "Says I, I'm com- ing from the South,", "Su- san- na, don't you cry.", "",
        "Oh! Su- san- na,", "oh don't you cry for me,", "For I come from Al- a- bam- a",
        "with my ban- jo on my knee."},
       "C:4 G7:4 "
       "C:4 C:4 C:4 G:4  C:4 C:4 C:2 G:2 C:4  C:4 C:4 C:4 G:4  C:4 C:4 C:2 G:2 C:4 "
       "F:4 F:4 C:4 G:4  C:4 C:4 C:2 G:2 C:4 "
       "C:4 C:4 C:4 G:4  C:4 C:4 C:2 G:2 C:4  C:4 C:4 C:4 G:4  C:4 C:4 C:2 G:2 C:4 "
       "F:4 F:4 C:4 G:4  C:4 C:4 C:2 G:2 C:4 "
       "C:4"},

      {"Amazing_Grace.kar", "Amazing Grace", "Traditional", "John Newton", "Spiritual", "ENGL",
       84, 3, 4, 1, kDivision / 2, Style::kPad, {73, 19, 32}, false,
       "r:10 D4:2 "
       "G4:4 B4:1 G4:1  B4:4 A4:2  G4:4 E4:2  D4:4 D4:2  G4:4 B4:1 G4:1  B4:4 A4:2  D5:10 B4:2 "
       "D5:4 B4:1 G4:1  B4:4 A4:2  G4:4 E4:2  D4:4 D4:2  G4:4 B4:1 G4:1  B4:4 A4:2  G4:10 D4:2 "
       "G4:4 B4:1 G4:1  B4:4 A4:2  G4:4 E4:2  D4:4 D4:2  G4:4 B4:1 G4:1  B4:4 A4:2  D5:10 B4:2 "
       "D5:4 B4:1 G4:1  B4:4 A4:2  G4:4 E4:2  D4:4 D4:2  G4:4 B4:1 G4:1  B4:4 A4:2  G4:12 "
       "r:6",
       {"A- ma- zing _ grace! how sweet the sound,", "That saved a _ wretch like me!",
        "I once was _ lost, but now am found,", "Was blind, but _ now I see.", "",
        "'Twas grace that _ taught my heart to fear,", "And grace my _ fears re- lieved;",
        "How pre- cious _ did that grace ap- pear", "The hour I _ first be- lieved!"},
       "G:6 D7:6 "
       "G:6 G:4 G7:2 C:6 G:6 G:6 Em:4 D:2 D:6 D7:6 G:6 G:4 G7:2 C:6 G:6 Em:6 G:4 D7:2 G:6 G:6 "
       "G:6 G:4 G7:2 C:6 G:6 G:6 Em:4 D:2 D:6 D7:6 G:6 G:4 G7:2 C:6 G:6 Em:6 G:4 D7:2 G:6 G:6 "
       "G:6"},

      {"Row_Your_Boat.kar", "Row, Row, Row Your Boat", "Traditional", "Traditional", "Children", "ENGL",
       108, 6, 8, 0, kDivision / 2, Style::kComp, {74, 24, 32}, false,
       "r:12 "
       "C4:3 C4:3  C4:2 D4:1 E4:3  E4:2 D4:1 E4:2 F4:1  G4:6 "
       "C5:1 C5:1 C5:1 G4:1 G4:1 G4:1  E4:1 E4:1 E4:1 C4:1 C4:1 C4:1  G4:2 F4:1 E4:2 D4:1  C4:6 "
       "C4:3 C4:3  C4:2 D4:1 E4:3  E4:2 D4:1 E4:2 F4:1  G4:6 "
       "C5:1 C5:1 C5:1 G4:1 G4:1 G4:1  E4:1 E4:1 E4:1 C4:1 C4:1 C4:1  G4:2 F4:1 E4:2 D4:1  C4:6 "
       "C4:3 C4:3  C4:2 D4:1 E4:3  E4:2 D4:1 E4:2 F4:1  G4:6 "
       "C5:1 C5:1 C5:1 G4:1 G4:1 G4:1  E4:1 E4:1 E4:1 C4:1 C4:1 C4:1  G4:2 F4:1 E4:2 D4:1  C4:6 "
       "r:6",
       {"Row, row, row your boat", "gent- ly down the stream.", "Mer- ri- ly, mer- ri- ly, mer- ri- ly, mer- ri- ly,",
        "life is but a dream.", "", "Row, row, row your boat", "gent- ly down the stream.",
        "Mer- ri- ly, mer- ri- ly, mer- ri- ly, mer- ri- ly,", "life is but a dream.", "", "Row, row, row your boat",
        "gent- ly down the stream.", "Mer- ri- ly, mer- ri- ly, mer- ri- ly, mer- ri- ly,", "life is but a dream."},
       "C:6 G7:6 "
       "C:6 C:6 C:6 C:6 C:6 C:6 G7:6 C:6  C:6 C:6 C:6 C:6 C:6 C:6 G7:6 C:6  C:6 C:6 C:6 C:6 C:6 C:6 G7:6 C:6 "
       "C:6"},
  };
  return songs;
}

// ---------------------------------------------------------------- parsing the tables

[[noreturn]] void Fail(const Song& s, const std::string& why) {
  throw std::runtime_error(std::string(s.file) + ": " + why);
}

std::vector<std::string> Tokens(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> out;
  for (std::string t; in >> t;) out.push_back(t);
  return out;
}

// Pitch class of a note name (C, C#, Db, ...), and the length of the name.
int PitchClass(const Song& s, const std::string& name, size_t* used) {
  static const std::map<char, int> base = {{'C', 0}, {'D', 2}, {'E', 4}, {'F', 5}, {'G', 7}, {'A', 9}, {'B', 11}};
  auto it = name.empty() ? base.end() : base.find(name[0]);
  if (it == base.end()) Fail(s, "bad note name " + name);
  int pc = it->second;
  *used = 1;
  if (name.size() > 1 && name[1] == '#') pc += 1, *used = 2;
  if (name.size() > 1 && name[1] == 'b') pc += 11, *used = 2;
  return pc % 12;
}

struct Note {
  int pitch;  // -1: rest
  uint32_t start, length;
};

std::vector<Note> ParseMelody(const Song& s) {
  std::vector<Note> notes;
  uint32_t t = 0;
  for (const std::string& tok : Tokens(s.melody)) {
    size_t colon = tok.find(':');
    if (colon == std::string::npos) Fail(s, "no duration in " + tok);
    const std::string name = tok.substr(0, colon);
    const uint32_t length = static_cast<uint32_t>(std::stoi(tok.substr(colon + 1))) * static_cast<uint32_t>(s.unit);
    int pitch = -1;
    if (name != "r") {
      size_t used = 0;
      const int pc = PitchClass(s, name, &used);
      const int octave = std::stoi(name.substr(used));
      pitch = (octave + 1) * 12 + pc;
    }
    notes.push_back({pitch, t, length});
    t += length;
  }
  return notes;
}

struct Chord {
  std::vector<int> tones;  // pitch classes, root first
  uint32_t start, length;
};

std::vector<Chord> ParseChords(const Song& s) {
  std::vector<Chord> chords;
  uint32_t t = 0;
  for (const std::string& tok : Tokens(s.chords)) {
    size_t colon = tok.find(':');
    if (colon == std::string::npos) Fail(s, "no duration in " + tok);
    const std::string name = tok.substr(0, colon);
    size_t used = 0;
    const int root = PitchClass(s, name, &used);
    const std::string quality = name.substr(used);
    std::vector<int> tones;
    if (quality.empty()) tones = {0, 4, 7};
    else if (quality == "m") tones = {0, 3, 7};
    else if (quality == "7") tones = {0, 4, 7, 10};
    else Fail(s, "unknown chord " + name);
    for (int& x : tones) x = (root + x) % 12;
    const uint32_t length = static_cast<uint32_t>(std::stoi(tok.substr(colon + 1))) * static_cast<uint32_t>(s.unit);
    chords.push_back({tones, t, length});
    t += length;
  }
  return chords;
}

struct Syllable {
  std::string text;  // as written into the text event
  bool hold;         // "_": no new syllable on this note
};

// The syllables in singing order: "\" before the first of each later verse,
// "/" before the first of every other line, a space after the last of a word
// unless it ends its line. The very first syllable takes no mark: the
// converter would open the player's first page with an empty line for it.
std::vector<Syllable> ParseWords(const Song& s) {
  std::vector<Syllable> out;
  bool newVerse = false;
  for (const char* line : s.words) {
    std::vector<std::string> toks = Tokens(line);
    if (toks.empty()) {
      newVerse = true;
      continue;
    }
    bool first = true;
    for (size_t i = 0; i < toks.size(); ++i) {
      std::string t = toks[i];
      if (t == "_") {
        if (first) Fail(s, "a line starts with a held note");
        out.push_back({"", true});
        continue;
      }
      const bool joined = t.back() == '-';
      if (joined) t.pop_back();  // "a--" leaves "a-"
      // The last sung syllable of the line takes no space.
      bool lastOfLine = true;
      for (size_t j = i + 1; j < toks.size(); ++j) lastOfLine = lastOfLine && toks[j] == "_";
      if (!joined && !lastOfLine) t += ' ';
      if (first && !out.empty()) t = (newVerse ? "\\" : "/") + t;
      out.push_back({t, false});
      first = false;
      newVerse = false;
    }
  }
  return out;
}

// ---------------------------------------------------------------- writing

using Bytes = std::vector<uint8_t>;

struct Event {
  uint32_t time;
  int order;  // at equal times: 0 meta, 1 note-off, 2 others, 3 note-on
  Bytes bytes;
};

class Track {
 public:
  void Meta(uint32_t t, uint8_t type, const std::string& text) {
    Bytes b = {0xFF, type};
    AppendVlq(b, static_cast<uint32_t>(text.size()));
    b.insert(b.end(), text.begin(), text.end());
    events_.push_back({t, 0, b});
  }
  void MetaBytes(uint32_t t, uint8_t type, const Bytes& data) {
    Bytes b = {0xFF, type, static_cast<uint8_t>(data.size())};
    b.insert(b.end(), data.begin(), data.end());
    events_.push_back({t, 0, b});
  }
  void Channel(uint32_t t, Bytes b) { events_.push_back({t, 2, std::move(b)}); }
  void NoteOn(uint32_t t, int ch, int pitch, int velocity) {
    events_.push_back({t, 3, {static_cast<uint8_t>(0x90 | ch), static_cast<uint8_t>(pitch), static_cast<uint8_t>(velocity)}});
  }
  void NoteOff(uint32_t t, int ch, int pitch) {
    events_.push_back({t, 1, {static_cast<uint8_t>(0x80 | ch), static_cast<uint8_t>(pitch), 0x40}});
  }
  void Note(uint32_t t, uint32_t length, int ch, int pitch, int velocity) {
    NoteOn(t, ch, pitch, velocity);
    NoteOff(t + length, ch, pitch);
  }

  // The track chunk, ended at `end` (or at its last event, if later).
  Bytes Chunk(uint32_t end) const {
    std::vector<Event> ev = events_;
    std::stable_sort(ev.begin(), ev.end(),
                     [](const Event& a, const Event& b) { return a.time != b.time ? a.time < b.time : a.order < b.order; });
    Bytes data;
    uint32_t now = 0;
    for (const Event& e : ev) {
      AppendVlq(data, e.time - now);
      data.insert(data.end(), e.bytes.begin(), e.bytes.end());
      now = e.time;
    }
    AppendVlq(data, end > now ? end - now : 0);
    data.insert(data.end(), {0xFF, 0x2F, 0x00});
    Bytes chunk = {'M', 'T', 'r', 'k'};
    AppendU32(chunk, static_cast<uint32_t>(data.size()));
    chunk.insert(chunk.end(), data.begin(), data.end());
    return chunk;
  }
  uint32_t LastTime() const {
    uint32_t t = 0;
    for (const Event& e : events_) t = std::max(t, e.time);
    return t;
  }

  static void AppendVlq(Bytes& b, uint32_t v) {
    uint8_t buf[5];
    int n = 0;
    do {
      buf[n++] = static_cast<uint8_t>(v & 0x7F);
      v >>= 7;
    } while (v);
    while (n--) b.push_back(static_cast<uint8_t>(buf[n] | (n ? 0x80 : 0)));
  }
  static void AppendU32(Bytes& b, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) b.push_back(static_cast<uint8_t>(v >> shift));
  }

 private:
  std::vector<Event> events_;
};

constexpr int kMelodyChannel = 0, kChordChannel = 1, kBassChannel = 2, kDrumChannel = 9;

void Setup(Track& t, const std::string& name, int ch, int program, int volume, int pan) {
  t.Meta(0, 0x03, name);
  t.Channel(0, {static_cast<uint8_t>(0xC0 | ch), static_cast<uint8_t>(program)});
  t.Channel(0, {static_cast<uint8_t>(0xB0 | ch), 7, static_cast<uint8_t>(volume)});
  t.Channel(0, {static_cast<uint8_t>(0xB0 | ch), 10, static_cast<uint8_t>(pan)});
  t.Channel(0, {static_cast<uint8_t>(0xB0 | ch), 91, 40});
}

// The pitch of pitch class pc at or above `low`.
int Above(int pc, int low) { return low + ((pc - low) % 12 + 12) % 12; }

Bytes BuildSong(const Song& s) {
  const std::vector<Note> melody = ParseMelody(s);
  const std::vector<Chord> chords = ParseChords(s);
  const std::vector<Syllable> words = ParseWords(s);

  const bool compound = s.meterBottom == 8 && s.meterTop % 3 == 0;
  const uint32_t beat = compound ? 3 * kDivision / 2 : 4 * kDivision / static_cast<uint32_t>(s.meterBottom);
  const int beatsPerBar = compound ? s.meterTop / 3 : s.meterTop;
  const uint32_t bar = beat * static_cast<uint32_t>(beatsPerBar);
  const uint32_t songEnd = melody.empty() ? 0 : melody.back().start + melody.back().length;
  uint32_t chordEnd = 0;
  for (const Chord& c : chords) chordEnd = c.start + c.length;
  if (chordEnd != songEnd) Fail(s, "chords and melody differ in length");
  if (songEnd % bar != 0) Fail(s, "the song does not end on a bar line");

  // Conductor: names, tags, meter, key and tempo.
  Track conductor;
  conductor.Meta(0, 0x03, s.title);
  conductor.Meta(0, 0x02, "Public domain");
  conductor.Meta(0, 0x01, "@KMIDI KARAOKE FILE");
  conductor.Meta(0, 0x01, "@V0100");
  conductor.Meta(0, 0x4B, std::string("\x01") + s.genre);
  conductor.Meta(0, 0x4B, std::string("\x02") + s.performer);
  conductor.Meta(0, 0x4B, std::string("\x03") + s.author);
  int log2 = 0;
  while ((1 << log2) < s.meterBottom) ++log2;
  const uint8_t clocks = static_cast<uint8_t>(compound ? 36 : 24 * 4 / s.meterBottom);
  conductor.MetaBytes(0, 0x58, {static_cast<uint8_t>(s.meterTop), static_cast<uint8_t>(log2), clocks, 8});
  conductor.MetaBytes(0, 0x59, {static_cast<uint8_t>(static_cast<int8_t>(s.keySharps)), 0});
  const uint32_t usPerQuarter = 60000000u / static_cast<uint32_t>(s.bpm);
  conductor.MetaBytes(0, 0x51, {static_cast<uint8_t>(usPerQuarter >> 16), static_cast<uint8_t>(usPerQuarter >> 8),
                                static_cast<uint8_t>(usPerQuarter)});

  // Words, one event per sung note.
  Track text;
  text.Meta(0, 0x03, "Words");
  text.Meta(0, 0x01, std::string("@L") + s.language);
  text.Meta(0, 0x01, std::string("@T") + s.title);
  text.Meta(0, 0x01, std::string("@T") + s.performer);
  text.Meta(0, 0x01, "@IKestro demo song");

  Track lead;
  Setup(lead, "Melody", kMelodyChannel, s.programs.melody, 110, 64);
  size_t w = 0;
  for (const Note& n : melody) {
    if (n.pitch < 0) continue;
    if (w >= words.size()) Fail(s, "more notes than syllables");
    if (!words[w].hold) text.Meta(n.start, 0x01, words[w].text);
    ++w;
    const uint32_t gap = std::min<uint32_t>(60, n.length / 8);
    lead.Note(n.start, n.length - gap, kMelodyChannel, n.pitch, 100);
  }
  if (w != words.size()) Fail(s, "more syllables than notes");

  // Accompaniment: the bass on the strong beats, the chords held (pad) or on
  // the other beats (comp).
  Track harmony, bass;
  Setup(harmony, "Chords", kChordChannel, s.programs.chords, 70, 48);
  Setup(bass, "Bass", kBassChannel, s.programs.bass, 95, 64);
  for (const Chord& c : chords) {
    for (uint32_t t = c.start; t < c.start + c.length; t += beat) {
      const int inBar = static_cast<int>((t % bar) / beat);
      const bool chordStart = t == c.start;
      const int root = Above(c.tones[0], 40);
      const bool evenHalf = beatsPerBar >= 4 && inBar == beatsPerBar / 2;
      if (inBar == 0 || chordStart) bass.Note(t, beat * 9 / 10, kBassChannel, root, 88);
      else if (evenHalf) bass.Note(t, beat * 9 / 10, kBassChannel, root + 7 <= 52 ? root + 7 : root - 5, 80);
      if (s.style == Style::kPad) {
        if (inBar == 0 || chordStart) {
          const uint32_t until = std::min(c.start + c.length, t - t % bar + bar);
          for (int pc : c.tones) harmony.Note(t, until - t - 20, kChordChannel, Above(pc, 55), 62);
        }
      } else if (inBar != 0 && !evenHalf) {
        for (int pc : c.tones) harmony.Note(t, beat / 2, kChordChannel, Above(pc, 55), 66);
      }
    }
  }

  std::vector<const Track*> tracks = {&conductor, &text, &lead, &harmony, &bass};
  Track drums;
  if (s.drums) {
    drums.Meta(0, 0x03, "Drums");
    drums.Channel(0, {0xB0 | kDrumChannel, 7, 80});
    for (uint32_t t = bar; t < songEnd - bar; t += kDivision / 2) {
      const bool onBeat = t % beat == 0;
      const int inBar = static_cast<int>((t % bar) / beat);
      drums.Note(t, 60, kDrumChannel, 42, onBeat ? 60 : 42);  // closed hi-hat
      if (onBeat) drums.Note(t, 60, kDrumChannel, inBar == 0 ? 36 : 38, inBar == 0 ? 80 : 58);  // kick, snare
    }
    tracks.push_back(&drums);
  }

  uint32_t end = songEnd;
  for (const Track* t : tracks) end = std::max(end, t->LastTime());
  Bytes file = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1, 0, static_cast<uint8_t>(tracks.size()),
                static_cast<uint8_t>(kDivision >> 8), static_cast<uint8_t>(kDivision & 0xFF)};
  for (const Track* t : tracks) {
    Bytes chunk = t->Chunk(end);
    file.insert(file.end(), chunk.begin(), chunk.end());
  }
  return file;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: kestro-demosongs OUTDIR\n");
    return 2;
  }
  const std::filesystem::path dir = argv[1];
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  try {
    for (const Song& s : Songs()) {
      const Bytes bytes = BuildSong(s);
      const std::filesystem::path path = dir / s.file;
      std::ofstream out(path, std::ios::binary | std::ios::trunc);
      out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
      if (!out.flush()) {
        std::fprintf(stderr, "kestro-demosongs: cannot write %s\n", path.c_str());
        return 1;
      }
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "kestro-demosongs: %s\n", e.what());
    return 1;
  }
  return 0;
}
