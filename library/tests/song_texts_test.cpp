#include "library/song_texts.h"

#include <gtest/gtest.h>

#include <cstring>

#include "platform/fileutil.h"
#include "platform/testing/testsupport.h"

namespace kestro::library {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

Bytes FakeAudio(size_t n) {
  Bytes a(n);
  for (size_t i = 0; i < n; ++i) a[i] = static_cast<uint8_t>((i * 31 + 7) & 0xFF);
  a[0] = 0xFF;
  a[1] = 0xFB;
  return a;
}

// Runs a Python snippet with mutagen; `path` is passed as sys.argv[1].
std::string Mutagen(const std::string& code, const fs::path& path) {
  auto r = testing::Run({testing::Python3(), "-c", "import sys, mutagen.id3 as m\n" + code, path.string()});
  EXPECT_EQ(r.status, 0) << r.err;
  return r.out;
}

SongRecord ScanFile(const fs::path& p) {
  SongRecord r;
  r.fileName = p.string();
  auto data = ReadBinaryFile(p).value();
  data.resize(std::min(data.size(), kSongHeadBytes));
  ReadSongTexts(r, data.data(), data.size());
  return r;
}

const char* kWriteTags =
    "t = m.ID3()\n"
    "t.add(m.TIT2(encoding=ENC, text='Volare'))\n"
    "t.add(m.TPE1(encoding=ENC, text='Domenico Modugno'))\n"
    "t.add(m.TCON(encoding=ENC, text='Pop'))\n"
    "t.add(m.TCOM(encoding=ENC, text='Migliacci'))\n"
    "t.add(m.TPUB(encoding=ENC, text='Fonit'))\n"
    "t.add(m.TCOP(encoding=ENC, text='1958 Fonit'))\n"
    "t.add(m.TALB(encoding=0, text='Album'))\n"
    "t.save(sys.argv[1], v2_version=VER)\n";

std::string WithParams(std::string code, int enc, int ver) {
  code.replace(code.find("VER"), 3, std::to_string(ver));
  for (size_t p; (p = code.find("ENC")) != std::string::npos;) code.replace(p, 3, std::to_string(enc));
  return code;
}

TEST(Mp3Tags, TagsWrittenByMutagenAreRead) {
  struct Case {
    int encoding;
    int version;
  } cases[] = {{0, 3}, {1, 3}, {3, 4}};  // Latin-1 v2.3, UTF-16 v2.3, UTF-8 v2.4
  for (const auto& c : cases) {
    TempDir dir;
    fs::path p = dir / "Volare.mp3";
    ASSERT_TRUE(WriteBinaryFile(p, FakeAudio(5000)));
    Mutagen(WithParams(kWriteTags, c.encoding, c.version), p);
    SongRecord r = ScanFile(p);
    EXPECT_EQ(r.title, "VOLARE") << c.encoding;
    EXPECT_EQ(r.author, "DOMENICO MODUGNO") << c.encoding;
    EXPECT_EQ(r.genre, "POP") << c.encoding;
    EXPECT_EQ(r.composer, "MIGLIACCI") << c.encoding;
    EXPECT_EQ(r.publisher, "FONIT") << c.encoding;
    EXPECT_EQ(r.rightsText, "1958 FONIT") << c.encoding;
  }
}

TEST(Mp3Tags, UntaggedFileUsesItsName) {
  TempDir dir;
  fs::path p = dir / "nel blu.Mp3";
  ASSERT_TRUE(WriteBinaryFile(p, FakeAudio(3000)));
  SongRecord r = ScanFile(p);
  EXPECT_EQ(r.title, "NEL BLU");
  EXPECT_EQ(r.author, "-");
  EXPECT_EQ(r.genre, "-");
  EXPECT_EQ(r.composer, "");
}

TEST(Mp3Tags, ScanRules) {
  // Size byte 0 ignored, the later of two frames wins, and a frame near the
  // end of the data is not read past it.
  Bytes d = {'I', 'D', '3', 3, 0, 0, 0, 0, 0, 100};
  auto frame = [&](const char* id, const std::string& text, int sizeByte) {
    d.insert(d.end(), id, id + 4);
    d.insert(d.end(), {0, 0, 0, static_cast<uint8_t>(sizeByte), 0, 0, 0});
    d.insert(d.end(), text.begin(), text.end());
  };
  frame("TIT2", "first", 6);
  frame("TPE1", "ignored", 0);
  frame("TIT2", "second", 7);
  frame("TCON", "cut", 200);  // claims more than the data holds
  SongRecord r;
  r.fileName = "/x/song.mp3";
  ReadSongTexts(r, d.data(), d.size());
  EXPECT_EQ(r.title, "SECOND");
  EXPECT_EQ(r.author, "-");
  EXPECT_EQ(r.genre, "CUT");
  // Not a version 2 or 3 (or 4) tag: nothing is scanned.
  d[3] = 9;
  ReadSongTexts(r, d.data(), d.size());
  EXPECT_EQ(r.title, "SONG");
}

TEST(Mp3Tags, SavingAnUntaggedFileAddsA1024ByteTag) {
  TempDir dir;
  fs::path p = dir / "song.mp3";
  Bytes audio = FakeAudio(7000);
  ASSERT_TRUE(WriteBinaryFile(p, audio));
  SongTexts t{"Volare", "Modugno", "Pop", "Fonit", "Migliacci", ""};
  ASSERT_TRUE(WriteSongTexts(p, t, dir.path()));
  Bytes f = ReadBinaryFile(p).value();
  ASSERT_EQ(f.size(), audio.size() + 1024);
  EXPECT_EQ(Bytes(f.begin(), f.begin() + 10), (Bytes{0x49, 0x44, 0x33, 0x03, 0, 0, 0, 0, 0x07, 0x76}));
  EXPECT_EQ(Bytes(f.begin() + 1024, f.end()), audio);
  EXPECT_FALSE(fs::exists(dir / "temp.mp3"));
  std::string seen = Mutagen(
      "t = m.ID3(sys.argv[1])\nfor k in ['TIT2','TPE1','TCON','TPUB','TCOM']: print(k, t[k].text[0])\n", p);
  EXPECT_EQ(seen, "TIT2 Volare\nTPE1 Modugno\nTCON Pop\nTPUB Fonit\nTCOM Migliacci\n");
}

TEST(Mp3Tags, RewritingKeepsOtherFramesAndNeverTheAudio) {
  TempDir dir;
  fs::path p = dir / "song.mp3";
  Bytes audio = FakeAudio(9000);
  ASSERT_TRUE(WriteBinaryFile(p, audio));
  // A tag with a picture and no padding: the new frames cannot fit in place.
  Mutagen(
      "t = m.ID3()\n"
      "t.add(m.TIT2(encoding=0, text='X'))\n"
      "t.add(m.APIC(encoding=0, mime='image/png', type=3, desc='', data=bytes(range(256))*4))\n"
      "t.add(m.TALB(encoding=0, text='Album'))\n"
      "t.save(sys.argv[1], v2_version=3, padding=lambda info: 0)\n",
      p);
  std::string longText(40, 'L');
  SongTexts t{longText, "Performer Name", "Genre", "Editor", "Author", "Rights"};
  ASSERT_TRUE(WriteSongTexts(p, t, dir.path()));
  Bytes f = ReadBinaryFile(p).value();
  ASSERT_GE(f.size(), audio.size());
  EXPECT_EQ(Bytes(f.end() - static_cast<long>(audio.size()), f.end()), audio);
  std::string seen = Mutagen(
      "t = m.ID3(sys.argv[1])\nprint(t['TIT2'].text[0], t['TPE1'].text[0], t['TALB'].text[0], len(t.getall('APIC')[0].data))\n",
      p);
  EXPECT_EQ(seen, std::string(31, 'L') + " Performer Name Album 1024\n");

  // A second save fits in the grown tag and is done in place.
  size_t before = f.size();
  t.title = "Short";
  ASSERT_TRUE(WriteSongTexts(p, t, dir.path()));
  EXPECT_EQ(ReadBinaryFile(p)->size(), before);
  EXPECT_EQ(ScanFile(p).title, "SHORT");
}

TEST(Mf4Texts, HeaderFieldsReadAndWritten) {
  TempDir dir;
  fs::create_directories(dir / "MP3s");
  fs::path p = dir / "MP3s" / "song.MF4";  // "MP3" in the folder does not make it an MP3
  Bytes f(2000, 0);
  std::memcpy(f.data(), "_MF4", 4);
  ASSERT_TRUE(WriteBinaryFile(p, f));
  SongTexts t{"TITOLO", "INTERPRETE", "GENERE", std::string(40, 'E'), "AUTORE", "DIRITTI"};
  ASSERT_TRUE(WriteSongTexts(p, t, dir.path()));
  Bytes g = ReadBinaryFile(p).value();
  ASSERT_EQ(g.size(), f.size());
  EXPECT_EQ(std::string(reinterpret_cast<char*>(&g[122])), "TITOLO");
  EXPECT_EQ(std::string(reinterpret_cast<char*>(&g[218])), "INTERPRETE");
  EXPECT_EQ(std::string(reinterpret_cast<char*>(&g[250])), "GENERE");
  EXPECT_EQ(std::string(reinterpret_cast<char*>(&g[154])), std::string(30, 'E'));
  EXPECT_EQ(g[184], 0);
  SongRecord r = ScanFile(p);
  EXPECT_EQ(r.title, "TITOLO");
  EXPECT_EQ(r.author, "INTERPRETE");
  EXPECT_EQ(r.genre, "GENERE");
  SongTexts back = ReadStoredTexts(p.string(), g.data(), g.size());
  EXPECT_EQ(back.editor, std::string(30, 'E'));
  EXPECT_EQ(back.rights, "DIRITTI");
  EXPECT_EQ(back.author, "AUTORE");
}

TEST(SongTexts, NamesAndExtensions) {
  EXPECT_EQ(ExtensionOf("/a.b/song.mf4"), "MF4");
  EXPECT_EQ(ExtensionOf("/a.b/song"), "");
  EXPECT_EQ(ExtensionOf("x.mp3x"), "MP3");
  EXPECT_EQ(BaseNameOf("/a.b/song.tar.mf4"), "song.tar");
  EXPECT_EQ(BaseNameOf("song"), "song");
}

}  // namespace
}  // namespace kestro::library
