#include "convert/midi_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

namespace kestro {

namespace {

uint32_t Be32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}
int Be16(const uint8_t* p) { return (p[0] << 8) | p[1]; }

constexpr int kTrackShift = 6;  // kMidiMaxTracks numbers
constexpr uint64_t kTrackBits = (uint64_t{1} << kTrackShift) - 1;
constexpr uint64_t kLatestKeyTime = (uint64_t{1} << (64 - kTrackShift)) - 2;
constexpr uint64_t kNoTrack = ~uint64_t{0};
static_assert(kMidiMaxTracks <= (1 << kTrackShift));

// Channel messages with two data bytes; 0xC0 and 0xD0 have one.
bool HasTwoDataBytes(uint8_t statusNibble) { return statusNibble != 0xC0 && statusNibble != 0xD0; }

}  // namespace

std::string MidiErrorText(int code) {
  if (code == kMidiNoError) return "No error";
  char buf[32];
  std::snprintf(buf, sizeof buf, "Midifile error %02d", code);
  return buf;
}

size_t EncodeMidiVlq(uint32_t value, uint8_t out[5]) {
  size_t n = value < 0x80u ? 1 : value < 0x4000u ? 2 : value < 0x200000u ? 3 : value < 0x10000000u ? 4 : 5;
  for (size_t i = 0; i < n; ++i) {
    uint8_t group = static_cast<uint8_t>((value >> (7 * (n - 1 - i))) & 0x7F);
    out[i] = static_cast<uint8_t>(group | (i + 1 < n ? 0x80 : 0));
  }
  return n;
}

MidiStreamReader::MidiStreamReader(Env& env, std::filesystem::path path, int fd, uint64_t size)
    : env_(env), path_(std::move(path)), fd_(fd), fileSize_(size) {}

MidiStreamReader::~MidiStreamReader() {
  if (fd_ >= 0) ::close(fd_);
}

std::unique_ptr<MidiStreamReader> MidiStreamReader::open(Env& env, const std::filesystem::path& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st {};
  if (fd >= 0 && (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
    ::close(fd);
    fd = -1;
  }
  if (fd < 0) {
    std::fputs("open error\n", stdout);
    return nullptr;
  }
  std::unique_ptr<MidiStreamReader> r;
  try {
    r.reset(new MidiStreamReader(env, path, fd, static_cast<uint64_t>(st.st_size)));
  } catch (const std::bad_alloc&) {
    ::close(fd);
    std::fputs("No memory\n", stdout);
    return nullptr;
  }
  if (!r->rewind()) {
    std::fputs("position error\n", stdout);
    return nullptr;
  }
  return r;
}

bool MidiStreamReader::ReadFileAt(uint64_t pos, uint8_t* dst, size_t n) {
  size_t got = 0;
  while (got < n) {
    ssize_t k = ::pread(fd_, dst + got, n - got, static_cast<off_t>(pos + got));
    if (k < 0 && errno == EINTR) continue;
    if (k <= 0) break;
    got += static_cast<size_t>(k);
  }
  return got == n;
}

void MidiStreamReader::SetError(int code) {
  if (error_ != kMidiNoError) return;
  error_ = code;
  if (code == kMidiShortRead || code == kMidiHeaderError) eof_ = true;
  // Nothing more comes out of a stream that went wrong.
  for (int i = 0; i < tracks_; ++i) Retire(i);
  pendingTrack_ = -1;
  ShowErrorWarning(env_, MidiErrorText(code));
}

bool MidiStreamReader::rewind() {
  error_ = kMidiNoError;
  eof_ = false;
  endOfSong_ = false;
  lastCut_ = false;
  absTime_ = 0;
  now_ = 0;
  currentTrack_ = 0;
  pendingTrack_ = -1;
  tracks_ = 0;
  format_ = headerTracks_ = division_ = 0;
  for (int i = 0; i < kMidiMaxTracks; ++i) Retire(i);

  uint8_t h[8];
  if (!ReadFileAt(0, h, 8)) {
    SetError(kMidiHeaderError);
    return false;
  }
  uint32_t headerLength = Be32(h + 4);
  if (std::memcmp(h, "MThd", 4) != 0 || headerLength < 6) return false;
  uint8_t w[6];
  if (!ReadFileAt(8, w, 6)) {
    SetError(kMidiHeaderError);
    return false;
  }
  format_ = Be16(w);
  headerTracks_ = Be16(w + 2);
  division_ = Be16(w + 4);
  clock_ = MidiBarClock{};
  clock_.ticksPerBeat = 4u * static_cast<uint32_t>(division_);
  clock_.ticksPerBar = clock_.ticksPerBeat;

  // The track directory: every announced chunk is looked at, alien ones are
  // stepped over; at most kMidiMaxTracks track chunks are taken.
  uint64_t pos = 8 + uint64_t{headerLength};
  for (int i = 0; i < headerTracks_ && tracks_ < kMidiMaxTracks; ++i) {
    uint8_t c[8];
    if (!ReadFileAt(pos, c, 8)) {
      SetError(kMidiHeaderError);
      return false;
    }
    uint32_t length = Be32(c + 4);
    if (std::memcmp(c, "MTrk", 4) == 0) {
      Track& t = track_[tracks_++];
      t.active = true;
      t.runningStatus = 0;
      t.runningChannel = 0;
      t.chunkPos = pos + 8;
      t.length = length;
      t.filePos = pos + 8;
      t.consumed = 0;
      t.fill = t.index = 0;
      t.next = 0;
    }
    pos += 8 + uint64_t{length};
  }
  if (buffersFor_ < tracks_) {
    buffers_ = std::make_unique_for_overwrite<uint8_t[]>(static_cast<size_t>(tracks_) * kMidiTrackBufferSize);
    buffersFor_ = tracks_;
  }
  for (int i = 0; i < tracks_; ++i) track_[i].buffer = buffers_.get() + static_cast<size_t>(i) * kMidiTrackBufferSize;
  // Each track's first delta is read at once.
  for (int i = 0; i < tracks_ && error_ == kMidiNoError; ++i) {
    Track& t = track_[i];
    uint32_t delta = 0;
    switch (ReadDelta(t, delta)) {
      case DeltaResult::Ok:
        Schedule(i, delta);
        break;
      case DeltaResult::End:
        Retire(i);  // an empty track
        break;
      case DeltaResult::Failed:
        break;
    }
  }
  return true;
}

bool MidiStreamReader::Refill(Track& t) {
  uint32_t remaining = t.length - t.consumed;
  size_t want = remaining < kMidiTrackBufferSize ? remaining : kMidiTrackBufferSize;
  ssize_t k;
  do {
    k = ::pread(fd_, t.buffer, want, static_cast<off_t>(t.filePos));
  } while (k < 0 && errno == EINTR);
  if (k <= 0) {
    // A chunk that claims more than the file holds: what was there has been
    // delivered; the event that needs the missing bytes is an error.
    SetError(kMidiShortRead);
    return false;
  }
  t.fill = static_cast<uint16_t>(k);
  t.index = 0;
  t.consumed += static_cast<uint32_t>(k);
  t.filePos += static_cast<uint64_t>(k);
  return true;
}

inline MidiStreamReader::ByteResult MidiStreamReader::NextByte(Track& t, uint8_t& b) {
  if (t.index >= t.fill) {
    if (t.consumed >= t.length) return ByteResult::EndOfChunk;
    if (!Refill(t)) return ByteResult::Failed;
  }
  b = t.buffer[t.index++];
  return ByteResult::Ok;
}

inline bool MidiStreamReader::NeedByte(Track& t, uint8_t& b) {
  ByteResult r = NextByte(t, b);
  if (r == ByteResult::Ok) return true;
  if (r == ByteResult::EndOfChunk) SetError(kMidiShortRead);
  return false;
}

MidiStreamReader::DeltaResult MidiStreamReader::ReadDelta(Track& t, uint32_t& delta) {
  // A delta of one byte, the most common, straight from the buffer.
  if (t.index < t.fill && !(t.buffer[t.index] & 0x80)) {
    delta = t.buffer[t.index++];
    return DeltaResult::Ok;
  }
  uint64_t value = 0;
  for (int i = 0; i < 5; ++i) {
    uint8_t b = 0;
    ByteResult r = NextByte(t, b);
    if (r == ByteResult::EndOfChunk) {
      // A track may end at its chunk end without an end-of-track event.
      if (i == 0) return DeltaResult::End;
      SetError(kMidiShortRead);
      return DeltaResult::Failed;
    }
    if (r == ByteResult::Failed) return DeltaResult::Failed;
    value = (value << 7) | (b & 0x7Fu);
    if (!(b & 0x80)) {
      if (value > 0xFFFFFFFFu) break;
      delta = static_cast<uint32_t>(value);
      return DeltaResult::Ok;
    }
  }
  SetError(kMidiVlqError);
  return DeltaResult::Failed;
}

void MidiStreamReader::ResolvePendingDelta() {
  if (pendingTrack_ < 0) return;
  Track& t = track_[pendingTrack_];
  pendingTrack_ = -1;
  if (!t.active) return;
  uint32_t delta = 0;
  switch (ReadDelta(t, delta)) {
    case DeltaResult::Ok:
      Schedule(static_cast<int>(&t - track_), now_ + delta);
      break;
    case DeltaResult::End:
      Retire(static_cast<int>(&t - track_));
      break;
    case DeltaResult::Failed:
      break;
  }
}

int MidiStreamReader::PickTrack() const {
  // The track with the soonest event, the first one among equals. Without
  // branches, as the winner changes from event to event.
  uint64_t best = kNoTrack;
  for (int i = 0; i < tracks_; ++i) best = key_[i] < best ? key_[i] : best;
  return best == kNoTrack ? -1 : static_cast<int>(best & kTrackBits);
}

void MidiStreamReader::Schedule(int i, uint64_t at) {
  track_[i].next = at;
  // Times beyond 2^58 ticks (no real song comes near) order among
  // themselves by track.
  key_[i] = std::min(at, kLatestKeyTime) << kTrackShift | static_cast<uint64_t>(i);
}

void MidiStreamReader::Retire(int i) {
  track_[i].active = false;
  key_[i] = kNoTrack;
}

// Where a decoded event goes: a caller's fixed buffer (bytes past its end are
// counted but not stored) or a vector that grows.
struct MidiStreamReader::Out {
  uint8_t* data;
  size_t cap;
  std::vector<uint8_t>* grow = nullptr;
  size_t n = 0;

  void Reserve(size_t more) {
    if (!grow || n + more <= cap) return;
    size_t want = n + more;
    if (want < 2 * cap) want = 2 * cap;
    grow->resize(want);
    data = grow->data();
    cap = grow->size();
  }
  void Put(uint8_t b) {
    Reserve(1);
    if (n < cap) data[n] = b;
    ++n;
  }
  void Copy(const uint8_t* src, size_t k) {
    Reserve(k);
    if (n < cap) std::memcpy(data + n, src, k < cap - n ? k : cap - n);
    n += k;
  }
};

void MidiStreamReader::ReadLongBody(Track& t, Out& out) {
  uint8_t l1 = 0, l2 = 0;
  if (!NeedByte(t, l1)) return;
  out.Put(l1);
  size_t length = l1;
  if (l1 & 0x80) {
    if (!NeedByte(t, l2)) return;
    out.Put(l2);
    length = size_t{l1 & 0x7Fu} * 128 + l2;
  }
  out.Reserve(length + 1);
  while (length > 0) {
    if (t.index >= t.fill) {
      if (t.consumed >= t.length) {
        SetError(kMidiShortRead);
        return;
      }
      if (!Refill(t)) return;
    }
    size_t avail = static_cast<size_t>(t.fill - t.index);
    size_t take = avail < length ? avail : length;
    out.Copy(t.buffer + t.index, take);
    t.index = static_cast<uint16_t>(t.index + take);
    length -= take;
  }
  // The terminating 0 is not part of the event.
  if (out.n < out.cap) out.data[out.n] = 0;
}

void MidiStreamReader::DecodeEvent(Track& t, Out& out) {
  // Most events are channel messages whose bytes are all in the buffer:
  // they are taken straight from it.
  if (t.fill - t.index >= 3 && out.cap - out.n >= 3) {
    const uint8_t* p = t.buffer + t.index;
    uint8_t* o = out.data + out.n;
    if (p[0] >= 0x80 && p[0] < 0xF0) {
      const uint8_t nibble = p[0] & 0xF0;
      const int n = HasTwoDataBytes(nibble) ? 3 : 2;
      o[0] = p[0];
      o[1] = p[1];
      if (n == 3) o[2] = p[2];
      t.index = static_cast<uint16_t>(t.index + n);
      out.n += static_cast<size_t>(n);
      t.runningStatus = nibble;
      t.runningChannel = p[0] & 0x0F;
      return;
    }
    if (p[0] < 0x80 && t.runningStatus != 0) {
      const int n = HasTwoDataBytes(t.runningStatus) ? 2 : 1;
      o[0] = static_cast<uint8_t>(t.runningStatus | t.runningChannel);
      o[1] = p[0];
      if (n == 2) o[2] = p[1];
      t.index = static_cast<uint16_t>(t.index + n);
      out.n += static_cast<size_t>(n + 1);
      return;
    }
  }
  uint8_t b = 0;
  if (!NeedByte(t, b)) return;
  if (b & 0x80) {
    if (b < 0xF0) {
      uint8_t nibble = b & 0xF0;
      out.Put(b);
      uint8_t d = 0;
      if (!NeedByte(t, d)) return;
      out.Put(d);
      if (HasTwoDataBytes(nibble)) {
        if (!NeedByte(t, d)) return;
        out.Put(d);
      }
      t.runningStatus = nibble;
      t.runningChannel = b & 0x0F;
    } else if (b == 0xFF) {
      out.Put(b);
      uint8_t type = 0;
      if (!NeedByte(t, type)) return;
      out.Put(type);
      ReadLongBody(t, out);
      if (type == 0x2F) Retire(static_cast<int>(&t - track_));
    } else if (b == 0xF0) {
      t.runningStatus = 0;
      out.Put(b);
      ReadLongBody(t, out);
    } else {
      out.Put(b);
      SetError(kMidiBadStatus);
    }
    return;
  }
  // A data byte: the event repeats the running status.
  if (t.runningStatus == 0) {
    SetError(kMidiNoRunningStatus);
    return;
  }
  out.Put(static_cast<uint8_t>(t.runningStatus | t.runningChannel));
  out.Put(b);
  if (HasTwoDataBytes(t.runningStatus)) {
    uint8_t d = 0;
    if (!NeedByte(t, d)) return;
    out.Put(d);
  }
}

uint32_t MidiStreamReader::Next(Out& out) {
  lastCut_ = false;
  ResolvePendingDelta();
  int i = error_ != kMidiNoError ? -1 : PickTrack();
  if (i < 0) {
    endOfSong_ = true;
    return 0;
  }
  Track& t = track_[i];
  const uint32_t delta = static_cast<uint32_t>(t.next - now_);
  now_ = t.next;
  absTime_ += delta;
  currentTrack_ = i;
  DecodeEvent(t, out);
  lastCut_ = out.n > out.cap;
  if (t.active && error_ == kMidiNoError) pendingTrack_ = i;
  return delta;
}

uint32_t MidiStreamReader::next_event(std::span<uint8_t> buffer, size_t& length) {
  Out out{buffer.data(), buffer.size()};
  uint32_t delta = Next(out);
  length = out.n;
  return delta;
}

uint32_t MidiStreamReader::next_event(std::vector<uint8_t>& event) {
  if (event.size() < 4) event.resize(4);
  Out out{event.data(), event.size(), &event};
  uint32_t delta = Next(out);
  event.resize(out.n);
  return delta;
}

uint32_t MidiStreamReader::peek_delta() {
  ResolvePendingDelta();
  int i = error_ != kMidiNoError ? -1 : PickTrack();
  if (i < 0) {
    endOfSong_ = true;
    return 0;
  }
  return static_cast<uint32_t>(track_[i].next - now_);
}

}  // namespace kestro
