// Songs between the PC and the player's internal memory.
#include <system_error>

#include "library/library.h"
#include "library/lists.h"
#include "link/player.h"
#include "platform/fileutil.h"

namespace kestro::library {

namespace fs = std::filesystem;

namespace {

int FindByTitleAndAuthor(const SongRecord& r, const SongList& list) {
  for (size_t i = 0; i < list.size(); ++i) {
    if (list[i].title == r.title && list[i].author == r.author) return static_cast<int>(i);
  }
  return -1;
}

}  // namespace

int Library::SendSongsToRam() {
  outcomes.clear();
  env.ui.SetProgressTitle(env.T("MSG_PROGRESS_TITLE_SAVE_TO_RAM"));
  if (!playerLink) return 0;
  uint64_t freeBytes = playerLink->RamFreeForNewSong();
  if (pc.empty()) return 1;

  uint64_t needed = 0;
  int songs = 0;
  for (auto& r : pc) {
    if (!r.selected) continue;
    if (r.existsOnTarget) {
      int a = env.ui.ShowMessage(env.TF("MSG_ALREADY_EXIST", r.title), env.T("MSG_CAPTION_WARNING"),
                                 mb::kYesNo | mb::kIconQuestion);
      if (a != kIdYes) {
        outcomes.push_back({r.fileName, "", Outcome::Skipped});
        continue;
      }
    }
    uint64_t size = FileSize(r.fileName).value_or(r.fileSize);
    needed += size + 8;
    if (r.existsOnTarget) {
      r.existsOnTarget = false;
      int old = FindByTitleAndAuthor(r, player);
      if (old >= 0) {
        env.ui.BeginWaitCursor();
        playerLink->DeleteRamFile(player[static_cast<size_t>(old)].code);
        env.ui.EndCursor();
        freeBytes += size + 8;
        env.clock.SleepMs(200);
      }
    }
    ++songs;
  }
  if (songs == 0) return 1;
  if (freeBytes < needed) {
    env.ui.ShowMessage(env.T("MSG_INSUFFICIENT_SPACE_ON_RAM"), env.T("MSG_CAPTION_WARNING"), mb::kIconExclamation);
    return 0;
  }

  env.ui.ProgressStart(songs + static_cast<int>(needed / 256));
  uint32_t first = FirstNewCode();
  int running = 0;
  for (auto& r : pc) {
    if (!r.selected || r.existsOnTarget) continue;
    auto code = UsableCode(first + static_cast<uint32_t>(running));
    if (code && player.size() < kListCapacity) {
      SongRecord copy = r;
      copy.code = *code;
      copy.fileName = SongFileName(*code, false);
      copy.selected = false;
      player.push_back(std::move(copy));
    }
    r.infoEdited = false;
    ++running;
    env.ui.ProgressLine1(env.TF("MSG_COPY_IN_ZUMBLA", r.title, running, songs));
    env.ui.ProgressLine2(env.T("MSG_NON_SCOLLEGARE_ZUM"));
    bool written = playerLink->WriteRamFile(r.fileName) == 1;
    outcomes.push_back({r.fileName, "", written ? Outcome::Done : Outcome::Failed});
    env.ui.Repaint();
    env.ui.ProgressStep(1);
    if (AskAbort()) break;
  }
  Renumber(player);
  env.ui.ProgressEnd();
  return 1;
}

int Library::CopyRamSongsToPc() {
  outcomes.clear();
  env.ui.SetProgressTitle("");
  int count = SelectedCount(player);
  if (count == 0 || !playerLink) return 0;
  env.ui.BeginWaitCursor();
  env.ui.ProgressStart(count);
  env.ui.ProgressLine2(env.T("MSG_NON_SCOLLEGARE_ZUM"));
  int running = 1;
  for (auto& r : player) {
    if (!r.selected) continue;
    bool copy = true;
    int replaced = -1;
    if (r.existsOnTarget) {
      copy = env.ui.ShowMessage(env.TF("MSG_ALREADY_EXIST", r.title), env.T("MSG_CAPTION_WARNING"),
                                mb::kYesNo | mb::kIconQuestion) == kIdYes;
      if (copy) replaced = FindByTitleAndAuthor(r, pc);
      else outcomes.push_back({r.fileName, "", Outcome::Skipped});
    }
    if (copy) {
      env.ui.ProgressLine1(Fmt("Copia nel computer: %s  (%d:%d)", r.title, running, count) + std::string(20, ' '));
      // Never over another PC file: a song of the same title by someone else
      // keeps its file. The copy it replaces goes only once the new one is
      // whole, so a failed read leaves the user the old one.
      fs::path dest = PcPathForTitle(r.title, "MF4", false);
      bool read = playerLink->ReadRamFile(dest, r.code) == 1;
      if (read && replaced >= 0) {
        RemovePcSong(pc[static_cast<size_t>(replaced)].fileName, false);
        // The song takes the name it would have had without the old copy.
        fs::path preferred = PcPathForTitle(r.title, "MF4", true);
        std::error_code ec;
        if (preferred != dest && !fs::exists(preferred, ec)) {
          fs::rename(dest, preferred, ec);
          if (!ec) dest = preferred;
        }
      }
      outcomes.push_back({r.fileName, read ? dest.string() : "", read ? Outcome::Done : Outcome::Failed});
    }
    env.clock.SleepMs(100);
    env.ui.Repaint();
    env.ui.ProgressStep(1);
    ++running;
    if (AskAbort()) break;
  }
  env.clock.SleepMs(300);
  env.ui.ProgressEnd();
  env.ui.EndCursor();
  return 1;
}

}  // namespace kestro::library
