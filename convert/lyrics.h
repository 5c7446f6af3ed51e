// Lyrics for the player: songs whose words are ordinary MIDI text and lyric
// events (the Tune1000 / "Lyrics" form of karaoke files) are laid out into
// pages of four lines and given the maker's karaoke messages; the maker's
// own songs get count-in marks before instrumental passages.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "convert/convert_context.h"
#include "context/env.h"

namespace kestro {

// One character of a text timeline.
struct TextEntry {
  enum Mark : uint8_t {
    kPlain = 0,
    kHeading = 1,   // the "%" in front of a track name
    kChordRun = 2,  // "~", a chord and its line end: one unit, not part of the lyric lines
  };
  static constexpr uint8_t kLineEnd = 13;
  static constexpr uint8_t kPageEnd = 10;

  uint32_t time = 0;
  uint8_t ch = 0;
  uint8_t mark = kPlain;

  bool IsLineEnd() const { return ch == kLineEnd && mark == kPlain; }
  bool IsPageEnd() const { return ch == kPageEnd && mark == kPlain; }
  bool operator==(const TextEntry&) const = default;
};

// Widths of the four lines of a page.
inline constexpr int kPageLineWidth[4] = {39, 39, 39, 32};

// The texts of one source slot (one track's lyric and track-name events, or
// one track's text events) as a timeline, broken into lines as it grows.
class TextCollection {
 public:
  static constexpr size_t kMaxEntries = 10000;
  static constexpr int kChordCollectionLines = 6;  // more chord lines than this: a chord collection

  // One text event. type is the meta type (0x01 text, 0x03 track name,
  // 0x05 lyric); lyric and text events arrive already in player codes.
  void AddText(uint32_t time, uint8_t type, std::string_view text);

  // One character with the line breaking of the page widths.
  void AppendChar(uint32_t time, uint8_t ch);
  void EndLine(uint32_t time);

  const std::vector<TextEntry>& entries() const { return entries_; }
  std::vector<TextEntry>& entries() { return entries_; }
  size_t size() const { return entries_.size(); }
  int chordLines() const { return chordLines_; }
  bool IsChordCollection() const { return chordLines_ > kChordCollectionLines; }
  // A text of the collection began with "<".
  bool angleMarked() const { return angle_; }
  // Entries not kept because the collection was full.
  size_t dropped() const { return dropped_; }

 private:
  bool Push(TextEntry e);
  void Break(uint32_t time);

  std::vector<TextEntry> entries_;
  int chordLines_ = 0;
  bool angle_ = false;
  size_t dropped_ = 0;
  int pos_ = 0;   // characters in the current line
  int line_ = 0;  // 0-3 within the page
};

// The lines of the laid-out text: each line's entries end with its line end.
struct LaidOutLine {
  std::vector<TextEntry> entries;
  uint32_t StartTime() const { return entries.empty() ? 0 : entries.front().time; }
};

// Which collection is the song's text: the largest one of at least 101
// entries that is not a chord collection, plain ones before those marked
// "<"; with `french`, a text collection (slot 64 and up) displaces the best
// so far only with more than 1.5 times its entries. -1 for none.
int ChooseTextSlot(const std::vector<TextCollection>& slots, bool french);
// The lowest-numbered chord collection, -1 for none.
int ChordSlot(const std::vector<TextCollection>& slots);
// The chord runs of `chords` merged into `text` by time (each run at the time
// of its first entry, after the text's entries of the same time).
std::vector<TextEntry> MergeChordRuns(const std::vector<TextEntry>& text, const std::vector<TextEntry>& chords);

// Layout steps before the preview: a page with more than three line ends
// that do not end the page is split after its third line; four closing line
// ends at the last time + division + 0, 10, 20 and 30 ticks.
void SplitLongPages(std::vector<TextEntry>& text);
void AppendClosingLines(std::vector<TextEntry>& text, uint32_t division);
// Page ends become line ends and pages are filled up to four lines; the
// result in lines, every four a page (the last one filled up too).
std::vector<LaidOutLine> NormalisePages(const std::vector<TextEntry>& text);
// The preview file's bytes (code page 437 box drawing, one page after the
// other).
std::string PreviewText(const std::vector<LaidOutLine>& lines);

// Tune1000/Lyrics detection: 1 when the song's words are ordinary text and
// lyric events, in which case "Tune1000.MID" in the install folder holds the
// song with karaoke messages; 0 otherwise. Always leaves the kind-8 count,
// the text measure and whether a rights notice names V-SONO in
// ctx.lyricScan. Writes "WB.MID", "TEMP.MID", "LOGILE.TXT" and "TEXT.TXT" on
// the way.
int detect_tune1000(Env& env, ConvertContext& ctx, const std::filesystem::path& source);

// The lyric re-timing of the maker's songs: brackets in the first page,
// channel-label pages removed, count-in dots before instrumental passages.
// False when the input cannot be read or the output not written.
bool retime_catalogue_lyrics(Env& env, const std::filesystem::path& input, const std::filesystem::path& output);

}  // namespace kestro
