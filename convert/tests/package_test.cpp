#include "convert/package.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <csignal>
#include <memory>

#include "convert/lzhuf.h"
#include "convert/tests/lzhuf_reference.h"
#include "convert/tests/test_data.h"
#include "platform/fileutil.h"
#include "platform/latin1.h"
#include "platform/scripted_ui.h"
#include "platform/testing/testsupport.h"

namespace kestro {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

Bytes Slice(const Bytes& b, size_t from, size_t n) {
  return Bytes(b.begin() + static_cast<long>(from), b.begin() + static_cast<long>(from + n));
}

uint32_t Le32(const Bytes& b, size_t at) {
  return static_cast<uint32_t>(b[at] | b[at + 1] << 8 | b[at + 2] << 16) | static_cast<uint32_t>(b[at + 3]) << 24;
}

class Package : public ::testing::Test {
 protected:
  Package() : profile(dir / "Zumbla.INI"), env{ui, clock, profile, dict, dir.path()} {
    dict.LoadFromText(
        "[ENUMKEYS]\nK0=MSG_CANTOPEN\nK1=MSG_READERROR\nK2=MSG_CANTCREATE\nK3=MSG_WRITEERROR\n"
        "[ENGLISH]\nMSG_CANTOPEN=Cannot open %s\nMSG_READERROR=Read error\n"
        "MSG_CANTCREATE=Cannot create %s\nMSG_WRITEERROR=Write error\n",
        "ENGLISH", ui);
  }

  fs::path Write(const std::string& name, const Bytes& data) {
    fs::path p = dir / name;
    EXPECT_TRUE(WriteBinaryFile(p, data));
    return p;
  }
  Bytes Read(const fs::path& p) { return ReadBinaryFile(p).value_or(Bytes{}); }

  // The single message shown, checked against what a read or write error
  // of `path` shows.
  void ExpectReadError(const fs::path& path) {
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].text, "Cannot open " + path.string());
    EXPECT_EQ(ui.messages[0].caption, "Read error");
    EXPECT_EQ(ui.messages[0].style, mb::kIconStop);
  }
  void ExpectWriteError(const fs::path& path) {
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].text, "Cannot create " + path.string());
    EXPECT_EQ(ui.messages[0].caption, "Write error");
    EXPECT_EQ(ui.messages[0].style, mb::kIconStop);
  }

  TempDir dir;
  ScriptedUi ui;
  VirtualClock clock;
  ProfileFile profile;
  Dictionary dict;
  Env env;
};

TEST(PackageHeader, InitialRecord) {
  PackageHeader h;
  EXPECT_EQ(h.Magic(), "_MF4");
  EXPECT_EQ(h.Word8(), 0x12345678u);
  EXPECT_EQ(h.Byte27(), 99);
  EXPECT_EQ(h.Byte35(), 3);
  EXPECT_EQ(h.Word36(), 100);
  EXPECT_EQ(h.Tempo(), 120);
  EXPECT_EQ(h.FileName(), "Untitled");
  // Every other byte is zero.
  PackageHeader expected;
  expected.bytes.fill(0);
  const uint8_t set[][2] = {{0, '_'}, {1, 'M'}, {2, 'F'}, {3, '4'}, {8, 0x78}, {9, 0x56}, {10, 0x34},
                            {11, 0x12}, {27, 99}, {35, 3}, {36, 100}, {38, 120}};
  for (const auto& s : set) expected.bytes[s[0]] = s[1];
  std::string untitled = "Untitled";
  for (size_t i = 0; i < untitled.size(); ++i) expected.bytes[42 + i] = static_cast<uint8_t>(untitled[i]);
  EXPECT_TRUE(h == expected);

  h.SetTitle("X");
  h.ResetToInitial();
  EXPECT_TRUE(h == PackageHeader::Initial());
}

TEST(PackageHeader, ClearedForConversion) {
  PackageHeader h;
  h.SetTitle("old");
  h.ClearForConversion();
  EXPECT_EQ(h.Magic(), "_MF4");
  EXPECT_EQ(h.Word8(), 0u);
  EXPECT_EQ(h.Tempo(), 0);
  EXPECT_EQ(h.FileName(), "");
  EXPECT_EQ(h.Title(), "");
  int ff = 0;
  for (size_t i = 0; i < PackageHeader::kSize; ++i) {
    bool program = i >= 287 && i < 287 + 9 * 16 && (i - 287) % 9 < 2;
    bool mixer = i >= 430 && i < 494;
    if (program || mixer) {
      EXPECT_EQ(h.bytes[i], 0xFF) << i;
      ++ff;
    } else if (i >= 4) {
      EXPECT_EQ(h.bytes[i], 0) << i;
    }
  }
  EXPECT_EQ(ff, 16 * 2 + 16 * 4);
}

TEST(PackageHeader, FieldsSitWhereThePlayerReadsThem) {
  PackageHeader h;
  h.bytes.fill(0);
  h.SetMagic("_MF3");
  h.SetPackageSize(0x01020304);
  h.SetUnpackedSize(0x0A0B0C0D);
  h.SetTempo(0x1234);
  h.SetMarkersFlag(1);
  h.SetProgram(0, 5);
  h.SetBank(0, 6);
  h.SetProgram(15, 7);
  h.SetBank(15, 8);
  h.SetVolume(0, 100);
  h.SetPan(0, 64);
  h.SetReverb(0, 40);
  h.SetChorus(0, 10);
  h.SetChorus(15, 11);
  struct {
    size_t at;
    uint8_t v;
  } expect[] = {{0, '_'}, {3, '3'}, {4, 4}, {7, 1}, {12, 0x0D}, {15, 0x0A}, {38, 0x34}, {39, 0x12},
                {185, 1}, {287, 5}, {288, 6}, {422, 7}, {423, 8}, {430, 100}, {431, 64}, {432, 40},
                {433, 10}, {493, 11}};
  for (const auto& e : expect) EXPECT_EQ(h.bytes[e.at], e.v) << e.at;

  struct TextField {
    const char* name;
    size_t at;
    size_t keep;  // characters kept before the terminator
    void (PackageHeader::*set)(std::string_view);
    std::string (PackageHeader::*get)() const;
  } fields[] = {
      {"file name", 42, 35, &PackageHeader::SetFileName, &PackageHeader::FileName},
      {"rights notice", 90, 31, &PackageHeader::SetRightsNotice, &PackageHeader::RightsNotice},
      {"title", 122, 31, &PackageHeader::SetTitle, &PackageHeader::Title},
      {"editor", 154, 30, &PackageHeader::SetEditor, &PackageHeader::Editor},
      {"author", 186, 31, &PackageHeader::SetAuthor, &PackageHeader::Author},
      {"performer", 218, 31, &PackageHeader::SetPerformer, &PackageHeader::Performer},
      {"genre", 250, 31, &PackageHeader::SetGenre, &PackageHeader::Genre},
  };
  std::string longText(60, 'x');
  for (size_t i = 0; i < longText.size(); ++i) longText[i] = static_cast<char>('A' + i % 26);
  for (const auto& f : fields) {
    SCOPED_TRACE(f.name);
    PackageHeader t;
    t.bytes.fill(0x55);
    (t.*f.set)(longText);
    EXPECT_EQ((t.*f.get)(), longText.substr(0, f.keep));
    EXPECT_EQ(t.bytes[f.at], 'A');
    EXPECT_EQ(t.bytes[f.at + f.keep], 0);      // the terminator
    EXPECT_EQ(t.bytes[f.at - 1], 0x55);        // neighbours untouched
    EXPECT_EQ(t.bytes[f.at + f.keep + 1], 0x55);
    // A short text clears the rest of the field.
    (t.*f.set)("\xE8 ok");
    EXPECT_EQ((t.*f.get)(), "\xE8 ok");
    EXPECT_EQ(t.bytes[f.at + f.keep - 1], 0);
  }
  // The editor keeps byte 184 zero and leaves the markers flag alone.
  PackageHeader e;
  e.SetMarkersFlag(1);
  e.SetEditor(longText);
  EXPECT_EQ(e.bytes[184], 0);
  EXPECT_EQ(e.MarkersFlag(), 1);
}

TEST_F(Package, EmptyFile) {
  PackageHeader h;
  auto src = Write("empty.mid", {});
  ASSERT_EQ(pack(env, h, src, dir / "empty.mf4"), kPackDone);
  Bytes pkg = Read(dir / "empty.mf4");
  ASSERT_EQ(pkg.size(), 516u);
  EXPECT_EQ(Le32(pkg, 4), 516u);
  EXPECT_EQ(Le32(pkg, 12), 0u);
  EXPECT_EQ(Le32(pkg, 512), 0u);
  EXPECT_EQ(h.PackageSize(), 516u);
  EXPECT_EQ(h.UnpackedSize(), 0u);

  PackageHeader back;
  back.bytes.fill(7);
  Write("empty.out", {1, 2, 3});
  ASSERT_EQ(unpack(env, back, dir / "empty.mf4", dir / "empty.out"), kPackDone);
  EXPECT_TRUE(fs::exists(dir / "empty.out"));
  EXPECT_EQ(fs::file_size(dir / "empty.out"), 0u);
  EXPECT_TRUE(back == h);
  EXPECT_TRUE(ui.messages.empty());
}

TEST_F(Package, LayoutOfAPackage) {
  PackageHeader h;
  h.SetTitle("ABC SONG");
  auto src = Write("abc.mid", testing::Text("abc"));
  ASSERT_EQ(pack(env, h, src, dir / "abc.mf4"), kPackDone);
  Bytes pkg = Read(dir / "abc.mf4");
  ASSERT_GT(pkg.size(), 516u);
  EXPECT_EQ(Slice(pkg, 512, 4), (Bytes{3, 0, 0, 0}));
  EXPECT_EQ(Le32(pkg, 4), pkg.size());
  EXPECT_EQ(Le32(pkg, 12), 3u);
  // The header as the caller left it, with the two sizes.
  PackageHeader expect;
  expect.SetTitle("ABC SONG");
  expect.SetPackageSize(static_cast<uint32_t>(pkg.size()));
  expect.SetUnpackedSize(3);
  EXPECT_TRUE(Slice(pkg, 0, 512) == Bytes(expect.bytes.begin(), expect.bytes.end()));
  EXPECT_TRUE(h == expect);

  // The body is the published algorithm's.
  auto ref = std::make_unique<testing::ReferenceLzhuf>();
  EXPECT_TRUE(Slice(pkg, 512, pkg.size() - 512) == ref->Encode(testing::Text("abc")));

  // Also for bodies that go to the file in several blocks.
  for (const Bytes& data : {testing::RandomBytes(200000, 5), testing::MidiLike(600000, 6)}) {
    PackageHeader big;
    auto in = Write("big.mid", data);
    ASSERT_EQ(pack(env, big, in, dir / "big.mf4"), kPackDone);
    Bytes file = Read(dir / "big.mf4");
    ASSERT_GT(file.size(), 512u + (1u << 17));
    EXPECT_EQ(big.PackageSize(), file.size());
    EXPECT_EQ(big.UnpackedSize(), data.size());
    EXPECT_TRUE(Slice(file, 0, 512) == Bytes(big.bytes.begin(), big.bytes.end()));
    EXPECT_TRUE(Slice(file, 512, file.size() - 512) == ref->Encode(data));
  }
}

TEST_F(Package, HundredLetters) {
  PackageHeader h;
  Bytes data = testing::Repeated(100, 'A');
  auto src = Write("a.mid", data);
  ASSERT_EQ(pack(env, h, src, dir / "a.mf4"), kPackDone);
  Bytes pkg = Read(dir / "a.mf4");
  auto ref = std::make_unique<testing::ReferenceLzhuf>();
  EXPECT_TRUE(Slice(pkg, 512, pkg.size() - 512) == ref->Encode(data));
  EXPECT_EQ(ref->symbols.front(), 'A');
  for (size_t i = 1; i < ref->symbols.size(); ++i) EXPECT_GE(ref->symbols[i], 256);
  // Far smaller than the letters themselves.
  EXPECT_LT(pkg.size(), 512u + 4 + 20);
  ASSERT_EQ(unpack(env, h, dir / "a.mf4", dir / "a.out"), kPackDone);
  EXPECT_TRUE(Read(dir / "a.out") == data);
}

TEST_F(Package, Mf3HeaderIsKeptAndRepackedAsMf4) {
  // An old package as the player's older software wrote it.
  PackageHeader old;
  old.bytes.fill(0);
  old.SetMagic("_MF3");
  old.SetTitle("VECCHIA CANZONE");
  old.SetAuthor("AUTORE");
  old.SetTempo(96);
  old.SetProgram(3, 24);
  old.bytes[500] = 0xAB;  // whatever lies in the unnamed bytes stays
  Bytes content = testing::MidiLike(5000, 3);
  Bytes pkg(old.bytes.begin(), old.bytes.end());
  auto ref = std::make_unique<testing::ReferenceLzhuf>();
  Bytes body = ref->Encode(content);
  pkg.insert(pkg.end(), body.begin(), body.end());
  auto mf3 = Write("OLD.MF3", pkg);

  PackageHeader h;
  ASSERT_EQ(unpack(env, h, mf3, dir / "TEMP.MIT"), kPackDone);
  EXPECT_TRUE(Read(dir / "TEMP.MIT") == content);
  EXPECT_EQ(h.Magic(), "_MF3");
  EXPECT_TRUE(h == old);

  // The re-wrap sets the magic; the next pack writes the rest as it was.
  h.SetMagic(kMagicMf4);
  ASSERT_EQ(pack(env, h, dir / "TEMP.MIT", dir / "NEW.MF4"), kPackDone);
  Bytes out = Read(dir / "NEW.MF4");
  PackageHeader written;
  std::copy(out.begin(), out.begin() + 512, written.bytes.begin());
  EXPECT_EQ(written.Magic(), "_MF4");
  EXPECT_EQ(written.Title(), "VECCHIA CANZONE");
  EXPECT_EQ(written.Author(), "AUTORE");
  EXPECT_EQ(written.Tempo(), 96);
  EXPECT_EQ(written.Program(3), 24);
  EXPECT_EQ(written.bytes[500], 0xAB);
  EXPECT_EQ(written.PackageSize(), out.size());
  EXPECT_EQ(written.UnpackedSize(), content.size());
}

TEST_F(Package, PackWithNames) {
  PackageHeader h;
  h.SetTempo(133);
  h.SetMarkersFlag(1);
  h.SetAuthor("Someone");
  fs::path longDir = dir / "una cartella con un nome lungo";
  fs::create_directories(longDir);
  fs::path src = longDir / "canzone.mid";
  ASSERT_TRUE(WriteBinaryFile(src, testing::MidiLike(3000, 1)));
  ASSERT_EQ(pack_with_names(env, h, src, dir / "named.mf4", "CANZONE"), kPackDone);
  Bytes out = Read(dir / "named.mf4");
  PackageHeader written;
  std::copy(out.begin(), out.begin() + 512, written.bytes.begin());
  EXPECT_TRUE(written == h);
  EXPECT_EQ(h.FileName(), src.string().substr(0, 35));
  EXPECT_EQ(h.Title(), "CANZONE");
  EXPECT_EQ(h.Editor(), "-");
  EXPECT_EQ(h.Author(), "-");
  EXPECT_EQ(h.Performer(), "-");
  EXPECT_EQ(h.Genre(), "-");
  EXPECT_EQ(h.Tempo(), 0);
  EXPECT_EQ(h.MarkersFlag(), 0);
  EXPECT_EQ(h.Word8(), 0x12345678u);  // the rest as it was

  // A file name in UTF-8 goes into the header in Latin-1.
  fs::path accented = dir / "\xC3\xA9.mid";
  ASSERT_TRUE(WriteBinaryFile(accented, Bytes{1, 2, 3}));
  PackageHeader a;
  ASSERT_EQ(pack_with_names(env, a, accented, dir / "p.mf4", "P"), kPackDone);
  std::string latin = Utf8ToLatin1(accented.string());
  EXPECT_EQ(a.FileName(), latin.substr(0, 35));
  if (latin.size() <= 35) {
    EXPECT_EQ(a.FileName().substr(latin.size() - 5), "\xE9.mid");
  }
}

TEST_F(Package, RoundTripsOfFiles) {
  struct Case {
    const char* name;
    Bytes data;
  } cases[] = {
      {"empty", {}},
      {"1 byte", {0x4D}},
      {"3 bytes", testing::Text("MTh")},
      {"long run", testing::Repeated(200000, 0)},
      {"random", testing::RandomBytes(100000, 77)},
      {"around the first rebuild", testing::RandomBytes(32486, 78)},
      {"far beyond", testing::MidiLike(2000000, 79)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    PackageHeader h;
    auto src = Write("in.bin", c.data);
    ASSERT_EQ(pack(env, h, src, dir / "in.mf4"), kPackDone);
    EXPECT_EQ(h.UnpackedSize(), c.data.size());
    EXPECT_EQ(h.PackageSize(), fs::file_size(dir / "in.mf4"));
    PackageHeader back;
    ASSERT_EQ(unpack(env, back, dir / "in.mf4", dir / "out.bin"), kPackDone);
    EXPECT_TRUE(Read(dir / "out.bin") == c.data);
    EXPECT_TRUE(back == h);
  }
  EXPECT_TRUE(ui.messages.empty());
}

TEST_F(Package, RealMidiFileRoundTrip) {
  fs::path mid = dir / "song.mid";
  std::string script =
      "import mido, sys\n"
      "f = mido.MidiFile(ticks_per_beat=96)\n"
      "t = mido.MidiTrack(); f.tracks.append(t)\n"
      "t.append(mido.MetaMessage('track_name', name='Volare'))\n"
      "t.append(mido.MetaMessage('set_tempo', tempo=500000))\n"
      "t.append(mido.MetaMessage('copyright', text='Edizioni; EDITORE'))\n"
      "k = mido.MidiTrack(); f.tracks.append(k)\n"
      "for i in range(1500):\n"
      "    n = 48 + (i * 7) % 24\n"
      "    k.append(mido.Message('program_change', program=i % 8, channel=i % 4, time=0))\n"
      "    k.append(mido.Message('note_on', note=n, velocity=90, channel=i % 4, time=12))\n"
      "    k.append(mido.MetaMessage('lyrics', text='la' + str(i % 13)))\n"
      "    k.append(mido.Message('note_off', note=n, velocity=0, channel=i % 4, time=36))\n"
      "f.save(sys.argv[1])\n";
  auto r = testing::Run({testing::Python3(), "-c", script, mid.string()});
  ASSERT_EQ(r.status, 0) << r.err;
  Bytes data = Read(mid);
  ASSERT_GT(data.size(), 20000u);
  ASSERT_EQ(Slice(data, 0, 4), testing::Text("MThd"));

  PackageHeader h;
  ASSERT_EQ(pack(env, h, mid, dir / "song.mf4"), kPackDone);
  Bytes pkg = Read(dir / "song.mf4");
  EXPECT_LT(pkg.size(), data.size());
  auto ref = std::make_unique<testing::ReferenceLzhuf>();
  EXPECT_TRUE(Slice(pkg, 512, pkg.size() - 512) == ref->Encode(data));
  ASSERT_EQ(unpack(env, h, dir / "song.mf4", dir / "song.out"), kPackDone);
  EXPECT_TRUE(Read(dir / "song.out") == data);
}

TEST_F(Package, PackingOverItsOwnSourceKeepsTheContent) {
  Bytes data = testing::MidiLike(10000, 4);
  auto p = Write("same.bin", data);
  PackageHeader h;
  ASSERT_EQ(pack(env, h, p, p), kPackDone);
  ASSERT_EQ(unpack(env, h, p, p), kPackDone);
  EXPECT_TRUE(Read(p) == data);
}

TEST_F(Package, PackOpenFailures) {
  PackageHeader h;
  h.SetTitle("KEEP");
  PackageHeader before = h;

  EXPECT_EQ(pack(env, h, dir / "missing.mid", dir / "x.mf4"), kPackFailed);
  ExpectReadError(dir / "missing.mid");
  EXPECT_FALSE(fs::exists(dir / "x.mf4"));
  EXPECT_TRUE(h == before);

  // A folder is no source either.
  ui.messages.clear();
  fs::create_directories(dir / "folder");
  EXPECT_EQ(pack(env, h, dir / "folder", dir / "x.mf4"), kPackFailed);
  ExpectReadError(dir / "folder");

  ui.messages.clear();
  auto src = Write("ok.mid", testing::MidiLike(1000, 1));
  EXPECT_EQ(pack(env, h, src, dir / "no such folder" / "x.mf4"), kPackFailed);
  ExpectWriteError(dir / "no such folder" / "x.mf4");
  EXPECT_TRUE(h == before);
}

TEST_F(Package, WriteErrorsAreReportedNotFatal) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  PackageHeader h;
  PackageHeader before = h;
  auto src = Write("ok.mid", testing::RandomBytes(300000, 1));
  EXPECT_EQ(pack(env, h, src, "/dev/full"), kPackFailed);
  ExpectWriteError("/dev/full");
  EXPECT_TRUE(h == before);
  EXPECT_TRUE(fs::exists("/dev/full"));

  ASSERT_EQ(pack(env, h, src, dir / "ok.mf4"), kPackDone);
  ui.messages.clear();
  PackageHeader u;
  EXPECT_EQ(unpack(env, u, dir / "ok.mf4", "/dev/full"), kPackFailed);
  ExpectWriteError("/dev/full");
  EXPECT_TRUE(u == PackageHeader());
}

// A package that takes a song's place is whole or not there: when it cannot
// be written whole, the song of that name stays as it was (written in place,
// it would be gone).
TEST_F(Package, AReplacementThatCannotBeWrittenLeavesTheSongWhole) {
  Bytes old(900, 7);
  std::copy_n("_MF4", 4, old.begin());
  const fs::path song = Write("song.mf4", old);
  const fs::path other = Write("other.mf4", old);
  // Incompressible, short enough to be packed on this thread alone.
  const Bytes content = testing::RandomBytes(20000, 3);

  // Files may grow to 4 KB only; a write past that fails instead of ending
  // the process.
  rlimit limit{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &limit), 0);
  const rlimit small{4096, limit.rlim_max};
  auto* const previous = std::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  PackageHeader replaced, inPlace;
  const bool replacedOk = ReplacePackage(replaced, content, song);
  const bool inPlaceOk = WritePackage(inPlace, content, other);
  setrlimit(RLIMIT_FSIZE, &limit);
  std::signal(SIGXFSZ, previous);

  EXPECT_FALSE(replacedOk);
  EXPECT_EQ(Read(song), old);
  EXPECT_TRUE(replaced == PackageHeader());
  EXPECT_FALSE(inPlaceOk);
  EXPECT_FALSE(fs::exists(other));
  for (const auto& e : fs::directory_iterator(dir.path())) {
    EXPECT_NE(e.path().filename().string().rfind(".song.mf4.", 0), 0u) << "a temporary file is left";
  }

  ASSERT_TRUE(ReplacePackage(replaced, content, song));
  EXPECT_EQ(replaced.PackageSize(), fs::file_size(song));
  PackageHeader back;
  ASSERT_EQ(unpack(env, back, song, dir / "back.mid"), kPackDone);
  EXPECT_EQ(Read(dir / "back.mid"), content);
}

TEST_F(Package, UnpackOpenFailures) {
  PackageHeader h;
  EXPECT_EQ(unpack(env, h, dir / "missing.mf4", dir / "x.mid"), kPackFailed);
  ExpectReadError(dir / "missing.mf4");
  EXPECT_FALSE(fs::exists(dir / "x.mid"));
  EXPECT_TRUE(h == PackageHeader());

  ui.messages.clear();
  auto src = Write("ok.mid", testing::MidiLike(1000, 1));
  ASSERT_EQ(pack(env, h, src, dir / "ok.mf4"), kPackDone);
  PackageHeader u;
  EXPECT_EQ(unpack(env, u, dir / "ok.mf4", dir / "nowhere" / "x.mid"), kPackFailed);
  ExpectWriteError(dir / "nowhere" / "x.mid");
  EXPECT_TRUE(u == PackageHeader());
}

TEST_F(Package, DamagedPackagesAreReadErrors) {
  Bytes data = testing::MidiLike(40000, 5);
  auto src = Write("song.mid", data);
  PackageHeader h;
  h.SetTitle("SONG");
  ASSERT_EQ(pack(env, h, src, dir / "good.mf4"), kPackDone);
  Bytes good = Read(dir / "good.mf4");

  std::vector<std::pair<std::string, Bytes>> bad;
  bad.push_back({"empty file", {}});
  bad.push_back({"half a header", Slice(good, 0, 300)});
  bad.push_back({"header only", Slice(good, 0, 512)});
  bad.push_back({"header and part of the size", Slice(good, 0, 514)});
  bad.push_back({"size without a stream", Slice(good, 0, 516)});
  bad.push_back({"last byte missing", Slice(good, 0, good.size() - 1)});
  bad.push_back({"half the stream", Slice(good, 0, good.size() / 2)});
  Bytes huge = good;
  huge[512] = huge[513] = huge[514] = huge[515] = 0xFF;
  bad.push_back({"size larger than the body can hold", huge});
  Bytes more = good;
  uint32_t claim = static_cast<uint32_t>(data.size() * 4);
  for (int i = 0; i < 4; ++i) more[512 + static_cast<size_t>(i)] = static_cast<uint8_t>(claim >> (8 * i));
  bad.push_back({"size larger than the stream gives", more});

  for (const auto& [name, bytes] : bad) {
    SCOPED_TRACE(name);
    ui.messages.clear();
    auto p = Write("bad.mf4", bytes);
    Write("keep.mid", {'k', 'e', 'e', 'p'});
    PackageHeader u;
    EXPECT_EQ(unpack(env, u, p, dir / "keep.mid"), kPackFailed);
    ExpectReadError(p);
    EXPECT_TRUE(u == PackageHeader());
    EXPECT_TRUE(Read(dir / "keep.mid") == testing::Text("keep"));
  }
}

TEST_F(Package, CheckBoxOfTheNextQuestion) {
  set_check_caption(env, "Visualizza ancora questo messaggio");
  set_check_state(env, 1);
  ui.checkAnswers.push_back(false);
  ui.answers.push_back(kIdYes);
  EXPECT_EQ(ui.ShowMessage("La song X non contiene alcun testo", "Attenzione", mb::kYesNo | mb::kIconExclamation),
            kIdYes);
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].checkText, "Visualizza ancora questo messaggio");
  EXPECT_TRUE(ui.messages[0].checkState);
  EXPECT_FALSE(ui.MessageCheckState());

  set_check_state(env, 0);
  set_check_caption(env, "");
  ui.ShowMessage("Altro", "Attenzione", mb::kOk);
  EXPECT_EQ(ui.messages[1].checkText, "");
  EXPECT_FALSE(ui.messages[1].checkState);
}

}  // namespace
}  // namespace kestro
