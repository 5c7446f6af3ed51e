#include "shell/play_commands.h"

#include <unistd.h>

#include <cstdlib>

namespace kestro {

namespace fs = std::filesystem;

namespace {

// How long the wait cursor stays after a song started, and how often the
// window is given its messages meanwhile.
constexpr uint32_t kStartWaitMs = 2000;
constexpr uint32_t kPumpMs = 50;

void ShowPlayQualityOnce(App& app) {
  if (app.playQualityShown) return;
  app.playQualityShown = true;
  app.env.ui.ShowMessage(app.env.T("MSG_PLAY_QUALITY"), app.env.T("MSG_CAPTION_INFO"), mb::kIconInformation);
}

}  // namespace

CommandStatus PlaySelectedPcSong(App& app) {
  if (app.cycle.busy) return CommandStatus::Busy;
  app.cycle.busy = true;
  Env& env = app.env;
  const library::SongRecord* song = nullptr;
  int selected = 0;
  for (const auto& r : app.lib.pc) {
    if (r.selected) {
      ++selected;
      song = &r;
    }
  }
  if (selected != 1) {
    env.ui.ShowMessage(env.T("MSG_NO_SONG_HD_SELECTED"), env.T("MSG_CAPTION_INFO"), mb::kIconInformation);
    app.cycle.busy = false;
    return CommandStatus::NothingDone;
  }
  ShowPlayQualityOnce(app);
  env.ui.BeginWaitCursor();
  const bool playing = app.playback.PlaySong(song->fileName);
  for (uint32_t waited = 0; waited < kStartWaitMs; waited += kPumpMs) {
    env.clock.SleepMs(kPumpMs);
    env.ui.PumpMessages();
  }
  env.ui.EndCursor();
  app.cycle.busy = false;
  return playing ? CommandStatus::Done : CommandStatus::NothingDone;
}

void StopSong(App& app) { app.playback.StopPlayback(); }

const std::vector<SettingsProgram>& SoundSettingsPrograms() {
  static const std::vector<SettingsProgram> programs = {
      {"pavucontrol", {}},
      {"gnome-control-center", {"sound"}},
      {"systemsettings", {"kcm_pulseaudio"}},
      {"systemsettings5", {"kcm_pulseaudio"}},
      {"mate-volume-control", {}},
  };
  return programs;
}

std::optional<fs::path> FindProgram(const std::string& program, const std::string& path) {
  size_t start = 0;
  while (start <= path.size()) {
    const size_t colon = path.find(':', start);
    const std::string dir = path.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
    if (!dir.empty()) {
      const fs::path candidate = fs::path(dir) / program;
      std::error_code ec;
      if (fs::is_regular_file(candidate, ec) && ::access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    if (colon == std::string::npos) break;
    start = colon + 1;
  }
  return std::nullopt;
}

CommandStatus OpenSoundSettings(App& app, ProcessStarter& starter) {
  ShowPlayQualityOnce(app);
  const char* path = std::getenv("PATH");
  for (const auto& p : SoundSettingsPrograms()) {
    auto exe = FindProgram(p.program, path ? path : "/usr/bin:/bin");
    if (exe && starter.Start(*exe, p.args)) return CommandStatus::Done;
  }
  ShowErrorWarning(app.env, app.env.TF("MSG_PLAY_ERROR", static_cast<int>(kPlayNoSettings)));
  return CommandStatus::NothingDone;
}

}  // namespace kestro
