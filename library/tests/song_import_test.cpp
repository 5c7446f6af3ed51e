#include "library/song_import.h"

#include <gtest/gtest.h>

#include <set>

#include "convert/package.h"
#include "convert/tests/mf4_test_support.h"
#include "library/song_texts.h"
#include "platform/fileutil.h"
#include "platform/scripted_ui.h"
#include "platform/testing/testsupport.h"

namespace kestro::library {
namespace {

namespace fs = std::filesystem;
using mf4test::ByteVec;
using mf4test::Track;

// A song with a track name and enough lyric events to become karaoke pages.
ByteVec LyricSong(const std::string& name, const std::string& rights = "") {
  Track t;
  t.Meta(0, 0x03, name);
  if (!rights.empty()) t.Meta(0, 0x02, rights);
  for (uint32_t i = 0; i < 60; ++i) {
    t.Meta(100 + i * 96, 0x05, i % 8 == 7 ? "na/" : "la ");
    t.At(100 + i * 96, {0x90, 0x40, 0x50}).At(140 + i * 96, {0x80, 0x40, 0x40});
  }
  return mf4test::SongFile(96, {t.End()});
}

ByteVec NotesOnly() {
  Track t;
  for (uint32_t i = 0; i < 20; ++i) t.At(i * 100, {0x90, 0x40, 0x50}).At(i * 100 + 50, {0x80, 0x40, 0x40});
  return mf4test::SongFile(480, {t.End()});
}

class SongImport : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::FillInstallDir(dir.path());
    ASSERT_TRUE(dict.Load(dir.path(), profile, ui));
    fs::create_directories(songs);
    fs::create_directories(from);
  }
  fs::path Source(const std::string& name, const ByteVec& bytes) {
    fs::path p = from / name;
    testing::WriteFileOrDie(p, std::string(bytes.begin(), bytes.end()));
    return p;
  }
  ImportResult Import(const fs::path& src, ImportOptions o = {}) { return ImportSongFile(env, ctx, src, songs, o); }
  PackageHeader HeaderOf(const fs::path& p) {
    PackageHeader h;
    auto b = ReadBinaryFile(p).value_or(ByteVec{});
    if (b.size() >= PackageHeader::kSize) std::copy(b.begin(), b.begin() + PackageHeader::kSize, h.bytes.begin());
    return h;
  }
  // The files of the install folder that a conversion may leave.
  std::set<std::string> WorkFilesLeft() {
    std::set<std::string> left;
    for (const auto& e : fs::directory_iterator(dir.path())) {
      std::string n = e.path().filename().string();
      for (const char* w : {"0.MID", "TEMP.MIT", "TEMP.MID", "pre.MID", "midi.tmp", "WB.MID", "Tune1000.MID",
                            "TEXT.TXT", "LOGILE.TXT"}) {
        if (n == w) left.insert(n);
      }
      if (n.find("_M1.MID") != std::string::npos || n.find("_M2.MID") != std::string::npos) left.insert(n);
    }
    return left;
  }

  testing::TempDir dir;
  fs::path songs = dir / "songs";
  fs::path from = dir / "from";
  ProfileFile profile{dir / "Zumbla.INI"};
  ScriptedUi ui;
  VirtualClock clock;
  Dictionary dict;
  Env env{ui, clock, profile, dict, dir.path()};
  ConvertContext ctx;
};

TEST(SongFileKinds, ByTheExtensionInAnyCase) {
  EXPECT_EQ(SongFileKindOf("a/b/Song.mid"), SongFileKind::Midi);
  EXPECT_EQ(SongFileKindOf("Song.KaR"), SongFileKind::Midi);
  EXPECT_EQ(SongFileKindOf("x.mf3"), SongFileKind::Mf3);
  EXPECT_EQ(SongFileKindOf("x.Mf4"), SongFileKind::Mf4);
  EXPECT_EQ(SongFileKindOf("x.mp3"), SongFileKind::Mp3);
  EXPECT_EQ(SongFileKindOf("x.txt"), SongFileKind::Other);
  EXPECT_EQ(SongFileKindOf("x.midi"), SongFileKind::Other);
  EXPECT_EQ(SongFileKindOf("mid"), SongFileKind::Other);
  EXPECT_EQ(SongFileKindOf("some.mid/file"), SongFileKind::Other);

  EXPECT_EQ(DestinationFor("/s", "/music/Volare.mid"), fs::path("/s/Volare.MF4"));
  EXPECT_EQ(DestinationFor("/s", "/music/Old.song.mf3"), fs::path("/s/Old.song.MF4"));
  EXPECT_EQ(DestinationFor("/s", "x.mp3"), fs::path("/s/x.MP3"));
  EXPECT_EQ(DestinationFor("/s", "../../etc/passwd.mid"), fs::path("/s/passwd.MF4"));
  EXPECT_EQ(DestinationFor("/s", "/music/.mid"), fs::path());
  EXPECT_EQ(DestinationFor("/s", "/music/...mid"), fs::path("/s/...MF4"));
}

TEST_F(SongImport, KaraokeFileBecomesAnMf4SongWithItsTexts) {
  auto src = Source("Mia canzone.kar", LyricSong("Mia canzone;x"));
  ImportResult r = Import(src);
  ASSERT_EQ(r.outcome, ImportOutcome::Imported) << r.reason;
  EXPECT_EQ(r.destination, songs / "Mia canzone.MF4");
  EXPECT_TRUE(ui.messages.empty());
  PackageHeader h = HeaderOf(r.destination);
  EXPECT_EQ(h.Magic(), "_MF4");
  EXPECT_EQ(h.Title(), "MIA CANZONE;X");
  EXPECT_EQ(h.FileName(), "Mia canzone.MF4");
  EXPECT_EQ(h.PackageSize(), fs::file_size(r.destination));
  // The content unpacks into MF4 content with karaoke pages.
  PackageHeader scratch;
  ASSERT_EQ(unpack(env, scratch, r.destination, dir / "check.MID"), kPackDone);
  auto content = mf4test::ParseOrFail(ReadBinaryFile(dir / "check.MID").value());
  EXPECT_EQ(content.division, 480);
  EXPECT_FALSE(mf4test::KaraokeOfKind(content.events, 4).empty());
  EXPECT_EQ(WorkFilesLeft(), std::set<std::string>{});
  EXPECT_EQ(fs::status(r.destination).permissions() & fs::perms::owner_write, fs::perms::owner_write);
}

TEST_F(SongImport, CatalogueSongTakesItsTextsFromTheDatabase) {
  // AZZURRO.MID is in the shipped MIDI.DBF.
  auto src = Source("azzurro.mid", LyricSong("Azzurro", "(C) V-SONO"));
  ui.answers = {kIdYes};
  ImportResult r = Import(src);
  ASSERT_EQ(r.outcome, ImportOutcome::Imported) << r.reason;
  PackageHeader h = HeaderOf(r.destination);
  EXPECT_EQ(h.Title(), "AZZURRO");
  EXPECT_EQ(h.Performer(), "ADRIANO CELENTANO");
  EXPECT_EQ(h.Author(), "PAOLO CONTE");
  EXPECT_EQ(h.Genre(), "POP");
  EXPECT_EQ(h.RightsNotice(), env.T("MSG_COPYRIGHT").substr(0, 31));
  EXPECT_EQ(WorkFilesLeft(), std::set<std::string>{});
}

TEST_F(SongImport, DeclinedAndFailedConversions) {
  auto plain = Source("muta.mid", NotesOnly());
  ui.answers = {kIdNo};
  ImportResult r = Import(plain);
  EXPECT_EQ(r.outcome, ImportOutcome::Declined);
  EXPECT_FALSE(fs::exists(songs / "muta.MF4"));
  EXPECT_EQ(WorkFilesLeft(), std::set<std::string>{});

  auto junk = Source("rotta.mid", ByteVec(64, 'x'));
  ui.answers = {kIdYes};
  r = Import(junk);
  EXPECT_EQ(r.outcome, ImportOutcome::Failed);
  EXPECT_FALSE(fs::exists(songs / "rotta.MF4"));
  EXPECT_FALSE(r.reason.empty());

  r = Import(from / "missing.mid");
  EXPECT_EQ(r.outcome, ImportOutcome::Failed);
  EXPECT_EQ(ui.messages.back().caption, env.T("MSG_READERROR"));
}

TEST_F(SongImport, Mf3PackageIsRewrappedKeepingItsHeader) {
  Track t;
  t.At(0, {0x90, 0x40, 0x50}).At(480, {0x80, 0x40}).At(480, mf4test::Karaoke(4, "riga\n"));
  ByteVec content = mf4test::SongFile(480, {t.End()});
  testing::WriteFileOrDie(dir / "old.content", std::string(content.begin(), content.end()));
  PackageHeader old;
  old.SetMagic("_MF3");
  old.SetTitle("VECCHIA CANZONE");
  old.SetPerformer("QUALCUNO");
  old.SetTempo(99);
  ASSERT_EQ(pack(env, old, dir / "old.content", from / "vecchia.MF3"), kPackDone);

  ImportResult r = Import(from / "vecchia.MF3");
  ASSERT_EQ(r.outcome, ImportOutcome::Imported) << r.reason;
  EXPECT_EQ(r.destination, songs / "vecchia.MF4");
  PackageHeader h = HeaderOf(r.destination);
  EXPECT_EQ(h.Magic(), "_MF4");
  EXPECT_EQ(h.Title(), "VECCHIA CANZONE");
  EXPECT_EQ(h.Performer(), "QUALCUNO");
  EXPECT_EQ(h.Tempo(), 99);
  PackageHeader scratch;
  ASSERT_EQ(unpack(env, scratch, r.destination, dir / "check.MID"), kPackDone);
  // The .MF3 events as they were, after the marker; the old end of track
  // stays in front of the new one.
  auto c = mf4test::ParseOrFail(ReadBinaryFile(dir / "check.MID").value(), true);
  ASSERT_EQ(c.events.size(), 3u);
  EXPECT_EQ(c.events[1].bytes, (ByteVec{0x80, 0x40}));
  EXPECT_EQ(c.trailing, (ByteVec{0x00, 0xFF, 0x2F, 0x00}));
  EXPECT_EQ(WorkFilesLeft(), std::set<std::string>{});
}

TEST_F(SongImport, Mf4AndMp3FilesAreCopied) {
  ByteVec song(900, 0);
  std::copy_n("_MF4", 4, song.begin());
  auto mf4 = Source("pronta.mf4", song);
  fs::permissions(mf4, fs::perms::owner_write, fs::perm_options::remove);
  ImportResult r = Import(mf4);
  ASSERT_EQ(r.outcome, ImportOutcome::Imported);
  EXPECT_EQ(r.destination, songs / "pronta.MF4");
  EXPECT_EQ(ReadBinaryFile(r.destination).value(), song);
  EXPECT_EQ(fs::status(r.destination).permissions() & fs::perms::owner_write, fs::perms::owner_write);
  EXPECT_EQ(ReadBinaryFile(mf4).value(), song) << "the source stays as it was";

  // Dropped on the window: the copy gets its name at offset 42.
  fs::remove(r.destination);
  r = Import(mf4, {.dropped = true});
  ASSERT_EQ(r.outcome, ImportOutcome::Imported);
  EXPECT_EQ(HeaderOf(r.destination).FileName(), "pronta.MF4");
  EXPECT_EQ(ReadBinaryFile(mf4).value(), song);

  // A song imported from the song folder itself stays whole.
  r = Import(songs / "pronta.MF4");
  EXPECT_EQ(r.outcome, ImportOutcome::Imported);
  EXPECT_EQ(fs::file_size(songs / "pronta.MF4"), 900u);

  auto mp3 = Source("musica.mp3", ByteVec(300, 0xFF));
  r = Import(mp3);
  ASSERT_EQ(r.outcome, ImportOutcome::Imported);
  EXPECT_EQ(r.destination, songs / "musica.MP3");
  EXPECT_EQ(fs::file_size(r.destination), 300u);

  EXPECT_EQ(Import(Source("note.txt", ByteVec(5, 'n'))).outcome, ImportOutcome::NotASong);
  EXPECT_FALSE(fs::exists(songs / "note.MF4"));
  EXPECT_TRUE(ui.messages.empty());
}

TEST_F(SongImport, EmptyAndCutSongFilesAreRefused) {
  // A good song of each name is in the folder already: a broken file must not
  // take its place either.
  ByteVec good(900, 7);
  std::copy_n("_MF4", 4, good.begin());
  struct Case {
    const char* name;
    size_t size;
    const char* dest;
  } cases[] = {{"vuota.mf4", 0, "vuota.MF4"},
               {"corta.mf4", 100, "corta.MF4"},
               {"quasi.mf4", PackageHeader::kSize - 1, "quasi.MF4"},
               {"muta.mp3", 0, "muta.MP3"},
               {"vecchia.mf3", 0, "vecchia.MF4"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    testing::WriteFileOrDie(songs / c.dest, std::string(good.begin(), good.end()));
    ByteVec bytes(c.size, 0);
    if (c.size >= 4) std::copy_n("_MF4", 4, bytes.begin());
    ui.messages.clear();
    ImportResult r = Import(Source(c.name, bytes));
    EXPECT_EQ(r.outcome, ImportOutcome::Failed);
    EXPECT_FALSE(r.reason.empty());
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].text, env.TF("MSG_CANTOPEN", (from / c.name).string()));
    EXPECT_EQ(ui.messages[0].caption, env.T("MSG_READERROR"));
    EXPECT_EQ(ReadBinaryFile(songs / c.dest).value(), good);
  }
  // A header and nothing more is still taken, as is a one-byte MP3.
  ByteVec header(PackageHeader::kSize, 0);
  std::copy_n("_MF4", 4, header.begin());
  EXPECT_EQ(Import(Source("testa.mf4", header)).outcome, ImportOutcome::Imported);
  EXPECT_EQ(Import(Source("breve.mp3", ByteVec(1, 0xFF))).outcome, ImportOutcome::Imported);
}

TEST_F(SongImport, SongFolderIsTheInstallFolder) {
  // The default: OLD_MF4 is the install folder. The new song must survive
  // the clean-up of the work files.
  auto src = Source("Song.mid", LyricSong("Song"));
  ImportResult r = ImportSongFile(env, ctx, src, dir.path());
  ASSERT_EQ(r.outcome, ImportOutcome::Imported);
  EXPECT_TRUE(fs::exists(dir / "Song.MF4"));
  ByteVec mf4(600, 0);
  auto copy = Source("Song.MF4", mf4);
  r = ImportSongFile(env, ctx, copy, dir.path());
  EXPECT_EQ(r.outcome, ImportOutcome::Imported);
  EXPECT_EQ(fs::file_size(dir / "Song.MF4"), 600u);
}

TEST_F(SongImport, SourceThatIsAWorkFileIsLeftAlone) {
  ByteVec song = LyricSong("Temp");
  testing::WriteFileOrDie(dir / "TEMP.MID", std::string(song.begin(), song.end()));
  ImportResult r = ImportSongFile(env, ctx, dir / "TEMP.MID", songs);
  EXPECT_EQ(r.outcome, ImportOutcome::Failed);
  EXPECT_EQ(ReadBinaryFile(dir / "TEMP.MID").value(), song);
}

// A batch does what importing its files one by one does: the same results in
// the same order, the same songs byte for byte, the same messages; a song
// packed beside the next conversion is finished before a copy of the same
// name lands.
TEST_F(SongImport, BatchGivesWhatOneByOneGives) {
  ByteVec copy(900, 3);
  std::copy_n("_MF4", 4, copy.begin());
  const std::vector<fs::path> batch = {
      Source("Uno.kar", LyricSong("Uno")),   Source("rotta.mid", ByteVec(64, 'x')),
      Source("note.txt", ByteVec(5, 'n')),   Source("Due.kar", LyricSong("Due")),
      Source("Due.mf4", copy),               Source("Tre.mid", LyricSong("Tre")),
      Source("Quattro.kar", LyricSong("Quattro")), from / "missing.kar"};

  const fs::path oneByOne = dir / "one";
  fs::create_directories(oneByOne);
  std::vector<ImportResult> expected;
  {
    ConvertContext c;
    for (const fs::path& f : batch) expected.push_back(ImportSongFile(env, c, f, oneByOne));
  }
  const std::vector<ScriptedUi::Shown> expectedMessages = ui.messages;
  ui.messages.clear();

  std::vector<size_t> order;
  std::vector<ImportResult> got;
  ImportSongFiles(env, ctx, batch, songs, {}, [&](size_t i, const ImportResult& r) {
    order.push_back(i);
    got.push_back(r);
    return true;
  });
  ASSERT_EQ(order, (std::vector<size_t>{0, 1, 2, 3, 4, 5, 6, 7}));
  for (size_t i = 0; i < batch.size(); ++i) {
    SCOPED_TRACE(batch[i].filename().string());
    EXPECT_EQ(got[i].outcome, expected[i].outcome);
    EXPECT_EQ(got[i].destination.filename(), expected[i].destination.filename());
    EXPECT_EQ(got[i].digitWarning, expected[i].digitWarning);
  }
  EXPECT_EQ(got[0].outcome, ImportOutcome::Imported);
  EXPECT_NE(got[1].outcome, ImportOutcome::Imported);
  EXPECT_EQ(got[7].outcome, ImportOutcome::Failed);
  size_t songsWritten = 0;
  for (const auto& e : fs::directory_iterator(oneByOne)) {
    SCOPED_TRACE(e.path().filename().string());
    EXPECT_EQ(ReadBinaryFile(songs / e.path().filename()).value_or(ByteVec{}), ReadBinaryFile(e.path()).value());
    ++songsWritten;
  }
  EXPECT_EQ(songsWritten, 4u);
  EXPECT_EQ(ReadBinaryFile(songs / "Due.MF4").value(), copy);
  ASSERT_EQ(ui.messages.size(), expectedMessages.size());
  for (size_t i = 0; i < ui.messages.size(); ++i) {
    EXPECT_EQ(ui.messages[i].caption, expectedMessages[i].caption);
    EXPECT_EQ(ui.messages[i].text, expectedMessages[i].text);
  }
  EXPECT_EQ(WorkFilesLeft(), std::set<std::string>{});
}

// Stopping after a song: the one converted meanwhile is finished and told
// of, no later file is touched.
TEST_F(SongImport, BatchStopsAfterTheSongInHand) {
  const std::vector<fs::path> batch = {Source("Uno.kar", LyricSong("Uno")), Source("Due.kar", LyricSong("Due")),
                                       Source("Tre.kar", LyricSong("Tre"))};
  std::vector<size_t> told;
  ImportSongFiles(env, ctx, batch, songs, {}, [&](size_t i, const ImportResult& r) {
    EXPECT_EQ(r.outcome, ImportOutcome::Imported) << r.reason;
    told.push_back(i);
    return false;
  });
  EXPECT_EQ(told, (std::vector<size_t>{0, 1}));
  EXPECT_TRUE(fs::exists(songs / "Uno.MF4"));
  EXPECT_TRUE(fs::exists(songs / "Due.MF4"));
  EXPECT_FALSE(fs::exists(songs / "Tre.MF4"));
  EXPECT_EQ(WorkFilesLeft(), std::set<std::string>{});
}

// A package that cannot be written is reported as pack reports it, and the
// batch goes on.
TEST_F(SongImport, BatchReportsAPackageItCannotWrite) {
  fs::create_directories(songs / "Uno.MF4");  // a folder where the song should go
  const std::vector<fs::path> batch = {Source("Uno.kar", LyricSong("Uno")), Source("Due.kar", LyricSong("Due"))};
  std::vector<ImportOutcome> outcomes;
  ImportSongFiles(env, ctx, batch, songs, {}, [&](size_t, const ImportResult& r) {
    outcomes.push_back(r.outcome);
    return true;
  });
  EXPECT_EQ(outcomes, (std::vector<ImportOutcome>{ImportOutcome::Failed, ImportOutcome::Imported}));
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].caption, env.T("MSG_WRITEERROR"));
  EXPECT_TRUE(fs::is_directory(songs / "Uno.MF4"));
  EXPECT_EQ(HeaderOf(songs / "Due.MF4").Title(), "DUE");
}

TEST_F(SongImport, TextsForTheHeader) {
  ctx.fields.title = "T";
  ctx.fields.titleFromTrackName = true;
  ctx.fields.author = "A";
  ctx.fields.performer = "P";
  ctx.fields.editor = "E";
  ctx.fields.genre = "G";
  ctx.fields.sourceRights = "(c) V-Sono";
  ctx.fields.rights = "Tutti";
  ctx.fields.tempo = 70000;
  ctx.fields.markers = true;
  ImportedTexts t = TextsFromConversion(ctx);
  EXPECT_EQ(t.title, "T");
  EXPECT_TRUE(t.hadTitle);
  EXPECT_EQ(t.author, "A");
  EXPECT_EQ(t.performer, "P");
  EXPECT_EQ(t.editor, "E");
  EXPECT_EQ(t.genre, "G");
  EXPECT_EQ(t.sourceRights, "(c) V-Sono");
  EXPECT_EQ(t.rightsToStore, "Tutti");
  EXPECT_EQ(t.tempo, 0xFFFF);
  EXPECT_EQ(t.markers, 1);
}

}  // namespace
}  // namespace kestro::library
