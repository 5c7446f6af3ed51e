// Removing songs from the PC folder and from the player's internal memory.
#include <system_error>

#include "library/library.h"
#include "library/song_texts.h"
#include "link/player.h"

namespace kestro::library {

namespace fs = std::filesystem;

int Library::DeleteRamSongs() {
  outcomes.clear();
  if (!playerLink) return 0;
  int n = static_cast<int>(player.size());
  int s = ConfirmDelete(player, env.T("MSG_CANCELLA"));
  if (s == 0) return 0;
  if (s == n) {
    bool deleted = playerLink->DeleteAllRamFiles() == 1;
    for (const auto& r : player) outcomes.push_back({r.fileName, "", deleted ? Outcome::Done : Outcome::Failed});
    player.clear();
  } else {
    env.ui.SetProgressTitle(env.T("MSG_DELETE_SONG_FROM_RAM"));
    env.ui.ProgressStart(s);
    for (auto& r : player) r.mark = false;
    for (auto& r : player) {
      if (!r.selected) continue;
      r.mark = true;
      env.ui.ProgressLine1(env.TF("MSG_DELETING_SONG_NAME_FILE_NAME", r.title, ""));
      bool deleted = playerLink->DeleteRamFile(r.code) == 1;
      outcomes.push_back({r.fileName, "", deleted ? Outcome::Done : Outcome::Failed});
      env.ui.ProgressStep(1);
      env.clock.SleepMs(1000);
      if (AskAbort()) break;
    }
    CompactMarked(player);
  }
  env.ui.ProgressEnd();
  env.ui.SetStatusLine(3, env.TF("MSG_MESSAGE_CF5", static_cast<int>(playerLink->RamFreePercent(medium))));
  env.ui.EndCursor();
  return 1;
}

int Library::DeletePcSongs(const std::string& caption) {
  outcomes.clear();
  if (ConfirmDelete(pc, caption) == 0) return 0;
  for (auto& r : pc) {
    if (!r.selected) continue;
    RemovePcSong(r.fileName, false);
    std::error_code ec;
    outcomes.push_back({r.fileName, "", fs::exists(r.fileName, ec) ? Outcome::Failed : Outcome::Done});
    if (AskAbort()) break;
  }
  env.ui.EndCursor();
  return 1;
}

}  // namespace kestro::library
