// Shared pieces of the MIDI tests: an Env with a scripted user, a builder for
// MIDI file bytes and a reader loop.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "convert/midi_reader.h"
#include "platform/clock.h"
#include "platform/profile.h"
#include "platform/scripted_ui.h"
#include "platform/testing/testsupport.h"
#include "context/dictionary.h"
#include "context/env.h"

namespace kestro::miditest {

using ByteVec = std::vector<uint8_t>;

struct TestEnv {
  testing::TempDir dir;
  ScriptedUi ui;
  VirtualClock clock;
  ProfileFile profile{dir / "Zumbla.INI"};
  Dictionary dict;
  std::unique_ptr<Env> env;

  TestEnv() {
    dict.LoadFromText("[ENUMKEYS]\nK0=MSG_CAPTION_WARNING\n[ITALIANO]\nMSG_CAPTION_WARNING=Attenzione\n", "ITALIANO",
                      ui);
    env = std::make_unique<Env>(Env{ui, clock, profile, dict, dir.path()});
  }
  std::filesystem::path Path(const std::string& name) const { return dir / name; }
  std::filesystem::path Write(const std::string& name, const ByteVec& bytes) const {
    auto p = Path(name);
    testing::WriteFileOrDie(p, std::string(bytes.begin(), bytes.end()));
    return p;
  }
};

inline void Append(ByteVec& v, std::initializer_list<uint8_t> b) { v.insert(v.end(), b); }
inline void AppendBe32(ByteVec& v, uint32_t x) {
  Append(v, {uint8_t(x >> 24), uint8_t(x >> 16), uint8_t(x >> 8), uint8_t(x)});
}
inline void AppendText(ByteVec& v, const std::string& s) { v.insert(v.end(), s.begin(), s.end()); }

// Builds the bytes of a MIDI file chunk by chunk.
struct Smf {
  ByteVec bytes;
  Smf(int format, int tracks, int division, size_t extraHeader = 0) {
    AppendText(bytes, "MThd");
    AppendBe32(bytes, static_cast<uint32_t>(6 + extraHeader));
    Append(bytes, {uint8_t(format >> 8), uint8_t(format), uint8_t(tracks >> 8), uint8_t(tracks), uint8_t(division >> 8),
                   uint8_t(division)});
    bytes.insert(bytes.end(), extraHeader, 0xAA);
  }
  Smf& Chunk(const std::string& id, const ByteVec& data) {
    AppendText(bytes, id);
    AppendBe32(bytes, static_cast<uint32_t>(data.size()));
    bytes.insert(bytes.end(), data.begin(), data.end());
    return *this;
  }
  Smf& Track(const ByteVec& data) { return Chunk("MTrk", data); }
  // A track chunk whose length field says `declared`.
  Smf& TrackDeclared(const ByteVec& data, uint32_t declared) {
    AppendText(bytes, "MTrk");
    AppendBe32(bytes, declared);
    bytes.insert(bytes.end(), data.begin(), data.end());
    return *this;
  }
};

struct ReadEvent {
  uint32_t delta;
  uint32_t time;
  int track;
  ByteVec bytes;
  bool operator==(const ReadEvent&) const = default;
};

inline std::string Hex(const ByteVec& b) {
  std::string s;
  char buf[4];
  for (size_t i = 0; i < b.size(); ++i) {
    std::snprintf(buf, sizeof buf, i ? " %02x" : "%02x", b[i]);
    s += buf;
  }
  return s;
}

inline void PrintTo(const ReadEvent& e, std::ostream* os) {
  *os << "{d=" << e.delta << " t=" << e.time << " tr=" << e.track << " [" << Hex(e.bytes) << "]}";
}

// Reads the whole stream (at most `limit` events).
inline std::vector<ReadEvent> ReadAll(MidiStreamReader& r, size_t limit = 1000000) {
  std::vector<ReadEvent> out;
  ByteVec ev;
  while (out.size() < limit) {
    uint32_t d = r.next_event(ev);
    if (r.end_of_song() || (ev.empty() && r.error())) break;
    out.push_back({d, r.absolute_time(), r.current_track(), ev});
    if (r.error()) break;
  }
  return out;
}

}  // namespace kestro::miditest
