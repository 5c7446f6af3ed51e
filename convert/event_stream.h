// The decoded event stream of a song package (what unpacking an MF4 or MF3
// file gives): a 22-byte MIDI file and track header, for MF4 content the
// marker FF 00 FF, then events in the compact form the player reads -
// two-byte note-offs, running status allowed, meta and system-exclusive
// lengths as one or two 7-bit groups. Playback turns it into a Standard
// MIDI File; the karaoke screen reads its lyric messages.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <vector>

#include "context/env.h"

namespace kestro {

// Header bytes in front of the events: the MIDI file and track headers,
// and with them the FF 00 FF marker of MF4 content.
inline constexpr size_t kStreamHeaderBytes = 22;
inline constexpr size_t kStreamHeaderWithMarker = 25;

// Why a stream stopped before its end.
enum StreamError : int {
  kStreamNoError = 0,
  kStreamLongDelta = 4,     // a delta time of a fifth byte
  kStreamTruncated = 5,     // the stream ended inside an event
  kStreamBadStatus = 6,     // a data byte without running status, or 0xF1-0xFE
  kStreamTimeTooLate = 7,   // the times add up beyond what a MIDI file can hold
};

// One event at its absolute time, in the form a Standard MIDI File writes
// it: a channel event with its status byte (a note-off with the release
// velocity 64), a meta or system-exclusive event with its length bytes as
// they stood.
struct StreamEvent {
  uint32_t time = 0;
  std::vector<uint8_t> bytes;
};

// Reads the events one after the other.
class EventStreamReader {
 public:
  // `data` must outlive the reader; reading starts at `offset`.
  EventStreamReader(std::span<const uint8_t> data, size_t offset);

  // The next event; false at the end of the stream (after FF 2F, which is
  // delivered, or at the end of the data between two events) or on an
  // error. Events 0xA8 and 0xA9 are read and passed over.
  bool Next(StreamEvent& ev);
  int error() const { return error_; }
  // The stream ended with an FF 2F event (or its data ran out cleanly).
  bool ended() const { return ended_; }

 private:
  bool Byte(uint8_t& b);
  bool Length(uint32_t& length, std::vector<uint8_t>& out);

  std::span<const uint8_t> data_;
  size_t pos_;
  uint64_t time_ = 0;
  uint8_t running_ = 0;
  int error_ = kStreamNoError;
  bool ended_ = false;
};

// The events start after the marker when the stream carries one at offset
// 22 (MF4 content), else right after the track header.
size_t StreamEventsOffset(std::span<const uint8_t> data);

// ConvertStreamToMidi: the stream `input` (header of 25 bytes skipped with
// `skip25`, else 22) written as a Standard MIDI File `output` at 480 ticks
// per quarter note; system-exclusive events only with `keepSysex`. An input
// that cannot be opened is shown ("MSG_OPEN_ERR" under "MSG_WRITE_ERR").
// Returns 1 when the whole stream was converted, 0 otherwise (the output
// then holds, as a complete file, what came before the fault). `error`
// (when given) receives the stream error.
int ConvertStreamToMidi(Env& env, const std::filesystem::path& output, const std::filesystem::path& input,
                        bool skip25, bool keepSysex, int* error = nullptr);

}  // namespace kestro
