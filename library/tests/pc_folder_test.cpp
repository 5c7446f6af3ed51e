#include "library/pc_folder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "library/dbf.h"
#include "library/song_texts.h"
#include "platform/fileutil.h"
#include "platform/scripted_ui.h"
#include "platform/testing/testsupport.h"

namespace kestro::library {
namespace {

namespace fs = std::filesystem;

Bytes Mf4(const std::string& title, const std::string& performer, const std::string& genre, size_t size = 900) {
  Bytes b(size, 0);
  std::memcpy(b.data(), "_MF4", 4);
  std::memcpy(&b[122], title.data(), title.size());
  std::memcpy(&b[218], performer.data(), performer.size());
  std::memcpy(&b[250], genre.data(), genre.size());
  return b;
}

class PcFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::FillInstallDir(dir.path());
    ASSERT_TRUE(dict.Load(dir.path(), profile, ui));
  }
  std::string Header(const fs::path& p, size_t at, size_t n = 32) {
    auto b = ReadBinaryFile(p).value();
    return FieldText(b.data() + at, n, n);
  }
  testing::TempDir dir;
  ProfileFile profile{dir / "Zumbla.INI"};
  ScriptedUi ui;
  VirtualClock clock;
  Dictionary dict;
  Env env{ui, clock, profile, dict, dir.path()};
};

TEST_F(PcFolder, ScanListsSongFilesWithTheirTexts) {
  fs::path songs = dir / "songs";
  fs::create_directories(songs / "sub.MF4");
  ASSERT_TRUE(WriteBinaryFile(songs / "b.MF4", Mf4("VOLARE", "MODUGNO", "POP", 1234)));
  ASSERT_TRUE(WriteBinaryFile(songs / "a.mp3", Bytes(300, 0xFF)));
  ASSERT_TRUE(WriteBinaryFile(songs / "notes.txt", Bytes(10, 'x')));
  fs::create_symlink(songs / "gone", songs / "broken.MF4");
  SongList list;
  list.push_back(SongRecord{});
  ScanPcFolder(env, songs, list);
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[0].fileName, (songs / "a.mp3").string());
  EXPECT_EQ(list[0].title, "A");
  EXPECT_EQ(list[0].author, "-");
  EXPECT_EQ(list[1].fileName, (songs / "b.MF4").string());
  EXPECT_EQ(list[1].title, "VOLARE");
  EXPECT_EQ(list[1].author, "MODUGNO");
  EXPECT_EQ(list[1].genre, "POP");
  EXPECT_EQ(list[1].fileSize, 1234u);
  EXPECT_EQ(list[1].code, 1);
  EXPECT_EQ(list[2].title, "-");
  EXPECT_EQ(ui.Last()->text, env.TF("MSG_CANTOPEN", (songs / "broken.MF4").string()));
  EXPECT_EQ(list[2].listIndex, 2);
  EXPECT_TRUE(ui.progressLog.empty());  // 50 songs or fewer: no progress window
}

TEST_F(PcFolder, ProgressOnlyAboveFiftySongs) {
  for (int n : {50, 51}) {
    testing::TempDir songs;
    for (int i = 0; i < n; ++i) ASSERT_TRUE(WriteBinaryFile(songs / ("s" + std::to_string(i) + ".MF4"), Mf4("T", "P", "G")));
    ui.progressLog.clear();
    SongList list;
    ScanPcFolder(env, songs.path(), list);
    EXPECT_EQ(list.size(), static_cast<size_t>(n));
    EXPECT_EQ(!ui.progressLog.empty(), n == 51) << n;
  }
}

TEST_F(PcFolder, MergeMovesNewSongsButNeverEmptiesTheSongFolder) {
  fs::path oldF = dir / "old", newF = dir / "new", dl = dir / "dl";
  for (const auto& f : {oldF, newF, dl}) fs::create_directories(f);
  ASSERT_TRUE(WriteBinaryFile(oldF / "keep.MF4", Mf4("K", "", "")));
  ASSERT_TRUE(WriteBinaryFile(newF / "n.MF4", Mf4("N", "", "")));
  ASSERT_TRUE(WriteBinaryFile(newF / "other.mp3", Bytes(5, 1)));
  ASSERT_TRUE(WriteBinaryFile(dl / "d.mf4", Mf4("D", "", "")));
  ASSERT_TRUE(profile.WriteString("PATH", "OLD_MF4", oldF.string()));
  ASSERT_TRUE(profile.WriteString("PATH", "NEW_MF4", newF.string()));
  ASSERT_TRUE(profile.WriteString("PATH", "DOWNLOAD_MF4", dl.string()));
  MergeNewSongs(env);
  EXPECT_TRUE(fs::exists(oldF / "keep.MF4"));
  EXPECT_TRUE(fs::exists(oldF / "n.MF4"));
  EXPECT_TRUE(fs::exists(oldF / "d.mf4"));
  EXPECT_FALSE(fs::exists(newF / "n.MF4"));
  EXPECT_FALSE(fs::exists(dl / "d.mf4"));
  EXPECT_TRUE(fs::exists(newF / "other.mp3"));

  // With the defaults all three folders are the install folder: nothing goes.
  ASSERT_TRUE(WriteBinaryFile(dir / "song.MF4", Mf4("S", "", "")));
  testing::TempDir other;
  ProfileFile fresh(other / "Zumbla.INI");
  Env env2{ui, clock, fresh, dict, dir.path()};
  MergeNewSongs(env2);
  EXPECT_TRUE(fs::exists(dir / "song.MF4"));
}

TEST_F(PcFolder, ImportedHeaderTextsForCatalogueAndOtherSongs) {
  // The shipped MIDI.DBF knows the song "AZZURRO.MID".
  fs::path song = dir / "azzurro.MF4";
  Bytes original = Mf4("OLD TITLE", "OLD PERF", "OLD GENRE");
  ASSERT_TRUE(WriteBinaryFile(song, original));
  ImportedTexts t;
  t.title = "MIDI TITLE";
  t.hadTitle = false;
  t.performer = "MIDI PERFORMER";
  t.sourceRights = "(c) V-Sono 1999";
  t.rightsToStore = "Catalogue rights";
  t.tempo = 0x1234;
  t.markers = 1;
  ASSERT_TRUE(FillImportedHeader(env, song, t));
  std::string dbTitle, dbGenre;
  {
    // What the table says, read through the same reader.
    auto table = DbfTable::Open(dir / "MIDI.DBF");
    ASSERT_TRUE(table && table->FindRecord("AZZURRO.MID", "CODICE"));
    table->GetField("TITOLO", 31, &dbTitle);
    table->GetField("GENERE", 31, &dbGenre);
  }
  EXPECT_EQ(Header(song, kMf4Title), dbTitle);             // no MIDI title: the database's
  EXPECT_EQ(Header(song, kMf4Performer), "MIDI PERFORMER");  // the MIDI one wins
  EXPECT_EQ(Header(song, kMf4Genre), dbGenre);
  EXPECT_EQ(Header(song, kMf4Rights), "Catalogue rights");
  auto b = ReadBinaryFile(song).value();
  EXPECT_EQ(b[38], 0x34);
  EXPECT_EQ(b[39], 0x12);
  EXPECT_EQ(b[185], 1);
  EXPECT_EQ(b.size(), original.size());

  // Not a catalogue song: the database is never consulted, empty texts
  // leave the header as it was.
  ASSERT_TRUE(WriteBinaryFile(song, original));
  ImportedTexts plain;
  plain.title = "MY SONG";
  plain.sourceRights = "(c) me";
  ASSERT_TRUE(FillImportedHeader(env, song, plain));
  EXPECT_EQ(Header(song, kMf4Title), "MY SONG");
  EXPECT_EQ(Header(song, kMf4Performer), "OLD PERF");
  EXPECT_EQ(Header(song, kMf4Genre), "OLD GENRE");

  // ForceDBSettings makes every song a catalogue song.
  ASSERT_TRUE(profile.WriteString("Settings", "ForceDBSettings", "1"));
  ASSERT_TRUE(WriteBinaryFile(song, original));
  ASSERT_TRUE(FillImportedHeader(env, song, plain));
  EXPECT_EQ(Header(song, kMf4Genre), dbGenre);

  // Without the database nothing is written.
  fs::remove(dir / "MIDI.DBF");
  ASSERT_TRUE(WriteBinaryFile(song, original));
  EXPECT_FALSE(FillImportedHeader(env, song, plain));
  EXPECT_EQ(ui.Last()->text, env.TF("MSG_CANTOPEN", (dir / "MIDI.DBF").string()));
  EXPECT_EQ(ReadBinaryFile(song).value(), original);
}

TEST_F(PcFolder, SuggestionListsShipTrimmed) {
  auto artists = LoadSuggestionList(dir / "Artist.dat");
  auto genres = LoadSuggestionList(dir / "genere.dat");
  EXPECT_FALSE(artists.empty());
  EXPECT_NE(std::find(genres.begin(), genres.end(), "POP"), genres.end());
  testing::WriteFileOrDie(dir / "list.dat", "  uno \r\n\n\tdue\n   \ntre");
  EXPECT_EQ(LoadSuggestionList(dir / "list.dat"), (std::vector<std::string>{"uno", "due", "tre"}));
  EXPECT_TRUE(LoadSuggestionList(dir / "missing.dat").empty());
}

TEST_F(PcFolder, HeaderCopyStampAndDigitCheck) {
  fs::path a = dir / "a.MF3", b = dir / "a very long song file name indeed.MF4";
  Bytes src = Mf4("TITLE", "PERF", "GENRE");
  std::memcpy(&src[90], "RIGHTS", 6);
  std::memcpy(&src[154], "EDITOR", 6);
  std::memcpy(&src[186], "AUTHOR", 6);
  ASSERT_TRUE(WriteBinaryFile(a, src));
  ASSERT_TRUE(WriteBinaryFile(b, Mf4("", "", "")));
  ASSERT_TRUE(CopyHeaderTexts(env, a, b));
  for (size_t at : {90u, 122u, 154u, 186u, 218u, 250u}) EXPECT_EQ(Header(b, at), Header(a, at)) << at;
  ASSERT_TRUE(StampSourceName(env, b));
  EXPECT_EQ(Header(b, 42, 36), std::string("a very long song file name indeed.MF4").substr(0, 35));
  EXPECT_FALSE(DigitWarning(env, b).has_value());
  ASSERT_TRUE(WriteBinaryFile(b, Mf4("AB1C", "", "")));
  EXPECT_TRUE(DigitWarning(env, b).has_value());
  ASSERT_TRUE(WriteBinaryFile(b, Mf4("ABCD1", "", "")));
  EXPECT_FALSE(DigitWarning(env, b).has_value());
}

}  // namespace
}  // namespace kestro::library
