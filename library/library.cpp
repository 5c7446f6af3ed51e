#include "library/library.h"

#include <algorithm>
#include <system_error>

#include "library/lists.h"
#include "library/song_texts.h"
#include "platform/charmap.h"
#include "link/player.h"
#include "platform/fileutil.h"
#include "platform/latin1.h"

namespace kestro::library {

namespace fs = std::filesystem;

Library::Library(Env& e) : env(e), pcFolder(e.GetFolder(settings::kOldMf4)) {}

void Library::ReloadPcList() { ScanPcFolder(env, pcFolder, pc); }

bool Library::LoadRamSongList() {
  player.clear();
  if (!playerLink) return false;
  env.ui.BeginWaitCursor();
  env.clock.SleepMs(100);
  RamSongTable table;
  const bool read = playerLink->GetRamFileInfo(table) == 1;
  if (read) {
    int n = static_cast<int16_t>(table.SongCount());
    for (int i = 0; i < n && i < kMaxRamSongs; ++i) {
      SongRecord r;
      r.code = table.Code(i);
      r.fileName = SongFileName(r.code, false);
      r.title = RecordText(table.Title(i));
      r.author = RecordText(table.Author(i));
      player.push_back(std::move(r));
    }
  }
  Renumber(player);
  env.ui.EndCursor();
  return read;
}

void Library::RefreshLists(bool playerUsable) {
  if (!playerUsable || moduleError) {
    ForgetPlayerList();
    env.ui.SetStatusLine(1, env.TF("MSG_MF3INCARD", 0));
    env.ui.SetStatusLine(3, " ");
  }
  CompareLists(pc, player);
  env.ui.SetStatusLine(0, env.TF("MSG_MF3INFOLDER", static_cast<int>(pc.size())));
  env.ui.SetStatusLine(1, env.TF("MSG_MF3INCARD", static_cast<int>(player.size())));
  SortOrder order = LoadSortOrder(env.profile);
  SortList(pc, true, order.pcColumn, order.pcDescending != 0);
  SortList(player, false, order.playerColumn, order.playerDescending != 0);
}

std::string SafeFileName(const std::string& title) {
  std::string latin = PlayerTextToLatin1(title);
  std::string out;
  for (unsigned char c : latin) {
    if (c < 0x20 || c == '/' || c == '\\' || c == 0x7F) out += '_';
    else out += static_cast<char>(c);
  }
  // Names the file system gives a meaning to.
  size_t first = out.find_first_not_of(". ");
  if (first == std::string::npos) out = "_" + out;
  return Latin1ToUtf8(out);
}

fs::path Library::PcPathForTitle(const std::string& title, const std::string& ext, bool replace) const {
  fs::path folder = env.GetFolder(settings::kOldMf4);
  std::string base = SafeFileName(title);
  fs::path p = folder / (base + "." + ext);
  if (replace) return p;
  std::error_code ec;
  for (int n = 2; fs::exists(p, ec) && n < 10000; ++n) p = folder / (base + " (" + std::to_string(n) + ")." + ext);
  return p;
}

void Library::RemovePcSong(const fs::path& file, bool alsoMp3Namesakes) {
  std::error_code ec;
  fs::permissions(file, fs::perms::owner_write, fs::perm_options::add, ec);
  if (!fs::remove(file, ec) && fs::exists(file, ec)) {
    env.ui.ShowMessage(env.TF("MSG_CANTDELETE", file.string()), env.T("MSG_CAPTION_ERROR"), mb::kIconStop);
  }
  // Copies waiting in the arrival folders would come back at the next
  // start. A same-named song in the song folder itself is another song and
  // stays.
  PcFolders f = ReadPcFolders(env);
  std::string base = BaseNameOf(file.filename().string());
  for (const fs::path& folder : {f.downloadMf4, f.newMf4}) {
    if (fs::equivalent(folder, f.oldMf4, ec)) continue;
    for (const char* ext : {".MF4", ".MP3"}) {
      if (std::string(ext) == ".MP3" && !alsoMp3Namesakes) continue;
      fs::path n = folder / (base + ext);
      fs::permissions(n, fs::perms::owner_write, fs::perm_options::add, ec);
      fs::remove(n, ec);
    }
  }
}

uint32_t Library::FirstNewCode() const {
  if (player.empty()) return 0;
  uint32_t highest = 0;
  for (const auto& r : player) highest = std::max<uint32_t>(highest, r.code);
  return highest + 1;
}

std::optional<uint16_t> Library::UsableCode(uint32_t numbered) const {
  if (numbered <= 0xFFFF) return static_cast<uint16_t>(numbered);
  // The numbering has run out at the top: wrapping would give a code that is
  // in use and overwrite that song.
  std::vector<bool> used(0x10000, false);
  for (const auto& r : player) used[r.code] = true;
  for (uint32_t c = 0; c <= 0xFFFF; ++c) {
    if (!used[c]) return static_cast<uint16_t>(c);
  }
  return std::nullopt;
}

bool Library::AskAbort() {
  if (!env.ui.AbortRequested()) return false;
  env.ui.ClearAbort();
  return env.ui.ShowMessage(env.T("MSG_ASK_ABORT"), env.T("MSG_CAPTION_WARNING"), mb::kYesNo | mb::kIconQuestion) ==
         kIdYes;
}

int Library::ConfirmDelete(const SongList& list, const std::string& caption) {
  env.ui.BeginWaitCursor();
  int s = SelectedCount(list);
  if (s > 0 && env.ui.ShowMessage(env.TF("MSG_N_SONG_WILL_BE_DELETED_PERMANENTLY", s), caption,
                                  mb::kYesNo | mb::kIconQuestion) == kIdYes)
    return s;
  env.ui.EndCursor();
  return 0;
}

int Library::SelectedCount(const SongList& list) const {
  int n = 0;
  for (const auto& r : list) n += r.selected ? 1 : 0;
  return n;
}

}  // namespace kestro::library
