#include "convert/midi_writer.h"

#include <algorithm>
#include <cstring>

#include "convert/midi_reader.h"
#include "platform/format.h"

namespace kestro {

MidiFileWriter::MidiFileWriter(Env& env, std::FILE* file)
    : env_(env), file_(file), pending_(std::make_unique_for_overwrite<uint8_t[]>(kBlock)) {}

MidiFileWriter::~MidiFileWriter() { close(); }

std::unique_ptr<MidiFileWriter> MidiFileWriter::create(Env& env, const std::filesystem::path& path, int division) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return nullptr;
  std::unique_ptr<MidiFileWriter> w(new MidiFileWriter(env, f));
  const uint8_t header[14] = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1,
                              static_cast<uint8_t>((division >> 8) & 0xFF), static_cast<uint8_t>(division & 0xFF)};
  w->Put(header, sizeof header, false);
  w->StartTrack();
  if (w->ioFailed_) {
    w->close();
    return nullptr;
  }
  return w;
}

void MidiFileWriter::Put(const uint8_t* p, size_t n, bool counted) {
  if (!file_ || n == 0 || ioFailed_) return;
  if (counted) trackBytes_ += static_cast<uint32_t>(n);
  while (n > 0) {
    const size_t take = std::min(n, kBlock - fill_);
    std::memcpy(pending_.get() + fill_, p, take);
    fill_ += take;
    p += take;
    n -= take;
    if (fill_ == kBlock) Flush();
  }
}

void MidiFileWriter::Flush() {
  if (!file_ || fill_ == 0) return;
  if (!ioFailed_ && std::fwrite(pending_.get(), 1, fill_, file_) != fill_) ioFailed_ = error_ = stop_ = true;
  fill_ = 0;
}

void MidiFileWriter::StartTrack() {
  const uint8_t chunk[4] = {'M', 'T', 'r', 'k'};
  Put(chunk, 4, false);
  Flush();
  lengthPos_ = file_ ? std::ftell(file_) : 0;
  const uint8_t zero[4] = {0, 0, 0, 0};
  Put(zero, 4, false);
  ++tracks_;
  trackBytes_ = 0;
  time_ = 0;
  error_ = false;
}

void MidiFileWriter::write_delta(uint32_t ticks) {
  uint8_t v[5];
  Put(v, EncodeMidiVlq(ticks, v), true);
  time_ += ticks;
}

void MidiFileWriter::write_bytes(std::span<const uint8_t> bytes) { Put(bytes.data(), bytes.size(), true); }

void MidiFileWriter::write_raw(std::span<const uint8_t> bytes) { Put(bytes.data(), bytes.size(), false); }

void MidiFileWriter::write_event(std::span<const uint8_t> bytes, uint32_t time) {
  if (time < time_) {
    ShowErrorWarning(env_, Fmt("Error writing midifile at: %ld tPos req= %ld", time_, time));
    error_ = stop_ = true;
    // The event goes out at the time already written; the caller stops.
    write_delta(0);
  } else {
    write_delta(time - time_);
  }
  write_bytes(bytes);
}

bool MidiFileWriter::close() { return close_at(time_); }

bool MidiFileWriter::close_at(uint32_t endTime) {
  if (!file_) return false;
  write_delta(endTime > time_ ? endTime - time_ : 0);
  const uint8_t end[3] = {0xFF, 0x2F, 0x00};
  Put(end, sizeof end, true);
  Flush();
  const uint8_t length[4] = {static_cast<uint8_t>(trackBytes_ >> 24), static_cast<uint8_t>(trackBytes_ >> 16),
                             static_cast<uint8_t>(trackBytes_ >> 8), static_cast<uint8_t>(trackBytes_)};
  if (std::fseek(file_, lengthPos_, SEEK_SET) != 0) ioFailed_ = true;
  Put(length, sizeof length, false);
  Flush();
  const uint8_t counts[4] = {0, static_cast<uint8_t>(tracks_ > 1 ? 1 : 0), 0, static_cast<uint8_t>(tracks_ & 0xFF)};
  if (std::fseek(file_, 8, SEEK_SET) != 0) ioFailed_ = true;
  Put(counts, sizeof counts, false);
  Flush();
  if (std::fclose(file_) != 0) ioFailed_ = true;
  file_ = nullptr;
  if (ioFailed_) error_ = stop_ = true;
  return !ioFailed_;
}

}  // namespace kestro
