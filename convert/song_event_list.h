// A whole Standard MIDI file in memory as one time-sorted array of events.
// The converter loads each imported song once into it to measure the
// catalogue mark that the maker's own songs carry.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "context/env.h"

namespace kestro {

// One event of the list (20 bytes).
struct SongEvent {
  uint32_t time;      // absolute time in ticks of the source file
  uint32_t flags;     // see song_event_flags
  uint8_t data[4];    // short event: length (1-3), then the bytes; long event: pool offset
  uint8_t unused[8];  // zero
};
static_assert(sizeof(SongEvent) == 20);

namespace song_event_flags {
inline constexpr uint32_t kAppended = 0x20;  // low byte of an event added at the end
inline constexpr uint32_t kInserted = 0x68;  // low byte of an event put before later ones
inline constexpr uint32_t kHidden = 0x02;    // skipped by every pass
inline constexpr uint32_t kLong = 0x100;     // bytes in the pool
inline constexpr int kTrackShift = 9;        // 6 bits of track number
inline constexpr uint32_t kTrackMask = 0x3Fu << kTrackShift;
}  // namespace song_event_flags

// What the list knows about the loaded song.
struct SongInfo {
  std::string name = "Master";
  uint32_t tempo = 500000;  // microseconds per quarter note
  int division = 0;
  int tracks = 0;  // the tracks loaded, plus one for the song as a whole
  int format = 0;
  int gridQuarter = 0;    // division / 4
  int gridSixteenth = 0;  // division / 16
  int numerator = 4;
  std::filesystem::path path;
};

// The figures behind the last catalogue mark.
struct CatalogueMark {
  int percent = 0;
  int matchRatio = -1;  // matched bits * 100 / (matched + mismatches), -1 when both are 0
  int64_t matchedBits = 0;
  int64_t mismatches = 0;
  int64_t patterns = 0;
  int64_t systemEvents = 0;
};

class SongEventList {
 public:
  // Longest event the list takes.
  static constexpr size_t kMaxEventBytes = 0x0FFFFFFF;
  // At most this many tracks of a file are loaded.
  static constexpr int kMaxTracks = 16;

  // Messages and the 2000-bar question go through env, which must outlive
  // the list.
  explicit SongEventList(Env& env) : env_(env) {}

  // Reads the file whole and builds the list, replacing what it held. On
  // failure the reason has been shown and the list is empty. When the user
  // stops at the 2000-bar question the part loaded so far stays (true).
  bool load(const std::filesystem::path& path);

  // The event's bytes, status first; empty for an index out of range.
  std::span<const uint8_t> event_bytes(size_t index) const;

  // Adds an event keeping the list sorted by time: after every event at the
  // same or an earlier time only when it goes at the end, else before the
  // first event at the same or a later time. Bodies above three bytes go to
  // the pool. False ("Too many events.|Out of memory!" shown) when the list
  // or the pool is full; false without a message for an empty event.
  bool insert_at_time(uint32_t time, std::span<const uint8_t> bytes, int track);

  // The share of the list's events that carry the mark, in percent (0: no
  // mark). Turns note-ons with velocity 0 into note-offs with velocity 64.
  int catalogue_mark_percent();

  // Frees the events and the pool; the list is empty.
  void release();

  // Room for this many events and pool bytes (load sizes it from its
  // counting pass); what the list held is dropped.
  bool create(size_t events, size_t poolBytes);

  size_t size() const { return events_.size(); }
  size_t capacity() const { return capacity_; }
  const SongEvent& at(size_t index) const { return events_.at(index); }
  int track_of(size_t index) const;
  bool is_long(size_t index) const { return (at(index).flags & song_event_flags::kLong) != 0; }
  void set_hidden(size_t index, bool hidden);

  const SongInfo& info() const { return info_; }
  const CatalogueMark& mark() const { return mark_; }

 private:
  void SortEqualTimes();

  Env& env_;
  std::vector<SongEvent> events_;
  size_t capacity_ = 0;
  std::vector<uint8_t> pool_;
  size_t poolFill_ = 0;
  SongInfo info_;
  CatalogueMark mark_;
};

}  // namespace kestro
