// Shared pieces of the converter tests: an install folder with a scripted
// user, MIDI tracks built at absolute times, and a reader for MF4 content
// (which other MIDI readers do not take: the FF 00 FF marker outside the
// counted track data and the two-byte note-offs).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "convert/convert_context.h"
#include "convert/karaoke.h"
#include "convert/tests/midi_test_support.h"
#include "platform/clock.h"
#include "platform/fileutil.h"
#include "platform/profile.h"
#include "platform/scripted_ui.h"
#include "platform/testing/testsupport.h"
#include "context/dictionary.h"
#include "context/env.h"

namespace kestro::mf4test {

using miditest::ByteVec;
using miditest::Hex;
using miditest::Smf;

inline constexpr const char* kDictionary =
    "[ENUMKEYS]\nK0=MSG_CAPTION_WARNING\nK1=MSG_CANTOPEN\nK2=MSG_COPYRIGHT\nK3=MSG_READERROR\n"
    "K4=MSG_CANTCREATE\nK5=MSG_WRITEERROR\n"
    "[ITALIANO]\nMSG_CAPTION_WARNING=Attenzione\nMSG_CANTOPEN=Impossibile aprire il file %s\n"
    "MSG_COPYRIGHT=Tutti i diritti riservati\nMSG_READERROR=Errore di lettura\n"
    "MSG_CANTCREATE=Impossibile creare il file %s\nMSG_WRITEERROR=Errore di scrittura\n"
    "[FRENCH]\nMSG_CAPTION_WARNING=Attention\nMSG_CANTOPEN=Impossible d'ouvrir %s\n"
    "MSG_COPYRIGHT=Tous droits r\xE9serv\xE9s\nMSG_READERROR=Erreur de lecture\n"
    "MSG_CANTCREATE=Impossible de cr\xE9\x65r %s\nMSG_WRITEERROR=Erreur d'\xE9\x63riture\n";

// An install folder (the temporary folder) with a scripted user.
struct Install {
  testing::TempDir dir;
  ScriptedUi ui;
  VirtualClock clock;
  ProfileFile profile{dir / "Zumbla.INI"};
  Dictionary dict;
  std::unique_ptr<Env> env;
  ConvertContext ctx;

  explicit Install(const char* language = "ITALIANO") {
    dict.LoadFromText(kDictionary, language, ui);
    env = std::make_unique<Env>(Env{ui, clock, profile, dict, dir.path()});
  }
  std::filesystem::path Path(const std::string& name) const { return dir / name; }
  std::filesystem::path Write(const std::string& name, const ByteVec& bytes) const {
    auto p = Path(name);
    testing::WriteFileOrDie(p, std::string(bytes.begin(), bytes.end()));
    return p;
  }
  ByteVec Read(const std::string& name) const {
    auto b = ReadBinaryFile(Path(name));
    return b ? *b : ByteVec{};
  }
};

inline void AppendVlq(ByteVec& v, uint32_t x) {
  uint8_t buf[5];
  int n = 0;
  do {
    buf[n++] = static_cast<uint8_t>(x & 0x7F);
    x >>= 7;
  } while (x);
  while (n--) v.push_back(static_cast<uint8_t>(buf[n] | (n ? 0x80 : 0)));
}

// A track chunk's data with events at absolute times.
struct Track {
  ByteVec data;
  uint32_t last = 0;
  Track& At(uint32_t t, const ByteVec& ev) {
    AppendVlq(data, t - last);
    data.insert(data.end(), ev.begin(), ev.end());
    last = t;
    return *this;
  }
  // A meta event with its length as one or two 7-bit groups.
  Track& Meta(uint32_t t, uint8_t type, const std::string& text) { return At(t, MetaEvent(type, text)); }
  static ByteVec MetaEvent(uint8_t type, const std::string& text) {
    ByteVec ev = {0xFF, type};
    if (text.size() < 128) {
      ev.push_back(static_cast<uint8_t>(text.size()));
    } else {
      ev.push_back(static_cast<uint8_t>(0x80 | (text.size() / 128)));
      ev.push_back(static_cast<uint8_t>(text.size() % 128));
    }
    ev.insert(ev.end(), text.begin(), text.end());
    return ev;
  }
  ByteVec End() {
    At(last, {0xFF, 0x2F, 0x00});
    return data;
  }
};

// A whole file from tracks that are already ended.
inline ByteVec SongFile(int division, const std::vector<ByteVec>& tracks, int format = -1) {
  Smf smf(format >= 0 ? format : (tracks.size() > 1 ? 1 : 0), static_cast<int>(tracks.size()), division);
  for (const auto& t : tracks) smf.Track(t);
  return smf.bytes;
}

struct Mf4Event {
  uint32_t time;
  ByteVec bytes;
  bool operator==(const Mf4Event&) const = default;
};
inline void PrintTo(const Mf4Event& e, std::ostream* os) { *os << "{" << e.time << " [" << Hex(e.bytes) << "]}"; }

struct Mf4Content {
  int division = 0;
  uint32_t trackLength = 0;
  std::vector<Mf4Event> events;  // without the closing FF 2F
  bool ended = false;            // an FF 2F 00 ended the events
  ByteVec trailing;              // bytes of the track after that end
};

// Reads MF4 content as the player does; nothing (and a reason) when the
// bytes do not follow the layout.
inline std::optional<Mf4Content> ParseMf4(const ByteVec& f, std::string* why) {
  auto fail = [&](const std::string& w) {
    *why = w;
    return std::nullopt;
  };
  auto be32 = [&](size_t i) { return uint32_t{f[i]} << 24 | uint32_t{f[i + 1]} << 16 | uint32_t{f[i + 2]} << 8 | f[i + 3]; };
  if (f.size() < 25) return fail("shorter than 25 bytes");
  if (ByteVec(f.begin(), f.begin() + 14) != ByteVec{'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, f[12], f[13]})
    return fail("header chunk");
  Mf4Content c;
  c.division = f[12] << 8 | f[13];
  if (ByteVec(f.begin() + 14, f.begin() + 18) != ByteVec{'M', 'T', 'r', 'k'}) return fail("track chunk");
  c.trackLength = be32(18);
  if (ByteVec(f.begin() + 22, f.begin() + 25) != ByteVec{0xFF, 0x00, 0xFF}) return fail("marker");
  if (c.trackLength != f.size() - 25) return fail("track length " + std::to_string(c.trackLength));
  size_t i = 25;
  uint32_t time = 0;
  auto need = [&](size_t n) { return i + n <= f.size(); };
  while (i < f.size()) {
    uint32_t delta = 0;
    int k = 0;
    for (;; ++k) {
      if (!need(1) || k == 4) return std::nullopt;
      uint8_t b = f[i++];
      delta = delta << 7 | (b & 0x7F);
      if (!(b & 0x80)) break;
    }
    time += delta;
    if (!need(1)) return fail("event missing");
    const uint8_t st = f[i];
    if (!(st & 0x80)) return fail("running status at " + std::to_string(i));
    size_t len;
    if (st == 0xF0 || st == 0xFF) {
      size_t h = st == 0xFF ? 2 : 1;
      if (!need(h + 1)) return fail("long event header");
      size_t body = f[i + h];
      size_t lenBytes = 1;
      if (body & 0x80) {
        if (!need(h + 2)) return fail("long event length");
        body = (body & 0x7F) * 128 + f[i + h + 1];
        lenBytes = 2;
      }
      len = h + lenBytes + body;
    } else {
      const uint8_t kind = st & 0xF0;
      len = kind == 0x80 || kind == 0xC0 || kind == 0xD0 ? 2 : 3;
    }
    if (!need(len)) return fail("event past the end");
    ByteVec ev(f.begin() + static_cast<long>(i), f.begin() + static_cast<long>(i + len));
    i += len;
    if (ev == ByteVec{0xFF, 0x2F, 0x00}) {
      c.ended = true;
      c.trailing.assign(f.begin() + static_cast<long>(i), f.end());
      break;
    }
    c.events.push_back({time, ev});
  }
  return c;
}

// Converted content ends with its one end of track.
inline Mf4Content ParseOrFail(const ByteVec& f, bool allowTrailing = false) {
  std::string why;
  auto c = ParseMf4(f, &why);
  EXPECT_TRUE(c.has_value()) << why;
  if (c && !allowTrailing) {
    EXPECT_TRUE(c->ended);
    EXPECT_TRUE(c->trailing.empty()) << "bytes after the end of track";
  }
  return c.value_or(Mf4Content{});
}

// The events of one kind of karaoke message, in order.
inline std::vector<Mf4Event> KaraokeOfKind(const std::vector<Mf4Event>& events, int kind) {
  std::vector<Mf4Event> out;
  for (const auto& e : events) {
    if (KaraokeKind(e.bytes) == kind) out.push_back(e);
  }
  return out;
}

inline ByteVec Karaoke(uint8_t kind, const std::string& text) { return MakeKaraokeMessage(kind, text); }

}  // namespace kestro::mf4test
