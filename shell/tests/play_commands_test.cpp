// The PLAY and STOP commands and the sound settings on a whole application,
// with SDL's dummy output (or one that does not exist) for the sound card.
#include "shell/play_commands.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>

#include "library/song_import.h"
#include "shell/tests/shell_bench.h"

namespace kestro {
namespace {

namespace fs = std::filesystem;

class Play : public shelltest::ShellBench {
 protected:
  Play() {
    for (const char* sf : {"/usr/share/sounds/sf2/TimGM6mb.sf2", "/usr/share/sounds/sf2/FluidR3_GM.sf2"}) {
      if (fs::exists(sf)) {
        rig.profile.WriteString("Settings", "SoundFont", sf);
        break;
      }
    }
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    // Two songs in the PC song folder, converted as an import does.
    Put(rig.dir / "uno.mid", shelltest::OneNote());
    ui.answers = {kIdYes};
    EXPECT_EQ(library::ImportSongFile(env, app.conversion, rig.dir / "uno.mid", songs).outcome,
              library::ImportOutcome::Imported);
    fs::copy_file(songs / "uno.MF4", songs / "due.MF4");
    ui.messages.clear();
  }
  ~Play() override { unsetenv("SDL_AUDIODRIVER"); }
};

TEST_F(Play, PlayNeedsExactlyOneSelectedPcSong) {
  for (auto files : {std::vector<std::string>{}, std::vector<std::string>{"uno.MF4", "due.MF4"}}) {
    app.lib.ReloadPcList();
    for (auto& r : app.lib.pc) r.selected = std::count(files.begin(), files.end(), fs::path(r.fileName).filename()) > 0;
    ui.messages.clear();
    EXPECT_EQ(PlaySelectedPcSong(app), CommandStatus::NothingDone);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].text, T("MSG_NO_SONG_HD_SELECTED"));
    EXPECT_EQ(ui.messages[0].caption, T("MSG_CAPTION_INFO"));
    EXPECT_FALSE(app.playback.Playing());
    EXPECT_FALSE(app.cycle.busy);
  }
  SelectPc({"uno.MF4"});
  app.cycle.busy = true;
  ui.messages.clear();
  EXPECT_EQ(PlaySelectedPcSong(app), CommandStatus::Busy);
  EXPECT_TRUE(ui.messages.empty());
  EXPECT_FALSE(app.playback.Playing());
}

TEST_F(Play, PlaysTheSelectedSongAndStops) {
  SelectPc({"uno.MF4"});
  std::vector<Cursor> whilePumping;
  ui.afterPump = [&] { whilePumping.push_back(ui.CurrentCursor()); };
  const uint64_t slept = rig.clock.SleptMs();
  EXPECT_EQ(PlaySelectedPcSong(app), CommandStatus::Done);
  EXPECT_EQ(Texts(), std::vector<std::string>{T("MSG_PLAY_QUALITY")}) << "shown the first time";
  EXPECT_TRUE(app.playback.Playing());
  ASSERT_TRUE(app.playback.Karaoke());
  EXPECT_GE(rig.clock.SleptMs() - slept, 2000u) << "the wait cursor stays two seconds";
  ASSERT_GE(whilePumping.size(), 20u) << "the window lives meanwhile";
  EXPECT_EQ(whilePumping.front(), Cursor::Wait);
  EXPECT_EQ(ui.CurrentCursor(), Cursor::Normal);
  EXPECT_FALSE(app.cycle.busy);

  // Another song: the first stops, no second notice.
  SelectPc({"due.MF4"});
  ui.messages.clear();
  EXPECT_EQ(PlaySelectedPcSong(app), CommandStatus::Done);
  EXPECT_TRUE(ui.messages.empty());
  StopSong(app);
  EXPECT_FALSE(app.playback.Playing());
  EXPECT_FALSE(app.playback.Karaoke());
}

TEST_F(Play, NoSoundDevice) {
  setenv("SDL_AUDIODRIVER", "kestro-no-such-output", 1);
  SelectPc({"uno.MF4"});
  EXPECT_EQ(PlaySelectedPcSong(app), CommandStatus::NothingDone);
  EXPECT_EQ(Texts(), (std::vector<std::string>{T("MSG_PLAY_QUALITY"), env.TF("MSG_PLAY_ERROR", 3)}));
  EXPECT_EQ(ui.messages[1].caption, T("MSG_CAPTION_WARNING"));
  EXPECT_FALSE(app.playback.Playing());
  EXPECT_EQ(ui.CurrentCursor(), Cursor::Normal);
  EXPECT_FALSE(app.cycle.busy);
}

// Records the programs started instead of starting them.
struct RecordingStarter : ProcessStarter {
  std::vector<std::pair<fs::path, std::vector<std::string>>> started;
  bool works = true;
  bool Start(const fs::path& program, const std::vector<std::string>& args) override {
    started.push_back({program, args});
    return works;
  }
};

TEST_F(Play, SoundSettingsProgram) {
  const char* oldPath = std::getenv("PATH");
  const std::string savedPath = oldPath ? oldPath : "";
  const fs::path bin = rig.dir / "bin";
  fs::create_directories(bin);
  // Only the GNOME one is there; a file that cannot be run does not count.
  testing::WriteFileOrDie(bin / "gnome-control-center", "#!/bin/sh\n");
  ::chmod((bin / "gnome-control-center").c_str(), 0755);
  testing::WriteFileOrDie(bin / "pavucontrol", "not a program\n");
  setenv("PATH", bin.c_str(), 1);

  RecordingStarter starter;
  EXPECT_EQ(OpenSoundSettings(app, starter), CommandStatus::Done);
  ASSERT_EQ(starter.started.size(), 1u);
  EXPECT_EQ(starter.started[0].first, bin / "gnome-control-center");
  EXPECT_EQ(starter.started[0].second, std::vector<std::string>{"sound"});
  EXPECT_EQ(Texts(), std::vector<std::string>{T("MSG_PLAY_QUALITY")});

  // None that starts: the play error, and the notice not again.
  starter.works = false;
  ui.messages.clear();
  EXPECT_EQ(OpenSoundSettings(app, starter), CommandStatus::NothingDone);
  EXPECT_EQ(Texts(), std::vector<std::string>{env.TF("MSG_PLAY_ERROR", 5)});
  EXPECT_EQ(ui.messages[0].caption, T("MSG_CAPTION_WARNING"));
  setenv("PATH", savedPath.c_str(), 1);
}

}  // namespace
}  // namespace kestro
