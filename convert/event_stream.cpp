#include "convert/event_stream.h"

#include "convert/midi_reader.h"
#include "convert/midi_writer.h"
#include "platform/fileutil.h"

namespace kestro {

namespace fs = std::filesystem;

namespace {

// The largest time a delta of a MIDI file can reach from 0.
constexpr uint64_t kMaxTime = 0x0FFFFFFF;
constexpr uint8_t kReleaseVelocity = 64;
// Ticks per quarter note of the song content, and so of the file made.
constexpr int kStreamDivision = 480;

}  // namespace

EventStreamReader::EventStreamReader(std::span<const uint8_t> data, size_t offset) : data_(data), pos_(offset) {}

bool EventStreamReader::Byte(uint8_t& b) {
  if (pos_ >= data_.size()) {
    error_ = kStreamTruncated;
    return false;
  }
  b = data_[pos_++];
  return true;
}

// One length byte, or two when the first has bit 7 set; written out as the
// variable-length number it stands for.
bool EventStreamReader::Length(uint32_t& length, std::vector<uint8_t>& out) {
  uint8_t first = 0;
  if (!Byte(first)) return false;
  length = first;
  if (first & 0x80) {
    uint8_t second = 0;
    if (!Byte(second)) return false;
    length = (first & 0x7Fu) * 128u + second;
  }
  uint8_t vlq[5];
  const size_t n = EncodeMidiVlq(length, vlq);
  out.insert(out.end(), vlq, vlq + n);
  return true;
}

bool EventStreamReader::Next(StreamEvent& ev) {
  while (error_ == kStreamNoError && !ended_) {
    // A clean end of the data between two events ends the stream.
    if (pos_ >= data_.size()) {
      ended_ = true;
      return false;
    }
    uint32_t delta = 0;
    int bytes = 0;
    for (;;) {
      uint8_t b = 0;
      if (!Byte(b)) return false;
      if (++bytes == 5) {
        error_ = kStreamLongDelta;
        return false;
      }
      delta = (delta << 7) | (b & 0x7Fu);
      if (!(b & 0x80)) break;
    }
    time_ += delta;
    if (time_ > kMaxTime) {
      error_ = kStreamTimeTooLate;
      return false;
    }

    uint8_t status = 0;
    if (!Byte(status)) return false;
    uint8_t first = 0;
    bool haveFirst = false;
    if (status < 0x80) {
      if (running_ == 0) {
        error_ = kStreamBadStatus;
        return false;
      }
      first = status;
      haveFirst = true;
      status = running_;
    }

    ev.time = static_cast<uint32_t>(time_);
    ev.bytes.clear();
    const uint8_t high = status & 0xF0;
    if (high >= 0x80 && high <= 0xE0) {
      running_ = status;
      if (!haveFirst && !Byte(first)) return false;
      ev.bytes = {status, first};
      if (high == 0x80) {
        ev.bytes.push_back(kReleaseVelocity);
      } else if (high != 0xC0 && high != 0xD0) {
        uint8_t second = 0;
        if (!Byte(second)) return false;
        ev.bytes.push_back(second);
      }
      // Key pressure on channels 9 and 10 means something else to the
      // player; it is not played.
      if (status == 0xA8 || status == 0xA9) continue;
      return true;
    }
    if (status == 0xF0) {
      running_ = 0;
      ev.bytes.push_back(0xF0);
      uint32_t length = 0;
      if (!Length(length, ev.bytes)) return false;
      if (length > data_.size() - pos_) {
        error_ = kStreamTruncated;
        return false;
      }
      ev.bytes.insert(ev.bytes.end(), data_.begin() + static_cast<long>(pos_),
                      data_.begin() + static_cast<long>(pos_ + length));
      pos_ += length;
      return true;
    }
    if (status == 0xFF) {
      running_ = 0;
      uint8_t type = 0;
      if (!Byte(type)) return false;
      ev.bytes = {0xFF, type};
      uint32_t length = 0;
      if (!Length(length, ev.bytes)) return false;
      if (length > data_.size() - pos_) {
        error_ = kStreamTruncated;
        return false;
      }
      ev.bytes.insert(ev.bytes.end(), data_.begin() + static_cast<long>(pos_),
                      data_.begin() + static_cast<long>(pos_ + length));
      pos_ += length;
      if (type == 0x2F) ended_ = true;
      return true;
    }
    error_ = kStreamBadStatus;
    return false;
  }
  return false;
}

size_t StreamEventsOffset(std::span<const uint8_t> data) {
  if (data.size() >= kStreamHeaderWithMarker && data[22] == 0xFF && data[23] == 0x00 && data[24] == 0xFF) {
    return kStreamHeaderWithMarker;
  }
  return kStreamHeaderBytes;
}

int ConvertStreamToMidi(Env& env, const fs::path& output, const fs::path& input, bool skip25, bool keepSysex,
                        int* error) {
  if (error) *error = kStreamNoError;
  auto data = ReadBinaryFile(input);
  if (!data) {
    env.ui.ShowMessage(env.TF("MSG_OPEN_ERR", input.string()), env.T("MSG_WRITE_ERR"), mb::kIconStop);
    return 0;
  }
  const size_t skip = skip25 ? kStreamHeaderWithMarker : kStreamHeaderBytes;
  // A stream shorter than its header has no events and no end.
  if (data->size() < skip) {
    if (error) *error = kStreamTruncated;
    return 0;
  }
  auto writer = MidiFileWriter::create(env, output, kStreamDivision);
  if (!writer) {
    ReportWriteError(env, output.string());
    return 0;
  }

  EventStreamReader reader(*data, skip);
  StreamEvent ev;
  uint32_t endTime = 0;
  while (!writer->stopped() && reader.Next(ev)) {
    endTime = ev.time;
    // The track's end goes out once, when the writer closes.
    if (ev.bytes[0] == 0xFF && ev.bytes[1] == 0x2F) break;
    if (ev.bytes[0] == 0xF0 && !keepSysex) continue;
    writer->write_event(ev.bytes, ev.time);
  }
  const bool closed = writer->close_at(endTime);
  if (error) *error = reader.error();
  return closed && reader.error() == kStreamNoError ? 1 : 0;
}

}  // namespace kestro
