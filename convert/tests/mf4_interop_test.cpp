// Karaoke files that other programs made (abc2midi, python3-mido), imported
// and read back with the MF4 reader of the tests, against the source as mido
// reads it.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "convert/karaoke.h"
#include "convert/mf4_converter.h"
#include "convert/tests/mf4_test_support.h"

namespace kestro {
namespace {

namespace fs = std::filesystem;
using namespace mf4test;

// write_lyrics / write_plain make a song; dump prints what mido reads:
//   division N
//   note TIME CHANNEL NOTE on VELOCITY | off off | off zero
//   text TIME TRACK TYPE HEX
const char* kScript = R"PY(
import sys
import mido

def song(path, words):
    mf = mido.MidiFile(type=1, ticks_per_beat=192)
    t0 = mido.MidiTrack()
    t0.append(mido.MetaMessage('track_name', name='Canzone di prova'))
    t0.append(mido.MetaMessage('set_tempo', tempo=500000))
    t0.append(mido.MetaMessage('time_signature', numerator=4, denominator=4))
    mf.tracks.append(t0)
    voice = mido.MidiTrack()
    voice.append(mido.MetaMessage('track_name', name='Voce'))
    voice.append(mido.Message('program_change', channel=0, program=53))
    lines = ['Quan do la not te scen de sul ma re', 'le stel le bril la no so pra di noi',
             'can ta con me que sta can zo ne', 'fin che il so le tor ne ra',
             'e la lu na se ne an dra', 'noi re stia mo qui a sog na re']
    pitch = 60
    wait = 192
    for line in lines:
        sylls = line.split(' ')
        for i, s in enumerate(sylls):
            text = s + (' ' if i + 1 < len(sylls) else '\r')
            if words:
                voice.append(mido.MetaMessage('lyrics', text=text, time=wait))
                wait = 0
            voice.append(mido.Message('note_on', channel=0, note=pitch, velocity=90, time=wait))
            wait = 0
            voice.append(mido.Message('note_off', channel=0, note=pitch, velocity=64, time=90))
            voice.append(mido.Message('note_on', channel=0, note=pitch + 4, velocity=0, time=6))
            pitch = 60 + (pitch + 3) % 12
    mf.tracks.append(voice)
    drums = mido.MidiTrack()
    drums.append(mido.Message('control_change', channel=9, control=7, value=110))
    for i in range(120):
        note = [36, 38, 42, 46, 49, 61][i % 6]
        drums.append(mido.Message('note_on', channel=9, note=note, velocity=100, time=48))
        if i % 2:
            drums.append(mido.Message('note_off', channel=9, note=note, velocity=0, time=10))
        else:
            drums.append(mido.Message('note_on', channel=9, note=note, velocity=0, time=10))
    mf.tracks.append(drums)
    mf.save(path)

def dump(path):
    mf = mido.MidiFile(path)
    print('division', mf.ticks_per_beat)
    for ti, track in enumerate(mf.tracks):
        t = 0
        for msg in track:
            t += msg.time
            if msg.type == 'note_on' and msg.velocity > 0:
                print('note', t, msg.channel, msg.note, 'on', msg.velocity)
            elif msg.type == 'note_on':
                print('note', t, msg.channel, msg.note, 'off', 'zero')
            elif msg.type == 'note_off':
                print('note', t, msg.channel, msg.note, 'off', 'off')
            elif msg.type in ('lyrics', 'text'):
                data = msg.bytes()[3:] if msg.bytes()[2] < 128 else msg.bytes()[4:]
                print('text', t, ti, '%02x' % msg.bytes()[1], bytes(data).hex() or '-')

if sys.argv[1] == 'write_lyrics':
    song(sys.argv[2], True)
elif sys.argv[1] == 'write_plain':
    song(sys.argv[2], False)
else:
    dump(sys.argv[2])
)PY";

const char* kAbc = R"ABC(X:1
T:Canzone dell'ABC
M:4/4
L:1/8
Q:1/4=110
K:C
CDEF GABc|c2B2 A2G2|FGAB c2c2|B2A2 G4|
w:Quan-do la not-te scen-de lon-ta-na can-ta-no i gril-li nel pra-to
EFGA B2c2|d2c2 B2A2|GABc d2d2|c2B2 A4|
w:e le stel-le guar-da-no giu sul-la cit-ta che dor-me tran-quil-la
CEGc e2d2|c2B2 A2G2|FEDC D2E2|D2C2 C4|
w:can-to per te que-sta can-zo-ne sem-pli-ce e can-to per me
GFED C2D2|E2F2 G2A2|B2c2 d2e2|c8|
w:fin-che la lu-na non tor-na a dor-mi-re nel ma-re
)ABC";

struct SourceNote {
  uint32_t time;
  int channel;
  int note;
  bool on;
  int velocity;
  auto operator<=>(const SourceNote&) const = default;
};

struct MidoView {
  int division = 0;
  std::vector<SourceNote> notes;          // offs carry velocity -1; "off" type kept apart
  std::vector<std::tuple<uint32_t, int, int>> trueOffs;  // note_off messages: time, channel, note
  std::vector<std::tuple<uint32_t, int, int, std::string>> texts;  // time, track, type, bytes
};

std::string Unhex(const std::string& h) {
  if (h == "-") return {};
  std::string s;
  for (size_t i = 0; i + 1 < h.size(); i += 2) s += static_cast<char>(std::stoi(h.substr(i, 2), nullptr, 16));
  return s;
}

MidoView ParseDump(const std::string& dump) {
  MidoView v;
  std::istringstream in(dump);
  std::string word;
  while (in >> word) {
    if (word == "division") {
      in >> v.division;
    } else if (word == "note") {
      uint32_t t;
      int ch, note;
      std::string kind, extra;
      in >> t >> ch >> note >> kind >> extra;
      if (kind == "on") {
        v.notes.push_back({t, ch, note, true, std::stoi(extra)});
      } else {
        v.notes.push_back({t, ch, note, false, -1});
        if (extra == "off") v.trueOffs.push_back({t, ch, note});
      }
    } else if (word == "text") {
      uint32_t t;
      int track;
      std::string type, hex;
      in >> t >> track >> type >> hex;
      v.texts.push_back({t, track, std::stoi(type, nullptr, 16), Unhex(hex)});
    }
  }
  return v;
}

class Interop : public ::testing::Test {
 protected:
  Install in;

  std::string Mido(const std::string& mode, const fs::path& file) {
    auto script = in.Path("mido_tool.py");
    testing::WriteFileOrDie(script, kScript);
    auto r = testing::Run({testing::Python3(), script.string(), mode, file.string()});
    EXPECT_EQ(r.status, 0) << r.err;
    return r.out;
  }

  // Imports `src`, checks the notes against mido and returns the content.
  Mf4Content ImportAndCompareNotes(const fs::path& src) {
    MidoView m = ParseDump(Mido("dump", src));
    EXPECT_GT(m.notes.size(), 100u);
    in.ui.answers = {kIdYes};
    EXPECT_EQ(import_midi_file(*in.env, in.ctx, src, in.Path("0.MID"), true), kImportGoOn);
    Mf4Content c = ParseOrFail(in.Read("0.MID"));
    EXPECT_EQ(c.division, 480);

    std::vector<SourceNote> want;
    for (const auto& n : m.notes) {
      const bool trueOff = std::find(m.trueOffs.begin(), m.trueOffs.end(), std::make_tuple(n.time, n.channel, n.note)) !=
                           m.trueOffs.end();
      if (!n.on && trueOff && n.channel == 9 && n.note >= 35 && n.note <= 60 && n.note != 46) continue;
      want.push_back({scale_time(n.time, m.division), n.channel, n.note, n.on, n.velocity});
    }
    std::vector<SourceNote> got;
    for (const auto& e : c.events) {
      const int kind = e.bytes[0] & 0xF0, ch = e.bytes[0] & 0x0F;
      if (kind == 0x90) {
        EXPECT_NE(e.bytes[2], 0) << "note-offs are two-byte 8n events";
        got.push_back({e.time, ch, e.bytes[1], true, e.bytes[2]});
      } else if (kind == 0x80) {
        EXPECT_EQ(e.bytes.size(), 2u);
        got.push_back({e.time, ch, e.bytes[1], false, -1});
      }
    }
    std::sort(want.begin(), want.end());
    std::sort(got.begin(), got.end());
    EXPECT_EQ(got.size(), want.size());
    EXPECT_TRUE(got == want);
    return c;
  }

  // The karaoke messages that the lyric layout prescribes: the two start
  // marks, pages of four lines with a preview after the fourth, colour steps
  // and letter counts; the lines hold the song's letters in order.
  void ExpectKaraoke(const Mf4Content& c, const std::string& letters, int division) {
    ASSERT_GE(c.events.size(), 2u);
    auto start = KaraokeOfKind(c.events, 0x44);
    ASSERT_EQ(start.size(), 1u);
    EXPECT_EQ(start[0].time, scale_time(5, division));
    ASSERT_EQ(KaraokeOfKind(c.events, 3).size(), 1u);
    std::string shown;
    int steps = 0, lines = 0;
    for (size_t i = 0; i < c.events.size(); ++i) {
      const int k = KaraokeKind(c.events[i].bytes);
      if (k >= 4 && k <= 7) {
        ++lines;
        for (char ch : KaraokeText(c.events[i].bytes)) {
          if (ch != ' ' && ch != '\n') shown += ch;
        }
      }
      if (k == 7) {
        ASSERT_LT(i + 1, c.events.size());
        EXPECT_EQ(KaraokeKind(c.events[i + 1].bytes), 15) << "a preview follows the fourth line";
      }
      if (k == 8) ++steps;
    }
    EXPECT_EQ(lines % 4, 0);
    EXPECT_GE(lines, 8);
    EXPECT_GT(steps, lines / 4);
    EXPECT_EQ(shown, letters);
    // Letter counts within a line grow and end at the line's letter count.
    int lastCount = 0;
    for (const auto& e : c.events) {
      if (KaraokeKind(e.bytes) == 8) lastCount = 0;
      if (e.bytes.size() == 3 && e.bytes[0] == 0xB0 && e.bytes[1] == 0x1F && e.bytes[2] != 0x7F) {
        if (e.bytes[2] != 0) {
          EXPECT_GT(e.bytes[2], lastCount);
        }
        lastCount = e.bytes[2];
      }
    }
  }
};

std::string LettersOf(const std::string& text) {
  std::string s;
  for (char ch : text) {
    if (ch != ' ' && ch != '/' && ch != '\\' && ch != '\r' && ch != '\n') s += ch;
  }
  return s;
}

TEST_F(Interop, Abc2midiKaraokeWithTextEvents) {
  auto abc = in.Path("canzone.abc");
  testing::WriteFileOrDie(abc, kAbc);
  auto src = in.Path("canzone.kar");
  auto run = testing::Run({"/usr/bin/abc2midi", abc.string(), "1", "-o", src.string()});
  ASSERT_EQ(run.status, 0) << run.out << run.err;

  // What abc2midi writes: the words as FF 01 text events of the tune's
  // track, with "/" and "\" starting lines and paragraphs.
  MidoView m = ParseDump(Mido("dump", src));
  std::string words;
  bool slash = false, backslash = false;
  for (const auto& [t, track, type, text] : m.texts) {
    if (type != 0x01 || track != 1 || t == 0) continue;
    words += text;
    slash |= text.find('/') != std::string::npos;
    backslash |= text.find('\\') != std::string::npos;
  }
  ASSERT_TRUE(slash && backslash) << words;
  ASSERT_GT(words.size(), 120u);

  Mf4Content c = ImportAndCompareNotes(src);
  ExpectKaraoke(c, LettersOf(words), m.division);
  EXPECT_EQ(in.ctx.Title(), "CANZONE DELL'ABC");
  EXPECT_TRUE(in.ui.messages.empty()) << in.ui.messages[0].text;
}

TEST_F(Interop, MidoSongWithLyricEvents) {
  auto src = in.Path("lyrics.mid");
  Mido("write_lyrics", src);
  MidoView m = ParseDump(Mido("dump", src));
  std::string words;
  for (const auto& [t, track, type, text] : m.texts) {
    if (type == 0x05) words += text;
  }
  Mf4Content c = ImportAndCompareNotes(src);
  // The voice track's name heads its text.
  ExpectKaraoke(c, LettersOf("Voce" + words), m.division);
  EXPECT_EQ(in.ctx.Title(), "CANZONE DI PROVA");
  EXPECT_EQ(in.ctx.Tempo(), 120);
  EXPECT_EQ(in.ctx.Program(0), 53);
  EXPECT_EQ(in.ctx.Volume(9), 110);
  EXPECT_TRUE(in.ui.messages.empty());
}

TEST_F(Interop, SongWithoutWords) {
  auto src = in.Path("plain.mid");
  Mido("write_plain", src);
  Mf4Content c = ImportAndCompareNotes(src);
  for (const auto& e : c.events) EXPECT_FALSE(IsKaraokeMessage(e.bytes)) << Hex(e.bytes);
  ASSERT_EQ(in.ui.messages.size(), 1u);
  EXPECT_EQ(in.ui.messages[0].text,
            "La song CANZONE DI PROVA non contiene alcun testo\n\nProcedere con l'importazione ?\n\n");
}

}  // namespace
}  // namespace kestro
