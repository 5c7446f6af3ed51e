// Reads a Standard MIDI file as one stream of events, all tracks merged in
// time order, through a fixed buffer per track, so that a file of any size is
// read with a small fixed context.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "context/env.h"

namespace kestro {

// Reader error codes. Each one is shown in the warning box as soon as it is
// set; the stream has then ended and callers stop reading.
enum MidiReadError : int {
  kMidiNoError = 0,
  kMidiShortRead = 2,       // track data ended inside an event, or the file ended early
  kMidiHeaderError = 3,     // a chunk header could not be read
  kMidiVlqError = 4,        // a variable-length quantity of more than five bytes (or above 32 bits)
  kMidiNoRunningStatus = 5, // a data byte where a status byte was needed
  kMidiBadStatus = 6,       // a status byte this reader does not take (0xF1-0xF7, 0xF8-0xFE)
};
// "No error", "Midifile error 02", ...
std::string MidiErrorText(int code);

inline constexpr int kMidiMaxTracks = 64;
// Large enough that a typical track comes in one or two reads: a song is read
// several times over during its conversion.
inline constexpr size_t kMidiTrackBufferSize = 16384;
// Meta and system-exclusive lengths are read as one or two 7-bit groups:
// (first & 0x7F) * 128 + second, so the second byte may add up to 255.
inline constexpr size_t kMidiMaxLongBody = 127 * 128 + 255;
// A buffer of this size holds every event the reader can deliver, with the 0
// that follows a meta or system-exclusive event.
inline constexpr size_t kMidiMaxEventBytes = 4 + kMidiMaxLongBody + 1;

// The bar clock that the converter keeps with the reader while it reads.
struct MidiBarClock {
  int numerator = 4;
  int denominator = 4;
  uint32_t barStart = 0;
  uint32_t ticksPerBeat = 0;
  uint32_t ticksPerBar = 0;
};

// Event buffer contract of next_event:
// - `length` is always the full length of the event in wire form (channel
//   events 2 or 3; meta FF type len [len2] data; sysex F0 len [len2] data).
// - At most buffer.size() bytes are written; an event that does not fit is
//   read whole from the file (the stream stays in step) and its first
//   buffer.size() bytes are delivered: last_event_cut() tells.
// - A meta or system-exclusive event is followed by a 0 byte, not counted,
//   when the buffer has room for it.
// A buffer of kMidiMaxEventBytes always holds the whole event.
class MidiStreamReader {
 public:
  // Opens and rewinds; nothing when the file cannot be read as a MIDI file
  // ("No memory", "open error" or "position error" on standard output). The
  // reader shows its errors through env, which must outlive it.
  static std::unique_ptr<MidiStreamReader> open(Env& env, const std::filesystem::path& path);
  ~MidiStreamReader();
  MidiStreamReader(const MidiStreamReader&) = delete;
  MidiStreamReader& operator=(const MidiStreamReader&) = delete;

  // Back to the start of the stream: header and track directory read again,
  // flags and error cleared, time 0, bar clock 4/4 at bar start 0.
  bool rewind();

  // Delivers the next event of the merged stream and returns its delta
  // against the previous one. With no track left, sets end_of_song, delivers
  // nothing (length 0) and returns 0. An error stops the stream: the call
  // that meets it may deliver the broken event's bytes read so far; later
  // calls deliver nothing and set end_of_song (error() tells the two ends
  // apart).
  uint32_t next_event(std::span<uint8_t> buffer, size_t& length);
  // The same into a buffer that grows to hold the whole event.
  uint32_t next_event(std::vector<uint8_t>& event);
  // The delta that next_event would return, without reading the event.
  uint32_t peek_delta();

  // The file as opened.
  const std::filesystem::path& path() const { return path_; }
  uint64_t file_size() const { return fileSize_; }
  // Header values.
  int format() const { return format_; }
  int track_count() const { return headerTracks_; }  // as announced
  int division() const { return division_; }
  // Track chunks taken (alien chunks take none; at most 64).
  int tracks_read() const { return tracks_; }

  int error() const { return error_; }
  bool end_of_file() const { return eof_; }
  bool end_of_song() const { return endOfSong_; }
  // Sum of the deltas delivered since the rewind.
  uint32_t absolute_time() const { return absTime_; }
  // Track (0-based, in the order of the track chunks) of the last event.
  int current_track() const { return currentTrack_; }
  // The last event was longer than the buffer it was delivered into.
  bool last_event_cut() const { return lastCut_; }

  MidiBarClock& bar_clock() { return clock_; }
  const MidiBarClock& bar_clock() const { return clock_; }

 private:
  struct Track {
    bool active = false;
    uint8_t runningStatus = 0;  // 0x80...0xE0, 0 for none
    uint8_t runningChannel = 0;
    uint64_t chunkPos = 0;      // of the chunk data
    uint32_t length = 0;        // of the chunk data
    uint64_t filePos = 0;       // next byte to read into the buffer
    uint32_t consumed = 0;      // chunk bytes read into the buffer so far
    uint64_t next = 0;          // time of the track's next event
    uint16_t fill = 0;
    uint16_t index = 0;
    uint8_t* buffer = nullptr;  // kMidiTrackBufferSize bytes of buffers_
  };
  enum class ByteResult { Ok, EndOfChunk, Failed };
  enum class DeltaResult { Ok, End, Failed };
  struct Out;

  MidiStreamReader(Env& env, std::filesystem::path path, int fd, uint64_t size);

  void SetError(int code);
  bool ReadFileAt(uint64_t pos, uint8_t* dst, size_t n);
  bool Refill(Track& t);
  ByteResult NextByte(Track& t, uint8_t& b);
  // Inside an event, where the end of the track data is error 2.
  bool NeedByte(Track& t, uint8_t& b);
  DeltaResult ReadDelta(Track& t, uint32_t& delta);
  void ResolvePendingDelta();
  int PickTrack() const;
  // The track's next event comes at `at`; a track retired has none.
  void Schedule(int i, uint64_t at);
  void Retire(int i);
  void ReadLongBody(Track& t, Out& out);
  void DecodeEvent(Track& t, Out& out);
  uint32_t Next(Out& out);

  Env& env_;
  std::filesystem::path path_;
  int fd_ = -1;
  uint64_t fileSize_ = 0;

  int format_ = 0;
  int headerTracks_ = 0;
  int division_ = 0;
  int tracks_ = 0;

  int error_ = kMidiNoError;
  bool eof_ = false;
  bool endOfSong_ = false;
  bool lastCut_ = false;
  uint32_t absTime_ = 0;
  uint64_t now_ = 0;  // absTime_ without the wrap: the tracks' times count from it
  int currentTrack_ = 0;
  // The track that delivered the last event; its next delta is read on the
  // next call, so that a broken delta does not spoil the event before it.
  int pendingTrack_ = -1;
  MidiBarClock clock_;

  Track track_[kMidiMaxTracks];
  // Of each track its next time and its number side by side, the largest
  // value for a retired track: the next event is the smallest, read from a
  // few cache lines instead of every track's state.
  uint64_t key_[kMidiMaxTracks];
  std::unique_ptr<uint8_t[]> buffers_;  // one buffer per track taken
  int buffersFor_ = 0;                  // tracks buffers_ has room for
};

// Variable-length quantities in their shortest form (1 to 5 bytes).
size_t EncodeMidiVlq(uint32_t value, uint8_t out[5]);

}  // namespace kestro
