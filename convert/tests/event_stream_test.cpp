// The decoded event stream of a song made a Standard MIDI File for playing:
// hand-made streams with every event form, and streams the converter made,
// read back with python3-mido.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "convert/event_stream.h"
#include "convert/karaoke.h"
#include "convert/mf4_converter.h"
#include "convert/tests/mf4_test_support.h"

namespace kestro {
namespace {

namespace fs = std::filesystem;
using namespace mf4test;

// dump FILE prints "division N", then "TIME TRACK HEX" for every message,
// TIME absolute; song FILE writes a two-track song at 192 ticks per quarter
// note with lyrics, notes ended both ways and a GM reset.
const char* kMido = R"PY(
import sys
import mido

def dump(path):
    mf = mido.MidiFile(path)
    print('division', mf.ticks_per_beat)
    for ti, track in enumerate(mf.tracks):
        t = 0
        for msg in track:
            t += msg.time
            print(t, ti, bytes(msg.bytes()).hex())

def song(path):
    mf = mido.MidiFile(type=1, ticks_per_beat=192)
    t0 = mido.MidiTrack()
    t0.append(mido.MetaMessage('track_name', name='Prova'))
    t0.append(mido.MetaMessage('set_tempo', tempo=600000))
    t0.append(mido.Message('sysex', data=[0x7E, 0x7F, 0x09, 0x01]))
    mf.tracks.append(t0)
    voice = mido.MidiTrack()
    voice.append(mido.Message('program_change', channel=2, program=40))
    words = ('can ta re can ta re o o o o o o e la lu na se ne va sul ma re e le stel le '
             'bril la no su di noi fin che la not te non fi ni ra').split(' ')
    pitch = 60
    for i, w in enumerate(words):
        voice.append(mido.MetaMessage('lyrics', text=w + (' ' if i % 6 != 5 else '/'), time=96))
        voice.append(mido.Message('note_on', channel=2, note=pitch, velocity=80))
        if i % 2:
            voice.append(mido.Message('note_off', channel=2, note=pitch, velocity=30, time=90))
        else:
            voice.append(mido.Message('note_on', channel=2, note=pitch, velocity=0, time=90))
        voice.append(mido.Message('pitchwheel', channel=2, pitch=100 * i, time=6))
        pitch = 55 + (pitch + 5) % 17
    mf.tracks.append(voice)
    mf.save(path)

if sys.argv[1] == 'dump':
    dump(sys.argv[2])
else:
    song(sys.argv[2])
)PY";

constexpr const char* kDictionary =
    "[ENUMKEYS]\nK0=MSG_OPEN_ERR\nK1=MSG_WRITE_ERR\nK2=MSG_CAPTION_WARNING\nK3=MSG_CANTOPEN\nK4=MSG_COPYRIGHT\n"
    "[ITALIANO]\nMSG_OPEN_ERR=Impossibile aprire il file %s\nMSG_WRITE_ERR=Errore di conversione\n"
    "MSG_CAPTION_WARNING=Attenzione\nMSG_CANTOPEN=Impossibile aprire il file %s\nMSG_COPYRIGHT=Tutti i diritti\n";

struct Message {
  uint32_t time;
  std::string hex;
  bool operator==(const Message&) const = default;
};
void PrintTo(const Message& m, std::ostream* os) { *os << m.time << ":" << m.hex; }

// What mido read: the division and the messages of every track in order.
struct Read {
  int division = 0;
  std::vector<Message> messages;
};

class StreamToMidi : public ::testing::Test {
 protected:
  Install in;

  void SetUp() override { in.dict.LoadFromText(kDictionary, "ITALIANO", in.ui); }

  std::string Mido(const std::string& mode, const fs::path& file) {
    auto script = in.Path("mido_tool.py");
    testing::WriteFileOrDie(script, kMido);
    auto r = testing::Run({testing::Python3(), script.string(), mode, file.string()});
    EXPECT_EQ(r.status, 0) << r.err;
    return r.out;
  }

  Read Dump(const fs::path& file) {
    Read r;
    std::istringstream lines(Mido("dump", file));
    std::string first;
    lines >> first >> r.division;
    uint32_t t;
    int track;
    std::string hex;
    while (lines >> t >> track >> hex) r.messages.push_back({t, hex});
    return r;
  }

  // A stream: MIDI and track headers, the marker when `marker`, the events.
  fs::path Stream(const ByteVec& events, bool marker = true) {
    ByteVec s = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0x01, 0xE0, 'M', 'T', 'r', 'k', 0, 0, 0, 0};
    if (marker) s.insert(s.end(), {0xFF, 0x00, 0xFF});
    s.insert(s.end(), events.begin(), events.end());
    return in.Write("TEMP.MIT", s);
  }
};

TEST_F(StreamToMidi, EventForms) {
  struct Case {
    const char* name;
    ByteVec events;
    bool keepSysex;
    std::vector<Message> want;  // the closing FF 2F included
  };
  const std::string text128(128, 'x');
  ByteVec longMeta = {0x00, 0xFF, 0x01, 0x81, 0x00};
  longMeta.insert(longMeta.end(), text128.begin(), text128.end());
  ByteVec longSysex = {0x00, 0xF0, 0x81, 0x01};  // 129 bytes: 128 data and F7
  for (int i = 0; i < 128; ++i) longSysex.push_back(static_cast<uint8_t>(i));
  longSysex.push_back(0xF7);
  std::string longSysexHex = "f0";
  for (int i = 0; i < 128; ++i) longSysexHex += Hex({static_cast<uint8_t>(i)});
  longSysexHex += "f7";

  const Case cases[] = {
      {"a note-off of one data byte gets velocity 64",
       {0x00, 0x90, 0x3C, 0x64, 0x83, 0x60, 0x80, 0x3C, 0x00, 0xFF, 0x2F, 0x00},
       false,
       {{0, "903c64"}, {480, "803c40"}, {480, "ff2f00"}}},
      {"running status, note-offs included",
       {0x00, 0x91, 0x3C, 0x64, 0x10, 0x3E, 0x50, 0x10, 0x81, 0x3C, 0x05, 0x3E, 0x00, 0xFF, 0x2F, 0x00},
       false,
       {{0, "913c64"}, {16, "913e50"}, {32, "813c40"}, {37, "813e40"}, {37, "ff2f00"}}},
      {"key pressure on channels 9 and 10 is dropped, also by running status; elsewhere kept",
       {0x00, 0xA8, 0x10, 0x20, 0x05, 0x11, 0x22, 0x05, 0xA9, 0x01, 0x02, 0x05, 0xA0, 0x3C, 0x10, 0x00, 0xFF, 0x2F, 0x00},
       false,
       {{15, "a03c10"}, {15, "ff2f00"}}},
      {"one and two data bytes by status",
       {0x00, 0xC0, 0x05, 0x01, 0xD0, 0x40, 0x01, 0xE0, 0x00, 0x40, 0x01, 0xB0, 0x07, 0x64, 0x00, 0xFF, 0x2F, 0x00},
       false,
       {{0, "c005"}, {1, "d040"}, {2, "e00040"}, {3, "b00764"}, {3, "ff2f00"}}},
      {"system exclusive kept, one and two length bytes",
       [&] {
         ByteVec e = {0x00, 0xF0, 0x05, 0x7E, 0x7F, 0x09, 0x01, 0xF7};
         e.insert(e.end(), longSysex.begin(), longSysex.end());
         e.insert(e.end(), {0x0A, 0x90, 0x40, 0x40, 0x00, 0xFF, 0x2F, 0x00});
         return e;
       }(),
       true,
       {{0, "f07e7f0901f7"}, {0, longSysexHex}, {10, "904040"}, {10, "ff2f00"}}},
      {"system exclusive dropped, its time kept for what follows",
       {0x00, 0xF0, 0x05, 0x7E, 0x7F, 0x09, 0x01, 0xF7, 0x0A, 0x90, 0x40, 0x40, 0x00, 0xFF, 0x2F, 0x00},
       false,
       {{10, "904040"}, {10, "ff2f00"}}},
      {"a meta event of two length bytes; the end of track at its own time, once",
       [&] {
         ByteVec e = longMeta;
         e.insert(e.end(), {0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20, 0x87, 0x40, 0xFF, 0x2F, 0x00, 0x00, 0x90, 0x3C,
                            0x40});
         return e;
       }(),
       false,
       {{0, "ff018100" + Hex(ByteVec(text128.begin(), text128.end()))}, {0, "ff5103" "07a120"},
        {960, "ff2f00"}}},
      {"a stream that ends without FF 2F",
       {0x00, 0x90, 0x3C, 0x40, 0x60, 0x80, 0x3C},
       false,
       {{0, "903c40"}, {96, "803c40"}, {96, "ff2f00"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path out = in.Path("TEMP.MID");
    int error = -1;
    ASSERT_EQ(ConvertStreamToMidi(*in.env, out, Stream(c.events), true, c.keepSysex, &error), 1);
    EXPECT_EQ(error, kStreamNoError);
    Read r = Dump(out);
    EXPECT_EQ(r.division, 480);
    std::vector<Message> want = c.want;
    for (auto& m : want) m.hex.erase(std::remove(m.hex.begin(), m.hex.end(), ' '), m.hex.end());
    EXPECT_EQ(r.messages, want);
  }
  EXPECT_TRUE(in.ui.messages.empty());
}

TEST_F(StreamToMidi, BrokenStreamsFail) {
  struct Case {
    const char* name;
    ByteVec events;
    int error;
  } cases[] = {
      {"a delta time of five bytes", {0x00, 0x90, 0x3C, 0x40, 0x81, 0x81, 0x81, 0x81, 0x01, 0x80, 0x3C}, 4},
      {"a data byte where the first status belongs", {0x00, 0x3C, 0x40, 0x00, 0xFF, 0x2F, 0x00}, 6},
      {"a meta event clears the running status", {0x00, 0x90, 0x3C, 0x40, 0x00, 0xFF, 0x01, 0x01, 0x41, 0x00, 0x3C, 0x00}, 6},
      {"a system-exclusive event clears it too", {0x00, 0x90, 0x3C, 0x40, 0x00, 0xF0, 0x01, 0xF7, 0x00, 0x3C, 0x00}, 6},
      {"a system status", {0x00, 0xF1, 0x00}, 6},
      {"an end of system exclusive alone", {0x00, 0xF7, 0x00}, 6},
      {"the stream ends inside an event", {0x00, 0x90, 0x3C}, kStreamTruncated},
      {"a meta event longer than the stream", {0x00, 0xFF, 0x01, 0x10, 0x41}, kStreamTruncated},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    int error = -1;
    EXPECT_EQ(ConvertStreamToMidi(*in.env, in.Path("TEMP.MID"), Stream(c.events), true, false, &error), 0);
    EXPECT_EQ(error, c.error);
  }
  // Broken streams are not the user's to hear of.
  EXPECT_TRUE(in.ui.messages.empty());
}

TEST_F(StreamToMidi, HeaderOf22Or25Bytes) {
  const ByteVec events = {0x00, 0x90, 0x3C, 0x40, 0x10, 0x80, 0x3C, 0x00, 0xFF, 0x2F, 0x00};
  // Content without the marker: its events right after the track header.
  ASSERT_EQ(ConvertStreamToMidi(*in.env, in.Path("a.mid"), Stream(events, false), false, false), 1);
  EXPECT_EQ(Dump(in.Path("a.mid")).messages, (std::vector<Message>{{0, "903c40"}, {16, "803c40"}, {16, "ff2f00"}}));
  // A stream shorter than the header it should skip.
  EXPECT_EQ(ConvertStreamToMidi(*in.env, in.Path("b.mid"), in.Write("short.mit", {'M', 'T', 'h', 'd'}), true, false),
            0);
}

TEST_F(StreamToMidi, MissingInputIsShown) {
  const fs::path missing = in.Path("nowhere.MIT");
  EXPECT_EQ(ConvertStreamToMidi(*in.env, in.Path("TEMP.MID"), missing, true, false), 0);
  ASSERT_EQ(in.ui.messages.size(), 1u);
  EXPECT_EQ(in.ui.messages[0].text, "Impossibile aprire il file " + missing.string());
  EXPECT_EQ(in.ui.messages[0].caption, "Errore di conversione");
  EXPECT_EQ(in.ui.messages[0].style & 0xF0, mb::kIconStop);
}

// A song converted to MF4 content plays with the source's notes: every
// note-off (true or a zero-velocity note-on) comes back as a note-off of
// velocity 64, times in 480 ticks per quarter note; the karaoke messages are
// there only when system exclusive is kept.
TEST_F(StreamToMidi, ContentMadeByTheConverter) {
  const fs::path source = in.Path("song.mid");
  Mido("song", source);
  in.ui.answers = {kIdYes, kIdYes};
  ASSERT_EQ(import_midi_file(*in.env, in.ctx, source, in.Path("0.MID"), true), kImportGoOn);
  ASSERT_TRUE(in.ctx.outputWritten);

  Read src = Dump(source);
  ASSERT_EQ(src.division, 192);
  std::vector<Message> wantNotes;
  for (const auto& m : src.messages) {
    const uint32_t t = scale_time(m.time, 192);
    if (m.hex.rfind("92", 0) == 0 && m.hex.substr(4) != "00") wantNotes.push_back({t, m.hex});
    if ((m.hex.rfind("92", 0) == 0 && m.hex.substr(4) == "00") || m.hex.rfind("82", 0) == 0) {
      wantNotes.push_back({t, "82" + m.hex.substr(2, 2) + "40"});
    }
    if (m.hex.rfind("e2", 0) == 0 || m.hex.rfind("c2", 0) == 0) wantNotes.push_back({t, m.hex});
  }
  ASSERT_GT(wantNotes.size(), 100u);

  for (bool keep : {false, true}) {
    SCOPED_TRACE(keep ? "system exclusive kept" : "system exclusive dropped");
    const fs::path out = in.Path(keep ? "kept.mid" : "dropped.mid");
    ASSERT_EQ(ConvertStreamToMidi(*in.env, out, in.Path("0.MID"), true, keep), 1);
    Read r = Dump(out);
    EXPECT_EQ(r.division, 480);
    std::vector<Message> notes;
    int karaoke = 0, gmReset = 0;
    for (const auto& m : r.messages) {
      const std::string s = m.hex.substr(0, 2);
      if (s == "92" || s == "82" || s == "e2" || s == "c2") notes.push_back(m);
      if (m.hex.rfind("f0002024", 0) == 0) ++karaoke;
      if (m.hex == "f07e7f0901f7") ++gmReset;
      EXPECT_NE(s, "90") << "no zero-velocity note-ons";
    }
    EXPECT_EQ(notes, wantNotes);
    if (keep) {
      EXPECT_GT(karaoke, 10) << "pages, colour steps and the start marks";
      EXPECT_EQ(gmReset, 1);
    } else {
      EXPECT_EQ(karaoke + gmReset, 0);
    }
    // The tempo goes through.
    EXPECT_NE(std::find(r.messages.begin(), r.messages.end(), Message{0, "ff5103" "0927c0"}), r.messages.end());
  }
}

}  // namespace
}  // namespace kestro
