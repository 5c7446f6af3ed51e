// Songs between the PC and the player's card: through the player (medium 1)
// or on a card in a card reader (medium 0).
#include <sys/statvfs.h>

#include <algorithm>
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

// The question before the first MP3 song of a call over USB: they are large
// and the player moves them sector by sector.
const char* const kMp3Question =
    "Il trasferimento di canzoni MP3 direttamente su Zumbla2 pu\xF2 richiedere diversi minuti.\n\n"
    "Procedere ugualmente ?";
const char* const kNoRamOverFtdi = "Non \xE8 possibile trasferire alcuna canzone nella memoria interna di Zumbla2.\n\n";

// Songs on the card are per-file allowances on top of their sizes, plus a
// reserve for the index files rewritten at the end.
constexpr uint64_t kPerSongReserve = 128;
constexpr uint64_t kBatchReserve = 150000;

int FindByTitleAndAuthor(const SongRecord& r, const SongList& list) {
  for (size_t i = 0; i < list.size(); ++i) {
    if (list[i].title == r.title && list[i].author == r.author) return static_cast<int>(i);
  }
  return -1;
}

int FindByCode(uint16_t code, const SongList& list) {
  for (size_t i = 0; i < list.size(); ++i) {
    if (list[i].code == code && !list[i].mark) return static_cast<int>(i);
  }
  return -1;
}

bool IsMp3(const std::string& fileName) { return ExtensionOf(fileName) == "MP3"; }

uint64_t RoundUp(uint64_t size, uint64_t unit) { return unit ? (size + unit - 1) / unit * unit : size; }

std::string Shown(const fs::path& p) { return Utf8ToLatin1(p.string()); }

// A PC song onto the card under its code; true when it got there.
bool PutCardSong(Library& lib, const fs::path& from, uint16_t code, bool mp3) {
  if (lib.medium == kMediumCard) {
    return lib.card->CardWriteFile(FolderName11(SongFolderOf(code)), SongName11(code, mp3 ? "MP3" : "MF4"), from) ==
           1;
  }
  fs::path to = ReaderSongPath(lib.flashDrive, code, mp3);
  std::error_code ec;
  fs::create_directories(to.parent_path(), ec);
  if (CopyFileSafely(from, to)) return true;
  ReportReadError(lib.env, Shown(from));
  return false;
}

bool CardSongPresent(Library& lib, uint16_t code, bool mp3) {
  if (lib.medium == kMediumCard) {
    CardDirEntry e;
    return lib.card->FindEntry(FolderName11(SongFolderOf(code)), SongName11(code, mp3 ? "MP3" : "MF4"), e) == 1;
  }
  std::error_code ec;
  return fs::is_regular_file(ReaderSongPath(lib.flashDrive, code, mp3), ec);
}

void RemoveCardSongFile(Library& lib, uint16_t code, bool mp3) {
  if (lib.medium == kMediumCard) {
    lib.card->CardDeleteFile(FolderName11(SongFolderOf(code)), SongName11(code, mp3 ? "MP3" : "MF4"));
    return;
  }
  std::error_code ec;
  fs::remove(ReaderSongPath(lib.flashDrive, code, mp3), ec);
}

// The code for a new song, from `next` on (past 65,535: from 0): one that no
// song of the list has and whose files are not in its folder on the card. A
// song the list does not know (left by an index that was not rewritten, or
// put there by someone else) keeps its file. Nothing when every code is
// taken or the player's link is gone.
std::optional<uint16_t> NextFreeCode(Library& lib, const std::vector<bool>& listed, uint32_t next) {
  uint32_t c = std::min<uint32_t>(next, 0x10000);
  for (uint32_t tries = 0; tries <= 0xFFFF; ++tries, ++c) {
    if (c > 0xFFFF) c = 0;
    const auto code = static_cast<uint16_t>(c);
    if (listed[code]) continue;
    const bool onCard = CardSongPresent(lib, code, false) || CardSongPresent(lib, code, true);
    if (lib.CardLinkLost()) return std::nullopt;
    if (!onCard) return code;
  }
  return std::nullopt;
}

// What a card list says of the card: each song's code and file.
std::vector<std::pair<uint16_t, std::string>> CardListing(const SongList& list) {
  std::vector<std::pair<uint16_t, std::string>> out;
  out.reserve(list.size());
  for (const auto& r : list) out.emplace_back(r.code, r.fileName);
  std::sort(out.begin(), out.end());
  return out;
}

void Pump(Library& lib) {
  if (lib.link) lib.link->PumpMessages();
  else lib.env.ui.PumpMessages();
}

}  // namespace

bool Library::CardLinkLost() const { return medium == kMediumCard && link && link->linkErrorState == 1; }

void Library::ReopenCardAccess() {
  if (medium != kMediumCard || !playerLink) return;
  playerLink->CardAccessBegin();
  playerLink->CardAccessOpen();
}

bool Library::AskCardAbort() {
  if (!env.ui.AbortRequested()) return false;
  env.ui.ClearAbort();
  bool stop = env.ui.ShowMessage(env.T("MSG_ASK_ABORT"), env.T("MSG_CAPTION_WARNING"),
                                 mb::kYesNo | mb::kIconQuestion) == kIdYes;
  ReopenCardAccess();
  return stop;
}

std::optional<Library::CardSpace> Library::ReadCardSpace() {
  CardSpace s;
  if (medium == kMediumCard) {
    if (!card || !card->Mounted()) return std::nullopt;
    uint64_t freeClusters = card->CountFreeClusters();
    if (CardLinkLost()) return std::nullopt;
    const VolumeRecord& v = card->Volume();
    s.freeBytes = freeClusters * v.sectorsPerCluster * kSectorBytes;
    // Every file takes whole clusters: counted in sectors, a card with
    // larger clusters would pass the check and fill up midway.
    s.unit = std::max<uint64_t>(kSectorBytes, v.bytesPerCluster);
    return s;
  }
  if (medium == kMediumCardReader && !flashDrive.empty()) {
    struct statvfs st {};
    if (statvfs(flashDrive.c_str(), &st) != 0) return std::nullopt;
    s.freeBytes = static_cast<uint64_t>(st.f_bavail) * st.f_frsize;
    s.unit = CardReaderUnit(static_cast<uint64_t>(st.f_blocks) * st.f_frsize);
    return s;
  }
  return std::nullopt;
}

int Library::SendSongsToCard() {
  outcomes.clear();
  if (pc.empty()) return 0;
  if (medium == kMediumRam) {
    if (link && link->transport == Transport::Bulk) return SendSongsToRam();
    env.ui.ShowMessage(kNoRamOverFtdi, env.T("MSG_CAPTION_WARNING"), mb::kIconInformation);
    return 0;
  }
  const bool usb = medium == kMediumCard;
  if (usb ? !(card && card->Mounted() && playerLink) : (medium != kMediumCardReader || flashDrive.empty())) return 0;

  env.ui.SetProgressTitle(env.T("MSG_PROGRESS_TITLE_SAVE_TO_CF"));
  auto space = ReadCardSpace();
  if (!space) {
    if (!usb) ReportReadError(env, Shown(flashDrive));
    return 0;
  }
  uint64_t freeBytes = space->freeBytes;

  // First pass: questions, the room needed, and which card songs are
  // replaced (`mark`, with the card song's code).
  env.ui.BeginWaitCursor();
  uint64_t needed = 0;
  int songs = 0;
  bool mp3Asked = false;
  for (auto& r : pc) {
    r.mark = false;
    if (!r.selected) continue;
    if (usb && IsMp3(r.fileName) && !mp3Asked) {
      mp3Asked = true;
      if (env.ui.ShowMessage(kMp3Question, env.T("MSG_CAPTION_WARNING"), mb::kYesNo | mb::kIconQuestion) != kIdYes) {
        env.ui.EndCursor();
        return 0;
      }
    }
    if (r.existsOnTarget) {
      int a = env.ui.ShowMessage(env.TF("MSG_ALREADY_EXIST", r.title), env.T("MSG_CAPTION_WARNING"),
                                 mb::kYesNo | mb::kIconQuestion);
      ReopenCardAccess();
      if (a != kIdYes) {
        outcomes.push_back({r.fileName, "", Outcome::Skipped});
        continue;
      }
    }
    uint64_t size = RoundUp(FileSize(r.fileName).value_or(r.fileSize), space->unit);
    needed += size;
    if (r.existsOnTarget) {
      r.existsOnTarget = false;
      int old = FindByTitleAndAuthor(r, player);
      if (old >= 0) {
        r.mark = true;
        r.code = player[static_cast<size_t>(old)].code;
        freeBytes += size;
      }
      env.clock.SleepMs(200);
    }
    ++songs;
  }
  env.ui.EndCursor();
  if (songs == 0) return 1;
  if (needed + kPerSongReserve * static_cast<uint64_t>(songs) + kBatchReserve > freeBytes) {
    env.ui.ShowMessage(env.T("MSG_INSUFFICIENT_SPACE_ON_CARD"), env.T("MSG_CAPTION_WARNING"), mb::kIconExclamation);
    ReopenCardAccess();
    return 0;
  }

  // Second pass: the copies. The FAT and the new directory entries reach
  // the card once, at the end of the batch.
  env.ui.ProgressStart(songs + 1);
  uint32_t next = FirstNewCode();
  std::vector<bool> listed(0x10000, false);
  for (const auto& p : player) listed[p.code] = true;
  int shown = 0;
  if (usb) card->SetDeferredFlush(true);
  for (auto& p : player) p.mark = false;
  const size_t listedBefore = player.size();
  const auto songsBefore = CardListing(player);
  for (auto& r : pc) {
    if (!r.selected || r.existsOnTarget) continue;
    if (CardLinkLost()) {
      // The player is gone: the rest of the batch cannot get there.
      outcomes.push_back({r.fileName, "", Outcome::Failed});
      continue;
    }
    const bool mp3 = IsMp3(r.fileName);
    std::optional<uint16_t> code;
    int replaced = -1;
    if (r.mark) {
      code = r.code;
      replaced = FindByCode(r.code, player);
    } else if (player.size() < kListCapacity) {
      code = NextFreeCode(*this, listed, next);
    }
    r.infoEdited = false;
    ++shown;
    env.ui.ProgressLine1(env.TF("MSG_COPY_IN_COMPACTFLASH", r.title, shown, songs));
    env.ui.ProgressLine2(env.T("MSG_NON_SCOLLEGARE_ZUM_CF"));
    bool written = code && PutCardSong(*this, r.fileName, *code, mp3);
    env.ui.Repaint();
    env.ui.ProgressStep(1);

    std::string target = code ? SongFileName(*code, mp3) : "";
    if (replaced >= 0) {
      SongRecord& old = player[static_cast<size_t>(replaced)];
      const bool oldMp3 = IsMp3(old.fileName);
      if (written) {
        // An MP3 replacing an MF4 (or the other way round) must not leave
        // the old file behind under the same code.
        if (oldMp3 != mp3) RemoveCardSongFile(*this, *code, oldMp3);
        old.fileName = target;
      } else if (!CardSongPresent(*this, *code, oldMp3)) {
        // The failed copy took the old one with it: the card no longer
        // has that song.
        old.mark = true;
      }
    } else if (written && !env.ui.AbortRequested()) {
      SongRecord copy = r;
      copy.code = *code;
      copy.fileName = target;
      copy.selected = false;
      copy.mark = false;
      player.push_back(std::move(copy));
      listed[*code] = true;
      next = static_cast<uint32_t>(*code) + 1;
    }
    // A song written while the user was stopping the batch is left out of
    // the list.
    Outcome o = !written ? Outcome::Failed
                : (replaced < 0 && env.ui.AbortRequested()) ? Outcome::Skipped
                                                                       : Outcome::Done;
    outcomes.push_back({r.fileName, target, o});
    Pump(*this);
    if (AskCardAbort()) break;
  }
  if (usb) {
    card->SetDeferredFlush(false);
    if (!card->FlushFat()) {
      // The new entries did not reach the card: the batch's songs are not
      // known to be there, and the list must not show them.
      for (size_t i = listedBefore; i < player.size(); ++i) player[i].mark = true;
      for (auto& o : outcomes) {
        if (o.outcome == Outcome::Done) o.outcome = Outcome::Failed;
      }
    }
  }
  CompactMarked(player);
  RebuildCardIndexes(CardListing(player) != songsBefore);
  Renumber(player);
  env.ui.ProgressEnd();
  return 1;
}

int Library::CopyCardSongsToPc() {
  outcomes.clear();
  if (player.empty()) return 0;
  if (medium == kMediumRam) return CopyRamSongsToPc();
  int count = SelectedCount(player);
  if (count == 0) return 0;
  const bool usb = medium == kMediumCard;
  if (usb ? !(card && card->Mounted() && playerLink) : (medium != kMediumCardReader || flashDrive.empty())) return 0;

  env.ui.SetProgressTitle(env.T("MSG_MENU_FILE_ZUM_TO_PC"));
  env.ui.BeginWaitCursor();
  env.ui.ProgressStart(count);
  env.ui.ProgressLine2(env.T("MSG_NON_SCOLLEGARE_ZUM_CF"));
  bool mp3Asked = false;
  int running = 1;
  for (auto& r : player) {
    if (!r.selected) continue;
    if (usb && IsMp3(r.fileName) && !mp3Asked) {
      mp3Asked = true;
      if (env.ui.ShowMessage(kMp3Question, env.T("MSG_CAPTION_WARNING"), mb::kYesNo | mb::kIconQuestion) != kIdYes) {
        env.ui.ProgressEnd();
        env.ui.EndCursor();
        return 0;
      }
    }
    bool copy = true;
    int replaced = -1;
    if (r.existsOnTarget) {
      copy = env.ui.ShowMessage(env.TF("MSG_ALREADY_EXIST", r.title), env.T("MSG_CAPTION_WARNING"),
                                mb::kYesNo | mb::kIconQuestion) == kIdYes;
      if (copy) replaced = FindByTitleAndAuthor(r, pc);
      else outcomes.push_back({r.fileName, "", Outcome::Skipped});
    }
    if (copy) {
      env.ui.ProgressLine1(env.TF("MSG_PROGRESS_TRANSFER_FILE", r.title, running, count));
      // Never over another PC file: a song of the same title (or an MP3 of
      // the same code from another card) gets a name of its own. The copy
      // it replaces goes only once the new one is there.
      fs::path dest = PcPathForTitle(r.title, "MF4", false);
      bool gotMp3 = false;
      bool done = false;
      if (usb) {
        ReopenCardAccess();
        const std::string folder = FolderName11(SongFolderOf(r.code));
        done = card->CardReadFile(folder, SongName11(r.code, "MF4"), dest) == 1 && FileExists(dest);
        if (!done && !CardLinkLost()) {
          gotMp3 = true;
          dest = PcPathForTitle(Fmt("%05d", r.code), "MP3", false);
          done = card->CardReadFile(folder, SongName11(r.code, "MP3"), dest) == 1 && FileExists(dest);
        }
      } else {
        done = CopyFileSafely(ReaderSongPath(flashDrive, r.code, false), dest);
        if (!done) {
          gotMp3 = true;
          dest = PcPathForTitle(Fmt("%05d", r.code), "MP3", false);
          fs::path from = ReaderSongPath(flashDrive, r.code, true);
          done = CopyFileSafely(from, dest);
          if (!done) ReportReadError(env, Shown(from));
        }
      }
      if (done && replaced >= 0) {
        RemovePcSong(pc[static_cast<size_t>(replaced)].fileName, true);
        // The song takes the name it would have had without the old copy.
        fs::path preferred = gotMp3 ? PcPathForTitle(Fmt("%05d", r.code), "MP3", true)
                                    : PcPathForTitle(r.title, "MF4", true);
        std::error_code ec;
        if (preferred != dest && !fs::exists(preferred, ec)) {
          fs::rename(dest, preferred, ec);
          if (!ec) dest = preferred;
        }
      }
      outcomes.push_back({r.fileName, done ? dest.string() : "", done ? Outcome::Done : Outcome::Failed});
      env.ui.Repaint();
      env.ui.ProgressStep(1);
      Pump(*this);
      ++running;
    }
    if (AskCardAbort()) break;
  }
  env.clock.SleepMs(300);
  env.ui.ProgressEnd();
  env.ui.EndCursor();
  return 1;
}

}  // namespace kestro::library
