// Removing songs from the card, rebuilding its list from the song files in
// its folders, and clearing it.
#include <algorithm>
#include <array>
#include <cstdio>
#include <set>
#include <system_error>

#include "cardfs/card_fs.h"
#include "cardfs/names.h"
#include "library/card_paths.h"
#include "library/library.h"
#include "library/song_texts.h"
#include "link/player.h"
#include "platform/fileutil.h"
#include "platform/latin1.h"

namespace kestro::library {

namespace fs = std::filesystem;

namespace {

std::string Shown(const fs::path& p) { return Utf8ToLatin1(p.string()); }

// Deletes one of a code's two files. `tried` names it for the message.
bool DeleteCardFile(Library& lib, uint16_t code, bool mp3, std::string& tried) {
  if (lib.medium == kMediumCard) {
    tried = Fmt("%d/%s", SongFolderOf(code), SongFileName(code, mp3));
    return lib.card->CardDeleteFile(FolderName11(SongFolderOf(code)), SongName11(code, mp3 ? "MP3" : "MF4")) == 1;
  }
  fs::path p = ReaderSongPath(lib.flashDrive, code, mp3);
  tried = Shown(p);
  std::error_code ec;
  return fs::remove(p, ec);
}

bool CardFilePresent(Library& lib, uint16_t code, bool mp3) {
  if (lib.medium == kMediumCard) {
    CardDirEntry e;
    return lib.card->FindEntry(FolderName11(SongFolderOf(code)), SongName11(code, mp3 ? "MP3" : "MF4"), e) == 1;
  }
  std::error_code ec;
  return fs::exists(ReaderSongPath(lib.flashDrive, code, mp3), ec);
}

// The first `n` bytes of a file (fewer when it is shorter).
Bytes ReadHead(const fs::path& p, size_t n) {
  Bytes out(n);
  std::FILE* f = std::fopen(p.c_str(), "rb");
  if (!f) return {};
  out.resize(std::fread(out.data(), 1, n, f));
  std::fclose(f);
  return out;
}

uint32_t Le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }

// A song record for a song file found in a folder.
SongRecord FoundSong(const CardSongName& s, const uint8_t* head, size_t size) {
  SongRecord r;
  r.code = s.code;
  r.fileName = SongFileName(s.code, s.mp3);
  if (head && size) ReadSongTexts(r, head, size);
  return r;
}

// Files of a folder matching "*.M??".
bool IsPlayerFileName(const std::string& name) {
  size_t dot = name.rfind('.');
  if (dot == std::string::npos) return false;
  std::string ext = name.substr(dot + 1);
  return !ext.empty() && ext.size() <= 3 && (ext[0] == 'M' || ext[0] == 'm');
}

}  // namespace

int Library::DeleteCardSongs(const std::string& caption) {
  outcomes.clear();
  if (medium == kMediumRam) return DeleteRamSongs();
  const bool usb = medium == kMediumCard;
  if (usb ? !(card && card->Mounted() && playerLink) : (medium != kMediumCardReader || flashDrive.empty())) return 0;
  int s = ConfirmDelete(player, caption);
  if (s == 0) return 0;
  ReopenCardAccess();
  env.ui.SetProgressTitle(env.T("MSG_DELETE_SONG_FROM_CF"));
  env.ui.ProgressStart(10 * s);
  for (auto& r : player) r.mark = false;
  for (auto& r : player) {
    if (!r.selected || r.mark) continue;
    env.ui.ProgressLine1(env.TF("MSG_DELETING_SONG_NAME_FILE_NAME", r.title, r.fileName));
    std::string tried;
    bool mf4 = DeleteCardFile(*this, r.code, false, tried);
    bool mp3 = DeleteCardFile(*this, r.code, true, tried);
    if (CardLinkLost()) {
      // The player is gone: nothing more can be deleted, and what this
      // song's files are now is not known.
      outcomes.push_back({r.fileName, "", Outcome::Failed});
      break;
    }
    bool gone = mf4 || mp3;
    if (!gone) {
      env.ui.ShowMessage(env.TF("MSG_CANTDELETE", tried), env.T("MSG_CAPTION_ERROR"), mb::kIconStop);
      // A song whose files were not there at all is gone from the card; one
      // whose file could not be deleted stays listed.
      gone = !CardFilePresent(*this, r.code, false) && !CardFilePresent(*this, r.code, true);
    }
    if (gone) {
      // Both files of the code went: every record of the code goes.
      for (auto& o : player) o.mark = o.mark || o.code == r.code;
    }
    outcomes.push_back({r.fileName, "", gone ? Outcome::Done : Outcome::Failed});
    env.ui.ProgressStep(10);
    if (AskCardAbort()) break;
  }
  const size_t listed = player.size();
  CompactMarked(player);
  RebuildCardIndexes(player.size() != listed);
  if (usb) playerLink->CardAccessEnd();
  Renumber(player);
  env.ui.ProgressEnd();
  if (usb) card->ShowCardSpace();
  env.ui.EndCursor();
  return 1;
}

int Library::RecoverCardFromFolders() {
  if (env.ui.ShowMessage(env.T("MSG_PROCEDURE_MAY_BE_LONG"), env.T("MSG_CAPTION_WARNING"),
                         mb::kYesNo | mb::kIconQuestion) != kIdYes)
    return 0;
  const bool usb = medium == kMediumCard;
  if (usb ? !(card && card->Mounted() && playerLink) : (medium != kMediumCardReader || flashDrive.empty())) return 0;
  env.WriteInt(settings::kMediaChange, 1);
  SongList scratch;
  // Each song once, however its folder came to list it.
  std::set<std::pair<uint16_t, bool>> seen;
  auto add = [&](const CardSongName& s, const uint8_t* head, size_t size) {
    if (!seen.insert({s.code, s.mp3}).second || scratch.size() >= kListCapacity) return;
    scratch.push_back(FoundSong(s, head, size));
  };

  if (usb) {
    ReopenCardAccess();
    // The folders' entries, read once.
    using Entry = std::array<uint8_t, kDirEntrySize>;
    std::vector<std::vector<Entry>> folders(kCardSongFolders);
    env.ui.ProgressStart(kCardSongFolders);
    env.ui.ProgressLine2("");
    for (int f = 0; f < kCardSongFolders && !CardLinkLost(); ++f) {
      env.ui.ProgressLine1(env.TF("MSG_SCANNING_HASH_TABLE", f));
      env.ui.BeginWaitCursor();
      Entry e{};
      for (int more = card->ListDirFirst(FolderName11(f), e.data()); more && e[0] != 0;
           more = card->ListDirNext(e.data()))
        folders[static_cast<size_t>(f)].push_back(e);
      env.ui.EndCursor();
      env.ui.Repaint();
      env.ui.ProgressStep(1);
    }
    env.ui.ProgressEnd();
    if (CardLinkLost()) return 0;  // the card's list and indexes stay as they were

    env.ui.ProgressStart(kCardSongFolders);
    env.ui.ProgressLine2(env.T("MSG_NON_SCOLLEGARE_ZUM_CF"));
    Bytes cluster(card->Volume().bytesPerCluster);
    for (int f = 0; f < kCardSongFolders; ++f) {
      env.ui.ProgressLine1(env.TF("MSG_RECOVERY_FILE_FROM_HASH", f));
      for (const Entry& e : folders[static_cast<size_t>(f)]) {
        uint8_t attr = e[11];
        if (e[0] == fat::kDeleted || e[0] == '.' || attr == fat::kAttrLongName ||
            (attr & (fat::kAttrDirectory | fat::kAttrVolume)))
          continue;
        auto song = SongOfName11(std::string_view(reinterpret_cast<const char*>(e.data()), kName11), f);
        if (!song) continue;
        uint32_t size = Le32(e.data() + 28);
        uint32_t firstCluster = e[26] | e[27] << 8;
        bool read = size > 0 && card->ReadCluster(firstCluster, cluster.data()) == 1;
        if (CardLinkLost()) {
          env.ui.ProgressEnd();
          return 0;
        }
        add(*song, read ? cluster.data() : nullptr, read ? std::min<size_t>(size, cluster.size()) : 0);
      }
      env.ui.ProgressStep(1);
    }
    env.clock.SleepMs(100);
  } else {
    env.ui.BeginWaitCursor();
    env.ui.ProgressStart(kCardSongFolders);
    std::vector<std::vector<std::pair<std::string, CardSongName>>> folders(kCardSongFolders);
    int count = 0;
    for (int f = 0; f < kCardSongFolders; ++f) {
      env.ui.ProgressLine1(env.TF("MSG_SCANNING_HASH_TABLE", f));
      std::error_code ec;
      auto& found = folders[static_cast<size_t>(f)];
      for (fs::directory_iterator it(flashDrive / std::to_string(f), ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code fe;
        if (!it->is_regular_file(fe)) continue;
        std::string name = it->path().filename().string();
        if (auto song = SongOfFileName(name, f)) found.emplace_back(name, *song);
      }
      std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
      count += static_cast<int>(found.size());
      env.ui.ProgressStep(1);
    }
    env.ui.ProgressEnd();
    env.ui.ProgressStart(count);
    for (int f = 0; f < kCardSongFolders; ++f) {
      env.ui.ProgressLine1(env.TF("MSG_RECOVERY_FILE_FROM_HASH", f));
      for (const auto& [name, song] : folders[static_cast<size_t>(f)]) {
        Bytes head = ReadHead(flashDrive / std::to_string(f) / name, kSongHeadBytes);
        add(song, head.data(), head.size());
        env.ui.ProgressStep(1);
        env.clock.SleepMs(1);
      }
    }
    env.ui.ProgressEnd();
    env.ui.EndCursor();
    env.clock.SleepMs(100);
  }
  player = std::move(scratch);
  Renumber(player);
  RebuildCardIndexes();
  env.ui.ProgressEnd();
  return 1;
}

int Library::ClearCard() {
  if (medium == kMediumCard) {
    if (!card) return 0;
    if (!card->FormatCard()) return 0;
    return CreateCardStructure();
  }
  if (medium != kMediumCardReader || flashDrive.empty()) return 0;
  env.WriteInt(settings::kMediaChange, 1);
  std::error_code ec;
  fs::create_directories(flashDrive, ec);
  auto removeFiles = [&](const fs::path& folder, bool onlyPlayerFiles) {
    std::vector<fs::path> files;
    std::error_code it_ec;
    for (fs::directory_iterator it(folder, it_ec), end; !it_ec && it != end; it.increment(it_ec)) {
      std::error_code fe;
      if (!it->is_regular_file(fe)) continue;
      if (onlyPlayerFiles && !IsPlayerFileName(it->path().filename().string())) continue;
      files.push_back(it->path());
    }
    for (const auto& p : files) {
      std::error_code re;
      if (!fs::remove(p, re))
        env.ui.ShowMessage(env.TF("MSG_CANTDELETE", Shown(p)), env.T("MSG_CAPTION_ERROR"), mb::kIconStop);
    }
  };
  removeFiles(flashDrive, false);
  for (int f = 0; f < kCardSongFolders; ++f) {
    fs::path folder = flashDrive / std::to_string(f);
    fs::create_directories(folder, ec);
    removeFiles(folder, true);
  }
  return CreateCardStructure();
}

}  // namespace kestro::library
