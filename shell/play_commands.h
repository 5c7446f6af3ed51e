// The main window's playback commands, shared with the command-line tool:
// the PLAY picture button, the stop commands and the sound settings.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/process.h"
#include "shell/app.h"
#include "shell/commands.h"

namespace kestro {

// "PLAY": ignored while busy. Exactly one PC song selected: the first time
// in a run "MSG_PLAY_QUALITY", then the wait cursor while the song starts
// and for two seconds after (the window is kept alive meanwhile); otherwise
// "MSG_NO_SONG_HD_SELECTED". Done when the song plays.
CommandStatus PlaySelectedPcSong(App& app);

// The STOP button and the stop commands (1014, 1113, 40016).
void StopSong(App& app);

// The sound settings (40030): the first time in a run "MSG_PLAY_QUALITY";
// then the desktop's sound settings program. When none can be started,
// "MSG_PLAY_ERROR" with kPlayNoSettings in the warning box.
CommandStatus OpenSoundSettings(App& app, ProcessStarter& starter);

// The programs tried for the sound settings, in order: the program and its
// arguments.
struct SettingsProgram {
  std::string program;
  std::vector<std::string> args;
};
const std::vector<SettingsProgram>& SoundSettingsPrograms();

// `program` in the folders of `path` (a PATH value); nothing when it is in
// none of them.
std::optional<std::filesystem::path> FindProgram(const std::string& program, const std::string& path);

}  // namespace kestro
