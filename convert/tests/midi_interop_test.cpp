// MIDI files that other programs wrote (abc2midi, python3-mido) read back
// event for event, and our own files read by mido.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "convert/midi_reader.h"
#include "convert/midi_writer.h"
#include "convert/song_event_list.h"
#include "convert/tests/midi_test_support.h"

namespace kestro {
namespace {

using namespace miditest;

// Prints a MIDI file as mido reads it: a line with format, division and
// tracks, then "time track bytes" per event merged in time order (ties: lower
// track first, then file order). With "write" it first writes a test file.
const char* kMidoScript = R"PY(
import random, sys
import mido

def write(path):
    rnd = random.Random(7)
    mf = mido.MidiFile(type=1, ticks_per_beat=384)
    t0 = mido.MidiTrack()
    t0.append(mido.MetaMessage('track_name', name='Conductor'))
    t0.append(mido.MetaMessage('set_tempo', tempo=600000))
    t0.append(mido.MetaMessage('time_signature', numerator=3, denominator=4))
    t0.append(mido.MetaMessage('key_signature', key='Eb'))
    t0.append(mido.MetaMessage('text', text='long text ' * 30))
    t0.append(mido.MetaMessage('marker', text='far away', time=100000))
    mf.tracks.append(t0)
    t1 = mido.MidiTrack()
    t1.append(mido.MetaMessage('track_name', name='Melody'))
    t1.append(mido.Message('program_change', channel=2, program=40))
    t1.append(mido.Message('control_change', channel=2, control=7, value=100))
    t1.append(mido.Message('sysex', data=[0x7E, 0x7F, 0x09, 0x01]))
    t1.append(mido.Message('sysex', data=[i % 128 for i in range(700)], time=3))
    for i in range(600):
        note = 40 + rnd.randrange(40)
        t1.append(mido.Message('note_on', channel=2, note=note, velocity=1 + rnd.randrange(126),
                               time=rnd.choice([0, 0, 12, 96, 200])))
        if i % 7 == 0:
            t1.append(mido.MetaMessage('lyrics', text='la%d' % i))
        if i % 11 == 0:
            t1.append(mido.Message('pitchwheel', channel=2, pitch=rnd.randrange(-8192, 8191)))
        if i % 13 == 0:
            t1.append(mido.Message('aftertouch', channel=2, value=rnd.randrange(128), time=5))
        if i % 17 == 0:
            t1.append(mido.Message('polytouch', channel=2, note=note, value=33))
        t1.append(mido.Message('note_on', channel=2, note=note, velocity=0, time=rnd.choice([1, 48, 96])))
    mf.tracks.append(t1)
    t2 = mido.MidiTrack()
    for i in range(300):
        t2.append(mido.Message('note_on', channel=9, note=35 + i % 20, velocity=90, time=96))
        t2.append(mido.Message('note_off', channel=9, note=35 + i % 20, velocity=64, time=0))
    mf.tracks.append(t2)
    mf.save(path)

def dump(path):
    mf = mido.MidiFile(path)
    rows = []
    for ti, track in enumerate(mf.tracks):
        t = 0
        for si, msg in enumerate(track):
            t += msg.time
            rows.append((t, ti, si, ' '.join('%02x' % b for b in msg.bytes())))
    rows.sort()
    print(mf.type, mf.ticks_per_beat, len(mf.tracks))
    for t, ti, si, h in rows:
        print(t, ti, h)

if sys.argv[1] == 'write':
    write(sys.argv[2])
dump(sys.argv[2])
)PY";

std::string Mido(const TestEnv& t, const std::string& mode, const std::filesystem::path& file) {
  auto script = t.Path("mido_dump.py");
  testing::WriteFileOrDie(script, kMidoScript);
  auto r = testing::Run({testing::Python3(), script.string(), mode, file.string()});
  EXPECT_EQ(r.status, 0) << r.err;
  return r.out;
}

// Our bytes in the form mido prints: a system-exclusive message without its
// length bytes.
std::string Canonical(const ByteVec& ev) {
  ByteVec b = ev;
  if (!b.empty() && b[0] == 0xF0) {
    size_t lengthBytes = b.size() > 1 && (b[1] & 0x80) ? 2 : 1;
    b.erase(b.begin() + 1, b.begin() + 1 + static_cast<long>(lengthBytes));
  }
  return Hex(b);
}

std::string ReaderDump(MidiStreamReader& r) {
  std::ostringstream out;
  out << r.format() << " " << r.division() << " " << r.track_count() << "\n";
  for (const auto& e : ReadAll(r)) out << e.time << " " << e.track << " " << Canonical(e.bytes) << "\n";
  return out.str();
}

// "time bytes" rows, sorted, without the track and without the order within a
// tick (the list has its own).
std::vector<std::string> TimesAndBytes(const std::string& dump) {
  std::vector<std::string> rows;
  std::istringstream in(dump);
  std::string line;
  std::getline(in, line);
  while (std::getline(in, line)) {
    std::istringstream l(line);
    std::string time, track, rest;
    l >> time >> track;
    std::getline(l, rest);
    rows.push_back(time + rest);
  }
  std::sort(rows.begin(), rows.end());
  return rows;
}

std::vector<std::string> ListRows(const SongEventList& list) {
  std::vector<std::string> rows;
  for (size_t i = 0; i < list.size(); ++i) {
    auto b = list.event_bytes(i);
    rows.push_back(std::to_string(list.at(i).time) + " " + Canonical(ByteVec(b.begin(), b.end())));
  }
  std::sort(rows.begin(), rows.end());
  return rows;
}

class Interop : public ::testing::Test {
 protected:
  TestEnv t;
  void ExpectSameAsMido(const std::filesystem::path& file, const std::string& mido, size_t minEvents) {
    auto r = MidiStreamReader::open(*t.env, file);
    ASSERT_TRUE(r);
    std::string ours = ReaderDump(*r);
    EXPECT_EQ(r->error(), 0);
    EXPECT_EQ(ours, mido);
    auto rows = TimesAndBytes(mido);
    EXPECT_GE(rows.size(), minEvents);
    // The whole-file list holds the same events.
    SongEventList list(*t.env);
    ASSERT_TRUE(list.load(file));
    EXPECT_EQ(ListRows(list), rows);
    EXPECT_TRUE(t.ui.messages.empty());
  }
};

TEST_F(Interop, Abc2midiTunesWithWords) {
  const char* tunes = R"ABC(X:1
T:Lyric Waltz
M:3/4
L:1/8
Q:1/4=100
K:G
V:1
GA|B2 B2 AG|A4 GA|B2 d2 cB|A6|
w:Hel-lo my dar-ling, how are you to-day, my dear
V:2
D2|G,6|D6|G,6|D6|
%%MIDI program 2 33

X:2
T:Second Song
C:Trad.
M:4/4
L:1/8
Q:1/4=140
K:Dm
%%MIDI drum dddd 36 38 42 38 100 90 80 90
%%MIDI drumon
ABcd efga|b2a2 g2f2|e8|]
w:one two three four five six sev-en eight nine ten e-le-ven twelve
)ABC";
  auto abc = t.Path("tunes.abc");
  testing::WriteFileOrDie(abc, tunes);
  for (int x : {1, 2}) {
    SCOPED_TRACE(x);
    auto mid = t.Path("tune" + std::to_string(x) + ".mid");
    auto run = testing::Run({"/usr/bin/abc2midi", abc.string(), std::to_string(x), "-o", mid.string()});
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    std::string mido = Mido(t, "dump", mid);
    ASSERT_NE(mido.find(" ff 01 "), std::string::npos) << "the words are in the file";
    ExpectSameAsMido(mid, mido, 30);
  }
}

TEST_F(Interop, FilesWrittenByMido) {
  auto mid = t.Path("mido.mid");
  std::string mido = Mido(t, "write", mid);
  ASSERT_EQ(mido.rfind("1 384 3\n", 0), 0u);
  // The 700-byte message is larger than a track buffer and takes two length
  // bytes, as does the long text.
  ASSERT_NE(mido.find(" f0 00 01 02 03"), std::string::npos);
  ExpectSameAsMido(mid, mido, 1500);
}

TEST_F(Interop, OurFilesReadByMido) {
  auto mid = t.Path("ours.mid");
  std::ostringstream want;
  want << "0 480 1\n";
  {
    auto w = MidiFileWriter::create(*t.env, mid, 480);
    ASSERT_TRUE(w);
    uint32_t time = 10;
    auto put = [&](ByteVec ev, uint32_t at) {
      w->write_event(ev, at);
      want << at << " 0 " << Canonical(ev) << "\n";
    };
    put({0xFF, 0x03, 0x05, 'T', 'i', 't', 'l', 'e'}, 0);
    put({0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20}, 0);
    put({0xC0, 0x13}, 0);
    ByteVec sysex = {0xF0, 0x83, 0x00};  // 384 bytes of body
    for (int i = 0; i < 383; ++i) sysex.push_back(static_cast<uint8_t>(i & 0x7F));
    sysex.push_back(0xF7);
    put(sysex, 10);
    for (int i = 0; i < 200; ++i) {
      time += static_cast<uint32_t>((i * 37) % 300);
      put({0x90, static_cast<uint8_t>(40 + i % 40), static_cast<uint8_t>(1 + i % 120)}, time);
      put({0x80, static_cast<uint8_t>(40 + i % 40), 0x40}, time + 100);
      time += 100;
      if (i % 25 == 0) put({0xE1, static_cast<uint8_t>(i % 128), 0x40}, time);
    }
    put({0xFF, 0x06, 0x03, 'e', 'n', 'd'}, time + 0x10000000);
    time += 0x10000000;
    EXPECT_TRUE(w->close());
    EXPECT_TRUE(t.ui.messages.empty());
    want << time << " 0 ff 2f 00\n";
  }
  EXPECT_EQ(Mido(t, "dump", mid), want.str());
}

}  // namespace
}  // namespace kestro
