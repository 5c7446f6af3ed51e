// The floppy commands on a whole application, with a temporary folder as
// the floppy disk: where the floppy is found, the import with its edge cases
// and the export, and a disk taken out in the middle of a batch.
#include "shell/floppy.h"

#include <gtest/gtest.h>

#include <cstring>

#include "shell/tests/shell_bench.h"

namespace kestro {
namespace {

namespace fs = std::filesystem;

Bytes Package(const std::string& title, const std::string& performer, char fill = 0x5A) {
  Bytes b(512 + 1500, static_cast<uint8_t>(fill));
  std::memset(b.data(), 0, 512);
  std::memcpy(b.data(), "_MF4", 4);
  std::memcpy(b.data() + 122, title.data(), title.size());
  std::memcpy(b.data() + 218, performer.data(), performer.size());
  return b;
}

class Floppy : public shelltest::ShellBench {
 protected:
  Floppy() {
    floppy = rig.dir / "floppy";
    fs::create_directories(floppy);
    rig.profile.WriteString("PATH", "Floppy", floppy.string());
  }
  fs::path floppy;
};

TEST_F(Floppy, WhereTheFloppyIs) {
  // Mounted media: the player's card, the card reader's remembered folder,
  // then a memory stick.
  const fs::path media = rig.dir / "media";
  for (const char* m : {"CARD", "READER", "STICK", "OTHER"}) fs::create_directories(media / m);
  Put(media / "CARD" / "MINDEX0.DAT", Bytes(16, 0));
  const fs::path table = rig.dir / "mounts";
  std::string mounts;
  for (const char* m : {"CARD", "READER", "STICK", "OTHER"}) mounts += "/dev/sdx " + (media / m).string() + " vfat rw 0 0\n";
  mounts += "/dev/sda1 / ext4 rw 0 0\n";
  testing::WriteFileOrDie(table, mounts);
  const MountSources sources{table, {media}};

  EXPECT_EQ(FindFloppyFolder(env, sources), floppy) << "the settings name it";
  rig.profile.WriteString("PATH", "Floppy", (rig.dir / "gone").string());
  EXPECT_EQ(FindFloppyFolder(env, sources), std::nullopt) << "a named folder that is not there";
  rig.profile.WriteString("PATH", "Floppy", "");
  rig.profile.WriteString("PATH", "Flashdrive", (media / "READER").string());
  EXPECT_EQ(FindFloppyFolder(env, sources), media / "STICK");
  EXPECT_EQ(FindFloppyFolder(env, {rig.dir / "no-mounts", {media}}), std::nullopt);
}

TEST_F(Floppy, ImportFromAFloppyWithOnlyUnrelatedFiles) {
  Put(floppy / "notes.txt", Bytes(10, 'x'));
  Put(floppy / "tune.mp3", Bytes(10, 'x'));
  fs::create_directories(floppy / "FOLDER.MF4");
  for (bool folderThere : {true, false}) {
    SCOPED_TRACE(folderThere ? "unrelated files" : "no floppy at all");
    if (!folderThere) fs::remove_all(floppy);
    ui.messages.clear();
    ui.progressLog.clear();
    ui.answers = {kIdOk};
    EXPECT_EQ(LoadSongsFromFloppy(app), CommandStatus::NothingDone);
    ASSERT_EQ(ui.messages.size(), 2u);
    EXPECT_EQ(ui.messages[0].text, T("MSG_DIALOG_INSERT_FLOPPY"));
    EXPECT_EQ(ui.messages[0].caption, T("MSG_PROGRESS_TITLE_LOADING_FROM_FLOPPY"));
    EXPECT_EQ(ui.messages[1].text, T("MSG_NO_MF4_IN_THIS_FLOPPY"));
    EXPECT_EQ(ui.messages[1].caption, T("MSG_CAPTION_WARNING"));
    EXPECT_EQ(ui.steps, 0) << "no progress steps";
    EXPECT_FALSE(app.cycle.busy);
    EXPECT_EQ(ui.CurrentCursor(), Cursor::Normal);
    EXPECT_TRUE(Files(songs).empty());
  }
  // Cancel to the question does nothing more.
  ui.messages.clear();
  ui.answers = {kIdCancel};
  EXPECT_EQ(LoadSongsFromFloppy(app), CommandStatus::NothingDone);
  EXPECT_EQ(ui.messages.size(), 1u);
}

TEST_F(Floppy, SameMf4TwiceAsksAndNoLeavesThePcFolderAsItWas) {
  Put(floppy / "Volare.MF4", Package("VOLARE", "MODUGNO"));
  app.lib.ReloadPcList();
  ui.answers = {kIdOk};
  EXPECT_EQ(LoadSongsFromFloppy(app), CommandStatus::Done);
  EXPECT_EQ(Texts().back(), T("MSG_1_SONG_IMPORTED_FROM_FLOPPY")) << "one song: the singular message";
  EXPECT_EQ(testing::ReadFileOrEmpty(songs / "Volare.MF4"), testing::ReadFileOrEmpty(floppy / "Volare.MF4"));
  ASSERT_EQ(app.lib.pc.size(), 1u) << "the PC list is read again";

  const auto before = Files(songs);
  ui.messages.clear();
  ui.answers = {kIdOk, kIdNo};
  EXPECT_EQ(LoadSongsFromFloppy(app), CommandStatus::NothingDone);
  ASSERT_EQ(ui.messages.size(), 3u);
  EXPECT_EQ(ui.messages[1].text, env.TF("MSG_ALREADY_EXIST", "VOLARE"));
  EXPECT_EQ(ui.messages[1].caption, T("MSG_CAPTION_WARNING"));
  EXPECT_EQ(ui.messages[1].style & 0xF, mb::kYesNo);
  EXPECT_EQ(ui.messages[2].text, env.TF("MSG_N_SONGS_IMPORTED_FROM_FLOPPY", 0));
  EXPECT_EQ(Files(songs), before);

  // Yes: a floppy song of another name replaces the PC song and its copy
  // waiting in the new-songs folder; another PC song of its name is
  // untouched.
  const fs::path arrivals = rig.dir / "new";
  fs::create_directories(arrivals);
  rig.profile.WriteString("PATH", "NEW_MF4", arrivals.string());
  Put(arrivals / "Volare.MF4", Package("VOLARE", "MODUGNO"));
  fs::remove(floppy / "Volare.MF4");
  Put(floppy / "Nel blu.MF4", Package("VOLARE", "MODUGNO", 0x33));
  ui.messages.clear();
  ui.answers = {kIdOk, kIdYes};
  EXPECT_EQ(LoadSongsFromFloppy(app), CommandStatus::Done);
  EXPECT_EQ(Files(songs), (std::map<std::string, std::string>{
                              {"Nel blu.MF4", testing::ReadFileOrEmpty(floppy / "Nel blu.MF4")}}));
  EXPECT_FALSE(fs::exists(arrivals / "Volare.MF4"));
}

TEST_F(Floppy, SingularAndPluralCounts) {
  struct Case {
    const char* name;
    std::vector<std::pair<std::string, Bytes>> files;
    int imported;
  };
  const Case cases[] = {
      {"none imported: a damaged MIDI file", {{"rotto.MID", Bytes(40, 0x01)}}, 0},
      {"one", {{"a.MF4", Package("A", "P")}, {"leggimi.txt", Bytes(3, 'x')}}, 1},
      {"three, one of them a MIDI file converted", {{"a.MF4", Package("A", "P")}, {"b.mf4", Package("B", "P")}, {"tune.mid", shelltest::OneNote()}}, 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(floppy);
    fs::remove_all(songs);
    fs::create_directories(floppy);
    fs::create_directories(songs);
    for (const auto& [name, bytes] : c.files) Put(floppy / name, bytes);
    app.lib.ReloadPcList();
    ui.messages.clear();
    ui.progressLog.clear();
    ui.steps = 0;
    ui.answers = {kIdOk, kIdYes};  // the insert question, then "no words: import all the same?"
    LoadSongsFromFloppy(app);
    EXPECT_EQ(Texts().back(), c.imported == 1 ? T("MSG_1_SONG_IMPORTED_FROM_FLOPPY")
                                              : env.TF("MSG_N_SONGS_IMPORTED_FROM_FLOPPY", c.imported));
    EXPECT_EQ(static_cast<int>(app.lib.pc.size()), c.imported);
    EXPECT_EQ(ui.steps, static_cast<int>(c.files.size())) << "a step after every file";
    EXPECT_FALSE(app.cycle.busy);
  }
  EXPECT_NE(std::find(ui.progressLog.begin(), ui.progressLog.end(), "line2 3 di 3"), ui.progressLog.end());
}

TEST_F(Floppy, DiskTakenOutDuringTheImport) {
  Put(floppy / "a.MF4", Package("A", "P"));
  Put(floppy / "b.MF4", Package("B", "P"));
  Put(floppy / "c.MF4", Package("C", "P"));
  // The PC song that b would replace stays: its replacement never came.
  Put(songs / "old b.MF4", Package("B", "P", 0x44));
  app.lib.ReloadPcList();
  const auto before = Files(songs);
  ui.afterPump = [&] {
    if (app.lib.outcomes.size() == 1) fs::remove_all(floppy);
  };
  ui.answers = {kIdOk, kIdYes, kIdYes};
  EXPECT_EQ(LoadSongsFromFloppy(app), CommandStatus::Done);
  const auto t = Texts();
  ASSERT_EQ(t.size(), 4u) << ::testing::PrintToString(t);
  EXPECT_EQ(t[1], env.TF("MSG_CANTOPEN", (floppy / "b.MF4").string()));
  EXPECT_EQ(t[2], env.TF("MSG_CANTOPEN", (floppy / "c.MF4").string()));
  EXPECT_EQ(t[3], T("MSG_1_SONG_IMPORTED_FROM_FLOPPY"));
  auto after = Files(songs);
  EXPECT_EQ(after.size(), 2u) << "the song that came, the PC song that stays, no half or temporary files";
  EXPECT_EQ(after["old b.MF4"], before.at("old b.MF4"));
  EXPECT_EQ(after.count("a.MF4"), 1u);
  ASSERT_EQ(app.lib.outcomes.size(), 3u);
  EXPECT_EQ(app.lib.outcomes[1].outcome, library::Library::Outcome::Failed);
}

TEST_F(Floppy, ExportCopiesTheSelectedSongsUnderTheirNames) {
  Put(songs / "Volare.MF4", Package("VOLARE", "MODUGNO"));
  Put(songs / "Intro.mp3", Bytes(3000, 0x11));
  Put(songs / "Altra.MF4", Package("ALTRA", "X"));
  SelectPc({"Volare.MF4", "Intro.mp3"});
  ui.answers = {kIdOk};
  EXPECT_EQ(SaveSongsToFloppy(app), CommandStatus::Done);
  EXPECT_EQ(Files(floppy), (std::map<std::string, std::string>{
                               {"Intro.MP3", testing::ReadFileOrEmpty(songs / "Intro.mp3")},
                               {"Volare.MF4", testing::ReadFileOrEmpty(songs / "Volare.MF4")}}));
  EXPECT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].caption, T("MSG_PROGRESS_TITLE_SAVING_TO_FLOPPY"));
  const auto lines = ui.Line1History();
  EXPECT_NE(std::find(lines.begin(), lines.end(),
                      env.TF("MSG_PROGRESS_TRANSFER_FILE", (songs / "Volare.MF4").string(), 2, 2)),
            lines.end());
  EXPECT_EQ(ui.steps, 2);
  EXPECT_FALSE(app.cycle.busy);

  // Cancel, and no floppy at all.
  fs::remove_all(floppy);
  fs::create_directories(floppy);
  ui.messages.clear();
  ui.answers = {kIdCancel};
  EXPECT_EQ(SaveSongsToFloppy(app), CommandStatus::NothingDone);
  EXPECT_TRUE(Files(floppy).empty());
  fs::remove_all(floppy);
  ui.messages.clear();
  ui.answers = {kIdOk};
  EXPECT_EQ(SaveSongsToFloppy(app), CommandStatus::NothingDone);
  EXPECT_EQ(Texts().back(), T("MSG_NO_FLOPPY_FOLDER"));
  EXPECT_FALSE(fs::exists(floppy));
}

TEST_F(Floppy, DiskTakenOutDuringTheExport) {
  for (const char* n : {"a.MF4", "b.MF4", "c.MF4"}) Put(songs / n, Package(n, "P"));
  SelectPc({"a.MF4", "b.MF4", "c.MF4"});
  const auto before = Files(songs);
  ui.afterPump = [&] {
    if (app.lib.outcomes.size() == 1) fs::remove_all(floppy);
  };
  ui.answers = {kIdOk};
  EXPECT_EQ(SaveSongsToFloppy(app), CommandStatus::Done);
  const auto t = Texts();
  ASSERT_EQ(t.size(), 3u);
  for (const char* n : {"b.MF4", "c.MF4"}) {
    EXPECT_NE(std::find(t.begin(), t.end(),
                        "ATTENZIONE! non posso copiare il file " + (songs / n).string() + "\n su dischetto"),
              t.end());
  }
  EXPECT_EQ(ui.messages[2].caption, "Copy");
  EXPECT_EQ(Files(songs), before);
  EXPECT_FALSE(fs::exists(floppy)) << "the floppy folder is not made anew";
  EXPECT_EQ(ui.steps, 3);
}

TEST_F(Floppy, IgnoredWhileBusy) {
  app.cycle.busy = true;
  EXPECT_EQ(SaveSongsToFloppy(app), CommandStatus::Busy);
  EXPECT_EQ(LoadSongsFromFloppy(app), CommandStatus::Busy);
  EXPECT_TRUE(ui.messages.empty());
}

}  // namespace
}  // namespace kestro
