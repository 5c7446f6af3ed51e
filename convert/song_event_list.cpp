#include "convert/song_event_list.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include "platform/format.h"

namespace kestro {

namespace {

namespace sef = song_event_flags;

constexpr uint32_t kMaxTime = 0xFFFFFFFFu;

uint32_t Be32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}

size_t PoolEntrySize(size_t length) { return (length | 1) + 5; }

// A chunk identifier is four letters, digits or spaces.
bool LooksLikeChunkId(const uint8_t* p) {
  for (int i = 0; i < 4; ++i) {
    uint8_t c = p[i];
    bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == ' ';
    if (!ok) return false;
  }
  return true;
}

// The whole file in memory while it is loaded.
struct MidiFileImage {
  std::vector<uint8_t> bytes;  // the file, with room to spare after it
  size_t size = 0;             // bytes of the file
  int format = 0;
  int tracks = 0;
  int division = 0;
  struct Chunk {
    size_t start = 0;
    size_t end = 0;
  };
  std::vector<Chunk> chunks;
  // Counted to size the list.
  size_t events = 0;
  size_t longEvents = 0;
  size_t longBytes = 0;
  size_t poolNeed = 0;
};

// Where a track's reading stands while the tracks are merged.
struct TrackCursor {
  size_t pos = 0;
  size_t end = 0;
  uint64_t time = 0;    // of the next event
  uint8_t status = 0;   // running status nibble, 0 for none
  uint8_t channel = 0;  // running channel
  bool done = false;
};

struct DecodedEvent {
  bool present = false;
  const uint8_t* bytes = nullptr;  // long events point into the image
  size_t length = 0;
  uint8_t shortBytes[3] = {0, 0, 0};
};

// Messages about the file's contents, each shown once per load so that a
// damaged file does not bury the user in boxes.
struct LoadReports {
  bool enabled = false;
  bool sysexShown = false;
  bool unknownMetaShown = false;
};

bool ReadVlq(const uint8_t* d, TrackCursor& c, uint32_t& value) {
  uint64_t v = 0;
  for (int i = 0; i < 5; ++i) {
    if (c.pos >= c.end) return false;
    uint8_t b = d[c.pos++];
    v = (v << 7) | (b & 0x7Fu);
    if (!(b & 0x80)) {
      if (v > kMaxTime) return false;
      value = static_cast<uint32_t>(v);
      return true;
    }
  }
  return false;
}

void ReadNextDelta(const uint8_t* d, TrackCursor& c) {
  uint32_t delta = 0;
  if (c.done || !ReadVlq(d, c, delta)) {
    c.done = true;
    return;
  }
  c.time = std::min<uint64_t>(c.time + delta, kMaxTime);
}

// Decodes the event at the cursor (its delta already read). Bytes that make
// no event are passed over: e.present stays false. A track whose data ends
// inside an event is done.
void DecodeAt(const uint8_t* d, TrackCursor& c, DecodedEvent& e, LoadReports& reports, Env& env) {
  e.present = false;
  if (c.pos >= c.end) {
    c.done = true;
    return;
  }
  size_t start = c.pos;
  uint8_t b = d[c.pos];
  if (b < 0xF0) {
    uint8_t status;
    if (b & 0x80) {
      status = b;
      ++c.pos;
      c.status = b & 0xF0;
      c.channel = b & 0x0F;
    } else {
      if (c.status == 0) {
        ++c.pos;  // a data byte with nothing to complete
        return;
      }
      status = static_cast<uint8_t>(c.status | c.channel);
    }
    uint8_t nibble = status & 0xF0;
    size_t dataBytes = (nibble == 0xC0 || nibble == 0xD0) ? 1 : 2;
    if (c.end - c.pos < dataBytes) {
      c.done = true;
      return;
    }
    e.shortBytes[0] = status;
    e.shortBytes[1] = d[c.pos];
    e.shortBytes[2] = dataBytes == 2 ? d[c.pos + 1] : 0;
    c.pos += dataBytes;
    e.bytes = e.shortBytes;
    e.length = 1 + dataBytes;
    e.present = true;
    return;
  }
  if (b == 0xF0 || b == 0xF7) {
    c.status = 0;
    ++c.pos;
    uint32_t length = 0;
    if (!ReadVlq(d, c, length)) {
      c.done = true;
      return;
    }
    size_t bodyEnd = c.end - c.pos < length ? c.end : c.pos + length;
    size_t stored = bodyEnd;
    for (size_t i = c.pos; i < bodyEnd; ++i) {
      if (d[i] == 0xF7) {
        stored = i + 1;
        break;
      }
      if (d[i] & 0x80) {
        stored = i;
        if (reports.enabled && !reports.sysexShown) {
          reports.sysexShown = true;
          ShowErrorWarning(env, "Error in Midifile!\n\nSystemexclusive message with bit 8 set.\nTruncated!");
        }
        break;
      }
    }
    c.pos = bodyEnd;
    e.bytes = d + start;
    e.length = stored - start;
    e.present = true;
    return;
  }
  if (b == 0xFF) {
    c.status = 0;
    if (c.end - c.pos < 2) {
      c.done = true;
      return;
    }
    uint8_t type = d[c.pos + 1];
    c.pos += 2;
    uint32_t length = 0;
    if (!ReadVlq(d, c, length)) {
      c.done = true;
      return;
    }
    size_t bodyEnd = c.end - c.pos < length ? c.end : c.pos + length;
    c.pos = bodyEnd;
    if (type > 127) {
      if (reports.enabled && !reports.unknownMetaShown) {
        reports.unknownMetaShown = true;
        ShowErrorWarning(env, Fmt("<Unknown metaevent > 127>|%d h%2x", type, type));
      }
      return;
    }
    e.bytes = d + start;
    e.length = bodyEnd - start;
    e.present = true;
    if (type == 0x2F) c.done = true;
    return;
  }
  ++c.pos;  // 0xF1-0xFE other than 0xF7: nothing to read
}

// Reads the file into the image; false with the message shown.
bool ReadImage(Env& env, const std::filesystem::path& path, MidiFileImage& img) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) {
    ShowErrorWarning(env, Fmt("Couldn't find file <%s>", path.string()));
    return false;
  }
  uint8_t id[4] = {0, 0, 0, 0};
  bool isMidi = std::fread(id, 1, 4, f) == 4 && std::memcmp(id, "MThd", 4) == 0;
  long size = -1;
  if (isMidi && std::fseek(f, 0, SEEK_END) == 0) size = std::ftell(f);
  if (!isMidi || size < 14 || std::fseek(f, 0, SEEK_SET) != 0) {
    std::fclose(f);
    ShowErrorWarning(env, "This is not\na standard midifile!\nHeadchunk <> 'MThd'");
    return false;
  }
  try {
    img.bytes.assign(static_cast<size_t>(size) + 100000, 0);
  } catch (const std::bad_alloc&) {
    std::fclose(f);
    ShowErrorWarning(env, "Can't init midifilebuffer!");
    return false;
  }
  size_t got = 0;
  while (got < static_cast<size_t>(size)) {
    size_t want = std::min<size_t>(4096, static_cast<size_t>(size) - got);
    size_t k = std::fread(img.bytes.data() + got, 1, want, f);
    got += k;
    if (k < want) break;
  }
  std::fclose(f);
  if (got < static_cast<size_t>(size)) {
    ShowErrorWarning(env, "Read error");
    return false;
  }
  img.size = got;
  return true;
}

// Finds the data of each track and counts its events; false with the
// message shown.
bool FindTracks(Env& env, MidiFileImage& img) {
  const uint8_t* d = img.bytes.data();
  img.format = (d[8] << 8) | d[9];
  img.tracks = std::min((d[10] << 8) | d[11], SongEventList::kMaxTracks);
  img.division = (d[12] << 8) | d[13];
  uint64_t pos = 8 + uint64_t{Be32(d + 4)};
  int announced = img.tracks;
  for (int i = 0; i < announced; ++i) {
    if (pos + 8 > img.size) {
      ShowErrorWarning(env, Fmt("Track %d: Midifile error!\nAborted\n", i + 1));
      return false;
    }
    size_t p = static_cast<size_t>(pos);
    uint64_t declaredEnd = pos + 8 + Be32(d + p + 4);
    if (std::memcmp(d + p, "MTrk", 4) != 0) {
      // Not a track: stepped over, and one track fewer.
      --img.tracks;
      pos = declaredEnd;
      continue;
    }
    MidiFileImage::Chunk chunk{p + 8, 0};
    // The declared length when the next chunk (or the end of the file)
    // follows it; else the data runs to the next "MTrk".
    if (declaredEnd == img.size || (declaredEnd + 8 <= img.size && LooksLikeChunkId(d + declaredEnd))) {
      chunk.end = static_cast<size_t>(declaredEnd);
    } else {
      const uint8_t* from = d + chunk.start;
      const uint8_t* last = d + img.size;
      static constexpr uint8_t kMTrk[4] = {'M', 'T', 'r', 'k'};
      const uint8_t* hit = std::search(from, last, kMTrk, kMTrk + 4);
      if (hit != last) {
        chunk.end = static_cast<size_t>(hit - d);
      } else if (i == announced - 1) {
        chunk.end = img.size;
      } else {
        ShowErrorWarning(env, Fmt("Track %d: Midifile error!\nAborted\n", i + 1));
        return false;
      }
    }
    pos = chunk.end;
    img.chunks.push_back(chunk);

    TrackCursor c;
    c.pos = chunk.start;
    c.end = chunk.end;
    LoadReports quiet;
    DecodedEvent e;
    ReadNextDelta(d, c);
    while (!c.done) {
      DecodeAt(d, c, e, quiet, env);
      if (e.present) {
        ++img.events;
        if (e.length > 3) {
          ++img.longEvents;
          img.longBytes += e.length;
          img.poolNeed += PoolEntrySize(e.length);
        }
      }
      ReadNextDelta(d, c);
    }
  }
  return true;
}

}  // namespace

bool SongEventList::create(size_t events, size_t poolBytes) {
  release();
  try {
    events_.reserve(events);
    pool_.assign(poolBytes, 0);
  } catch (const std::bad_alloc&) {
    release();
    return false;
  }
  capacity_ = events;
  return true;
}

void SongEventList::release() {
  std::vector<SongEvent>().swap(events_);
  std::vector<uint8_t>().swap(pool_);
  capacity_ = 0;
  poolFill_ = 0;
  info_ = SongInfo{};
}

int SongEventList::track_of(size_t index) const {
  return static_cast<int>((at(index).flags & sef::kTrackMask) >> sef::kTrackShift);
}

void SongEventList::set_hidden(size_t index, bool hidden) {
  SongEvent& e = events_.at(index);
  e.flags = hidden ? (e.flags | sef::kHidden) : (e.flags & ~sef::kHidden);
}

std::span<const uint8_t> SongEventList::event_bytes(size_t index) const {
  if (index >= events_.size()) return {};
  const SongEvent& e = events_[index];
  if (!(e.flags & sef::kLong)) return {e.data + 1, e.data[0]};
  uint32_t offset = 0;
  std::memcpy(&offset, e.data, 4);
  uint32_t length = 0;
  std::memcpy(&length, pool_.data() + offset, 4);
  return {pool_.data() + offset + 4, length};
}

bool SongEventList::insert_at_time(uint32_t time, std::span<const uint8_t> bytes, int track) {
  if (bytes.empty()) return false;
  bool isLong = bytes.size() > 3;
  if (events_.size() >= capacity_ || bytes.size() > kMaxEventBytes ||
      (isLong && pool_.size() - poolFill_ < PoolEntrySize(bytes.size()))) {
    ShowErrorWarning(env_, "Too many events.|Out of memory!");
    return false;
  }
  SongEvent e{};
  e.time = time;
  e.flags = (static_cast<uint32_t>(track) << sef::kTrackShift) & sef::kTrackMask;
  if (isLong) {
    e.flags |= sef::kLong;
    uint32_t offset = static_cast<uint32_t>(poolFill_);
    uint32_t length = static_cast<uint32_t>(bytes.size());
    uint8_t* entry = pool_.data() + poolFill_;
    std::memcpy(entry, &length, 4);
    std::memcpy(entry + 4, bytes.data(), bytes.size());
    entry[4 + bytes.size()] = 0;
    poolFill_ += PoolEntrySize(bytes.size());
    std::memcpy(e.data, &offset, 4);
  } else {
    e.data[0] = static_cast<uint8_t>(bytes.size());
    std::memcpy(e.data + 1, bytes.data(), bytes.size());
  }
  if (events_.empty() || time >= events_.back().time) {
    e.flags |= sef::kAppended;
    events_.push_back(e);
  } else {
    e.flags |= sef::kInserted;
    auto at = std::lower_bound(events_.begin(), events_.end(), time,
                               [](const SongEvent& x, uint32_t t) { return x.time < t; });
    events_.insert(at, e);
  }
  return true;
}

void SongEventList::SortEqualTimes() {
  auto bytesOf = [this](const SongEvent& e) -> std::span<const uint8_t> {
    uint32_t offset = 0, length = 0;
    std::memcpy(&offset, e.data, 4);
    std::memcpy(&length, pool_.data() + offset, 4);
    return {pool_.data() + offset + 4, length};
  };
  // Track name first, then text events, then the rest by their bytes.
  auto rank = [](std::span<const uint8_t> b) { return b[0] == 0xFF && b[1] == 0x03 ? 0 : b[0] == 0xFF && b[1] == 0x01 ? 1 : 2; };
  auto before = [&](const SongEvent& a, const SongEvent& b) {
    bool la = a.flags & sef::kLong, lb = b.flags & sef::kLong;
    if (la != lb) return la;
    if (!la) return std::memcmp(a.data, b.data, 4) < 0;
    auto ba = bytesOf(a), bb = bytesOf(b);
    int ra = rank(ba), rb = rank(bb);
    if (ra != rb) return ra < rb;
    return std::lexicographical_compare(ba.begin(), ba.end(), bb.begin(), bb.end());
  };
  size_t i = 0;
  while (i < events_.size()) {
    size_t j = i + 1;
    while (j < events_.size() && events_[j].time == events_[i].time) ++j;
    // Events that compare equal keep the order they were merged in.
    if (j - i > 1) std::stable_sort(events_.begin() + static_cast<long>(i), events_.begin() + static_cast<long>(j), before);
    i = j;
  }
}

bool SongEventList::load(const std::filesystem::path& path) {
  release();
  MidiFileImage img;
  if (!ReadImage(env_, path, img)) return false;
  if (!FindTracks(env_, img)) return false;

  size_t poolBytes = std::max<size_t>(img.longBytes + 4 * img.longEvents, 10000) + 20001;
  if (!create(img.events + 10000, std::max(poolBytes, img.poolNeed))) {
    ShowErrorWarning(env_, "Out of memory");
    return false;
  }
  info_.division = img.division;
  info_.format = img.format;
  info_.tracks = static_cast<int>(img.chunks.size()) + 1;
  info_.gridQuarter = img.division / 4;
  info_.gridSixteenth = img.division / 16;
  info_.path = path;

  const uint8_t* d = img.bytes.data();
  std::vector<TrackCursor> cursors(img.chunks.size());
  for (size_t t = 0; t < cursors.size(); ++t) {
    cursors[t].pos = img.chunks[t].start;
    cursors[t].end = img.chunks[t].end;
    ReadNextDelta(d, cursors[t]);
  }
  const uint64_t limit = uint64_t(img.division) * 8000;  // 2000 bars of 4/4
  bool asked = false;
  LoadReports reports;
  reports.enabled = true;
  DecodedEvent e;
  while (true) {
    int current = -1;
    for (size_t t = 0; t < cursors.size(); ++t) {
      if (!cursors[t].done && (current < 0 || cursors[t].time < cursors[static_cast<size_t>(current)].time))
        current = static_cast<int>(t);
    }
    if (current < 0) break;
    TrackCursor& c = cursors[static_cast<size_t>(current)];
    // The same track stays current while its deltas are 0.
    do {
      DecodeAt(d, c, e, reports, env_);
      if (e.present) {
        if (!asked && c.time > limit) {
          asked = true;
          int answer = env_.ui.SystemMessage("Time > 2000 bars!|File may be corrupted!|Continue anyway?", "Alert",
                                             mb::kOkCancel | mb::kIconQuestion);
          if (answer != kIdOk) {
            ShowErrorWarning(env_, "Attention!|File not completly loaded!");
            SortEqualTimes();
            return true;
          }
        }
        if (!insert_at_time(static_cast<uint32_t>(c.time), {e.bytes, e.length}, current)) {
          release();
          return false;
        }
      }
      uint64_t before = c.time;
      ReadNextDelta(d, c);
      if (c.done || c.time != before) break;
    } while (true);
  }
  SortEqualTimes();
  return true;
}

int SongEventList::catalogue_mark_percent() {
  mark_ = CatalogueMark{};
  if (events_.empty()) {
    ShowErrorWarning(env_, "No file loaded!");
    return 0;
  }
  // The mark spells "MS", eight bits per character.
  const char text[] = "MS";
  constexpr int kBits = 8 * 2;
  int pattern[kBits];
  for (int i = 0; i < 2; ++i) {
    int ch = static_cast<unsigned char>(text[i]);
    int high = (ch >> 5) - 1;
    int* p = pattern + 8 * i;
    for (int b = 0; b < 5; ++b) p[b] = (ch >> b) & 1;
    p[5] = ((ch >> 5) & 1) ^ 1;
    p[6] = (high >> 1) & 1;
    p[7] = (high >> 2) & 1;
  }

  // First pass: system events, note-ons with velocity 0 become note-offs.
  for (SongEvent& e : events_) {
    if (e.flags & sef::kHidden) continue;
    if (e.flags & sef::kLong) {
      ++mark_.systemEvents;
      continue;
    }
    uint8_t status = e.data[1];
    if (status >= 0xF0) ++mark_.systemEvents;
    if (e.data[0] == 3 && (status & 0xF0) == 0x90 && e.data[3] == 0) {
      e.data[1] = static_cast<uint8_t>(0x80 | (status & 0x0F));
      e.data[3] = 64;
    }
  }

  // Every scan looks at its own kind of event with its own pattern position;
  // the scans are independent, so one walk serves them all.
  enum Scan { kCc7, kCc11, kCc1, kNoteOn, kPitchBend, kNoteOff, kScans };
  int position[16][kScans] = {};
  int drumPosition[128] = {};
  auto step = [&](int& k, int bit) {
    if (bit == pattern[k]) {
      if (++k == kBits - 2) {
        mark_.matchedBits += kBits;
        ++mark_.patterns;
        k = 0;
      }
    } else {
      ++mark_.mismatches;
      k = 0;
    }
  };
  for (const SongEvent& e : events_) {
    if ((e.flags & (sef::kHidden | sef::kLong)) || e.data[0] != 3) continue;
    uint8_t status = e.data[1], d1 = e.data[2], value = e.data[3];
    if (status < 0x80 || status >= 0xF0) continue;
    int channel = status & 0x0F;
    int* k = nullptr;
    int low = 32;
    switch (status & 0xF0) {
      case 0x80:
        k = &position[channel][kNoteOff];
        break;
      case 0x90:
        if (channel == 9) {
          if (d1 < 128) k = &drumPosition[d1];
          low = 16;
        } else {
          k = &position[channel][kNoteOn];
        }
        break;
      case 0xB0:
        if (channel == 9) break;
        if (d1 == 7) k = &position[channel][kCc7];
        if (d1 == 11) k = &position[channel][kCc11];
        if (d1 == 1) k = &position[channel][kCc1];
        break;
      case 0xE0:
        if (channel != 9) k = &position[channel][kPitchBend];
        break;
      default:
        break;
    }
    if (k && value >= low && value <= 127) step(*k, value & 1);
  }

  mark_.percent = static_cast<int>(mark_.matchedBits * 100 / static_cast<int64_t>(events_.size()));
  int64_t seen = mark_.matchedBits + mark_.mismatches;
  mark_.matchRatio = seen == 0 ? -1 : static_cast<int>(mark_.matchedBits * 100 / seen);
  return mark_.percent;
}

}  // namespace kestro
