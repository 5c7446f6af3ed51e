// Writes a single-track Standard MIDI file (format 0): events are given at
// absolute times and go out with the deltas between them; the track length
// and the header are completed when the writer is closed.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <span>
#include <vector>

#include "context/env.h"

namespace kestro {

class MidiFileWriter {
 public:
  // Writes the header chunk and starts the track; nothing when the file
  // cannot be created (the caller reports it). env must outlive the writer.
  static std::unique_ptr<MidiFileWriter> create(Env& env, const std::filesystem::path& path, int division);
  // Closes the file if close() was not called.
  ~MidiFileWriter();
  MidiFileWriter(const MidiFileWriter&) = delete;
  MidiFileWriter& operator=(const MidiFileWriter&) = delete;

  // The delta from the time written so far, then the bytes. A time earlier
  // than the time written is shown as an error and sets error and stop; the
  // event is still written, with delta 0.
  void write_event(std::span<const uint8_t> bytes, uint32_t time);
  // The two halves of write_event; both count into the track length.
  // write_delta moves the time written on by `ticks`.
  void write_delta(uint32_t ticks);
  void write_bytes(std::span<const uint8_t> bytes);
  // Bytes put straight into the file, not counted in the track length (the
  // marker that MF4 content carries at the head of its track).
  void write_raw(std::span<const uint8_t> bytes);

  // Ends the track (delta 0, FF 2F 00), fills in its length and the track
  // count, and closes the file. False when anything could not be written.
  bool close();
  // The same with the end of the track at `endTime` (at the time written
  // when that is later), so that a song keeps its closing rest.
  bool close_at(uint32_t endTime);

  // Set on a time error or a failed write; callers end their loop on stopped().
  bool error() const { return error_; }
  bool stopped() const { return stop_; }
  uint32_t time_written() const { return time_; }
  // Bytes counted into the current track so far.
  uint32_t track_bytes() const { return trackBytes_; }
  int tracks_started() const { return tracks_; }

 private:
  MidiFileWriter(Env& env, std::FILE* file);
  void Put(const uint8_t* p, size_t n, bool counted);
  // Hands the collected bytes to the file.
  void Flush();
  void StartTrack();

  // Events are a few bytes each: they are collected here and go to the
  // file in large blocks.
  static constexpr size_t kBlock = 1 << 16;

  Env& env_;
  std::FILE* file_;
  int tracks_ = 0;
  uint32_t time_ = 0;
  bool error_ = false;
  bool stop_ = false;
  bool ioFailed_ = false;
  long lengthPos_ = 0;
  uint32_t trackBytes_ = 0;
  std::unique_ptr<uint8_t[]> pending_;
  size_t fill_ = 0;  // bytes of pending_ not yet handed to the file
};

}  // namespace kestro
