// Everything the converter keeps between its steps and from song to song:
// the fields captured from the song, the lyric tables, the counters, the
// header of the package being built and the answers to the two import
// questions. The application owns one for its whole run and passes it to
// every conversion; tests make as many as they like.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "convert/package.h"

namespace kestro {

// The texts and numbers a conversion finds in a MIDI file. Texts are Latin-1
// (the title in the player's codes), at most kMaxText characters.
struct CapturedFields {
  static constexpr size_t kMaxText = 31;

  std::string title;
  std::string author;
  std::string performer;
  std::string genre;
  std::string editor;
  std::string rights;        // the rights notice to store
  std::string sourceRights;  // the rights notice as the file had it
  int tempo = 0;             // beats per minute; 0 = none found
  bool markers = false;      // the song has marker events (FF 06)
  bool titleFromTrackName = false;
};

// What the pre-scan collects from the maker's karaoke messages.
struct LyricTables {
  // Sizes of the tables the player's tools were built around.
  static constexpr size_t kChordCapacity = 1177;
  static constexpr size_t kChordTextMax = 15;
  static constexpr size_t kItemCapacity = 40960 / 46;
  static constexpr size_t kItemTextMax = 41;

  struct Entry {
    uint32_t time = 0;  // source ticks
    std::string text;
  };
  std::vector<Entry> chords;  // kind-1 messages
  std::vector<Entry> items;   // kind 4-7 messages

  // Entries beyond the capacity are not kept, texts are cut to their maximum;
  // both are counted.
  void AddChord(uint32_t time, std::string_view text);
  void AddItem(uint32_t time, std::string_view text);
  void Clear();

  size_t chordsDropped = 0;
  size_t itemsDropped = 0;
  size_t textsCut = 0;
};

// The counters of one conversion.
struct ConvertCounters {
  int chordsMet = 0;     // kind-1 messages replaced so far
  int itemsSeen = 0;     // kind 4-7 messages written so far
  int controller31 = 0;  // controller-31 events of a catalogue song
  int longEventsSkipped = 0;  // events longer than the converter's buffer
};

// What the lyric detection left for the converter.
struct LyricScanResult {
  int kind8Count = 0;   // karaoke messages of kind 8 already in the song
  int textMeasure = 0;  // entries of the chosen text (0: none chosen)
  bool roland = false;  // the song holds a Roland SXS message
  bool tune1000 = false;
  bool vSonoRights = false;  // a rights notice names V-SONO (a catalogue song)
};

// One of the import questions that offer "show again": an unticked box turns
// it off, and then its last answer stands for later songs.
struct QuestionSwitch {
  bool enabled = true;
  bool lastAnswerYes = true;
};

class ConvertContext {
 public:
  ConvertContext() = default;

  // The header of the package being built (pack writes it).
  PackageHeader header;
  CapturedFields fields;
  LyricTables lyrics;
  ConvertCounters counters;
  LyricScanResult lyricScan;

  // The song being converted carries the maker's catalogue mark or name.
  bool catalogue = false;
  // Division of the source being converted (ticks per quarter note).
  int sourceDivision = 480;
  // The last convert_midi / convert_mf3_content wrote a complete file.
  bool outputWritten = false;

  QuestionSwitch noLyricsQuestion;
  QuestionSwitch notColouredQuestion;
  // Both questions on again (the start of an import batch).
  void EnableQuestions();

  // The captured fields, one getter each.
  const std::string& Title() const { return fields.title; }
  bool HadTitle() const { return fields.titleFromTrackName; }
  const std::string& Author() const { return fields.author; }
  const std::string& Performer() const { return fields.performer; }
  const std::string& Genre() const { return fields.genre; }
  const std::string& Editor() const { return fields.editor; }
  const std::string& RightsNotice() const { return fields.rights; }
  const std::string& SourceRightsNotice() const { return fields.sourceRights; }
  int Tempo() const { return fields.tempo; }
  bool MarkersFlag() const { return fields.markers; }
  // Channel tables as captured into the header (0xFF = none); channel 0-15.
  uint8_t Program(int channel) const { return header.Program(channel); }
  uint8_t Bank(int channel) const { return header.Bank(channel); }
  uint8_t Volume(int channel) const { return header.Volume(channel); }
  uint8_t Pan(int channel) const { return header.Pan(channel); }
  uint8_t Reverb(int channel) const { return header.Reverb(channel); }
  uint8_t Chorus(int channel) const { return header.Chorus(channel); }
};

}  // namespace kestro
